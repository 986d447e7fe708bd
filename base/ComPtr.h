// Owner of one COM interface pointer: released in exactly one place, the destructor.
#pragma once

#include <unknwn.h>

template <typename T>
class CComPtr {
public:
  CComPtr() = default;
  CComPtr(const CComPtr&) = delete;
  CComPtr& operator=(const CComPtr&) = delete;
  ~CComPtr() { Reset(); }

  T* Get() const { return m_pointer; }
  T* operator->() const { return m_pointer; }
  explicit operator bool() const { return m_pointer != nullptr; }

  // For functions that hand out a new reference through a T** (or void**) parameter.
  T** Put() {
    Reset();
    return &m_pointer;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  void Reset() {
    if (m_pointer) m_pointer->Release();
    m_pointer = nullptr;
  }

private:
  T* m_pointer = nullptr;
};
