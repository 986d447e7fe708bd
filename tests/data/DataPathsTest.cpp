#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "data/DataPaths.h"
#include "data/SpecialFolders.h"

namespace {

std::string BesideExe(const char* name) { return ExeDirectory() + "\\" + name; }

std::string InDocuments(const char* name) {
  CPath documents;
  GetSpecialFolder(ESpecialFolder::Documents, documents);
  return std::string(documents.c_str()) + "\\" + name;
}

// Both candidate data directories are removed before and after each test.
class DataDirectoryTest : public ::testing::Test {
protected:
  void SetUp() override { RemoveBoth(); }
  void TearDown() override { RemoveBoth(); }
  static void RemoveBoth() {
    DeleteTreeBestEffort(BesideExe("velmor files").c_str());
    DeleteTreeBestEffort(InDocuments("velmor files").c_str());
  }
  static std::string Found() {
    char out[MAX_PATH] = "unchanged";
    return FindDataDirectory(out, sizeof(out)) ? out : std::string("none:") + out;
  }
};

// A scratch data root for the path provider, cleared again afterwards.
class DataPathsTest : public ::testing::Test {
protected:
  void SetUp() override { SetDataRoot(m_root.Path().c_str()); }
  void TearDown() override {
    SetDataRoot("");
    DeleteTreeBestEffort(BesideExe("loader_config.db").c_str());
    DeleteTreeBestEffort(BesideExe("loader.dll").c_str());
  }
  std::string Under(const char* relative) const { return m_root.Path() + "\\" + relative; }

  CScratchDir m_root;
  CDataPaths m_paths;
};

}  // namespace

TEST_F(DataDirectoryTest, TheFolderBesideTheExecutableWins) {
  EXPECT_EQ("none:unchanged", Found());
  ASSERT_TRUE(CPath(InDocuments("velmor files").c_str()).MakeDirectory());
  EXPECT_EQ(InDocuments("velmor files"), Found());
  ASSERT_TRUE(CPath(BesideExe("velmor files").c_str()).MakeDirectory());
  EXPECT_EQ(BesideExe("velmor files"), Found());
}

TEST_F(DataDirectoryTest, AFileOfThatNameIsNoDataDirectory) {
  ASSERT_TRUE(WriteFileBytes(BesideExe("velmor files"), "not a folder"));
  EXPECT_EQ("none:unchanged", Found());
}

TEST_F(DataDirectoryTest, CreationPrefersTheDocumentsFolder) {
  EXPECT_TRUE(CreateDataDirectory(nullptr));
  EXPECT_TRUE(DirectoryExists(InDocuments("velmor files")));
  EXPECT_FALSE(DirectoryExists(BesideExe("velmor files")));
  EXPECT_TRUE(CreateDataDirectory(""));  // already there
}

TEST_F(DataDirectoryTest, CreationFallsBackBesideTheExecutable) {
  // A file where the documents folder's data directory belongs makes that one impossible.
  ASSERT_TRUE(WriteFileBytes(InDocuments("velmor files"), "blocker"));
  EXPECT_TRUE(CreateDataDirectory(nullptr));
  EXPECT_TRUE(DirectoryExists(BesideExe("velmor files")));
  EXPECT_EQ(BesideExe("velmor files"), Found());
}

TEST_F(DataDirectoryTest, CreationOfAGivenPathMakesEveryLevel) {
  CScratchDir scratch;
  std::string target = scratch.Path() + "\\x\\y\\velmor files";
  EXPECT_TRUE(CreateDataDirectory(target.c_str()));
  EXPECT_TRUE(DirectoryExists(target));
}

// A cut root would put every later path in another directory: a root too long is refused whole.
TEST(DataRoot, RefusesARootLongerThanTheLongestPath) {
  ASSERT_TRUE(SetDataRoot("C:\\root"));
  EXPECT_STREQ("C:\\root", GetDataRoot());
  const std::string longest = "C:\\" + std::string(256, 'r');
  for (size_t extra : {1u, 41u}) {
    EXPECT_FALSE(SetDataRoot((longest + std::string(extra, 'r')).c_str())) << extra;
    EXPECT_STREQ("C:\\root", GetDataRoot());
  }
  ASSERT_TRUE(SetDataRoot(longest.c_str()));
  EXPECT_EQ(longest, GetDataRoot());
  EXPECT_TRUE(SetDataRoot(nullptr));
  EXPECT_STREQ("", GetDataRoot());
}

TEST_F(DataPathsTest, ComposesTheTreeBelowTheRoot) {
  EXPECT_EQ(Under("setup.ini"), m_paths.GetSetupIniPath());
  EXPECT_EQ(Under("cache"), m_paths.GetCacheDir());
  EXPECT_EQ(Under("cache\\loader"), m_paths.GetLoaderDir());
  EXPECT_EQ(Under("cache\\loader\\loader_config.db"), m_paths.GetLoaderConfigPath());
  EXPECT_EQ(Under("cache\\config"), m_paths.GetConfigDir());
  EXPECT_EQ(Under("cache\\config\\plugin.db"), m_paths.GetPluginDbPath());
  EXPECT_EQ(Under("cache\\config\\favorite.db"), m_paths.GetFavoriteDbPath());
  EXPECT_EQ(Under("cache\\config\\ad.db"), m_paths.GetAdDbPath());
  EXPECT_EQ(Under("cache\\config\\face.db"), m_paths.GetFaceDbPath());
  EXPECT_EQ(Under("cache\\config\\res.db"), m_paths.GetResDbPath());
  EXPECT_EQ(Under("cache\\module"), m_paths.GetModuleDir());
  EXPECT_EQ(Under("cache\\module\\m.dll"), m_paths.GetModuleFilePath("m.dll"));
  EXPECT_EQ(Under("cache\\dll"), m_paths.GetDllCacheDir());
  EXPECT_EQ(Under("cache\\dll\\d.dll"), m_paths.GetDllFilePath("d.dll"));
  EXPECT_EQ(Under("cache\\loader\\loader.dll"), m_paths.GetLoaderFilePath("loader.dll"));
  EXPECT_FALSE(DirectoryExists(Under("cache")));  // composing creates nothing
}

TEST_F(DataPathsTest, FilesBesideTheExecutableOverrideTheTree) {
  ASSERT_TRUE(CPath(BesideExe("loader_config.db").c_str()).MakeDirectory());
  EXPECT_EQ(Under("cache\\loader\\loader_config.db"), m_paths.GetLoaderConfigPath());  // a folder does not count
  DeleteTreeBestEffort(BesideExe("loader_config.db").c_str());

  ASSERT_TRUE(WriteFileBytes(BesideExe("loader_config.db"), "cfg"));
  EXPECT_EQ(BesideExe("loader_config.db"), m_paths.GetLoaderConfigPath());
  // The loader then sits in the same place as its configuration.
  EXPECT_EQ(BesideExe("loader.dll"), m_paths.GetLoaderFilePath("loader.dll"));
  DeleteFileA(BesideExe("loader_config.db").c_str());

  ASSERT_TRUE(WriteFileBytes(BesideExe("loader.dll"), "MZ"));
  EXPECT_EQ(BesideExe("loader.dll"), m_paths.GetLoaderFilePath("loader.dll"));
  EXPECT_EQ(BesideExe("loader.dll"), m_paths.GetDllFilePath("loader.dll"));
  EXPECT_EQ(BesideExe("loader.dll"), m_paths.GetModuleFilePath("loader.dll"));
  EXPECT_TRUE(m_paths.ExeDirHasFile("loader.dll"));
  EXPECT_TRUE(ExeDirHasFile("loader.dll"));
  EXPECT_FALSE(ExeDirHasFile("absent.dll"));
  EXPECT_EQ(nullptr, m_paths.GetExeDirFilePath("absent.dll"));
}

TEST_F(DataPathsTest, SetupMarkerKeepsItsContent) {
  EXPECT_FALSE(m_paths.SetupIniExists());
  EXPECT_TRUE(m_paths.CreateSetupIni());
  EXPECT_TRUE(m_paths.SetupIniExists());
  ASSERT_TRUE(WriteFileBytes(Under("setup.ini"), "[setup]"));
  EXPECT_TRUE(m_paths.CreateSetupIni());
  EXPECT_EQ("[setup]", ReadFileBytes(Under("setup.ini")));
  DeleteFileA(Under("setup.ini").c_str());
  ASSERT_TRUE(CPath(Under("setup.ini").c_str()).MakeDirectory());
  EXPECT_FALSE(m_paths.SetupIniExists());  // a directory is no marker
}

TEST_F(DataPathsTest, NoRootOrTooLongGivesNoPath) {
  SetDataRoot("");
  EXPECT_EQ(nullptr, m_paths.GetSetupIniPath());
  EXPECT_EQ(nullptr, m_paths.GetDllCacheDir());
  EXPECT_EQ(nullptr, m_paths.GetDllFilePath("d.dll"));
  EXPECT_EQ(nullptr, m_paths.GetLoaderConfigPath());
  EXPECT_FALSE(m_paths.CreateSetupIni());

  std::string deepRoot = "C:\\" + std::string(240, 'd');
  SetDataRoot(deepRoot.c_str());
  EXPECT_NE(nullptr, m_paths.GetCacheDir());
  EXPECT_EQ(nullptr, m_paths.GetLoaderConfigPath());  // would pass 259 characters
}

TEST(SpecialFolders, ResolveInsideThePrefix) {
  CPath appData, quickLaunch, desktop, programs, startup;
  ASSERT_TRUE(GetSpecialFolder(ESpecialFolder::AppData, appData));
  ASSERT_TRUE(GetSpecialFolder(ESpecialFolder::QuickLaunch, quickLaunch));
  EXPECT_EQ(std::string(appData.c_str()) + "\\Microsoft\\Internet Explorer\\Quick Launch", quickLaunch.c_str());
  EXPECT_TRUE(GetSpecialFolder(ESpecialFolder::Desktop, desktop));
  EXPECT_TRUE(GetSpecialFolder(ESpecialFolder::Programs, programs));
  EXPECT_TRUE(GetSpecialFolder(ESpecialFolder::Startup, startup));
  EXPECT_NE(std::string(desktop.c_str()), programs.c_str());
}
