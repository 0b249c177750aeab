// Trace settings, handles and output. The settings, sink and file are process
// state: every case restores what it found.
#include "Vorn/Trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t bit(int level) { return static_cast<std::uint16_t>(1u << level); }

// A fresh scratch file of this process (test processes may run side by side).
fs::path scratch(char const* name) {
  fs::path p = fs::path(::testing::TempDir()) / (std::string(name) + "-" + std::to_string(::getpid()) + ".log");
  fs::remove(p);
  return p;
}
std::string textOf(fs::path const& p) {
  std::ifstream in(p);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Captured {
  std::string handle;
  int level;
  std::string file;
  int line;
  std::string function;
  std::string text;
};

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Vorn::traceSettings();
    Vorn::traceSinkIs([this](Vorn::TraceLine const& l) {
      lines.push_back({std::string(l.handle), l.level, l.file, l.line, l.function, std::string(l.text)});
    });
  }
  void TearDown() override {
    Vorn::traceSinkIs(nullptr);
    Vorn::traceFileIs("");
    EXPECT_TRUE(Vorn::traceSettingsIs(saved_));
  }

  std::vector<Captured> lines;

 private:
  std::string saved_;
};

TEST_F(TraceTest, SettingsEnableLevelsPerHandleAndForEveryOther) {
  Vorn::TraceHandle a("TraceTest.A");
  Vorn::TraceHandle b("TraceTest.B");
  ASSERT_TRUE(Vorn::traceSettingsIs("TraceTest.A=7-9,*=7"));
  EXPECT_EQ(a.levels(), bit(7) | bit(8) | bit(9));
  EXPECT_FALSE(a.enabled(6));
  EXPECT_EQ(b.levels(), bit(7));
  EXPECT_EQ(Vorn::traceSettings(), "TraceTest.A=7-9,*=7");

  ASSERT_TRUE(Vorn::traceSettingsIs("TraceTest.A=8,9"));
  EXPECT_EQ(a.levels(), bit(8) | bit(9));
  EXPECT_EQ(b.levels(), 0) << "no '*': other handles are off";

  ASSERT_TRUE(Vorn::traceSettingsIs(" TraceTest.B = 3 , TraceTest.B=5-6,*=0 "));
  EXPECT_EQ(b.levels(), bit(3) | bit(5) | bit(6)) << "levels of one handle accumulate";
  EXPECT_EQ(a.levels(), bit(0));

  for (char const* off : {"off", "", "  off  "}) {
    ASSERT_TRUE(Vorn::traceSettingsIs("*=0-9"));
    ASSERT_TRUE(Vorn::traceSettingsIs(off)) << off;
    EXPECT_EQ(a.levels(), 0) << off;
  }
}

TEST_F(TraceTest, MalformedSettingsAreRejectedAndChangeNothing) {
  Vorn::TraceHandle a("TraceTest.A");
  ASSERT_TRUE(Vorn::traceSettingsIs("TraceTest.A=7,*=9"));
  for (char const* bad : {"TraceTest.A", "TraceTest.A=", "=7", "7", "TraceTest.A=10", "TraceTest.A=9-7",
                          "TraceTest.A=7,", ",TraceTest.A=7", "TraceTest.A=x", "TraceTest.A=7-",
                          "TraceTest.A=7;*=8", "TraceTest.A=7,,8", "TraceTest.A=-1", "TraceTest.A=7=8",
                          "*=8,TraceTest.A=77", "on"}) {
    std::string error;
    EXPECT_FALSE(Vorn::traceSettingsIs(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(Vorn::traceSettings(), "TraceTest.A=7,*=9") << bad;
    EXPECT_EQ(a.levels(), bit(7)) << bad;
  }
  EXPECT_FALSE(Vorn::traceSettingsIs("A=", nullptr)) << "the error text is optional";
}

TEST_F(TraceTest, HandlesFollowSettingsMadeBeforeThemUnlessSetByHand) {
  ASSERT_TRUE(Vorn::traceSettingsIs("TraceTest.Late=8,*=7"));
  Vorn::TraceHandle late("TraceTest.Late");
  Vorn::TraceHandle other("TraceTest.Other");
  Vorn::TraceHandle own("TraceTest.Own", false);
  EXPECT_EQ(late.levels(), bit(8));
  EXPECT_EQ(other.levels(), bit(7));
  EXPECT_EQ(own.levels(), 0);
  own.levelsIs(0xffff);
  ASSERT_TRUE(Vorn::traceSettingsIs("off"));
  EXPECT_EQ(own.levels(), 0xffff);
  EXPECT_TRUE(own.enabled(15));
  for (int outside : {16, 40, -1}) EXPECT_FALSE(own.enabled(outside)) << outside;
  {
    Vorn::TraceHandle gone("TraceTest.Gone");
  }
  // Applying settings must not touch the destroyed handle.
  EXPECT_TRUE(Vorn::traceSettingsIs("TraceTest.Gone=1,*=2"));
  Vorn::TraceHandle again("TraceTest.Gone");
  EXPECT_EQ(again.levels(), bit(1));
}

int evaluations = 0;
int counted(int v) {
  ++evaluations;
  return v;
}

TEST_F(TraceTest, DisabledStatementDoesNotEvaluateItsTextEnabledOneReachesTheSink) {
  Vorn::TraceHandle h("Pim::TraceTestSm", false);
  h.levelsIs(bit(8));
  evaluations = 0;
  VORN_TRACE(h, 7, "/src/T", 1, "f", "value " << counted(1));
  EXPECT_EQ(evaluations, 0);
  bool const cond = false;
  int after = 0;
  if (cond)  // the statement is one statement inside an unbraced if
    VORN_TRACE(h, 8, "f", 1, "g", "never");
  else
    ++after;
  EXPECT_EQ(after, 1);
  EXPECT_TRUE(lines.empty());
  bool const up = true;
  VORN_TRACE(h, 8, "/src/Pim/TraceTestSm", 71, "lookup", "vlan " << counted(10) << " up " << up << " down " << !up);
  EXPECT_EQ(evaluations, 1);
  ASSERT_EQ(lines.size(), 1u);
  Captured const& l = lines[0];
  EXPECT_EQ(l.handle, "Pim::TraceTestSm");
  EXPECT_EQ(l.level, 8);
  EXPECT_EQ(l.file, "/src/Pim/TraceTestSm");
  EXPECT_EQ(l.line, 71);
  EXPECT_EQ(l.function, "lookup");
  EXPECT_EQ(l.text, "vlan 10 up true down false");
}

TEST_F(TraceTest, LineFormatNamesHandleLevelPlaceAndFunction) {
  Vorn::TraceLine const l{"Pim::L3InjectSm", 8, "/src/Pim/L3InjectSm", 71, "lookup", "sm lookup vlan 10"};
  EXPECT_EQ(Vorn::formatTraceLine(l), "Pim::L3InjectSm[8] /src/Pim/L3InjectSm:71 lookup: sm lookup vlan 10");
  Vorn::TraceLine const bare{"H", 0, nullptr, 0, nullptr, ""};
  EXPECT_EQ(Vorn::formatTraceLine(bare), "H[0] :0 : ");
}

TEST_F(TraceTest, TraceFileAppendsFormattedLinesOnlyWithoutASink) {
  fs::path const path = scratch("vorn-trace-test");
  std::ofstream(path) << "earlier\n";
  Vorn::TraceHandle h("TraceTest.File", false);
  h.levelsIs(bit(9));
  std::string error;
  ASSERT_TRUE(Vorn::traceFileIs(path.string(), &error)) << error;
  VORN_TRACE(h, 9, "/src/F", 2, "fn", "to the sink");
  EXPECT_EQ(lines.size(), 1u);
  Vorn::traceSinkIs(nullptr);
  VORN_TRACE(h, 9, "/src/F", 3, "fn", "flag " << true);
  // An unopenable file is reported and the old one kept.
  EXPECT_FALSE(Vorn::traceFileIs("/nonexistent-dir-for-vorn/trace.log", &error));
  EXPECT_NE(error.find("/nonexistent-dir-for-vorn/trace.log"), std::string::npos) << error;
  VORN_TRACE(h, 9, "f", 1, "g", "kept");
  ASSERT_TRUE(Vorn::traceFileIs(""));  // closes (and flushes) the file
  VORN_TRACE(h, 9, "/src/F", 4, "fn", "to standard error");
  EXPECT_EQ(textOf(path), "earlier\nTraceTest.File[9] /src/F:3 fn: flag true\nTraceTest.File[9] f:1 g: kept\n");
  fs::remove(path);
}

TEST(TraceLevelsTest, ParsesSinglesRangesAndLists) {
  EXPECT_EQ(Vorn::parseTraceLevels("7"), bit(7));
  EXPECT_EQ(Vorn::parseTraceLevels("7-9"), bit(7) | bit(8) | bit(9));
  EXPECT_EQ(Vorn::parseTraceLevels("0-9"), 0x3ff);
  EXPECT_EQ(Vorn::parseTraceLevels("1, 3-4"), bit(1) | bit(3) | bit(4));
  for (char const* bad : {"", "10", "9-7", "a", "7,", "7,,8", "7-", "-7", "7 8"})
    EXPECT_EQ(Vorn::parseTraceLevels(bad), 0) << bad;
}

}  // namespace
