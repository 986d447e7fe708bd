#include "ui/draw/MemCanvas.h"

#include <cstdint>

#include "ui/draw/AlphaBlend.h"
#include "ui/draw/DibSection.h"
#include "ui/draw/Fills.h"

namespace {

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

CMemCanvas::~CMemCanvas() { Release(); }

bool CMemCanvas::Create(HDC reference, int width, int height) {
  Release();
  if (reference) return CreateCompatible(reference, width, height);
  CWindowDC desktop(GetDesktopWindow());
  return desktop.Get() && CreateCompatible(desktop.Get(), width, height);
}

bool CMemCanvas::CreateCompatible(HDC compatible, int width, int height) {
  m_dc.Reset(CreateCompatibleDC(compatible));
  m_bitmap.Reset(CreateCompatibleBitmap(compatible, width, height));
  m_previous = m_dc.IsValid() && m_bitmap.IsValid() ? ::SelectObject(m_dc.Get(), m_bitmap.Get()) : nullptr;
  if (!m_previous || m_previous == HGDI_ERROR) {
    m_previous = nullptr;
    Release();
    return false;
  }
  m_width = width;
  m_height = height;
  return true;
}

bool CMemCanvas::CreateFromBitmap(HBITMAP bitmap, HDC reference) {
  BITMAP info;
  if (!bitmap || !GetObjectA(bitmap, sizeof(info), &info) || !Create(reference, info.bmWidth, info.bmHeight)) {
    return false;
  }
  CMemoryDC source(CreateCompatibleDC(m_dc.Get()));
  CSelection selected(source.Get(), bitmap);
  if (!selected.IsValid()) return false;
  return StretchBlt(m_dc.Get(), 0, 0, m_width, m_height, source.Get(), 0, 0, m_width, m_height, SRCCOPY) != FALSE;
}

void CMemCanvas::Release() {
  if (m_previous) ::SelectObject(m_dc.Get(), m_previous);
  m_previous = nullptr;
  m_bitmap.Reset();
  m_dc.Reset();
  m_width = m_height = 0;
}

BOOL CMemCanvas::Blit(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, DWORD rop) const {
  if (IsEmpty()) return 0;
  return BitBlt(target, x, y, cx, cy, m_dc.Get(), sourceX, sourceY, rop);
}

BOOL CMemCanvas::Stretch(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, int sourceCx,
                         int sourceCy) const {
  if (IsEmpty()) return 0;
  return StretchBlt(target, x, y, cx, cy, m_dc.Get(), sourceX, sourceY, sourceCx, sourceCy, SRCCOPY);
}

BOOL CMemCanvas::StretchWhole(HDC target, int cx, int cy) const {
  return Stretch(target, 0, 0, cx, cy, 0, 0, m_width, m_height);
}

BOOL CMemCanvas::TransparentStretch(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, int sourceCx,
                                    int sourceCy, COLORREF key) const {
  TransparentBltFunction transparentBlt = TransparentFunction();
  if (IsEmpty() || !transparentBlt) return 0;
  return transparentBlt(target, x, y, cx, cy, m_dc.Get(), sourceX, sourceY, sourceCx, sourceCy, key);
}

BOOL CMemCanvas::DrawKeyedGrid(HDC target, const RECT& dest, const RECT& outer, const RECT& inner, COLORREF key) const {
  if (IsEmpty()) return 0;
  int left = inner.left - outer.left, right = outer.right - inner.right;
  int top = inner.top - outer.top, bottom = outer.bottom - inner.bottom;
  int middleW = Width(dest) - left - right, middleH = Height(dest) - top - bottom;
  int innerW = Width(inner), innerH = Height(inner);
  int destInnerX = dest.left + left, destInnerY = dest.top + top;
  int destRightX = dest.right - right, destBottomY = dest.bottom - bottom;
  TransparentStretch(target, dest.left, dest.top, left, top, outer.left, outer.top, left, top, key);
  Stretch(target, destInnerX, dest.top, middleW, top, inner.left, outer.top, innerW, top);
  TransparentStretch(target, destRightX, dest.top, right, top, inner.right, outer.top, right, top, key);
  Stretch(target, dest.left, destInnerY, left, middleH, outer.left, inner.top, left, innerH);
  Stretch(target, destInnerX, destInnerY, middleW, middleH, inner.left, inner.top, innerW, innerH);
  Stretch(target, destRightX, destInnerY, right, middleH, inner.right, inner.top, right, innerH);
  TransparentStretch(target, dest.left, destBottomY, left, bottom, outer.left, inner.bottom, left, bottom, key);
  Stretch(target, destInnerX, destBottomY, middleW, bottom, inner.left, inner.bottom, innerW, bottom);
  TransparentStretch(target, destRightX, destBottomY, right, bottom, inner.right, inner.bottom, right, bottom, key);
  return TRUE;
}

BOOL CMemCanvas::BlendWhole(HDC target, int x, int y, int cx, int cy, int sourceX, int sourceY, int sourceCx,
                            int sourceCy, BYTE alpha) const {
  AlphaBlendFunction blend = BlendFunction();
  if (IsEmpty() || blend == SoftwareAlphaBlend) return 0;
  uint32_t* pixels = nullptr;
  CBitmapHandle copy(CreateTopDownDib(m_width, m_height, &pixels));
  CMemoryDC copyDc(CreateCompatibleDC(m_dc.Get()));
  if (!copy.IsValid() || !copyDc.IsValid()) return 0;
  CSelection selected(copyDc.Get(), copy.Get());
  BitBlt(copyDc.Get(), 0, 0, m_width, m_height, m_dc.Get(), 0, 0, SRCCOPY);
  GdiFlush();
  SetOpaqueAlpha(pixels, m_width * m_height);
  SetStretchBltMode(target, COLORONCOLOR);
  return blend(target, x, y, cx, cy, copyDc.Get(), sourceX, sourceY, sourceCx, sourceCy, SkinBlend(alpha));
}

BOOL CMemCanvas::GradientV(const RECT& rect, COLORREF top, COLORREF bottom) {
  return IsEmpty() ? 0 : FillColorGradient(m_dc.Get(), rect, top, bottom, true);
}

BOOL CMemCanvas::GradientH(const RECT& rect, COLORREF left, COLORREF right) {
  return IsEmpty() ? 0 : FillColorGradient(m_dc.Get(), rect, left, right, false);
}

int CMemCanvas::FillRect(const RECT& rect, HBRUSH brush) {
  return IsEmpty() ? 0 : ::FillRect(m_dc.Get(), &rect, brush);
}

int CMemCanvas::FrameRect(const RECT& rect, HBRUSH brush) {
  return IsEmpty() ? 0 : ::FrameRect(m_dc.Get(), &rect, brush);
}

BOOL CMemCanvas::Ellipse(const RECT& rect) {
  return IsEmpty() ? 0 : ::Ellipse(m_dc.Get(), rect.left, rect.top, rect.right, rect.bottom);
}

BOOL CMemCanvas::Rectangle(const RECT& rect) {
  return IsEmpty() ? 0 : ::Rectangle(m_dc.Get(), rect.left, rect.top, rect.right, rect.bottom);
}

BOOL CMemCanvas::RoundRect(const RECT& rect, int cornerWidth, int cornerHeight) {
  return IsEmpty() ? 0
                   : ::RoundRect(m_dc.Get(), rect.left, rect.top, rect.right, rect.bottom, cornerWidth, cornerHeight);
}

BOOL CMemCanvas::Polygon(const POINT* points, int count) {
  return IsEmpty() ? 0 : ::Polygon(m_dc.Get(), points, count);
}

int CMemCanvas::DrawText(const char* text, RECT& rect, UINT format) {
  return IsEmpty() || !text ? 0 : ::DrawTextA(m_dc.Get(), text, lstrlenA(text), &rect, format);
}

COLORREF CMemCanvas::SetTextColor(COLORREF color) { return IsEmpty() ? 0 : ::SetTextColor(m_dc.Get(), color); }

COLORREF CMemCanvas::GetTextColor() const { return IsEmpty() ? 0 : ::GetTextColor(m_dc.Get()); }

int CMemCanvas::SetBkMode(int mode) { return IsEmpty() ? 0 : ::SetBkMode(m_dc.Get(), mode); }

HGDIOBJ CMemCanvas::SelectObject(HGDIOBJ object) { return IsEmpty() ? nullptr : ::SelectObject(m_dc.Get(), object); }

int CMemCanvas::SaveState() { return IsEmpty() ? 0 : SaveDC(m_dc.Get()); }

BOOL CMemCanvas::RestoreState(int state) { return IsEmpty() ? 0 : RestoreDC(m_dc.Get(), state); }
