#include "support/TraceCapture.h"

#include "Vorn/Trace.h"

namespace TestSupport {

TraceCapture::TraceCapture(std::string const& settings) : previousSettings_(Vorn::traceSettings()) {
  Vorn::traceSettingsIs(settings);
  Vorn::traceSinkIs([this](Vorn::TraceLine const& l) {
    lines_.push_back(CapturedLine{std::string(l.handle), l.level, l.function ? l.function : "", l.line,
                                  std::string(l.text)});
  });
}

TraceCapture::~TraceCapture() {
  Vorn::traceSinkIs(nullptr);
  Vorn::traceSettingsIs(previousSettings_);
}

std::vector<std::string> TraceCapture::texts(std::string_view handle, int level) const {
  std::vector<std::string> out;
  for (auto const& l : lines_)
    if (l.handle == handle && l.level == level) out.push_back(l.text);
  return out;
}

std::size_t TraceCapture::countContaining(std::string_view fragment) const {
  std::size_t n = 0;
  for (auto const& l : lines_)
    if (l.text.find(fragment) != std::string::npos) ++n;
  return n;
}

}  // namespace TestSupport
