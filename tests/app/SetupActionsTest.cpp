#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BuildConfig.h"
#include "TestSupport.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "data/SpecialFolders.h"
#include "app/SetupActions.h"
#include "data/Registry.h"
#include "data/UninstallInfo.h"

namespace {

const char kProduct[] = "沐岚星";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmor";
// A sub-key of ours makes the key one this process may not delete (ERROR_ACCESS_DENIED), as a
// key of the machine's is for a user without elevation.
const std::string kBlockingSubKey = std::string(kUninstallKey) + "\\Blocker";

std::string Folder(ESpecialFolder folder) {
  CPath path;
  GetSpecialFolder(folder, path);
  return path.c_str();
}

std::string ProductShortcut(ESpecialFolder folder) { return Folder(folder) + "\\" + kProduct + ".lnk"; }
std::string ProgramGroup() { return Folder(ESpecialFolder::Programs) + "\\" + kProduct; }

std::string RegistryValue(const char* name) {
  char data[512] = {};
  DWORD size = sizeof(data);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) {
    return "<absent>";
  }
  return data;
}

bool UninstallKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void RemoveEverythingInstalled() {
  for (ESpecialFolder folder : {ESpecialFolder::Desktop, ESpecialFolder::QuickLaunch, ESpecialFolder::Startup}) {
    DeleteFileA(ProductShortcut(folder).c_str());
  }
  DeleteTreeBestEffort(ProgramGroup().c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kBlockingSubKey.c_str());
  CUninstallInfo info;
  info.keyName = "Velmor";
  info.Remove();
}

// Each test runs its own copy of velmor.exe in a folder with spaces and a "%" (which the batch
// file that deletes it must not expand), with a portable data directory beside it, so
// uninstalling and self-deletion never touch the build's programs.
class SetupActionsTest : public ::testing::Test {
protected:
  void SetUp() override {
    RemoveEverythingInstalled();
    m_folder = m_scratch.Path() + "\\Velmor %TEMP% Copy";
    m_exe = m_folder + "\\velmor.exe";
    m_data = m_folder + "\\velmor files";
    ASSERT_TRUE(CPath(m_data.c_str()).MakeDirectory());
    ASSERT_TRUE(CopyFileA((ExeDirectory() + "\\velmor.exe").c_str(), m_exe.c_str(), FALSE));
  }
  void TearDown() override { RemoveEverythingInstalled(); }

  // A normal start stops at the single-instance rule: these tests end with the first-run step.
  unsigned long Run(const std::string& arguments, const std::vector<DialogAnswer>& answers = {}) {
    CKernelHandle running = HoldLauncherInstance();
    return RunProgramAnswering("\"" + m_exe + "\" " + arguments, answers, &m_seen);
  }
  std::string Marker() const { return m_data + "\\setup.ini"; }

  CScratchDir m_scratch;
  std::string m_folder, m_exe, m_data;
  std::vector<DialogSeen> m_seen;
};

bool WaitUntilGone(const std::string& path) {
  for (int i = 0; i < 300 && FileExists(path); ++i) Sleep(100);
  return !FileExists(path);
}

}  // namespace

TEST_F(SetupActionsTest, AddSwitchesCreateEveryShortcutAndTheUninstallInformation) {
  ASSERT_EQ(0u, Run("/config /DesktopShortcut_Add /QuickLaunchShortcut_Add /StartMenuShortcut_Add "
                    "/StartupShortcut_Add /SetupInfo_Add"));
  EXPECT_TRUE(m_seen.empty());
  ShortcutFields desktop, quickLaunch, startup, product, uninstall;
  ASSERT_TRUE(ReadShortcut(ProductShortcut(ESpecialFolder::Desktop), desktop));
  ASSERT_TRUE(ReadShortcut(ProductShortcut(ESpecialFolder::QuickLaunch), quickLaunch));
  ASSERT_TRUE(ReadShortcut(ProductShortcut(ESpecialFolder::Startup), startup));
  ASSERT_TRUE(ReadShortcut(ProgramGroup() + "\\" + kProduct + ".lnk", product));
  ASSERT_TRUE(ReadShortcut(ProgramGroup() + "\\卸载" + kProduct + ".lnk", uninstall));

  EXPECT_EQ(m_exe, desktop.target);
  EXPECT_EQ(m_folder + "\\", desktop.workingDirectory);
  EXPECT_EQ(std::string("快速客服神器沐岚星！\n官方网址：http://www.") + BuildConfig::kProductDomain,
            desktop.description);
  EXPECT_EQ("", quickLaunch.description);
  EXPECT_EQ("", startup.arguments);
  EXPECT_EQ(SW_SHOW, startup.showCommand);
  EXPECT_EQ(kProduct, product.description);
  EXPECT_EQ("/u", uninstall.arguments);
  EXPECT_EQ(SW_HIDE, uninstall.showCommand);
  EXPECT_EQ(m_exe, uninstall.iconPath);
  EXPECT_EQ(1, uninstall.iconIndex);

  EXPECT_EQ(kProduct, RegistryValue("DisplayName"));
  EXPECT_EQ(kProduct, RegistryValue("Comments"));
  EXPECT_EQ(m_exe, RegistryValue("DisplayIcon"));
  EXPECT_EQ(m_exe + " /u", RegistryValue("UninstallString"));
  EXPECT_EQ(std::string("service@") + BuildConfig::kProductDomain, RegistryValue("HelpLink"));
  EXPECT_EQ(BuildConfig::kServicePhone, RegistryValue("HelpTelephone"));
  EXPECT_EQ("沐岚星", RegistryValue("Publisher"));
  EXPECT_EQ(19u, RegistryValue("InstallDate").size());
  EXPECT_EQ("<absent>", RegistryValue("Readme"));
  EXPECT_TRUE(FileExists(Marker()));
}

TEST_F(SetupActionsTest, AddWinsOverRemoveAndRemoveSwitchesUndo) {
  ASSERT_EQ(0u, Run("/config /DesktopShortcut_Add /QuickLaunchShortcut_Add /StartMenuShortcut_Add "
                    "/StartupShortcut_Add /SetupInfo_Add"));
  ASSERT_EQ(0u, Run("/config /DesktopShortcut_Remove /DesktopShortcut_Add /QuickLaunchShortcut_Remove "
                    "/StartMenuShortcut_Remove /startupshortcut_remove /SetupInfo_Remove"));
  EXPECT_TRUE(FileExists(ProductShortcut(ESpecialFolder::Desktop)));
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::QuickLaunch)));
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::Startup)));
  EXPECT_FALSE(DirectoryExists(ProgramGroup()));
  EXPECT_FALSE(UninstallKeyExists());
}

TEST_F(SetupActionsTest, ConfigAloneOnlyCreatesTheMarkerAndKeepsItsContent) {
  ASSERT_EQ(0u, Run("/CONFIG"));
  EXPECT_TRUE(FileExists(Marker()));
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::Desktop)));
  EXPECT_FALSE(UninstallKeyExists());
  ASSERT_TRUE(WriteFileBytes(Marker(), "settled"));
  ASSERT_EQ(0u, Run("/config"));
  EXPECT_EQ("settled", ReadFileBytes(Marker()));
  EXPECT_TRUE(m_seen.empty());
}

TEST_F(SetupActionsTest, UninstallDeclinedChangesNothing) {
  ASSERT_EQ(0u, Run("/config /DesktopShortcut_Add /SetupInfo_Add"));
  // "/u" wins over "/config": the add switch below is never looked at.
  ASSERT_EQ(0u, Run("/config /u /StartupShortcut_Add", {{"软件卸载提示", IDNO}}));
  ASSERT_EQ(1u, m_seen.size());
  EXPECT_EQ("确定要卸载【沐岚星】吗？", m_seen[0].text);
  EXPECT_TRUE(m_seen[0].answered);
  EXPECT_TRUE(FileExists(ProductShortcut(ESpecialFolder::Desktop)));
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::Startup)));
  EXPECT_TRUE(UninstallKeyExists());
  EXPECT_TRUE(FileExists(m_exe));
}

TEST_F(SetupActionsTest, UninstallRemovesEverythingKeepsTheDataAndDeletesItself) {
  ASSERT_EQ(0u, Run("/config /DesktopShortcut_Add /QuickLaunchShortcut_Add /StartMenuShortcut_Add "
                    "/StartupShortcut_Add /SetupInfo_Add"));
  ASSERT_EQ(0u, Run("/U", {{"软件卸载提示", IDYES}, {"软件数据清除提示", IDNO}, {"提示", IDOK}}));
  ASSERT_EQ(3u, m_seen.size());
  EXPECT_EQ("是否删除软件配置数据？", m_seen[1].text);
  EXPECT_EQ("软件卸载成功！", m_seen[2].text);
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::Desktop)));
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::QuickLaunch)));
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::Startup)));
  EXPECT_FALSE(DirectoryExists(ProgramGroup()));
  EXPECT_FALSE(UninstallKeyExists());
  EXPECT_TRUE(FileExists(Marker()));

  EXPECT_TRUE(WaitUntilGone(m_exe));
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  EXPECT_TRUE(WaitUntilGone(std::string(temp) + "deleteself.bat"));
}

TEST_F(SetupActionsTest, UninstallCanDeleteTheDataDirectory) {
  ASSERT_TRUE(CPath((m_data + "\\cache\\loader").c_str()).MakeDirectory());
  ASSERT_TRUE(WriteFileBytes(m_data + "\\cache\\loader\\loader.dll", "MZ"));
  ASSERT_EQ(0u, Run("/u", {{"软件卸载提示", IDYES}, {"软件数据清除提示", IDYES}, {"提示", IDOK}}));
  EXPECT_FALSE(DirectoryExists(m_data));
  EXPECT_TRUE(WaitUntilGone(m_exe));
}

TEST_F(SetupActionsTest, FirstRunQuestionDeclinedSettlesIt) {
  ASSERT_EQ(0u, Run("", {{"添加软件卸载信息提示", IDNO}}));
  ASSERT_EQ(1u, m_seen.size());
  EXPECT_EQ(
      "沐岚星是一款绿色软件！\r\n是否创建软件卸载信息方便卸载软件？\r\n\r\n提示：如果不添加卸载信息，删除软件时直接删除"
      "程序即可！",
      m_seen[0].text);
  EXPECT_TRUE(FileExists(Marker()));
  EXPECT_FALSE(UninstallKeyExists());
  m_seen.clear();
  ASSERT_EQ(0u, Run(""));
  EXPECT_TRUE(m_seen.empty());  // settled: no second question
}

TEST_F(SetupActionsTest, FirstRunQuestionAcceptedRunsTheSetupAndWaitsForIt) {
  ASSERT_EQ(0u, Run("", {{"添加软件卸载信息提示", IDYES}}));
  EXPECT_TRUE(FileExists(ProgramGroup() + "\\" + kProduct + ".lnk"));
  EXPECT_TRUE(UninstallKeyExists());
  EXPECT_TRUE(FileExists(Marker()));
  EXPECT_FALSE(FileExists(ProductShortcut(ESpecialFolder::Desktop)));
}

// Uninstalling says it succeeded only when it did, and stops before deleting anything when the
// list of programs would keep an entry for it.
class NoFalseSuccess : public SetupActionsTest {
protected:
  // Whether the self-delete script was written since `since`. A started script keeps its file
  // until the executable is gone, so the two together show at once whether one was started.
  static bool SelfDeleteScriptWrittenSince(const FILETIME& since) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA((std::string(temp) + "deleteself.bat").c_str(), GetFileExInfoStandard, &data)) {
      return false;
    }
    return CompareFileTime(&data.ftLastWriteTime, &since) >= 0;
  }
};

TEST_F(NoFalseSuccess, AKeyThatCannotBeRemovedEvenWithTheRelaunchStopsTheUninstall) {
  ASSERT_EQ(0u, Run("/config /DesktopShortcut_Add /StartMenuShortcut_Add /SetupInfo_Add"));
  CRegKey blocker;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBlockingSubKey.c_str(), 0, nullptr, 0, KEY_WRITE,
                                           nullptr, blocker.Put(), nullptr));
  // Wine runs every process elevated, so the relaunch is the direct one; it cannot remove the key
  // either, and the uninstall stops with nothing deleted.
  FILETIME started;
  GetSystemTimeAsFileTime(&started);
  ASSERT_EQ(0u, Run("/u", {{"软件卸载提示", IDYES}, {"错误", IDOK}}));
  ASSERT_EQ(2u, m_seen.size());
  EXPECT_EQ(std::string("卸载软件失败！\r\n\r\n请登录沐岚星官方网站：http://www.") + BuildConfig::kProductDomain +
                "\r\n联系官方客服处理！",
            m_seen[1].text);
  EXPECT_TRUE(UninstallKeyExists());
  EXPECT_TRUE(FileExists(ProductShortcut(ESpecialFolder::Desktop)));
  EXPECT_TRUE(DirectoryExists(ProgramGroup()));
  EXPECT_TRUE(DirectoryExists(m_data));
  EXPECT_FALSE(SelfDeleteScriptWrittenSince(started));
  EXPECT_TRUE(FileExists(m_exe));
}

TEST_F(NoFalseSuccess, TheSelfDeleteScriptGivesUpOnAFileThatStaysAndStillRemovesItself) {
  std::string held = m_folder + "\\held %PATH% file.exe";
  ASSERT_TRUE(WriteFileBytes(held, "MZ"));
  // Open without delete sharing: every try of the script fails.
  CFileHandle holder(CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  ASSERT_TRUE(DeleteSelf(held.c_str(), 2));
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  EXPECT_TRUE(WaitUntilGone(std::string(temp) + "deleteself.bat"));
  EXPECT_TRUE(FileExists(held));
}
