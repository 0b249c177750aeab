// Named enumerations: lookups both ways, and parsing names out of text.
#include "Vorn/EnumType.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

Vorn::EnumType<unsigned> const modeType("Test::Mode", {{0, "group"}, {1, "groupLevel"}, {3, "interfaceLevel"}});

TEST(EnumTypeTest, NamesAndValuesMapBothWaysAndNothingElse) {
  EXPECT_STREQ(modeType.typeName(), "Test::Mode");
  EXPECT_STREQ(modeType.name(1), "groupLevel");
  EXPECT_EQ(modeType.value("interfaceLevel"), 3u);
  EXPECT_EQ(modeType.value("group"), 0u);
  EXPECT_TRUE(modeType.valid(0));
  EXPECT_FALSE(modeType.valid(2));
  EXPECT_EQ(modeType.name(2), nullptr) << "a gap in the values";
  EXPECT_EQ(modeType.name(99), nullptr);
  for (char const* bad : {"GroupLevel", "groupLevelX", "grou", ""}) EXPECT_EQ(modeType.value(bad), std::nullopt) << bad;
}

TEST(EnumTypeTest, ParseTakesTheLongestListedNameAndAdvancesOnlyOnSuccess) {
  std::string const text = "groupLevel,group";
  auto pos = text.begin();
  EXPECT_EQ(modeType.parse(pos, text.end()), 1u);
  EXPECT_EQ(pos - text.begin(), 10);
  ++pos;  // ','
  EXPECT_EQ(modeType.parse(pos, text.end()), 0u);
  EXPECT_TRUE(pos == text.end());
  EXPECT_EQ(modeType.parse(pos, text.end()), std::nullopt);
  EXPECT_TRUE(pos == text.end());

  std::string_view const cut = "interface";
  auto at = cut.begin();
  EXPECT_EQ(modeType.parse(at, cut.end()), std::nullopt) << "a truncated name is not a name";
  EXPECT_TRUE(at == cut.begin());
}

}  // namespace
