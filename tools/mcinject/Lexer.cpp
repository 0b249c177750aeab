#include "Lexer.h"

namespace Mcinject {

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
}  // namespace

std::vector<std::string> splitWords(std::string_view line) {
  // A comment or a newline ends the line's words.
  std::size_t const end = line.find_first_of("#\n");
  if (end != std::string_view::npos) line = line.substr(0, end);
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    std::size_t const start = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    // Each word is made in one piece, not a character at a time.
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

}  // namespace Mcinject
