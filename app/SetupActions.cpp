#include "app/SetupActions.h"

#include <windows.h>

#include <ctime>
#include <functional>
#include <string>

#include "BuildConfig.h"
#include "app/Elevation.h"
#include "app/ProductTexts.h"
#include "base/Path.h"
#include "base/ScopedHandle.h"
#include "base/TextFormat.h"
#include "data/DataPaths.h"
#include "data/Shortcuts.h"
#include "data/UninstallInfo.h"
#include "ui/MessageBox.h"

namespace {

const char kDesktopDescriptionFormat[] = "快速客服神器沐岚星！\n官方网址：%s";
const char kHelpLinkFormat[] = "service@%s";
const char kUninstallArgument[] = " /u";

const char kAskUninstallInfoText[] =
    "沐岚星是一款绿色软件！\r\n是否创建软件卸载信息方便卸载软件？\r\n\r\n提示：如果不添加卸载信息，删除软件时直接删除程"
    "序即可！";
const char kAskUninstallInfoCaption[] = "添加软件卸载信息提示";
const char kFirstRunSetupParameters[] = "/config /StartMenuShortcut_Add /SetupInfo_Add";

const char kConfirmUninstallFormat[] = "确定要卸载【%s】吗？";
const char kConfirmUninstallCaption[] = "软件卸载提示";
const char kAskDeleteDataText[] = "是否删除软件配置数据？";
const char kAskDeleteDataCaption[] = "软件数据清除提示";
const char kUninstalledText[] = "软件卸载成功！";
const char kUninstalledCaption[] = "提示";
const char kUninstallFailed[] = "卸载软件失败！\r\n";
const char kRemoveSetupInfoParameters[] = "/config /SetupInfo_Remove";

const char kSelfDeleteScriptName[] = "deleteself.bat";

bool AskYesNo(const char* text, const char* caption) {
  return ShowDesktopMessage(text, caption, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

void ShowUninstallFailed() {
  std::string message = kUninstallFailed + LogInToSiteText();
  ShowDesktopMessage(message.c_str(), kErrorCaption, MB_ICONHAND);
}

// cmd expands %...% even inside quotes: a path is written with each % doubled.
std::string BatchQuoted(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) quoted += c == '%' ? std::string("%%") : std::string(1, c);
  return quoted + "\"";
}

// Deletes the file once the process that holds it has ended, trying about once a second (ping
// is the pause every Windows has), and in any case removes itself at the end.
std::string SelfDeleteScript(const char* exePath, int maxTries) {
  std::string target = BatchQuoted(exePath);
  std::string text;
  FormatString(text,
               "@echo off\r\n"
               "set /a velmor_tries=0\r\n"
               ":selfkill\r\n"
               "attrib -a -r -s -h %s\r\n"
               "del %s\r\n"
               "if not exist %s goto done\r\n"
               "set /a velmor_tries+=1\r\n"
               "if %%velmor_tries%% geq %d goto done\r\n"
               "ping -n 2 127.0.0.1 >nul\r\n"
               "goto selfkill\r\n"
               ":done\r\n"
               "del \"%%~f0\"\r\n",
               target.c_str(), target.c_str(), target.c_str(), maxTries);
  return text;
}

}  // namespace

CSetupActions::CSetupActions(const ProductIdentity& product) : m_product(product) {}

void CSetupActions::RunSetupSwitches() const {
  const char* name = m_product.productName.c_str();
  std::string desktopDescription;
  FormatString(desktopDescription, kDesktopDescriptionFormat, ProductWebAddress().c_str());

  struct SwitchPair {
    const char* add;
    const char* remove;
    std::function<void()> addAction;
    std::function<void()> removeAction;
  };
  // In this order; within a pair the add switch wins.
  const SwitchPair pairs[] = {
      {"/DesktopShortcut_Add", "/DesktopShortcut_Remove",
       [&] { CreateDesktopShortcut(name, "", desktopDescription.c_str(), 0, 0); },
       [&] { DeleteDesktopShortcut(name); }},
      {"/QuickLaunchShortcut_Add", "/QuickLaunchShortcut_Remove",
       [&] { CreateQuickLaunchShortcut(name, "", "", 0, 0); }, [&] { DeleteQuickLaunchShortcut(name); }},
      {"/StartMenuShortcut_Add", "/StartMenuShortcut_Remove", [&] { CreateProgramGroup(name); },
       [&] { RemoveProgramGroup(name); }},
      {"/StartupShortcut_Add", "/StartupShortcut_Remove", [&] { CreateStartupShortcut(name, "", "", 0, 0); },
       [&] { DeleteStartupShortcut(name); }},
      {"/SetupInfo_Add", "/SetupInfo_Remove", [&] { WriteUninstallInfo(); }, [&] { UninstallInfoKey().Remove(); }},
  };
  for (const SwitchPair& pair : pairs) {
    if (m_product.HasSwitch(pair.add)) {
      pair.addAction();
    } else if (m_product.HasSwitch(pair.remove)) {
      pair.removeAction();
    }
  }
  CDataPaths().CreateSetupIni();
}

void CSetupActions::WriteUninstallInfo() const {
  CUninstallInfo info;
  info.keyName = m_product.internalName.c_str();
  info.comments = m_product.productName.c_str();
  info.contact = m_product.productName.c_str();
  info.displayIcon = ExecutablePath();
  info.displayName = m_product.productName.c_str();
  info.displayVersion = m_product.version;
  FormatString(info.helpLink, kHelpLinkFormat, BuildConfig::kProductDomain);
  info.helpTelephone = BuildConfig::kServicePhone;
  info.installDate = FormatLocalTime(time(nullptr));
  info.publisher = m_product.companyName.c_str();
  info.uninstallString = ExecutablePath() + kUninstallArgument;
  info.Write();
}

CUninstallInfo CSetupActions::UninstallInfoKey() const {
  CUninstallInfo info;
  info.keyName = m_product.internalName.c_str();
  return info;
}

// Without the rights to remove the key, the elevated copy removes it; whether the key is gone
// is read back, since a refused elevation says nothing.
bool CSetupActions::RemoveUninstallInfoWithRights() const {
  CUninstallInfo info = UninstallInfoKey();
  LONG error = ERROR_SUCCESS;
  if (info.Remove(&error) || !info.Exists()) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  RunElevated(kRemoveSetupInfoParameters);
  return !info.Exists();
}

void CSetupActions::AskAddUninstallInfo() const {
  CDataPaths paths;
  if (paths.SetupIniExists()) return;
  if (AskYesNo(kAskUninstallInfoText, kAskUninstallInfoCaption)) {
    // The relaunched instance creates the marker; a refused elevation asks again next time.
    RunElevated(kFirstRunSetupParameters);
  } else {
    paths.CreateSetupIni();
  }
}

void CSetupActions::Uninstall() const {
  const char* name = m_product.productName.c_str();
  std::string question;
  FormatString(question, kConfirmUninstallFormat, name);
  if (!AskYesNo(question.c_str(), kConfirmUninstallCaption)) return;

  // Nothing goes before the key: an entry in the list of programs must never outlive the program.
  bool done = RemoveUninstallInfoWithRights() && RemoveEveryShortcut(name);
  if (done && AskYesNo(kAskDeleteDataText, kAskDeleteDataCaption)) done = CPath(GetDataRoot()).DeleteTree();
  done = done && DeleteSelf(ExecutablePath().c_str());
  if (!done) {
    ShowUninstallFailed();
    return;
  }
  ShowDesktopMessage(kUninstalledText, kUninstalledCaption, MB_ICONINFORMATION);
}

bool DeleteSelf(const char* exePath, int maxTries) {
  char directory[MAX_PATH];
  DWORD length = GetTempPathA(sizeof(directory), directory);
  if (length == 0 || length >= sizeof(directory)) return false;
  CPath script(directory);
  if (!script.Append(kSelfDeleteScriptName)) return false;

  std::string text = SelfDeleteScript(exePath, maxTries);
  {
    CFileHandle file(CreateFileA(script.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file.IsValid()) return false;
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
      return false;
    }
  }
  NotifyShellItemDeleted(exePath);
  // Quoted: a temporary folder below a user name with a space is common.
  std::string command = std::string("\"") + script.c_str() + "\"";
  return WinExec(command.c_str(), SW_HIDE) > 31;
}
