#include <gtest/gtest.h>

#include <string>

#include "BuildConfig.h"
#include "TestSupport.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "base/ScopedHandle.h"
#include "data/SpecialFolders.h"

namespace {

std::string DocumentsDataDirectory() {
  CPath documents;
  GetSpecialFolder(ESpecialFolder::Documents, documents);
  return std::string(documents.c_str()) + "\\velmor files";
}

std::string BesideLauncher() { return ExeDirectory() + "\\velmor files"; }

// Starts velmor.exe and declines the first-run question. The test holds the launcher's mutex, so
// the start ends at the single-instance rule, after everything these tests look at.
unsigned long RunLauncher(const std::string& arguments) {
  CKernelHandle running = HoldLauncherInstance();
  return RunProgramAnswering("\"" + ExeDirectory() + "\\velmor.exe\" " + arguments, {{"添加软件卸载信息提示", IDNO}},
                             nullptr);
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
  EXPECT_TRUE(FileExists(DocumentsDataDirectory() + "\\setup.ini"));
  EXPECT_FALSE(DirectoryExists(BesideLauncher()));
}

TEST_F(LauncherStartTest, APortableDataDirectoryIsUsedAsItIs) {
  ASSERT_TRUE(CPath(BesideLauncher().c_str()).MakeDirectory());
  EXPECT_EQ(0u, RunLauncher("/SomeUnknownSwitch"));
  EXPECT_TRUE(FileExists(BesideLauncher() + "\\setup.ini"));
  EXPECT_FALSE(DirectoryExists(DocumentsDataDirectory()));
}
