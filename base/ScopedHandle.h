// Owners for Win32 handles: each handle is closed in exactly one place, the destructor (or Reset).
// Closing keeps the thread's last error: a failure path that closes its handles on the way out
// still reports the error of the call that failed, not that of a close.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class CScopedHandle {
public:
  using Handle = typename Traits::Handle;

  CScopedHandle() : m_handle(Traits::Invalid()) {}
  explicit CScopedHandle(Handle handle) : m_handle(handle) {}
  CScopedHandle(const CScopedHandle&) = delete;
  CScopedHandle& operator=(const CScopedHandle&) = delete;
  CScopedHandle(CScopedHandle&& other) noexcept : m_handle(other.Release()) {}
  CScopedHandle& operator=(CScopedHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~CScopedHandle() { Reset(); }

  Handle Get() const { return m_handle; }
  bool IsValid() const { return m_handle != Traits::Invalid(); }

  void Reset(Handle handle = Traits::Invalid()) {
    if (IsValid()) {
      DWORD lastError = ::GetLastError();
      Traits::Close(m_handle);
      ::SetLastError(lastError);
    }
    m_handle = handle;
  }

  Handle Release() { return std::exchange(m_handle, Traits::Invalid()); }

  // For functions that hand out a new handle through a pointer parameter.
  Handle* Put() {
    Reset();
    return &m_handle;
  }

private:
  Handle m_handle;
};

// Events, mutexes, threads, processes, tokens: NULL when absent.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

// CreateFile results: INVALID_HANDLE_VALUE when absent.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};

struct LibraryHandleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::RegCloseKey(h); }
};

// Memory the system allocated for us (FormatMessageA and friends).
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::LocalFree(h); }
};

using CKernelHandle = CScopedHandle<KernelHandleTraits>;
using CFileHandle = CScopedHandle<FileHandleTraits>;
using CFindHandle = CScopedHandle<FindHandleTraits>;
using CLibraryHandle = CScopedHandle<LibraryHandleTraits>;
using CRegKey = CScopedHandle<RegKeyTraits>;
using CLocalMemory = CScopedHandle<LocalMemoryTraits>;
