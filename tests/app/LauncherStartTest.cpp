#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "data/SpecialFolders.h"

namespace {

std::string DocumentsDataDirectory() {
  CPath documents;
  GetSpecialFolder(ESpecialFolder::Documents, documents);
  return std::string(documents.c_str()) + "\\velmor files";
}

std::string BesideLauncher() { return ExeDirectory() + "\\velmor files"; }

unsigned long RunLauncher(const std::string& arguments) {
  return RunProgram("\"" + ExeDirectory() + "\\velmor.exe\" " + arguments);
}

class LauncherStartTest : public ::testing::Test {
protected:
  void SetUp() override { RemoveBoth(); }
  void TearDown() override { RemoveBoth(); }
  static void RemoveBoth() {
    DeleteTreeBestEffort(DocumentsDataDirectory().c_str());
    DeleteTreeBestEffort(BesideLauncher().c_str());
  }
};

}  // namespace

TEST_F(LauncherStartTest, FirstStartCreatesTheDataDirectoryInDocumentsAndExitsWithZero) {
  EXPECT_EQ(0u, RunLauncher(""));
  EXPECT_TRUE(DirectoryExists(DocumentsDataDirectory()));
  EXPECT_FALSE(DirectoryExists(BesideLauncher()));
}

TEST_F(LauncherStartTest, APortableDataDirectoryIsUsedAsItIs) {
  ASSERT_TRUE(CPath(BesideLauncher().c_str()).MakeDirectory());
  EXPECT_EQ(0u, RunLauncher("/SomeUnknownSwitch"));
  EXPECT_FALSE(DirectoryExists(DocumentsDataDirectory()));
}
