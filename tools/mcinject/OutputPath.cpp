#include "OutputPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "Parser.h"
#include "Text.h"
#include "Vorn/Trace.h"

namespace Mcinject {

namespace {

bool sameFile(struct stat const& a, struct stat const& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The first bytes of the file (up to `n`).
std::string head(std::string const& path, std::size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(n, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(n));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// A text trace line starts "HANDLE[LEVEL] ".
bool looksLikeTraceLine(std::string const& line) {
  std::size_t const open = line.find('[');
  if (open == std::string::npos || line.size() < open + 4) return false;
  std::string const handle = line.substr(0, open);
  bool known = false;
  for (auto const& name : traceHandleNames()) known = known || name == handle;
  return known && line[open + 1] >= '0' && line[open + 1] <= '9' && line[open + 2] == ']';
}

}  // namespace

std::optional<std::string> outputPathProblem(std::string const& path, OutputKind kind,
                                             std::vector<std::string> const& inputs) {
  std::string const name = quoted(path);
  struct stat out {};
  if (::stat(path.c_str(), &out) != 0) return std::nullopt;  // a new file; opening it says what fails
  if (S_ISDIR(out.st_mode)) return "cannot write " + name + ": " + std::strerror(EISDIR);
  for (std::string const& input : inputs) {
    struct stat in {};
    bool const isStdin = input == "-";
    if ((isStdin ? ::fstat(STDIN_FILENO, &in) : ::stat(input.c_str(), &in)) != 0) continue;
    if (!S_ISREG(in.st_mode) || !sameFile(in, out)) continue;
    return "refusing to write " + name + ": it is " +
           (isStdin ? std::string("standard input") : "the input " + quoted(input));
  }
  if (!S_ISREG(out.st_mode) || out.st_size == 0) return std::nullopt;
  if (kind == OutputKind::flit) {
    if (head(path, 4) != "FLIT") return "refusing to overwrite " + name + ": it is not a Flit trace file";
    return std::nullopt;
  }
  std::string first = head(path, 256);
  first = first.substr(0, first.find('\n'));
  if (!looksLikeTraceLine(first)) return "refusing to append to " + name + ": it is not a text trace file";
  return std::nullopt;
}

std::optional<std::string> traceFileIs(std::string const& path, std::vector<std::string> const& inputs) {
  if (!path.empty()) {
    if (auto problem = outputPathProblem(path, OutputKind::textTrace, inputs)) return problem;
  }
  std::string error;
  errno = 0;
  if (!Vorn::traceFileIs(path, &error)) {
    int const e = errno;
    return "cannot write " + quoted(path) + (e ? std::string(": ") + std::strerror(e) : std::string());
  }
  return std::nullopt;
}

}  // namespace Mcinject
