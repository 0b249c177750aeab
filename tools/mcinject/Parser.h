// Parser — turns one scenario line into a validated Command.
//
// The whole line is read and every value checked before a Command comes out:
// a line either yields a Command that can be applied as it is, or an error
// message and nothing else. Nothing outside the returned value is touched
// (apart from interning interface names, which changes no scenario state).
// Messages read "<command>: <what is wrong>", e.g. "local: missing VLAN after
// 'vlan'"; an unknown first word gives "unknown command 'mapp'".
//
// Not thread-safe (interface names are interned on the event thread).
//
//   auto r = Mcinject::parseLine("map vlan 10 group 239.1.1.1");
//   if (r.isError()) report(r.error()); else if (!r.isEmpty()) run(r.command());
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Command.h"

namespace Mcinject {

class ParseResult {
 public:
  static ParseResult emptyLine() { return ParseResult(); }
  static ParseResult of(Command command) {
    ParseResult r;
    r.command_ = std::move(command);
    return r;
  }
  static ParseResult failure(std::string message) {
    ParseResult r;
    r.error_ = std::move(message);
    return r;
  }

  // A blank or comment-only line.
  bool isEmpty() const noexcept { return !command_ && error_.empty(); }
  bool isError() const noexcept { return !error_.empty(); }
  // Precondition: neither empty nor an error.
  Command const& command() const {
    assert(command_ && "command() of a result that holds no command");
    return *command_;
  }
  std::string const& error() const noexcept { return error_; }

 private:
  ParseResult() = default;
  std::optional<Command> command_;
  std::string error_;
};

[[nodiscard]] ParseResult parseLine(std::string_view line);

// The trace handles a `trace` setting may name, besides `*`.
std::vector<std::string> const& traceHandleNames();
// Checks trace SETTINGS ("HANDLE=LEVELS[,HANDLE=LEVELS...]" or "off") without
// applying them: nullopt when valid, else what is wrong.
std::optional<std::string> checkTraceSettings(std::string_view settings);

}  // namespace Mcinject
