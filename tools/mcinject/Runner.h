// Runner — applies parsed commands to a World.
//
// OVERVIEW
//   `run` checks a command against the current state (what a `no` line names
//   exists, a path runs or not, toggles still open) and only then applies it,
//   so a command that fails changes nothing. After every applied command,
//   unless `hold` is in force, the task scheduler runs until it is idle.
//   Output of `show` and `help` goes to the stream given at construction;
//   errors and failed expectations come back as an Outcome for the caller to
//   report with the line they came from.
//
// GUARANTEES
//   - An Outcome of kind `failed` means nothing of the command was applied.
//   - Exceptions out of `run` are internal errors (the library or platform
//     raised, or the scheduler never became idle); the World may then be
//     half-changed and should not be used further.
//
// WARNING
//   Single event thread; one Runner per World.
//
// TYPICAL USAGE
//   Process process;  World world;  Runner runner(world, process, std::cout);
//   Outcome o = runner.run(parseLine("start l3").command());
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Command.h"
#include "ToggleFile.h"
#include "World.h"

namespace Mcinject {

// What lives as long as the process, across scenarios.
struct Process {
  ToggleFile toggles;
  // The files the run reads ("-": standard input): never written to.
  std::vector<std::string> inputs;
  // The library reads its toggles once per process: set once a path started.
  bool pathStarted = false;
};

struct Outcome {
  enum class Kind { done, failed, expectationFailed, quit };
  Kind kind = Kind::done;
  std::string message;
  // Done, with something the user should know (reported as "note: ...").
  std::string note;

  static Outcome done() { return {}; }
  static Outcome failed(std::string m) { return {Kind::failed, std::move(m), {}}; }
  static Outcome expectationFailed(std::string m) { return {Kind::expectationFailed, std::move(m), {}}; }
  static Outcome quit() { return {Kind::quit, {}, {}}; }
};

// An error of the program or the library, not of the scenario.
class InternalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Runner {
 public:
  Runner(World& world, Process& process, std::ostream& out) : world_(world), process_(process), out_(out) {}

  Outcome run(Command const& command);

  Outcome apply(MembershipIs const& c);
  Outcome apply(MembershipDel const& c);
  Outcome apply(MapIs const& c);
  Outcome apply(MapDel const& c);
  Outcome apply(SbdIs const& c);
  Outcome apply(SbdDel const& c);
  Outcome apply(GmpIs const& c);
  Outcome apply(ToggleIs const& c);
  Outcome apply(CorruptIs const& c);
  Outcome apply(Start const& c);
  Outcome apply(Stop const& c);
  Outcome apply(Hold const& c);
  Outcome apply(Release const& c);
  Outcome apply(Step const& c);
  Outcome apply(Budget const& c);
  Outcome apply(TraceIs const& c);
  Outcome apply(TraceFileIs const& c);
  Outcome apply(Show const& c);
  Outcome apply(Explain const& c);
  Outcome apply(ExpectJoin const& c);
  Outcome apply(ExpectJoins const& c);
  Outcome apply(ExpectChangeSet const& c);
  Outcome apply(ExpectReason const& c);
  Outcome apply(ExpectCorruptions const& c);
  Outcome apply(Help const& c);
  Outcome apply(Quit const& c);

 private:
  // The VPN path's change set, or why there is none (prefixed with `command`).
  std::optional<std::string> changeSetProblem(char const* command) const;
  // The running path, or why there is none (prefixed with `command`).
  std::optional<std::string> runningPathProblem(char const* command) const;

  World& world_;
  Process& process_;
  std::ostream& out_;
};

}  // namespace Mcinject
