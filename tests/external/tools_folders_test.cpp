#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "external/tools/folders.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ortavia::test::MakeTempDir("xdg");
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
    setenv("HOME", (root_ / "home").c_str(), 1);
  }
  void TearDown() override {
    const fs::path home = ortavia::test::PrivateHome();
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
  }
  fs::path root_;
};

TEST_F(FoldersTest, SpecialFoldersFollowTheXdgVariablesAndAreCreated) {
  char buf[4096];
  ASSERT_EQ(GT_GetSpecialFolder(buf, sizeof buf, kCsidlCommonAppData, 0, 0), 1);
  EXPECT_EQ(fs::path(buf), root_ / "data");
  ASSERT_EQ(GT_GetSpecialFolder(buf, sizeof buf, kCsidlLocalAppData, 0, 0), 1);
  EXPECT_EQ(fs::path(buf), root_ / "cache" / "Ortavia");
  EXPECT_TRUE(fs::is_directory(root_ / "cache" / "Ortavia"));
  EXPECT_EQ(GT_GetSpecialFolder(buf, sizeof buf, 5, 0, 0), 0);
  char tiny[4];
  EXPECT_EQ(GT_GetSpecialFolder(tiny, sizeof tiny, kCsidlCommonAppData, 0, 0), 0);
}

TEST_F(FoldersTest, UnsetOrRelativeVariablesFallBackBelowHome) {
  unsetenv("XDG_DATA_HOME");
  setenv("XDG_CACHE_HOME", "relative/cache", 1);
  EXPECT_EQ(fs::path(GT_GetSpecialFolder(kCsidlCommonAppData)), root_ / "home/.local/share");
  EXPECT_EQ(fs::path(GT_GetSpecialFolder(kCsidlLocalAppData)), root_ / "home/.cache/Ortavia");
}

TEST_F(FoldersTest, EnsureFoldersMakesKestaAndPassportsAndIsRepeatable) {
  const std::string passports = EnsureFolders();
  EXPECT_EQ(fs::path(passports), root_ / "data" / "Kesta" / "passports");
  EXPECT_TRUE(fs::is_directory(passports));
  const fs::path marker = fs::path(passports) / "kept.cvc";
  std::ofstream(marker) << "x";
  EXPECT_EQ(EnsureFolders(), passports);
  EXPECT_TRUE(fs::exists(marker));
}

TEST_F(FoldersTest, EnsureFoldersReturnsAPathEvenWhenItCannotCreate) {
  // A file where the data folder should be: nothing is created, no crash.
  std::ofstream(root_ / "data") << "x";
  EXPECT_EQ(EnsureFolders(), "");
  EXPECT_FALSE(fs::is_directory(root_ / "data"));
}

TEST(OptimizePath, NormalisesLexically) {
  EXPECT_EQ(GT_OptimizePath("/a/b/../c/./d/", 0), "/a/c/d");
  EXPECT_EQ(GT_OptimizePath("/a//b", 0), "/a/b");
  EXPECT_EQ(GT_OptimizePath("/", 0), "/");
  EXPECT_EQ(GT_OptimizePath("", 0), "");
  const std::string rel = GT_OptimizePath("x/../y", 0);
  EXPECT_EQ(fs::path(rel), (fs::current_path() / "y").lexically_normal());
}

TEST(MakeFilterPair, TurnsBarPairsIntoQtFilters) {
  EXPECT_EQ(GT_MakeFilterPair("Desc|*.a;*.b|Desc2|*.c||"), "Desc (*.a *.b);;Desc2 (*.c)");
  EXPECT_EQ(GT_MakeFilterPair("Images (*.tif;*.tiff)|*.tif;*.tiff|All files|*.*||"),
            "Images (*.tif *.tiff);;All files (*.*)");
  EXPECT_EQ(GT_MakeFilterPair("Passports|*.ccb; *.cvc|"), "Passports (*.ccb *.cvc)");
  EXPECT_EQ(GT_MakeFilterPair("Only a description||"), "");
  EXPECT_EQ(GT_MakeFilterPair("A|*.a||B|*.b||"), "A (*.a)");
  EXPECT_EQ(GT_MakeFilterPair(""), "");
  EXPECT_EQ(GT_MakeFilterPair("|||"), "");
}

}  // namespace
