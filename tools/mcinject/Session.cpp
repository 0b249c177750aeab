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
    err_ << where() << "corruption detected in table " << table << ": " << msg << std::endl;
  });
}

Session::~Session() { Brim::BrimMapBase::reporterIs(nullptr); }

int Session::runScenario(std::istream& in, std::string const& name) {
  std::string buffer;  // one line at a time, its room kept from line to line
  return runLines(
      [&in, &buffer](std::string_view& line) {
        if (!std::getline(in, buffer)) return false;
        line = buffer;
        return true;
      },
      Style{name, keepGoing_, Dialect::file});
}

namespace {

// The lines of a regular file, read in blocks: each line is handed out as a
// view into the block (or into `carry_` when it spans two blocks), with the
// lines std::getline would give.
class BlockLines {
 public:
  explicit BlockLines(std::istream& in) : in_(in), block_(std::size_t{1} << 16) {}

  bool next(std::string_view& line) {
    carry_.clear();
    bool carrying = false;
    while (true) {
      if (pos_ == size_) {
        if (end_) {
          line = carry_;
          return carrying;
        }
        in_.read(block_.data(), static_cast<std::streamsize>(block_.size()));
        size_ = static_cast<std::size_t>(in_.gcount());
        pos_ = 0;
        end_ = !in_;
        continue;
      }
      char const* const from = block_.data() + pos_;
      auto const* const newline = static_cast<char const*>(std::memchr(from, '\n', size_ - pos_));
      std::size_t const length = newline ? static_cast<std::size_t>(newline - from) : size_ - pos_;
      pos_ += length + (newline ? 1 : 0);
      if (newline && !carrying) {
        line = std::string_view(from, length);
        return true;
      }
      carry_.append(from, length);
      carrying = true;
      if (newline) {
        line = carry_;
        return true;
      }
    }
  }

 private:
  std::istream& in_;
  std::vector<char> block_;
  std::size_t pos_ = 0;
  std::size_t size_ = 0;
  bool end_ = false;
  std::string carry_;
};

}  // namespace

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
  int status;
  if (S_ISREG(st.st_mode)) {
    // A file on disk does not trickle in: whole blocks of it, no copy a line.
    BlockLines lines(in);
    status =
        runLines([&lines](std::string_view& line) { return lines.next(line); }, Style{name, keepGoing_, Dialect::file});
  } else {
    status = runScenario(in, name);
  }
  if (in.bad()) {
    int const e = errno;
    err_ << name << ":0: cannot read file" << (e ? std::string(": ") + std::strerror(e) : std::string()) << std::endl;
    status = std::max(status, static_cast<int>(kExitBadInput));
  }
  return status;
}

int Session::runInteractive(LineSource const& next) {
  std::string buffer;
  return runLines(
      [&next, &buffer](std::string_view& line) {
        std::optional<std::string> typed = next();
        if (!typed) return false;
        buffer = std::move(*typed);
        line = buffer;
        return true;
      },
      Style{"", true, Dialect::prompt});
}

int Session::runCommands(std::vector<std::string> const& commands) {
  std::size_t i = 0;
  return runLines(
      [&](std::string_view& line) {
        if (i == commands.size()) return false;
        line = commands[i++];
        return true;
      },
      Style{"-c", keepGoing_, Dialect::prompt});
}

std::string Session::where() const {
  if (lineNo_ == 0) return std::string();
  if (name_.empty()) return "% ";
  return name_ + ":" + std::to_string(lineNo_) + ": ";
}

template <class Next>
int Session::runLines(Next next, Style const& style) {
  World world;
  Runner runner(world, process_, out_);
  int status = kExitOk;
  name_ = style.name;
  lineNo_ = 0;
  auto report = [&](std::string const& message) {
    out_.flush();
    err_ << where() << message << std::endl;
  };
  std::string_view text;
  while (next(text)) {
    ++lineNo_;
    if (lineNo_ == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // byte order mark
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
