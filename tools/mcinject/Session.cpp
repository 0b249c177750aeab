#include "Session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "Brim/BrimMapBase.h"
#include "Parser.h"
#include "World.h"

namespace Mcinject {

Session::Session(Process& process, std::ostream& out, std::ostream& err) : process_(process), out_(out), err_(err) {
  Brim::BrimMapBase::reporterIs([this](std::string const& table, std::string const& msg) {
    out_.flush();
    err_ << where_ << ": corruption detected in table " << table << ": " << msg << std::endl;
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
      name, keepGoing_);
}

int Session::runFile(std::string const& path) {
  if (path == "-") return runScenario(std::cin, "-");
  std::ifstream in(path);
  if (!in) {
    err_ << path << ":0: cannot read file: " << std::strerror(errno) << std::endl;
    return kExitBadInput;
  }
  int status = runScenario(in, path);
  if (in.bad()) {
    err_ << path << ":0: error while reading the file" << std::endl;
    status = std::max(status, static_cast<int>(kExitBadInput));
  }
  return status;
}

int Session::runInteractive(LineSource const& next) { return runLines(next, "-", true); }

int Session::runLines(LineSource const& next, std::string const& name, bool keepGoing) {
  World world;
  Runner runner(world, process_, out_);
  int status = kExitOk;
  std::size_t lineNo = 0;
  auto report = [&](std::string const& message) {
    out_.flush();
    err_ << where_ << ": " << message << std::endl;
  };
  while (auto line = next()) {
    ++lineNo;
    where_ = name + ":" + std::to_string(lineNo);
    ParseResult const parsed = parseLine(*line);
    if (parsed.isEmpty()) continue;
    if (parsed.isError()) {
      report(parsed.error());
      status = std::max(status, static_cast<int>(kExitBadInput));
      if (keepGoing) continue;
      return status;
    }
    Outcome outcome;
    try {
      outcome = runner.run(parsed.command());
    } catch (std::exception const& e) {
      report(std::string("internal error: ") + e.what());
      return kExitInternal;
    }
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
        if (!keepGoing) return status;
        break;
    }
  }
  return status;
}

}  // namespace Mcinject
