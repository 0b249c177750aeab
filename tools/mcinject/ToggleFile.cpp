#include "ToggleFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

namespace Mcinject {

namespace {

std::optional<ToggleValues> readToggleFile(std::string const& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return parseToggleFile(text.str());
}

}  // namespace

std::vector<KnownToggle> const& knownToggles() {
  static std::vector<KnownToggle> const all = {
      {"PimL3TunnelInject", "on (the default): the paths write (*,G) Joins; off: (S,G) Joins"},
  };
  return all;
}

std::vector<std::string> knownToggleNames() {
  std::vector<std::string> names;
  for (auto const& t : knownToggles()) names.emplace_back(t.name);
  return names;
}

ToggleFile::~ToggleFile() {
  if (dir_.empty()) return;
  std::remove((dir_ + "/" + kFileName).c_str());
  std::remove((dir_ + "/" + kFileName + ".new").c_str());
  std::remove(dir_.c_str());
}

std::optional<std::string> ToggleFile::toggleIs(std::string const& name, bool on) {
  ToggleValues values = values_;
  if (dir_.empty()) {
    // Keep what the configured toggle file says about the other toggles.
    std::string const previous = toggleDir();
    if (!previous.empty()) {
      if (auto seeded = readToggleFile(previous + "/" + kFileName)) values = std::move(*seeded);
    }
    char const* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mcinject-toggles.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) {
      return "cannot create a toggle directory from '" + pattern + "': " + std::strerror(errno);
    }
    dir_ = buf.data();
  }
  values.insert_or_assign(name, on);
  if (auto problem = write(values)) return problem;
  values_ = std::move(values);
  toggleDirIs(dir_);
  return std::nullopt;
}

std::optional<std::string> ToggleFile::write(ToggleValues const& values) const {
  std::string const path = dir_ + "/" + kFileName;
  std::string const staging = path + ".new";
  {
    std::ofstream out(staging, std::ios::trunc);
    // Names seeded from the configured file may hold what the toggle reader
    // unescaped; bytes that are not UTF-8 are replaced rather than refused.
    nlohmann::json file = nlohmann::json::object();
    for (auto const& [n, v] : values) file[n] = v;
    out << file.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    if (!out.flush()) return "cannot write the toggle file '" + staging + "'";
  }
  if (std::rename(staging.c_str(), path.c_str()) != 0) {
    return "cannot write the toggle file '" + path + "': " + std::strerror(errno);
  }
  return std::nullopt;
}

}  // namespace Mcinject
