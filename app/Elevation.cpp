#include "app/Elevation.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app/ProductTexts.h"
#include "base/Path.h"
#include "base/ScopedHandle.h"
#include "base/TextFormat.h"
#include "ui/MessageBox.h"

namespace {

const char kRunAsVerb[] = "runas";
constexpr DWORD kFirstVersionWithElevation = 6;

bool SystemHasElevation() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExA(&version) && version.dwMajorVersion >= kFirstVersionWithElevation;
}

void RunAndWait(const std::string& exe, const char* parameters) {
  std::string commandLine;
  FormatString(commandLine, "\"%s\" %s", exe.c_str(), parameters);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ShowDesktopMessage(kStartProgramFailedText, kErrorCaption, MB_ICONHAND);
    return;
  }
  CKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
}

void RunAsAndWait(const std::string& exe, const char* parameters) {
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = kRunAsVerb;
  info.lpFile = exe.c_str();
  info.lpParameters = parameters;
  info.nShow = SW_SHOW;
  // A refused elevation leaves no process: nothing to wait for, nothing to say.
  if (!ShellExecuteExA(&info) || !info.hProcess) return;
  CKernelHandle process(info.hProcess);
  WaitForSingleObject(process.Get(), INFINITE);
}

}  // namespace

bool EnableDebugPrivilege() {
  CKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put())) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid)) return false;
  return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}

bool IsProcessElevated() {
  if (!SystemHasElevation()) return false;
  CKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         size == sizeof(elevation) && elevation.TokenIsElevated != 0;
}

void RunElevated(const char* parameters) {
  std::string exe = ExecutablePath();
  if (!SystemHasElevation() || IsProcessElevated()) {
    RunAndWait(exe, parameters);
  } else {
    RunAsAndWait(exe, parameters);
  }
}
