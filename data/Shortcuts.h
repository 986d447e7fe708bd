// Shell shortcuts (.lnk files) to the launcher in the user's desktop, quick-launch, start-up and
// start-menu folders. COM must be initialised on the calling thread.
#pragma once

#include <windows.h>

#include <string>

class CShellLink {
public:
  std::string target;
  std::string workingDirectory;  // empty: the target's folder, with its trailing backslash
  std::string description;       // not written when empty
  std::string arguments;         // not written when empty
  int showCommand = SW_SHOW;
  int iconIndex = 0;  // an icon of the target file
  WORD hotKey = 0;    // not written when 0

  bool Save(const char* path) const;
};

extern const char kUninstallShortcutPrefix[];  // "卸载": the program group's uninstall shortcut

// An empty target means this executable. The file is folder\name.lnk.
bool CreateShortcut(const char* folder, const char* name, const char* target, const char* description, WORD hotKey,
                    int iconIndex);
bool DeleteShortcut(const char* folder, const char* name);

bool CreateDesktopShortcut(const char* name, const char* target, const char* description, WORD hotKey, int iconIndex);
bool CreateQuickLaunchShortcut(const char* name, const char* target, const char* description, WORD hotKey,
                               int iconIndex);
bool CreateStartupShortcut(const char* name, const char* target, const char* description, WORD hotKey, int iconIndex);
bool DeleteDesktopShortcut(const char* name);
bool DeleteQuickLaunchShortcut(const char* name);
bool DeleteStartupShortcut(const char* name);

// programs\name with the product shortcut and the uninstall shortcut ("/u", hidden, icon 1).
bool CreateProgramGroup(const char* name);
bool RemoveProgramGroup(const char* name);  // best effort; always true
// Uninstalling: the start-up, quick-launch and desktop shortcuts and the program group. True when
// none of them is left, whether deleted now or never made.
bool RemoveEveryShortcut(const char* name);

void NotifyShellItemDeleted(const char* path);
