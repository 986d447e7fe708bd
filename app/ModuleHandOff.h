// The loader library in the process: loaded, asked for its two entries, and called on the main
// thread to hand over to the workbench.
#pragma once

#include <windows.h>

#include <string>

#include "app/LoaderContract.h"

class CModuleHandOff {
public:
  // Loads the library at `path` and asks it for both entries. It is never unloaded, also not after
  // a failed lookup: the process keeps it until exit.
  bool Load(const std::string& path);
  // Keeps `text` as the reason of the failure; false.
  bool Fail(const char* text);
  bool FailWithSystemError(DWORD errorCode);
  void Clear();

  bool HasStartEntry() const { return m_startEntry != nullptr; }
  // False when the entry is not set, else the entry's answer.
  bool CallDataConfig(const char* dataDirectory) const;
  bool CallStart() const;
  // The data entry, and the start entry when that agrees. True when the start entry ran.
  bool HandOver(const char* dataDirectory) const;
  // Why the last load failed (the system's message or one of ours); empty when none.
  const std::string& LastErrorText() const { return m_lastError; }

private:
  bool LookUp(LoaderContract::QueryInterfaceProc query, const GUID& id, void*& entry, const char* failedText,
              const char* nullText);

  LoaderContract::StartEntryProc m_startEntry = nullptr;
  LoaderContract::DataConfigEntryProc m_dataConfigEntry = nullptr;
  std::string m_lastError;
};
