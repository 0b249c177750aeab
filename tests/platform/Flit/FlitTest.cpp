// The binary trace: rendering, writing and reading back (also across ring
// wraps and default-file changes), and the reader on untrusted input.
#include "Flit/Flit.h"
#include "Flit/FlitReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Flit::Arg;

std::array<uint8_t, 16> ip(std::initializer_list<uint8_t> b) {
   std::array<uint8_t, 16> out{};
   std::copy(b.begin(), b.end(), out.begin());
   return out;
}

std::string renderOne(Arg const& a) {
   Arg args[] = {a};
   return Flit::render("%s", args);
}

// --- render -------------------------------------------------------------------

TEST(FlitRender, SubstitutesArgumentsInOrderAndCopiesEverythingElse) {
   Arg args[] = {Arg::string("X"), Arg::number(42), Arg::pointer(reinterpret_cast<void const*>(0xbeef))};
   EXPECT_EQ(Flit::render("a %s b %s c %s d", args), "a X b 42 c 0xbeef d");
   EXPECT_EQ(Flit::render("%s%s%s", args), "X420xbeef");
   EXPECT_EQ(Flit::render("only %s", args), "only X") << "surplus arguments are ignored";
   EXPECT_EQ(Flit::render("", args), "");
   EXPECT_EQ(Flit::render("%s", {}), "");
   Arg one[] = {Arg::number(7)};
   EXPECT_EQ(Flit::render("[%s] [%s] [%s]", one), "[7] [] []") << "missing arguments render empty";
   Arg v[] = {Arg::string("v")};
   EXPECT_EQ(Flit::render("100% %d %n %x %s %", v), "100% %d %n %x v %");
   EXPECT_EQ(Flit::render("%%s", v), "%v");
   EXPECT_EQ(Flit::render("%S %s", v), "%S v");
   // String arguments are not expanded again, and may hold a NUL.
   Arg strings[] = {Arg::string("%s%n"), Arg::string(std::string_view("a\0b", 3))};
   EXPECT_EQ(Flit::render("%s then <%s>", strings), std::string("%s%n then <a\0b>", 15));
   EXPECT_EQ(Flit::Statement("%s -> %s").text(one), "7 -> ");
   EXPECT_EQ(renderOne(Arg::number(UINT64_MAX)), "18446744073709551615");
   EXPECT_EQ(renderOne(Arg::pointer(nullptr)), "0x0");
   EXPECT_EQ(renderOne(Arg::pointer(reinterpret_cast<void const*>(0xdeadbeefULL))), "0xdeadbeef");
}

// --- writing and reading back ---------------------------------------------------

class FlitFileTest : public ::testing::Test {
 protected:
   void SetUp() override {
      static int counter = 0;
      dir_ = std::filesystem::temp_directory_path() /
             ("flit-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
      std::filesystem::create_directories(dir_);
   }
   void TearDown() override {
      Flit::defaultFileIs(nullptr);
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
   }

   std::string path(std::string const& name) const { return (dir_ / name).string(); }

   std::unique_ptr<Flit::File> create(std::string const& name, uint32_t ring = 1u << 16) {
      std::string error;
      auto file = Flit::File::create(path(name), ring, &error);
      EXPECT_TRUE(file) << error;
      return file;
   }

   // Appends records `from` to `to` - 1 with the text textOf(i) under format
   // `id` ("record %s %s").
   static void fill(Flit::File& file, uint32_t id, uint64_t from, uint64_t to) {
      for (uint64_t i = from; i < to; ++i) file.append(id, {Arg::number(i), Arg::string(std::string(i % 13, 'x'))});
   }
   static std::string textOf(uint64_t i) { return "record " + std::to_string(i) + " " + std::string(i % 13, 'x'); }

   struct Read {
      bool ok = false;
      std::string error;
      Flit::TraceSummary summary;
      std::vector<uint64_t> sequences;
      std::vector<std::string> texts;
   };

   static Read decode(std::vector<uint8_t> const& bytes) {
      Read r;
      r.ok = Flit::readTrace(
         bytes, r.summary,
         [&r](uint64_t seq, std::string const& text) {
            r.sequences.push_back(seq);
            r.texts.push_back(text);
         },
         r.error);
      return r;
   }

   Read readBack(std::string const& name) const {
      Read r = decode(bytes(name));
      EXPECT_TRUE(r.ok) << r.error;
      return r;
   }

   std::vector<uint8_t> bytes(std::string const& name) const {
      std::ifstream in(path(name), std::ios::binary);
      return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
   }

   std::filesystem::path dir_;
};

TEST_F(FlitFileTest, AllArgumentKindsRoundTrip) {
   int local = 0;
   std::string_view const binary("q\0\xff%s", 5);
   std::vector<Arg> args = {
      Arg::number(UINT64_MAX),
      Arg::pointer(&local),
      Arg::address(Arg::familyIpv4, ip({224, 1, 2, 3})),
      Arg::address(Arg::familyIpv6, ip({0xff, 0x3e, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34})),
      Arg::address(Arg::familyNone, ip({})),
      Arg::string(binary),
      Arg::string(""),
   };
   std::string format = "%s|%s|%s|%s|%s|%s|%s";
   {
      auto file = create("t.flit");
      file->append(file->formatIs(format), args);
   }
   Read r = readBack("t.flit");
   ASSERT_EQ(r.texts.size(), 1u);
   EXPECT_EQ(r.texts[0], Flit::render(format, args));
   EXPECT_NE(r.texts[0].find(std::string("|q\0\xff%s|", 7)), std::string::npos);
}

// Many ring sizes so that records split across the end of the ring at every
// possible point.
TEST_F(FlitFileTest, RingWrapKeepsNewestWholeRecordsInOrder) {
   for (uint32_t ring = 64; ring <= 320; ring += 7) {
      SCOPED_TRACE("ring " + std::to_string(ring));
      constexpr uint64_t n = 150;
      uint32_t kept;
      {
         auto file = create("wrap.flit", ring);
         fill(*file, file->formatIs("record %s %s"), 0, n);
         kept = file->recordCount();
         EXPECT_EQ(file->overwrittenRecords(), n - kept);
      }
      Read r = readBack("wrap.flit");
      ASSERT_EQ(r.texts.size(), kept);
      ASSERT_GT(kept, 0u);
      ASSERT_LT(kept, n);
      EXPECT_EQ(r.summary.firstSequence, n - kept);
      EXPECT_EQ(r.summary.overwrittenRecords, n - kept);
      for (uint32_t i = 0; i < kept; ++i) {
         EXPECT_EQ(r.sequences[i], n - kept + i);
         EXPECT_EQ(r.texts[i], textOf(n - kept + i));
      }
   }
}

TEST_F(FlitFileTest, OversizedRecordsAndUnknownFormatsAreRejectedAndCounted) {
   {
      auto file = create("t.flit", 64);
      uint32_t id = file->formatIs("%s");
      file->append(id, {Arg::string("small")});
      file->append(id, {Arg::string(std::string(100, 'y'))});
      file->append(id + 5, {Arg::number(1)});
      file->append(Flit::File::noFormat, {Arg::number(1)});
      file->append(id, {Arg::string("after")});
      EXPECT_EQ(file->rejectedRecords(), 3u);
   }
   Read r = readBack("t.flit");
   EXPECT_EQ(r.texts, (std::vector<std::string>{"small", "after"}));
   EXPECT_EQ(r.sequences, (std::vector<uint64_t>{0, 1}));
   EXPECT_EQ(r.summary.rejectedRecords, 3u);
}

// --- statements and the default file ---------------------------------------------

// --- the reader on bad input -------------------------------------------------------

class FlitReaderTest : public FlitFileTest {
 protected:
   // A valid trace of `n` records that does not wrap: record i starts in the
   // ring where the lengths of the records before it say.
   std::vector<uint8_t> validTrace(uint64_t n = 5) {
      {
         auto file = create("good.flit", 4096);
         fill(*file, file->formatIs("record %s %s"), 0, n);
      }
      return bytes("good.flit");
   }

   static uint32_t u32(std::vector<uint8_t> const& b, size_t at) {
      uint32_t v;
      std::memcpy(&v, b.data() + at, 4);
      return v;
   }

   // File offset of record `index` in a trace that does not wrap.
   static size_t recordAt(std::vector<uint8_t> const& b, size_t index) {
      size_t at = Flit::layout::headerBytes + u32(b, Flit::layout::tailAt);
      for (size_t i = 0; i < index; ++i) at += u32(b, at);
      return at;
   }

   static void expectError(Read const& r, std::string const& part) {
      EXPECT_FALSE(r.ok);
      EXPECT_NE(r.error.find(part), std::string::npos) << r.error;
   }
};

TEST_F(FlitReaderTest, TruncatedFileAtAnyLengthFailsCleanly) {
   auto good = validTrace();
   for (size_t len = 0; len < good.size(); ++len) {
      Read r = decode(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(len)));
      EXPECT_FALSE(r.ok) << "length " << len;
      EXPECT_FALSE(r.error.empty()) << "length " << len;
   }
   expectError(decode({'h', 'e', 'l', 'l', 'o'}), "truncated header");
   // Through the file path as well.
   std::ofstream(path("cut.flit"), std::ios::binary).write(reinterpret_cast<char const*>(good.data()), 100);
   std::ostringstream out;
   std::string error;
   EXPECT_FALSE(Flit::printFile(path("cut.flit"), out, error));
   EXPECT_NE(error.find("truncated ring"), std::string::npos) << error;
   EXPECT_NE(error.find("cut.flit"), std::string::npos) << error;
}

// Each corruption is refused with an error naming it, after listing exactly
// the intact records before it.
TEST_F(FlitReaderTest, CorruptedHeaderOrRecordIsReportedAfterTheIntactRecords) {
   auto const good = validTrace();
   ASSERT_TRUE(decode(good).ok);
   auto le = [](uint32_t v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
   using namespace Flit::layout;
   size_t const r1 = recordAt(good, 1) + 4;  // record 1 after its length: sequence, format id, count, kind
   size_t const r2 = recordAt(good, 2);
   size_t const r3 = recordAt(good, 3);
   size_t const r4 = recordAt(good, 4) + 4;
   struct Case {
      size_t at;
      std::vector<uint8_t> bytes;
      char const* error;
      size_t listed;
   } const cases[] = {
      {magicAt, le(0x58494c46u), "bad magic", 0},
      {versionAt, le(99), "version 99", 0},
      {headerBytesAt, le(1000), "header size", 0},
      {ringBytesAt, le(0xffffffffu), "ring size", 0},
      {ringBytesAt, le(1u << 30), "truncated ring", 0},
      {ringBytesAt, le(8), "ring size", 0},
      {usedAt, le(0xffffffffu), "inconsistent ring offsets", 0},
      {tailAt, le(0xfffffff0u), "inconsistent ring offsets", 0},
      {headAt, le(3), "inconsistent ring offsets", 0},
      {formatTableBytesAt, le(0xffffffffu), "truncated format table", 0},
      {formatCountAt, le(0xffffffffu), "header says 4294967295", 0},
      {recordCountAt, le(0xffffffffu), "header says 4294967295 records", 5},
      {r2, le(0), "record 2", 2},
      {r2, le(1), "record 2", 2},
      {r2, le(4), "record 2", 2},
      {r2, le(0xffffffffu), "record 2", 2},
      {r2, le(4096), "record 2", 2},
      {r2, le(5000), "record 2", 2},
      {r3, le(u32(good, r3) - 1), "record 3", 3},  // one byte short: the last argument byte is missing
      {r1, {7}, "sequence number 7 out of order", 1},
      {r1 + 1, {9}, "unknown format id 9", 1},
      {r1 + 2, {0x7f}, "argument count 127", 1},
      {r1 + 2, {1}, "stray bytes", 1},  // fewer arguments than follow
      {r1 + 3, {0x33}, "unknown kind 51", 1},
      {r1, std::vector<uint8_t>(11, 0xff), "bad sequence number", 1},  // endless varint
      // Ten varint bytes within the record (record 4 has the longest body): the
      // last one may carry only bit 63.
      {r4, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}, "bad sequence number", 4},
   };
   for (auto const& c : cases) {
      auto b = good;
      std::copy(c.bytes.begin(), c.bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(c.at));
      Read r = decode(b);
      expectError(r, c.error);
      std::vector<std::string> intact;
      for (uint64_t i = 0; i < c.listed; ++i) intact.push_back(textOf(i));
      EXPECT_EQ(r.texts, intact) << c.error;
   }
}

// A flush interrupted after the ring bytes but before the header leaves the old
// header over newer records: what is listed must still be true. The ring is
// not full at the snapshot, so the first newer records land in free space and
// the old ones are still listed; later ones overwrite them.
TEST_F(FlitReaderTest, StaleHeaderOverNewerRecordsNeverListsWrongText) {
   auto file = create("t.flit", 256);
   uint32_t id = file->formatIs("record %s %s");
   fill(*file, id, 0, 5);
   file->flush();
   auto before = bytes("t.flit");
   size_t listed = 0, refused = 0;
   for (uint64_t i = 5; i < 35; ++i) {
      fill(*file, id, i, i + 1);
      file->flush();
      auto b = bytes("t.flit");
      std::copy(before.begin(), before.begin() + Flit::layout::headerBytes, b.begin());
      Read r = decode(b);
      for (size_t k = 0; k < r.texts.size(); ++k) EXPECT_EQ(r.texts[k], textOf(r.sequences[k]));
      listed += r.texts.size();
      refused += !r.ok;
   }
   // Both outcomes occur: some old records survive, the overwritten ones are refused.
   EXPECT_GT(listed, 0u);
   EXPECT_GT(refused, 0u);
}

}  // namespace
