// Reads a file's version resource: the fixed version block and every translated string table.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class EVersionString {
  Comments,
  CompanyName,
  FileDescription,
  FileVersion,
  InternalName,
  LegalCopyright,
  LegalTrademarks,
  OriginalFileName,
  PrivateBuild,
  ProductName,
  ProductVersion,
  SpecialBuild,
  Count
};

struct CVersionStringTable {
  WORD language = 0;
  WORD codePage = 0;
  std::string strings[static_cast<int>(EVersionString::Count)];

  const char* Get(EVersionString which) const { return strings[static_cast<int>(which)].c_str(); }
};

class CVersionInfo {
public:
  explicit CVersionInfo(const char* path = nullptr);  // null or empty: the running executable

  bool Load();
  // Four 16-bit parts: high and low word of the most significant double word, then of the least.
  void GetFileVersion(WORD parts[4]) const;
  void GetProductVersion(WORD parts[4]) const;
  const CVersionStringTable* FindStringTable(WORD language, WORD codePage) const;
  const std::vector<CVersionStringTable>& StringTables() const { return m_tables; }

private:
  void ReadStringTables(const std::vector<BYTE>& block);

  char m_path[MAX_PATH];
  VS_FIXEDFILEINFO m_fixed;
  std::vector<CVersionStringTable> m_tables;
};
