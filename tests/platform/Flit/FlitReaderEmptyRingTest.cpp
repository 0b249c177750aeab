// A trace file whose ring holds no record (a writer that never appended, or a
// file the fuzzer shrank to its header): the reader must accept it and list
// nothing, without copying from or into an empty buffer (the sanitizer build
// catches a null pointer handed to memcpy).
#include "Flit/Flit.h"
#include "Flit/FlitReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::vector<std::uint8_t> bytesOf(std::filesystem::path const& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FlitReaderEmptyRing, TraceWithoutRecordsReadsAsEmptyAndValid) {
  auto const path = std::filesystem::temp_directory_path() / ("mcinject-empty-" + std::to_string(::getpid()) + ".flit");
  {
    std::string error;
    auto file = Flit::File::create(path.string(), Flit::File::minRingBytes, &error);
    ASSERT_TRUE(file) << error;
    file->formatIs("registered but never written %s");
  }
  auto const bytes = bytesOf(path);
  std::filesystem::remove(path);
  ASSERT_FALSE(bytes.empty());

  Flit::TraceSummary summary;
  std::string error;
  std::size_t records = 0;
  bool const ok = Flit::readTrace(bytes, summary, [&](std::uint64_t, std::string const&) { ++records; }, error);
  EXPECT_TRUE(ok) << error;
  EXPECT_EQ(records, 0u);
  EXPECT_EQ(summary.recordCount, 0u);
  EXPECT_EQ(summary.formats, std::vector<std::string>{"registered but never written %s"});
}

}  // namespace
