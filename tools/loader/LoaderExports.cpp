// loader.dll: the sample loader library. It answers the launcher's QueryInterface with its two
// entries; the data entry keeps the data directory, the start entry runs the workbench window.
#include <windows.h>

#include <cstring>
#include <string>

#include "app/LoaderContract.h"
#include "app/VersionInfo.h"
#include "base/AnsiChars.h"
#include "tools/loader/CallTrace.h"
#include "tools/loader/WorkbenchWindow.h"

namespace {

// The host's version resource, Chinese (PRC) table stored as UTF-16, as the launcher writes it.
constexpr WORD kStringTableLanguage = 2052;
constexpr WORD kStringTableCodePage = 1200;

HINSTANCE g_instance = nullptr;
std::string g_dataDirectory;

// The product name of the program that loaded us; its file name when it has no such resource.
std::string HostProductName() {
  CVersionInfo info;
  if (info.Load()) {
    const CVersionStringTable* table = info.FindStringTable(kStringTableLanguage, kStringTableCodePage);
    if (table && *table->Get(EVersionString::ProductName)) return table->Get(EVersionString::ProductName);
  }
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string whole = path;
  size_t cut = AnsiChars::LastSeparator(whole);
  return cut == std::string::npos ? whole : whole.substr(cut + 1);
}

BOOL WINAPI ConfigureData(const char* dataDirectory) {
  g_dataDirectory = dataDirectory ? dataDirectory : "";
  TraceCall("data_config", g_dataDirectory.c_str());
  return TRUE;
}

BOOL WINAPI Start() {
  TraceCall("start", g_dataDirectory.c_str());
  CWorkbenchWindow workbench(g_instance, HostProductName(), g_dataDirectory);
  return workbench.Run();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

// Exported undecorated through loader.def (MinGW would name it QueryInterface@8).
extern "C" BOOL WINAPI QueryInterface(const GUID* iid, void** slot) {
  if (!iid || !slot) return FALSE;
  if (IsEqualGUID(*iid, LoaderContract::kStartEntryId)) {
    TraceCall("query_start", g_dataDirectory.c_str());
    *slot = reinterpret_cast<void*>(&Start);
    return TRUE;
  }
  if (IsEqualGUID(*iid, LoaderContract::kDataConfigEntryId)) {
    TraceCall("query_data_config", g_dataDirectory.c_str());
    *slot = reinterpret_cast<void*>(&ConfigureData);
    return TRUE;
  }
  return FALSE;
}
