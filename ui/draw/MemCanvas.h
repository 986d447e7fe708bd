// An off-screen canvas: a memory DC with a compatible bitmap, for flicker-free painting. Every
// drawing member of an empty canvas does nothing and returns 0.
#pragma once

#include <windows.h>

#include "ui/draw/GdiHandles.h"

class CMemCanvas {
public:
  CMemCanvas() = default;
  virtual ~CMemCanvas();
  CMemCanvas(const CMemCanvas&) = delete;
  CMemCanvas& operator=(const CMemCanvas&) = delete;

  // Compatible with `reference`, or with the screen when it is null.
  bool Create(HDC reference, int width, int height);
  bool CreateFromBitmap(HBITMAP bitmap, HDC reference);  // the bitmap's size and pixels
  void Release();

  HDC GetDC() const { return m_dc.Get(); }
  int GetWidth() const { return m_width; }
  int GetHeight() const { return m_height; }
  bool IsEmpty() const { return !m_dc.IsValid() || m_width == 0 || m_height == 0; }

  BOOL Blit(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, DWORD rop) const;
  BOOL Stretch(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, int sourceCx, int sourceCy) const;
  BOOL StretchWhole(HDC target, int cx, int cy) const;
  BOOL TransparentStretch(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, int sourceCx,
                          int sourceCy, COLORREF key) const;
  // Nine pieces: the border between `outer` and `inner` (source) keeps its widths in `dest`; the
  // corners are copied with `key` transparent, the edges and the centre stretched.
  BOOL DrawKeyedGrid(HDC target, const RECT& dest, const RECT& outer, const RECT& inner, COLORREF key) const;
  // The canvas as an opaque image at constant alpha; 0 when the system has no AlphaBlend.
  BOOL BlendWhole(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, int sourceCx, int sourceCy,
                  BYTE alpha) const;

  BOOL GradientV(const RECT& rect, COLORREF top, COLORREF bottom);
  BOOL GradientH(const RECT& rect, COLORREF left, COLORREF right);
  int FillRect(const RECT& rect, HBRUSH brush);
  int FrameRect(const RECT& rect, HBRUSH brush);
  BOOL Ellipse(const RECT& rect);
  BOOL Rectangle(const RECT& rect);
  BOOL RoundRect(const RECT& rect, int cornerWidth, int cornerHeight);
  BOOL Polygon(const POINT* points, int count);
  int DrawText(const char* text, RECT& rect, UINT format);
  COLORREF SetTextColor(COLORREF color);
  COLORREF GetTextColor() const;
  int SetBkMode(int mode);
  HGDIOBJ SelectObject(HGDIOBJ object);
  int SaveState();
  BOOL RestoreState(int state);

private:
  bool CreateCompatible(HDC compatible, int width, int height);

  int m_width = 0;
  int m_height = 0;
  CMemoryDC m_dc;
  CBitmapHandle m_bitmap;
  HGDIOBJ m_previous = nullptr;  // what the DC held before our bitmap
};
