// Owner of one Win32 event.
#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"

class CWinEvent {
public:
  CWinEvent() : CWinEvent(nullptr, TRUE, FALSE, nullptr) {}  // manual reset, not signalled
  CWinEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, const char* name = nullptr)
      : m_event(CreateEventA(security, manualReset, initialState, name)) {}

  HANDLE Get() const { return m_event.Get(); }
  bool Wait(DWORD milliseconds = INFINITE) const {
    return WaitForSingleObject(m_event.Get(), milliseconds) != WAIT_TIMEOUT;
  }
  bool Set() const { return SetEvent(m_event.Get()) != FALSE; }
  bool Reset() const { return ResetEvent(m_event.Get()) != FALSE; }
  bool Pulse() const { return PulseEvent(m_event.Get()) != FALSE; }

private:
  CKernelHandle m_event;
};
