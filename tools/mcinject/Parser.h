// Parser — the command table, and one scenario line turned into a validated
// Command.
//
// The command table is the one list of the commands: each entry's syntax
// string is its grammar (Grammar.h), and with its summary and help text it
// feeds the parser, `help`, completion and `?` at the prompt (Completion.h).
// Adding a command is one entry here (syntax, texts, builder) plus its
// Command value and its Runner::apply.
//
// The whole line is read and every value checked before a Command comes out:
// a line either yields a Command that can be applied as it is, or an error
// message and nothing else. Nothing outside the returned value is touched
// (apart from interning interface names, which changes no scenario state).
// Messages read "<command>: <what is wrong>", e.g. "local: missing VLAN after
// 'vlan'"; an unknown first word gives "unknown command 'mapp'". Words echoed
// in messages are quoted and escaped (Text.h).
//
// Dialects: scenario files take keywords in full, so that a command added
// later cannot make a stored scenario ambiguous; the prompt and `-c` also
// take a unique prefix of a keyword (`sh jo` = `show joins`) and suggest the
// closest command for an unknown one.
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
#include "Grammar.h"

namespace Mcinject {

class Cursor;

struct CommandSpec {
  char const* section;  // the help section this entry opens, or nullptr
  char const* syntax;   // the grammar: see Grammar.h
  char const* summary;  // one line, for `?`
  std::string text;     // the help text
  Command (*build)(Cursor& words);
};

// Every command, in the order of `help`.
std::vector<CommandSpec> const& commandTable();
// The grammar of commandTable(), in the same order.
Grammar const& commandGrammar();
// The values of the syntax strings (V, G, NAME, ...) and what they are.
struct ValueSpec {
  char const* name;
  char const* text;
};
std::vector<ValueSpec> const& valueTable();
// What a keyword means where it is shared by several commands or sits inside
// one ("no", "route"); nullptr when the command's summary says it.
char const* keywordText(std::string_view keyword);
// The first words of the commands, each once.
std::vector<std::string> commandWords();

enum class Dialect { file, prompt };

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

[[nodiscard]] ParseResult parseLine(std::string_view line, Dialect dialect = Dialect::file);

// The trace handles a `trace` setting may name, besides `*`.
std::vector<std::string> const& traceHandleNames();
// Checks trace SETTINGS ("HANDLE=LEVELS[,HANDLE=LEVELS...]" or "off") without
// applying them: nullopt when valid, else what is wrong.
std::optional<std::string> checkTraceSettings(std::string_view settings);

}  // namespace Mcinject
