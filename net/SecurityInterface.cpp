#include "net/SecurityInterface.h"

#include "base/SystemLibrary.h"

namespace {

using InitSecurityInterfaceFunction = PSecurityFunctionTableA(WINAPI*)();
using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

}  // namespace

const SecurityFunctionTableA* PlatformSecurityInterface() {
  static const SecurityFunctionTableA* table = [] {
    auto init = SystemFunction<InitSecurityInterfaceFunction>("secur32.dll", "InitSecurityInterfaceA");
    return init ? static_cast<const SecurityFunctionTableA*>(init()) : nullptr;
  }();
  return table;
}

DWORD SystemBuildNumber() {
  // ntdll is in every process: no search path is involved.
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto getVersion =
      ntdll ? reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
            : nullptr;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!getVersion || getVersion(&version) != 0) return 0;
  return version.dwBuildNumber;
}
