// Vorn trace handles — leveled text tracing, built only when enabled.
//
// OVERVIEW
//   One TraceHandle per source module, created on first use. Levels run 0-9
//   (the library uses 7 for events, 8 for handler entry and decisions, 9 for
//   detail). The process trace settings say which levels each handle enables:
//   "VpnInjectSm=7-9,*=7" enables 7-9 on "VpnInjectSm" and 7 on every other
//   handle; "Pim::L3InjectSm=8,9" lists levels; "off" (or "") disables all.
//
//   VORN_TRACE evaluates its stream expression only when the level is enabled:
//   a disabled statement costs one load and one test.
//
//   Lines go to standard error by default, to a file after `traceFileIs`, or to
//   a sink function (tests capture lines that way). A line reads
//     <handle>[<level>] <file>:<line> <function>: <text>
//   Bools print as true/false.
//
// WARNING
//   Single event thread: settings, sinks and writes are not synchronised.
//
// TYPICAL USAGE
//   Vorn::TraceHandle& th() { static Vorn::TraceHandle h("Pim::L3InjectSm", true); return h; }
//   VORN_TRACE(th(), 8, "/src/Pim/L3InjectSm", 71, "lookup", sm << "lookup vlan" << vlan);
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

namespace Vorn {

struct TraceLine {
  std::string_view handle;
  int level;
  char const* file;
  int line;
  char const* function;
  std::string_view text;
};

using TraceSink = std::function<void(TraceLine const&)>;

class TraceHandle {
 public:
  // `followsSettings`: whether the handle takes its levels from the process
  // trace settings (true) or stays off until `levelsIs` is called (false).
  TraceHandle(char const* name, bool followsSettings = true);
  ~TraceHandle();
  TraceHandle(TraceHandle const&) = delete;
  TraceHandle& operator=(TraceHandle const&) = delete;

  std::string const& name() const noexcept { return name_; }
  // Levels outside 0-15 are never enabled.
  bool enabled(int level) const noexcept {
    return static_cast<unsigned>(level) < 16u && ((mask_ >> level) & 1u);
  }
  std::uint16_t levels() const noexcept { return mask_; }
  void levelsIs(std::uint16_t mask) noexcept { mask_ = mask; }

  void write(int level, char const* file, int line, char const* function, std::string const& text) const;

 private:
  friend void applyTraceSettings();
  std::string name_;
  std::uint16_t mask_ = 0;
  bool followsSettings_;
};

// Parses and applies trace settings to every handle, present and future.
// On a malformed string nothing changes, false is returned and `error` says why.
bool traceSettingsIs(std::string_view settings, std::string* error = nullptr);
std::string const& traceSettings();

// Where text lines go: a sink function (null: back to standard error).
void traceSinkIs(TraceSink sink);
// Text trace to a file (appending); an empty path goes back to standard error.
bool traceFileIs(std::string const& path, std::string* error = nullptr);

std::string formatTraceLine(TraceLine const& line);

// Parses one LEVELS list ("7", "7-9", "8,9") into a bit mask; 0 on error.
std::uint16_t parseTraceLevels(std::string_view levels);

}  // namespace Vorn

#define VORN_TRACE(handle, level, file, line, function, expr)                              \
  do {                                                                                     \
    ::Vorn::TraceHandle& vornTraceHandle_ = (handle);                                      \
    if (vornTraceHandle_.enabled(level)) {                                                 \
      std::ostringstream vornTraceStream_;                                                 \
      vornTraceStream_ << std::boolalpha << expr;                                          \
      vornTraceHandle_.write(level, file, line, function, vornTraceStream_.str());         \
    }                                                                                      \
  } while (0)
