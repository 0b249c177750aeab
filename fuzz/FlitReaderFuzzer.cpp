// Fuzz target: the Flit trace reader on arbitrary bytes (a trace file is
// untrusted input). Beyond not crashing or reading out of bounds, the reader
// must deliver records with consecutive sequence numbers from the header's
// first one, say why when it fails, and on success have delivered exactly
// the number of records the header announces.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "Flit/FlitReader.h"

namespace {
[[noreturn]] void broken(char const* why) {
  std::fprintf(stderr, "Flit reader broke its contract: %s\n", why);
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  Flit::TraceSummary summary;
  std::string error;
  std::uint64_t delivered = 0;
  std::uint64_t nextSequence = 0;
  bool const ok = Flit::readTrace(
      std::span<std::uint8_t const>(data, size), summary,
      [&](std::uint64_t sequence, std::string const&) {
        if (delivered == 0) nextSequence = summary.firstSequence;
        if (sequence != nextSequence) broken("records out of sequence");
        ++nextSequence;
        ++delivered;
      },
      error);
  if (!ok && error.empty()) broken("failure without a reason");
  if (ok && !error.empty()) broken("success with an error");
  if (ok && delivered != summary.recordCount) broken("success with another record count than the header's");
  if (delivered > size) broken("more records than bytes");
  return 0;
}
