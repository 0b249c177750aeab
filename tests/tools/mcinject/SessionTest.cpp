// A scenario file is read in blocks: every line comes through whole, the
// ones that straddle two blocks or are longer than a block included, and a
// last line without a newline.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "Session.h"

namespace Mcinject {
namespace {

TEST(SessionTest, AFileReadInBlocksGivesEveryLineWhole) {
  std::string const path = ::testing::TempDir() + "mcinject-session-test.scn";
  std::mt19937 rng(3);
  {
    std::ofstream file(path, std::ios::binary);
    for (int vlan = 1; vlan <= 4094; ++vlan) {
      // Comments of up to 60 bytes, and one of 200 KB, move the line starts
      // across the block boundaries.
      std::size_t const comment = vlan == 2000 ? 200000 : rng() % 60;
      file << "map vlan " << vlan << (vlan % 3 ? "\r" : "") << " #" << std::string(comment, '-') << '\n';
      if (vlan % 7 == 0) file << '\n';
    }
    file << "show inputs";
  }
  Process process;
  std::ostringstream out;
  std::ostringstream err;
  Session session(process, out, err);
  EXPECT_EQ(session.runFile(path), 0) << err.str();
  std::istringstream shown(out.str());
  std::string line;
  int vlan = 0;
  while (std::getline(shown, line) && line.starts_with("map vlan "))
    EXPECT_EQ(line, "map vlan " + std::to_string(++vlan));
  EXPECT_EQ(vlan, 4094);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace Mcinject
