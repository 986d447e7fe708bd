#include "data/Shortcuts.h"

#include <shlobj.h>

#include "base/AnsiChars.h"
#include "base/ComPtr.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "base/TextConverter.h"
#include "data/SpecialFolders.h"

const char kUninstallShortcutPrefix[] = "卸载";

namespace {

const char kShortcutExtension[] = ".lnk";
const char kUninstallArguments[] = "/u";
constexpr int kUninstallIconIndex = 1;

bool ShortcutPath(const char* folder, const char* name, CPath& out) {
  return folder && *folder && name && *name && out.Set(folder) && !out.IsEmpty() &&
         out.Append((std::string(name) + kShortcutExtension).c_str());
}

bool CreateIn(ESpecialFolder folder, const char* name, const char* target, const char* description, WORD hotKey,
              int iconIndex) {
  CPath path;
  return GetSpecialFolder(folder, path) && CreateShortcut(path.c_str(), name, target, description, hotKey, iconIndex);
}

bool DeleteIn(ESpecialFolder folder, const char* name) {
  CPath path;
  return GetSpecialFolder(folder, path) && DeleteShortcut(path.c_str(), name);
}

// A folder the system does not have holds nothing of ours.
bool GoneFrom(ESpecialFolder folder, const char* name) {
  CPath path, file;
  if (!GetSpecialFolder(folder, path)) return true;
  DeleteShortcut(path.c_str(), name);
  return ShortcutPath(path.c_str(), name, file) && !file.IsFile();
}

bool ProgramGroupPath(const char* name, CPath& out) {
  return name && *name && GetSpecialFolder(ESpecialFolder::Programs, out) && out.Append(name);
}

}  // namespace

bool CShellLink::Save(const char* path) const {
  CComPtr<IShellLinkA> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.PutVoid()))) {
    return false;
  }
  link->SetPath(target.c_str());
  if (!description.empty()) link->SetDescription(description.c_str());
  if (!arguments.empty()) link->SetArguments(arguments.c_str());
  link->SetShowCmd(showCommand);
  if (hotKey != 0) link->SetHotkey(hotKey);
  link->SetIconLocation(target.c_str(), iconIndex);
  std::string directory = workingDirectory;
  if (directory.empty()) {
    size_t cut = AnsiChars::LastSeparator(target);
    if (cut != std::string::npos) directory = target.substr(0, cut + 1);
  }
  link->SetWorkingDirectory(directory.c_str());

  CComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) return false;
  CTextConverter converter;
  const wchar_t* widePath = converter.AnsiToWide(path);
  return widePath && SUCCEEDED(file->Save(widePath, FALSE));
}

bool CreateShortcut(const char* folder, const char* name, const char* target, const char* description, WORD hotKey,
                    int iconIndex) {
  CPath path;
  if (!ShortcutPath(folder, name, path)) return false;
  CShellLink link;
  link.target = target && *target ? target : ExecutablePath();
  if (description) link.description = description;
  link.hotKey = hotKey;
  link.iconIndex = iconIndex;
  return link.Save(path.c_str());
}

bool DeleteShortcut(const char* folder, const char* name) {
  CPath path;
  return ShortcutPath(folder, name, path) && DeleteFileA(path.c_str()) != FALSE;
}

bool CreateDesktopShortcut(const char* name, const char* target, const char* description, WORD hotKey, int iconIndex) {
  return CreateIn(ESpecialFolder::Desktop, name, target, description, hotKey, iconIndex);
}

bool CreateQuickLaunchShortcut(const char* name, const char* target, const char* description, WORD hotKey,
                               int iconIndex) {
  return CreateIn(ESpecialFolder::QuickLaunch, name, target, description, hotKey, iconIndex);
}

bool CreateStartupShortcut(const char* name, const char* target, const char* description, WORD hotKey, int iconIndex) {
  return CreateIn(ESpecialFolder::Startup, name, target, description, hotKey, iconIndex);
}

bool DeleteDesktopShortcut(const char* name) { return DeleteIn(ESpecialFolder::Desktop, name); }

bool DeleteQuickLaunchShortcut(const char* name) { return DeleteIn(ESpecialFolder::QuickLaunch, name); }

bool DeleteStartupShortcut(const char* name) { return DeleteIn(ESpecialFolder::Startup, name); }

bool CreateProgramGroup(const char* name) {
  CPath group;
  if (!ProgramGroupPath(name, group)) return false;
  group.MakeDirectory();
  std::string exe = ExecutablePath();
  if (!CreateShortcut(group.c_str(), name, exe.c_str(), name, 0, 0)) return false;

  CShellLink uninstall;
  uninstall.target = exe;
  uninstall.description = name;
  uninstall.arguments = kUninstallArguments;
  uninstall.showCommand = SW_HIDE;
  uninstall.iconIndex = kUninstallIconIndex;
  CPath path;
  return ShortcutPath(group.c_str(), (std::string(kUninstallShortcutPrefix) + name).c_str(), path) &&
         uninstall.Save(path.c_str());
}

bool RemoveProgramGroup(const char* name) {
  CPath group;
  if (ProgramGroupPath(name, group)) DeleteTreeBestEffort(group.c_str());
  return true;
}

bool RemoveEveryShortcut(const char* name) {
  bool gone = GoneFrom(ESpecialFolder::Startup, name);
  RemoveProgramGroup(name);
  CPath group;
  gone = (!ProgramGroupPath(name, group) || !group.IsDirectory()) && gone;
  gone = GoneFrom(ESpecialFolder::QuickLaunch, name) && gone;
  return GoneFrom(ESpecialFolder::Desktop, name) && gone;
}

void NotifyShellItemDeleted(const char* path) { SHChangeNotify(SHCNE_DELETE, SHCNF_PATHA, path, nullptr); }
