#include "Toggle/Toggle.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

// Runs each case against a fresh temporary toggle directory and restores the
// process-wide toggle directory and MCINJECT_TOGGLE_DIR afterwards, so other
// suites in this executable still see the configuration they started with.
class ToggleFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedOverride_ = toggleDir();
    if (char const* env = std::getenv("MCINJECT_TOGGLE_DIR")) savedEnv_ = env;
    std::string pattern = (fs::temp_directory_path() / "mcinject-toggle-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    toggleDirIs(dir_.string());
  }

  void TearDown() override {
    if (savedEnv_) {
      ::setenv("MCINJECT_TOGGLE_DIR", savedEnv_->c_str(), 1);
    } else {
      ::unsetenv("MCINJECT_TOGGLE_DIR");
    }
    // When the saved directory is the environment's, there was no override (or
    // one with the same effect): go back to following the environment.
    toggleDirIs(savedEnv_ && *savedEnv_ == savedOverride_ ? std::string() : savedOverride_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void write(std::string const& file, std::string const& text) {
    std::ofstream(dir_ / file, std::ios::binary) << text;
  }

  fs::path dir_;
  std::string savedOverride_;
  std::optional<std::string> savedEnv_;
};

TEST_F(ToggleFileTest, DirectoryComesFromTheOverrideElseTheEnvironmentElseDefaults) {
  write("Pim.json", R"({ "Flag": false })");
  toggleDirIs((dir_ / "no-such-dir").string());
  EXPECT_TRUE(getToggleState("Flag", "Pim.json", true));

  ::unsetenv("MCINJECT_TOGGLE_DIR");
  toggleDirIs("");
  EXPECT_EQ(toggleDir(), "");
  EXPECT_TRUE(getToggleState("Flag", "Pim.json", true));

  ::setenv("MCINJECT_TOGGLE_DIR", dir_.c_str(), 1);
  EXPECT_EQ(toggleDir(), dir_.string());
  EXPECT_FALSE(getToggleState("Flag", "Pim.json", true));

  fs::create_directory(dir_ / "other");
  write("other/Pim.json", R"({ "Flag": true })");
  toggleDirIs((dir_ / "other").string());
  EXPECT_TRUE(getToggleState("Flag", "Pim.json", false));
}

TEST_F(ToggleFileTest, MalformedFileGivesDefaultForEveryName) {
  char const* const malformed[] = {
      "",
      R"({ "Flag": false)",
      R"({ "Flag": false, })",
      R"({ "Flag": false } x)",
      R"({ "Flag": 0 })",
      R"({ "Flag": "false" })",
      R"({ "Flag": False })",
      R"({ "Flag": false, "Other": null })",
      R"({ Flag: false })",
      R"([ false ])",
  };
  for (char const* text : malformed) {
    write("Pim.json", text);
    EXPECT_TRUE(getToggleState("Flag", "Pim.json", true)) << text;
    EXPECT_FALSE(getToggleState("Flag", "Pim.json", false)) << text;
  }
}

TEST(ToggleParse, AcceptsExactlyAFlatObjectOfBooleans) {
  auto const v = parseToggleFile("\n{\t\"A\":true ,\r\n \"B\" : false,\"C\\\"q\\\\\\/\\n\": true}\n");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(*v, (ToggleValues{{"A", true}, {"B", false}, {"C\"q\\/\n", true}}));
  EXPECT_EQ(parseToggleFile("{}"), ToggleValues{});
  EXPECT_EQ(parseToggleFile(R"({"A": true, "A": false})"), (ToggleValues{{"A", false}})) << "the last one counts";
  for (char const* bad : {"{", "}", "{\"A\"}", "{\"A\":}", "{\"A\" true}", "{\"A\":truex}", "{\"A\":true}}",
                          "{\"A\\u0041\":true}", "{\"A\\x\":true}", "{\"A\nB\":true}", "{\"A:true}", "{,}",
                          "{\"A\":true,,\"B\":false}", "{\"A\":{}}"}) {
    EXPECT_FALSE(parseToggleFile(bad).has_value()) << bad;
  }
}

}  // namespace
