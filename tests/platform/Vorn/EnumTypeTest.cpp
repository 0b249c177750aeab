// Named enumerations: lookups both ways, and parsing names out of text.
#include "Vorn/EnumType.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

Vorn::EnumType<unsigned> const modeType("Test::Mode", {{0, "group"}, {1, "groupLevel"}, {3, "interfaceLevel"}});

TEST(EnumTypeTest, NamesAndValuesMapBothWays) {
  EXPECT_STREQ(modeType.typeName(), "Test::Mode");
  EXPECT_STREQ(modeType.name(1), "groupLevel");
  EXPECT_STREQ(modeType.name(3), "interfaceLevel");
  EXPECT_EQ(modeType.value("group"), 0u);
  EXPECT_EQ(modeType.value("interfaceLevel"), 3u);
  EXPECT_TRUE(modeType.valid(0));
}

TEST(EnumTypeTest, UnknownValueOrNameGivesNothing) {
  EXPECT_EQ(modeType.name(2), nullptr) << "a gap in the values";
  EXPECT_EQ(modeType.name(99), nullptr);
  EXPECT_FALSE(modeType.valid(2));
  EXPECT_EQ(modeType.value("GroupLevel"), std::nullopt) << "names are case-sensitive";
  EXPECT_EQ(modeType.value("groupLevelX"), std::nullopt);
  EXPECT_EQ(modeType.value("grou"), std::nullopt);
  EXPECT_EQ(modeType.value(""), std::nullopt);
}

TEST(EnumTypeTest, ParseTakesTheLongestListedNameAndAdvances) {
  std::string const text = "groupLevel,group";
  auto pos = text.begin();
  EXPECT_EQ(modeType.parse(pos, text.end()), 1u);
  EXPECT_EQ(pos - text.begin(), 10);
  ++pos;  // ','
  EXPECT_EQ(modeType.parse(pos, text.end()), 0u);
  EXPECT_TRUE(pos == text.end());
}

TEST(EnumTypeTest, ParseOfUnknownOrEmptyTextLeavesThePosition) {
  std::string_view const text = "interface";
  auto pos = text.begin();
  EXPECT_EQ(modeType.parse(pos, text.end()), std::nullopt) << "a truncated name is not a name";
  EXPECT_TRUE(pos == text.begin());
  auto end = text.end();
  EXPECT_EQ(modeType.parse(end, text.end()), std::nullopt);
  EXPECT_TRUE(end == text.end());
  std::string const empty;
  auto e = empty.begin();
  EXPECT_EQ(modeType.parse(e, empty.end()), std::nullopt);
}

}  // namespace
