// Fuzz target: byte strings turned into sequences of input changes of the VPN
// inject path (statuses coming and going, membership at every depth, SBD
// assignments and SBD VLAN state replacement, mappings), with walks that
// yield after 1..3 items and changes arriving mid-walk; judged once idle
// against the reference model and a fresh instance, and after teardown
// (the harness of the randomized tests, support/Differential.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/Differential.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static auto driver = TestSupport::vpnDriver(true);
  TestSupport::ByteChoices choices({data, size});
  // The first byte seeds the walk budgets. A fresh instance per judgement is
  // the costly part under the sanitizers: judge after a third of the changes
  // (and always after the last).
  TestSupport::RunSpec const plan{
      .seed = choices.below(256), .changes = 400, .warmup = 4, .checkPercent = 30, .restartEvery = 0};
  TestSupport::RunReport const report = TestSupport::runChanges(*driver, plan, choices);
  if (report.failed) {
    std::fprintf(stderr, "VPN path failed after %zu change(s): %s\n", report.changesRun, report.what.c_str());
    for (std::size_t i = 0; i < report.log.size(); ++i) std::fprintf(stderr, "  %zu: %s\n", i + 1, report.log[i].c_str());
    std::abort();
  }
  return 0;
}
