// TraceCapture — collects the text trace of a test.
//
// Applies trace settings and routes every trace line to an in-memory list for
// the capture's lifetime, then restores the previous settings and standard
// error.
//
//   TraceCapture trace("Pim::L3InjectSm=7-9");
//   ... run ...
//   EXPECT_EQ(trace.count("Pim::L3InjectSm", 7), 2u);
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace TestSupport {

struct CapturedLine {
  std::string handle;
  int level;
  std::string function;
  int line;
  std::string text;
};

class TraceCapture {
 public:
  explicit TraceCapture(std::string const& settings = "*=0-9");
  ~TraceCapture();
  TraceCapture(TraceCapture const&) = delete;
  TraceCapture& operator=(TraceCapture const&) = delete;

  std::vector<CapturedLine> const& lines() const noexcept { return lines_; }
  // The texts written on `handle` at `level`, in order.
  std::vector<std::string> texts(std::string_view handle, int level) const;
  std::size_t count(std::string_view handle, int level) const { return texts(handle, level).size(); }
  // Lines (any handle, any level) whose text contains `fragment`.
  std::size_t countContaining(std::string_view fragment) const;
  void clear() { lines_.clear(); }

 private:
  std::vector<CapturedLine> lines_;
  std::string previousSettings_;
};

}  // namespace TestSupport
