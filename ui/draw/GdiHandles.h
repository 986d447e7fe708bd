// Owners for GDI and window-manager handles, on the pattern of base/ScopedHandle.h: each handle
// is given back in exactly one place.
#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"

// Bitmaps, brushes, pens, fonts, regions made by us (never stock objects).
template <typename T>
struct GdiObjectTraits {
  using Handle = T;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};

// Memory DCs from CreateCompatibleDC.
struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::DeleteDC(h); }
};

// Icons made by CreateIconFromResourceEx, LoadImage (not shared) or CopyImage.
struct IconTraits {
  using Handle = HICON;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::DestroyIcon(h); }
};

using CBitmapHandle = CScopedHandle<GdiObjectTraits<HBITMAP>>;
using CBrushHandle = CScopedHandle<GdiObjectTraits<HBRUSH>>;
using CMemoryDC = CScopedHandle<MemoryDcTraits>;
using CIconHandle = CScopedHandle<IconTraits>;

// A window's DC (the screen's for a null window), given back with ReleaseDC.
class CWindowDC {
public:
  explicit CWindowDC(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
  ~CWindowDC() {
    if (m_dc) ::ReleaseDC(m_window, m_dc);
  }
  CWindowDC(const CWindowDC&) = delete;
  CWindowDC& operator=(const CWindowDC&) = delete;

  HDC Get() const { return m_dc; }

private:
  HWND m_window;
  HDC m_dc;
};

// Selects an object into a DC for a scope and puts the previous one back.
class CSelection {
public:
  CSelection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(dc && object ? ::SelectObject(dc, object) : nullptr) {
    if (m_previous == HGDI_ERROR) m_previous = nullptr;
  }
  ~CSelection() {
    if (m_previous) ::SelectObject(m_dc, m_previous);
  }
  CSelection(const CSelection&) = delete;
  CSelection& operator=(const CSelection&) = delete;

  bool IsValid() const { return m_previous != nullptr; }

private:
  HDC m_dc;
  HGDIOBJ m_previous;
};
