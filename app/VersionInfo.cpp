#include "app/VersionInfo.h"

#include <cstdio>
#include <cstring>

#include "base/Path.h"
#include "base/SystemLibrary.h"

namespace {

const char* const kStringNames[] = {"Comments",     "CompanyName",    "FileDescription", "FileVersion",
                                    "InternalName", "LegalCopyright", "LegalTrademarks", "OriginalFileName",
                                    "PrivateBuild", "ProductName",    "ProductVersion",  "SpecialBuild"};
static_assert(sizeof(kStringNames) / sizeof(kStringNames[0]) == static_cast<int>(EVersionString::Count),
              "one name per version string");

struct Translation {
  WORD language;
  WORD codePage;
};

const char kVersionLibrary[] = "version.dll";

// version.dll is no KnownDLL: looked up in the system directory, never imported.
struct VersionFunctions {
  decltype(&::GetFileVersionInfoSizeA) infoSize =
      SystemFunction<decltype(&::GetFileVersionInfoSizeA)>(kVersionLibrary, "GetFileVersionInfoSizeA");
  decltype(&::GetFileVersionInfoA) info =
      SystemFunction<decltype(&::GetFileVersionInfoA)>(kVersionLibrary, "GetFileVersionInfoA");
  decltype(&::VerQueryValueA) query = SystemFunction<decltype(&::VerQueryValueA)>(kVersionLibrary, "VerQueryValueA");

  bool Complete() const { return infoSize && info && query; }
};

const VersionFunctions& Version() {
  static const VersionFunctions functions;
  return functions;
}

void SplitVersion(DWORD most, DWORD least, WORD parts[4]) {
  parts[0] = HIWORD(most);
  parts[1] = LOWORD(most);
  parts[2] = HIWORD(least);
  parts[3] = LOWORD(least);
}

}  // namespace

CVersionInfo::CVersionInfo(const char* path) : m_path{}, m_fixed{} {
  if (path && *path) {
    lstrcpynA(m_path, path, sizeof(m_path));
    return;
  }
  CPath exe;
  if (exe.SetToExePath()) lstrcpynA(m_path, exe.c_str(), sizeof(m_path));
}

bool CVersionInfo::Load() {
  m_tables.clear();
  const VersionFunctions& version = Version();
  if (!version.Complete()) return false;
  DWORD ignored = 0;
  DWORD size = version.infoSize(m_path, &ignored);
  if (size == 0) return false;
  std::vector<BYTE> block(size);
  if (!version.info(m_path, 0, size, block.data())) return false;

  void* fixed = nullptr;
  UINT fixedSize = 0;
  if (!version.query(block.data(), "\\", &fixed, &fixedSize) || fixedSize < sizeof(m_fixed)) return false;
  memcpy(&m_fixed, fixed, sizeof(m_fixed));
  ReadStringTables(block);
  return true;
}

void CVersionInfo::ReadStringTables(const std::vector<BYTE>& block) {
  void* translations = nullptr;
  UINT translationsSize = 0;
  void* data = const_cast<BYTE*>(block.data());
  if (!Version().query(data, "\\VarFileInfo\\Translation", &translations, &translationsSize)) return;

  const Translation* entries = static_cast<const Translation*>(translations);
  for (UINT i = 0; i < translationsSize / sizeof(Translation); ++i) {
    CVersionStringTable table;
    table.language = entries[i].language;
    table.codePage = entries[i].codePage;
    for (int s = 0; s < static_cast<int>(EVersionString::Count); ++s) {
      char key[96];
      snprintf(key, sizeof(key), "\\StringFileInfo\\%04x%04x\\%s", table.language, table.codePage, kStringNames[s]);
      void* value = nullptr;
      UINT length = 0;
      if (Version().query(data, key, &value, &length) && value) table.strings[s] = static_cast<const char*>(value);
    }
    m_tables.push_back(std::move(table));
  }
}

void CVersionInfo::GetFileVersion(WORD parts[4]) const {
  SplitVersion(m_fixed.dwFileVersionMS, m_fixed.dwFileVersionLS, parts);
}

void CVersionInfo::GetProductVersion(WORD parts[4]) const {
  SplitVersion(m_fixed.dwProductVersionMS, m_fixed.dwProductVersionLS, parts);
}

const CVersionStringTable* CVersionInfo::FindStringTable(WORD language, WORD codePage) const {
  for (const CVersionStringTable& table : m_tables) {
    if (table.language == language && table.codePage == codePage) return &table;
  }
  return nullptr;
}
