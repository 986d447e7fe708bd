#include "data/UninstallInfo.h"

#include <utility>

#include "data/Registry.h"

const char CUninstallInfo::kUninstallKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool CUninstallInfo::Write() const {
  if (keyName.empty()) return false;
  std::string key = KeyPath();
  if (!RegCreateKeyPath(key.c_str())) return false;
  const std::pair<const char*, const std::string*> values[] = {
      {"Comments", &comments},
      {"Contact", &contact},
      {"DisplayIcon", &displayIcon},
      {"DisplayName", &displayName},
      {"DisplayVersion", &displayVersion},
      {"HelpLink", &helpLink},
      {"HelpTelephone", &helpTelephone},
      {"InstallDate", &installDate},
      {"Publisher", &publisher},
      {"Readme", &readme},
      {"UninstallString", &uninstallString},
      {"URLInfoAbout", &urlInfoAbout},
      {"URLUpdateInfo", &urlUpdateInfo},
  };
  for (const auto& [name, text] : values) {
    if (!text->empty() && !RegSetStringValue(key.c_str(), name, text->c_str())) return false;
  }
  return true;
}

bool CUninstallInfo::Remove(LONG* error) const {
  return !keyName.empty() && RegDeleteSubKey(kUninstallKey, keyName.c_str(), error);
}

bool CUninstallInfo::Exists() const { return !keyName.empty() && RegKeyExists(KeyPath().c_str()); }

std::string CUninstallInfo::KeyPath() const { return std::string(kUninstallKey) + "\\" + keyName; }
