#include "Lexer.h"

namespace Mcinject {

void splitWords(std::string_view line, std::vector<std::string_view>& words) {
  words.clear();
  char const* p = line.data();
  char const* const end = p + line.size();
  while (true) {
    while (p != end && isBlank(*p)) ++p;
    if (p == end || !isWordByte(*p)) return;  // the end, a comment or a newline
    char const* const start = p;
    while (p != end && isWordByte(*p)) ++p;
    words.emplace_back(start, static_cast<std::size_t>(p - start));
  }
}

std::vector<std::string> splitWords(std::string_view line) {
  std::vector<std::string_view> views;
  splitWords(line, views);
  return std::vector<std::string>(views.begin(), views.end());
}

}  // namespace Mcinject
