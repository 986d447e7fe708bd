// The launcher's entry in the system's list of installed programs.
#pragma once

#include <windows.h>

#include <string>

class CUninstallInfo {
public:
  static const char kUninstallKey[];  // HKEY_LOCAL_MACHINE\...\Uninstall

  std::string keyName;
  // Values in the order they are written; an empty one is not written.
  std::string comments;
  std::string contact;
  std::string displayIcon;
  std::string displayName;
  std::string displayVersion;
  std::string helpLink;
  std::string helpTelephone;
  std::string installDate;
  std::string publisher;
  std::string readme;
  std::string uninstallString;
  std::string urlInfoAbout;
  std::string urlUpdateInfo;

  bool Write() const;  // needs administrator rights
  // Deletes the key named keyName; `error` as RegDeleteSubKey gives it.
  bool Remove(LONG* error = nullptr) const;
  bool Exists() const;

private:
  std::string KeyPath() const;
};
