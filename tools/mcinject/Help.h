// Help — the text of the `help` command and of --help's command list.
//
// Every command of the command table (Parser.h) with its syntax and effect,
// grouped by what it is for, and the values. `help COMMAND` narrows the list to
// the entries of that command (`help no` gives every removal).
//
//   printHelp(std::cout, "");        // everything
//   printHelp(std::cout, "expect");  // the expectations only
#pragma once

#include <ostream>
#include <string>

namespace Mcinject {

// False (printing nothing) when `topic` names no command.
bool printHelp(std::ostream& out, std::string const& topic);

}  // namespace Mcinject
