// Session — runs scenario lines from a file, a pipe or the prompt, and turns
// what happens into messages and an exit status.
//
// OVERVIEW
//   Each scenario gets a fresh World. Every line is parsed in full, then run;
//   errors are reported on the error stream as `NAME:LINE: message`, failed
//   expectations as `NAME:LINE: expectation failed: ...`, corruptions that the
//   library reports while the line runs as `NAME:LINE: corruption detected in
//   table ...`, and notes (a command did more than it says) as `NAME:LINE:
//   note: ...`. A scenario stops at its first bad line, unless told to keep
//   going; an interactive session always reports it and goes on. At the
//   prompt messages read `% message`; `-c` commands are named `-c:N`. Both
//   take abbreviated keywords (Parser.h). A UTF-8 byte order mark at the
//   start of an input is skipped.
//
// GUARANTEES
//   Exit statuses: 0 all went well; 1 at least one expectation failed; 2 a
//   line could not be parsed or applied (nothing of it was applied), or the
//   input could not be read; 3 an internal error.
//
// WARNING
//   One Session at a time: it installs the process-wide corruption reporter.
//
// TYPICAL USAGE
//   Process process;  Session session(process, std::cout, std::cerr);
//   int status = session.runScenario(file, "leaf.scn");
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Parser.h"
#include "Runner.h"

namespace Mcinject {

enum ExitStatus : int { kExitOk = 0, kExitExpectationFailed = 1, kExitBadInput = 2, kExitInternal = 3 };

class Session {
 public:
  // The next line, or nothing at the end of the input.
  using LineSource = std::function<std::optional<std::string>()>;

  Session(Process& process, std::ostream& out, std::ostream& err);
  ~Session();
  Session(Session const&) = delete;
  Session& operator=(Session const&) = delete;

  // A bad line is reported and the scenario goes on (the status is still 2).
  void keepGoingIs(bool keepGoing) noexcept { keepGoing_ = keepGoing; }
  bool keepGoing() const noexcept { return keepGoing_; }

  // One scenario; stops at the first bad line unless keepGoing().
  int runScenario(std::istream& in, std::string const& name);
  // The file at `path` as one scenario ("-": standard input).
  int runFile(std::string const& path);
  // Lines typed at the prompt: a bad line is reported and the session goes on.
  int runInteractive(LineSource const& next);
  // The commands of `-c`, in order, as one scenario.
  int runCommands(std::vector<std::string> const& commands);

 private:
  struct Style {
    std::string name;  // "leaf.scn", "-", "-c"; empty at the prompt
    bool keepGoing = false;
    Dialect dialect = Dialect::file;
  };
  // `next(line)` sets `line` to the next line (valid until the next call) and
  // returns true, or returns false at the end of the input.
  template <class Next>
  int runLines(Next next, Style const& style);
  // "NAME:LINE: " of the line running, "% " at the prompt: spelt out only
  // for a message.
  std::string where() const;

  Process& process_;
  std::ostream& out_;
  std::ostream& err_;
  std::string name_;  // the input's name; empty at the prompt
  std::size_t lineNo_ = 0;  // the line running; 0 before the first one
  bool keepGoing_ = false;
};

}  // namespace Mcinject
