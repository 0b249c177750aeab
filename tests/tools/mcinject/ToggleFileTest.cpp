// The toggle file a scenario writes: read back by the toggle query, seeded
// from the toggle directory configured before, removed at the end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ToggleFile.h"

namespace Mcinject {
namespace {

bool exists(std::string const& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

class ToggleFileTest : public ::testing::Test {
 protected:
  void TearDown() override { toggleDirIs(""); }
};

TEST_F(ToggleFileTest, TogglesAreReadBackByTheToggleQuery) {
  std::string dir;
  {
    ToggleFile toggles;
    ASSERT_EQ(toggles.toggleIs("PimL3TunnelInject", false), std::nullopt);
    ASSERT_EQ(toggles.toggleIs("Other", true), std::nullopt);
    dir = toggles.dir();
    EXPECT_EQ(toggleDir(), dir);
    EXPECT_FALSE(getToggleState("PimL3TunnelInject", ToggleFile::kFileName, true));
    EXPECT_TRUE(getToggleState("Other", ToggleFile::kFileName, false));
    ASSERT_EQ(toggles.toggleIs("PimL3TunnelInject", true), std::nullopt);
    EXPECT_TRUE(getToggleState("PimL3TunnelInject", ToggleFile::kFileName, false));
  }
  EXPECT_FALSE(exists(dir)) << "the private toggle directory outlived its ToggleFile";
}

TEST_F(ToggleFileTest, OtherTogglesOfTheConfiguredFileAreKept) {
  char pattern[] = "/tmp/mcinject-toggle-test.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::string const configured = pattern;
  std::ofstream(configured + "/Pim.json") << "{ \"Kept\": false, \"PimL3TunnelInject\": true }";
  toggleDirIs(configured);
  {
    ToggleFile toggles;
    ASSERT_EQ(toggles.toggleIs("PimL3TunnelInject", false), std::nullopt);
    EXPECT_NE(toggles.dir(), configured);
    EXPECT_FALSE(getToggleState("Kept", ToggleFile::kFileName, true));
    EXPECT_FALSE(getToggleState("PimL3TunnelInject", ToggleFile::kFileName, true));
  }
  std::remove((configured + "/Pim.json").c_str());
  ::rmdir(configured.c_str());
}

}  // namespace
}  // namespace Mcinject
