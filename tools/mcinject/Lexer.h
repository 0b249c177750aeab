// Lexer — splits one scenario line into words.
//
// Blanks (space, tab, carriage return, form feed, vertical tab) separate
// words; '#' starts a comment that runs to the end of the line, wherever it
// appears, and a newline ends the line. A blank line or a comment-only line
// gives no words. Pure functions: no state, safe anywhere.
//
//   auto words = Mcinject::splitWords("map vlan 10   # comment");
//   // {"map", "vlan", "10"}
//
// The parser reads the words straight from the line with isBlank and
// isWordByte (Parser.cpp); splitWords gives them all at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Mcinject {

namespace LexerDetail {
inline constexpr std::uint64_t kBlanks = 1ull << ' ' | 1ull << '\t' | 1ull << '\r' | 1ull << '\f' | 1ull << '\v';
inline constexpr std::uint64_t kNotInWords = kBlanks | 1ull << '#' | 1ull << '\n';
}  // namespace LexerDetail

// A byte that separates words.
inline bool isBlank(char c) noexcept {
  auto const u = static_cast<unsigned char>(c);
  return u < 64 && (LexerDetail::kBlanks >> u & 1);
}
// A byte that is part of a word: neither a blank nor '#' nor a newline.
inline bool isWordByte(char c) noexcept {
  auto const u = static_cast<unsigned char>(c);
  return u >= 64 || !(LexerDetail::kNotInWords >> u & 1);
}

std::vector<std::string> splitWords(std::string_view line);
// The same words, as views into `line`, into `words` (emptied first).
void splitWords(std::string_view line, std::vector<std::string_view>& words);

}  // namespace Mcinject
