// Fuzz target: byte strings turned into sequences of input changes of the L3
// inject path, judged after the changes against the reference model and a
// fresh instance, with restarts over stale tables and a teardown that must
// leave nothing (the harness of the randomized tests, support/Differential.h).
// Each byte makes one choice: which change, which VLAN, group, source,
// interface, route, which object to replace, whether to judge now.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/Differential.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static auto driver = TestSupport::l3Driver();
  TestSupport::ByteChoices choices({data, size});
  TestSupport::RunSpec const plan{.seed = 0, .changes = 400, .warmup = 4, .checkPercent = 75, .restartEvery = 6};
  TestSupport::RunReport const report = TestSupport::runChanges(*driver, plan, choices);
  if (report.failed) {
    std::fprintf(stderr, "L3 path failed after %zu change(s): %s\n", report.changesRun, report.what.c_str());
    for (std::size_t i = 0; i < report.log.size(); ++i) std::fprintf(stderr, "  %zu: %s\n", i + 1, report.log[i].c_str());
    std::abort();
  }
  return 0;
}
