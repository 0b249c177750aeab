// Lexer — splits one scenario line into words.
//
// Blanks (space, tab, carriage return, form feed, vertical tab) separate
// words; '#' starts a comment that runs to the end of the line, wherever it
// appears. A blank line or a comment-only line gives no words. Pure function:
// no state, safe anywhere.
//
//   auto words = Mcinject::splitWords("map vlan 10   # comment");
//   // {"map", "vlan", "10"}
//
// The parser takes the words as views into the line, in a vector it keeps:
// no word is copied and, once the vector has grown, nothing is allocated.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Mcinject {

std::vector<std::string> splitWords(std::string_view line);
// The same words, as views into `line`, into `words` (emptied first).
void splitWords(std::string_view line, std::vector<std::string_view>& words);

}  // namespace Mcinject
