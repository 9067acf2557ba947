// Where the programs look for the plug-in library: the environment's path,
// else beside the program (a build folder), else the installed
// ../lib/orvalle; never the current folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/pluginpath.h"

using orvalle::pluginpath;
namespace fs = std::filesystem;

namespace {

class PluginPath : public ::testing::Test {
protected:
  void SetUp() override {
    root =
        fs::temp_directory_path() /
        ("orvalle-pluginpath-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "bin");
    fs::create_directories(root / "lib" / "orvalle");
  }
  void TearDown() override { fs::remove_all(root); }
  static void touch(const fs::path &p) { std::ofstream(p) << "x"; }
  fs::path root;
};

} // namespace

TEST_F(PluginPath, TheEnvironmentWinsEvenOverAFileBesideTheProgram) {
  touch(root / "bin" / "libcustomfit.so");
  EXPECT_EQ(pluginpath((root / "bin").string(), "/opt/models/libmine.so"),
            "/opt/models/libmine.so");
}

TEST_F(PluginPath, BesideTheProgramBeforeTheInstalledFolder) {
  touch(root / "bin" / "libcustomfit.so");
  touch(root / "lib" / "orvalle" / "libcustomfit.so");
  EXPECT_EQ(pluginpath((root / "bin").string(), ""), (root / "bin" / "libcustomfit.so").string());
}

TEST_F(PluginPath, InstalledFolderWhenNothingIsBesideTheProgram) {
  touch(root / "lib" / "orvalle" / "libcustomfit.so");
  EXPECT_EQ(pluginpath((root / "bin").string(), nullptr),
            (root / "lib" / "orvalle" / "libcustomfit.so").string());
}

TEST_F(PluginPath, NeitherFoundNamesThePlaceBesideTheProgram) {
  const fs::path here = fs::current_path();
  fs::create_directories(root / "work");
  fs::current_path(root / "work");
  touch("libcustomfit.so"); // in the current folder: never taken
  EXPECT_EQ(pluginpath((root / "bin").string(), nullptr),
            (root / "bin" / "libcustomfit.so").string());
  fs::current_path(here);
  EXPECT_EQ(pluginpath("", nullptr), "");
}
