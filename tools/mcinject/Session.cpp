#include "Session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "Brim/BrimMapBase.h"
#include "Text.h"
#include "World.h"

namespace Mcinject {

Session::Session(Process& process, std::ostream& out, std::ostream& err) : process_(process), out_(out), err_(err) {
  Brim::BrimMapBase::reporterIs([this](std::string const& table, std::string const& msg) {
    out_.flush();
    err_ << where_ << "corruption detected in table " << table << ": " << msg << std::endl;
  });
}

Session::~Session() { Brim::BrimMapBase::reporterIs(nullptr); }

int Session::runScenario(std::istream& in, std::string const& name) {
  return runLines(
      [&in]() -> std::optional<std::string> {
        std::string line;
        if (!std::getline(in, line)) return std::nullopt;
        return line;
      },
      Style{name, keepGoing_, Dialect::file});
}

int Session::runFile(std::string const& path) {
  if (path == "-") return runScenario(std::cin, "-");
  std::string const name = escaped(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    err_ << name << ":0: cannot read file: " << std::strerror(EISDIR) << std::endl;
    return kExitBadInput;
  }
  std::ifstream in(path);
  if (!in) {
    err_ << name << ":0: cannot read file: " << std::strerror(errno) << std::endl;
    return kExitBadInput;
  }
  errno = 0;
  int status = runScenario(in, name);
  if (in.bad()) {
    int const e = errno;
    err_ << name << ":0: cannot read file" << (e ? std::string(": ") + std::strerror(e) : std::string()) << std::endl;
    status = std::max(status, static_cast<int>(kExitBadInput));
  }
  return status;
}

int Session::runInteractive(LineSource const& next) { return runLines(next, Style{"", true, Dialect::prompt}); }

int Session::runCommands(std::vector<std::string> const& commands) {
  std::size_t i = 0;
  return runLines(
      [&]() -> std::optional<std::string> {
        if (i == commands.size()) return std::nullopt;
        return commands[i++];
      },
      Style{"-c", keepGoing_, Dialect::prompt});
}

int Session::runLines(LineSource const& next, Style const& style) {
  World world;
  Runner runner(world, process_, out_);
  int status = kExitOk;
  std::size_t lineNo = 0;
  auto report = [&](std::string const& message) {
    out_.flush();
    err_ << where_ << message << std::endl;
  };
  while (auto line = next()) {
    ++lineNo;
    where_ = style.name.empty() ? "% " : style.name + ":" + std::to_string(lineNo) + ": ";
    std::string_view text = *line;
    if (lineNo == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // byte order mark
    ParseResult const parsed = parseLine(text, style.dialect);
    if (parsed.isEmpty()) continue;
    if (parsed.isError()) {
      report(parsed.error());
      status = std::max(status, static_cast<int>(kExitBadInput));
      if (style.keepGoing) continue;
      return status;
    }
    Outcome outcome;
    try {
      outcome = runner.run(parsed.command());
    } catch (std::exception const& e) {
      report(std::string("internal error: ") + e.what());
      return kExitInternal;
    }
    if (!outcome.note.empty()) report("note: " + outcome.note);
    switch (outcome.kind) {
      case Outcome::Kind::done:
        break;
      case Outcome::Kind::quit:
        return status;
      case Outcome::Kind::expectationFailed:
        report("expectation failed: " + outcome.message);
        status = std::max(status, static_cast<int>(kExitExpectationFailed));
        break;
      case Outcome::Kind::failed:
        report(outcome.message);
        status = std::max(status, static_cast<int>(kExitBadInput));
        if (!style.keepGoing) return status;
        break;
    }
  }
  return status;
}

}  // namespace Mcinject
