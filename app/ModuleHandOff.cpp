#include "app/ModuleHandOff.h"

#include "base/ScopedHandle.h"

namespace {

const char kNoQueryInterfaceText[] = "获取模块接口为空！";
const char kStartLookupFailedText[] = "获取启动模块失败！";
const char kStartEntryNullText[] = "获取启动模块为空！";
const char kDataLookupFailedText[] = "获取数据配置接口失败！";
const char kDataEntryNullText[] = "获取数据配置接口为空！";

// The contract's booleans: only the low byte counts.
bool LowByte(BOOL result) { return (result & 0xff) != 0; }

// The system's text for an error code, as the system words it (line break included); empty for 0.
std::string SystemErrorText(DWORD code) {
  if (code == 0) return std::string();
  CLocalMemory buffer;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(buffer.Put()), 0, nullptr);
  if (length == 0 || !buffer.IsValid()) return std::string();
  return std::string(static_cast<const char*>(buffer.Get()), length);
}

}  // namespace

void CModuleHandOff::Clear() {
  m_startEntry = nullptr;
  m_dataConfigEntry = nullptr;
}

bool CModuleHandOff::Fail(const char* text) {
  m_lastError = text;
  return false;
}

bool CModuleHandOff::FailWithSystemError(DWORD errorCode) {
  m_lastError = SystemErrorText(errorCode);
  return false;
}

bool CModuleHandOff::LookUp(LoaderContract::QueryInterfaceProc query, const GUID& id, void*& entry,
                            const char* failedText, const char* nullText) {
  entry = nullptr;
  if (!LowByte(query(&id, &entry))) return Fail(failedText);
  return entry ? true : Fail(nullText);
}

bool CModuleHandOff::Load(const std::string& path) {
  Clear();
  // The library's own imports come from its folder and the system directories, never from the
  // executable's folder, the current directory or PATH.
  CLibraryHandle library(
      LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library.IsValid() && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A loader without the search flags (Windows 7 before its update): the library's folder first.
    library.Reset(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  }
  if (!library.IsValid()) return FailWithSystemError(GetLastError());
  // Handed to the process for good: the entries point into it and the workbench runs inside it.
  HMODULE module = library.Release();

  void* query = reinterpret_cast<void*>(GetProcAddress(module, LoaderContract::kQueryInterfaceName));
  if (!query) return Fail(kNoQueryInterfaceText);
  auto queryInterface = reinterpret_cast<LoaderContract::QueryInterfaceProc>(query);
  void* start = nullptr;
  void* dataConfig = nullptr;
  if (!LookUp(queryInterface, LoaderContract::kStartEntryId, start, kStartLookupFailedText, kStartEntryNullText) ||
      !LookUp(queryInterface, LoaderContract::kDataConfigEntryId, dataConfig, kDataLookupFailedText,
              kDataEntryNullText)) {
    return false;
  }
  m_startEntry = reinterpret_cast<LoaderContract::StartEntryProc>(start);
  m_dataConfigEntry = reinterpret_cast<LoaderContract::DataConfigEntryProc>(dataConfig);
  return true;
}

bool CModuleHandOff::CallDataConfig(const char* dataDirectory) const {
  return m_dataConfigEntry && LowByte(m_dataConfigEntry(dataDirectory));
}

bool CModuleHandOff::CallStart() const { return m_startEntry && LowByte(m_startEntry()); }

bool CModuleHandOff::HandOver(const char* dataDirectory) const {
  if (!HasStartEntry() || !CallDataConfig(dataDirectory)) return false;
  CallStart();  // its answer means nothing to the launcher
  return true;
}
