// Trace settings, handles and output. The settings, sink and file are process
// state: every case restores what it found.
#include "Vorn/Trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::uint16_t bit(int level) { return static_cast<std::uint16_t>(1u << level); }

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

TEST(TraceLevelsTest, ParsesSinglesRangesAndLists) {
  EXPECT_EQ(Vorn::parseTraceLevels("7"), bit(7));
  EXPECT_EQ(Vorn::parseTraceLevels("7-9"), bit(7) | bit(8) | bit(9));
  EXPECT_EQ(Vorn::parseTraceLevels("0-9"), 0x3ff);
  EXPECT_EQ(Vorn::parseTraceLevels("1, 3-4"), bit(1) | bit(3) | bit(4));
  for (char const* bad : {"", "10", "9-7", "a", "7,", "7,,8", "7-", "-7", "7 8"})
    EXPECT_EQ(Vorn::parseTraceLevels(bad), 0) << bad;
}

}  // namespace
