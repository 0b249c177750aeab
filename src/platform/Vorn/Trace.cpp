#include "Vorn/Trace.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <vector>

namespace Vorn {

namespace {

struct TraceState {
  std::vector<TraceHandle*> handles;
  std::string settings;
  std::map<std::string, std::uint16_t, std::less<>> perHandle;
  std::uint16_t others = 0;
  TraceSink sink;
  std::unique_ptr<std::ofstream> file;
};

TraceState& state() {
  static TraceState* s = new TraceState;  // outlives static handles
  return *s;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::uint16_t maskFor(std::string const& name) {
  auto& st = state();
  auto it = st.perHandle.find(name);
  return it != st.perHandle.end() ? it->second : st.others;
}

std::uint16_t parseLevelToken(std::string_view tok) {
  tok = trim(tok);
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (tok.size() == 1 && digit(tok[0])) return static_cast<std::uint16_t>(1u << (tok[0] - '0'));
  if (tok.size() == 3 && digit(tok[0]) && tok[1] == '-' && digit(tok[2]) && tok[0] <= tok[2]) {
    std::uint16_t m = 0;
    for (char c = tok[0]; c <= tok[2]; ++c) m |= static_cast<std::uint16_t>(1u << (c - '0'));
    return m;
  }
  return 0;
}

}  // namespace

void applyTraceSettings() {
  for (TraceHandle* h : state().handles)
    if (h->followsSettings_) h->mask_ = maskFor(h->name_);
}

TraceHandle::TraceHandle(char const* name, bool followsSettings)
    : name_(name), followsSettings_(followsSettings) {
  state().handles.push_back(this);
  if (followsSettings_) mask_ = maskFor(name_);
}

TraceHandle::~TraceHandle() {
  auto& hs = state().handles;
  hs.erase(std::remove(hs.begin(), hs.end(), this), hs.end());
}

void TraceHandle::write(int level, char const* file, int line, char const* function,
                        std::string const& text) const {
  TraceLine tl{name_, level, file, line, function, text};
  auto& st = state();
  if (st.sink) {
    st.sink(tl);
    return;
  }
  std::ostream& out = st.file ? static_cast<std::ostream&>(*st.file) : std::cerr;
  out << formatTraceLine(tl) << '\n';
  if (st.file) st.file->flush();  // a trace must survive an abort
}

std::string formatTraceLine(TraceLine const& l) {
  std::string s;
  s.reserve(l.handle.size() + l.text.size() + 48);
  s.append(l.handle).append("[").append(std::to_string(l.level)).append("] ");
  s.append(l.file ? l.file : "").append(":").append(std::to_string(l.line)).append(" ");
  s.append(l.function ? l.function : "").append(": ").append(l.text);
  return s;
}

std::uint16_t parseTraceLevels(std::string_view levels) {
  std::uint16_t mask = 0;
  while (!levels.empty()) {
    auto comma = levels.find(',');
    std::uint16_t m = parseLevelToken(levels.substr(0, comma));
    if (m == 0) return 0;
    mask |= m;
    if (comma == std::string_view::npos) break;
    levels.remove_prefix(comma + 1);
    if (levels.empty()) return 0;  // a trailing comma lists nothing
  }
  return mask;
}

bool traceSettingsIs(std::string_view settings, std::string* error) {
  std::map<std::string, std::uint16_t, std::less<>> perHandle;
  std::uint16_t others = 0;
  std::string_view all = trim(settings);
  if (!all.empty() && all != "off") {
    // Tokens are separated by commas; a token with '=' starts a handle, a
    // token without one adds levels to the previous handle ("A=8,9").
    std::string current;
    bool haveCurrent = false;
    std::string_view rest = all;
    while (true) {
      auto comma = rest.find(',');
      std::string_view tok = trim(rest.substr(0, comma));
      auto eq = tok.find('=');
      std::uint16_t m;
      if (eq != std::string_view::npos) {
        current = std::string(trim(tok.substr(0, eq)));
        haveCurrent = !current.empty();
        m = parseLevelToken(tok.substr(eq + 1));
      } else {
        m = parseLevelToken(tok);
      }
      if (!haveCurrent || m == 0) {
        if (error) *error = "malformed trace setting '" + std::string(tok) + "' (expected HANDLE=LEVELS, levels 0-9)";
        return false;
      }
      if (current == "*") {
        others |= m;
      } else {
        perHandle[current] |= m;
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  auto& st = state();
  st.perHandle = std::move(perHandle);
  st.others = others;
  st.settings = std::string(all);
  applyTraceSettings();
  return true;
}

std::string const& traceSettings() { return state().settings; }

void traceSinkIs(TraceSink sink) { state().sink = std::move(sink); }

bool traceFileIs(std::string const& path, std::string* error) {
  auto& st = state();
  if (path.empty()) {
    st.file.reset();
    return true;
  }
  auto f = std::make_unique<std::ofstream>(path, std::ios::app);
  if (!*f) {
    if (error) *error = "cannot open trace file '" + path + "'";
    return false;
  }
  st.file = std::move(f);
  return true;
}

}  // namespace Vorn
