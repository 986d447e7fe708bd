#include "data/SpecialFolders.h"

#include <shlobj.h>

namespace {
const char kQuickLaunchBelowAppData[] = "Microsoft\\Internet Explorer\\Quick Launch";

int CsidlOf(ESpecialFolder folder) {
  switch (folder) {
    case ESpecialFolder::Desktop: return CSIDL_DESKTOP;
    case ESpecialFolder::Programs: return CSIDL_PROGRAMS;
    case ESpecialFolder::Startup: return CSIDL_STARTUP;
    case ESpecialFolder::Documents: return CSIDL_PERSONAL;
    case ESpecialFolder::AppData:
    case ESpecialFolder::QuickLaunch: return CSIDL_APPDATA;
  }
  return CSIDL_APPDATA;
}
}  // namespace

bool GetSpecialFolder(ESpecialFolder folder, CPath& out) {
  if (!out.SetToSpecialFolder(CsidlOf(folder))) return false;
  if (folder != ESpecialFolder::QuickLaunch) return true;
  if (out.Append(kQuickLaunchBelowAppData)) return true;
  out.Set(nullptr);
  return false;
}
