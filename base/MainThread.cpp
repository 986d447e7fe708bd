#include "base/MainThread.h"

#include <windows.h>

namespace {
DWORD g_mainThreadId = 0;
}

void RecordMainThread() { g_mainThreadId = GetCurrentThreadId(); }

bool IsMainThread() { return g_mainThreadId != 0 && GetCurrentThreadId() == g_mainThreadId; }
