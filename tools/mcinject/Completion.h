// Completion — what Tab adds and what `?` lists at the prompt, from the
// command table's grammar (Parser.h).
//
// Both look at the line up to the cursor: the whole words before it, and the
// word being typed (empty after a blank). Tab completes keywords (and the
// names of toggles and commands where those are the value), never file
// names; `?` lists what may come next, one line each with what it is, `<cr>`
// when the line is complete as it stands. Abbreviated keywords before the
// cursor count as typed in full. Pure functions.
//
//   completeLine("sh jo").insert;   // "ins "
//   describeNext("start ");         // "  l3   start the L3 inject path\n  vpn  ..."

#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Mcinject {

struct Completion {
  std::string insert;                // what to add at the cursor ("" for nothing)
  std::vector<std::string> choices;  // more than one match: the candidates, to list
};

Completion completeLine(std::string_view beforeCursor);

// The `?` listing: "  WORD  description" lines; a line saying why when
// nothing can follow.
std::string describeNext(std::string_view beforeCursor);

}  // namespace Mcinject
