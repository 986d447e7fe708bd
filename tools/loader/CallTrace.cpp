#include "tools/loader/CallTrace.h"

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "base/ScopedHandle.h"
#include "base/TextFormat.h"

const wchar_t kTraceVariable[] = L"VELMOR_LOADER_TRACE";

namespace {

ULONGLONG CreationTime(DWORD threadId) {
  CKernelHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
  FILETIME created, exited, kernel, user;
  if (!thread.IsValid() || !GetThreadTimes(thread.Get(), &created, &exited, &kernel, &user)) return ~0ULL;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The process's first thread (the earliest created), which is where a launcher's main thread runs;
// 0 when the system will not say.
DWORD MainThreadId() {
  CFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  DWORD oldest = 0;
  ULONGLONG oldestTime = ~0ULL;
  if (!snapshot.IsValid() || !Thread32First(snapshot.Get(), &entry)) return 0;
  do {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    ULONGLONG created = CreationTime(entry.th32ThreadID);
    if (created < oldestTime) {
      oldestTime = created;
      oldest = entry.th32ThreadID;
    }
  } while (Thread32Next(snapshot.Get(), &entry));
  return oldest;
}

}  // namespace

void TraceCall(const char* event, const char* dataDirectory) {
  // Wide, so a path in any language survives (Wine's ANSI variant cuts double-byte values short).
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(kTraceVariable, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::string line;
  FormatString(line, "%s thread=%lu main_thread=%lu data=%s\n", event, GetCurrentThreadId(), MainThreadId(),
               dataDirectory ? dataDirectory : "");
  // Appending keeps lines whole when two processes write to the same account.
  CFileHandle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file.IsValid()) WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
