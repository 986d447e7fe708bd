#include <gtest/gtest.h>

#include <string>

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

// Runs velmor.exe with the given arguments; its exit code, or -1 when it did not end in time.
DWORD RunLauncher(const std::string& arguments) {
  std::string commandLine = "\"" + ExeDirectory() + "\\velmor.exe\" " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return static_cast<DWORD>(-2);
  }
  CKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    return static_cast<DWORD>(-1);
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
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
