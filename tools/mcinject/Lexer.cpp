#include "Lexer.h"

namespace Mcinject {

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
}  // namespace

std::vector<std::string> splitWords(std::string_view line) {
  // One pass: blanks separate words; a comment or a newline ends them. Each
  // word is made in one piece, not a character at a time.
  std::vector<std::string> words;
  words.reserve(16);  // a long command line, in one allocation
  std::size_t i = 0;
  std::size_t start = 0;
  bool inWord = false;
  for (; i < line.size(); ++i) {
    char const c = line[i];
    if (c == '#' || c == '\n') break;
    bool const blank = isBlank(c);
    if (blank && inWord) words.emplace_back(line.substr(start, i - start));
    if (!blank && !inWord) start = i;
    inWord = !blank;
  }
  if (inWord) words.emplace_back(line.substr(start, i - start));
  return words;
}

}  // namespace Mcinject
