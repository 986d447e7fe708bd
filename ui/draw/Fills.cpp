#include "ui/draw/Fills.h"

#include "ui/draw/AlphaBlend.h"
#include "ui/draw/BitmapGrid.h"
#include "ui/draw/DibSection.h"
#include "ui/draw/GdiHandles.h"

namespace {

constexpr COLOR16 kOpaqueVertexAlpha = 0xFF00;

BYTE Alpha(uint32_t color) { return static_cast<BYTE>(color >> 24); }
BYTE Red(uint32_t color) { return static_cast<BYTE>(color >> 16); }
BYTE Green(uint32_t color) { return static_cast<BYTE>(color >> 8); }
BYTE Blue(uint32_t color) { return static_cast<BYTE>(color); }

// A vertex's colour; its position is set by Gradient.
TRIVERTEX Vertex(BYTE red, BYTE green, BYTE blue, COLOR16 alpha) {
  return {0,    0, static_cast<COLOR16>(red << 8), static_cast<COLOR16>(green << 8), static_cast<COLOR16>(blue << 8),
          alpha};
}

BOOL Gradient(HDC dc, const RECT& rect, const TRIVERTEX& first, const TRIVERTEX& second, bool vertical) {
  GradientFillFunction fill = GradientFunction();
  if (!fill) return FALSE;
  TRIVERTEX vertices[2] = {first, second};
  vertices[0].x = rect.left;
  vertices[0].y = rect.top;
  vertices[1].x = rect.right;
  vertices[1].y = rect.bottom;
  GRADIENT_RECT mesh = {0, 1};
  return fill(dc, vertices, 2, &mesh, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
}

int BandShift(int steps) {
  if (steps >= 64) return 6;
  if (steps >= 32) return 5;
  if (steps >= 16) return 4;
  if (steps > 7) return 3;
  if (steps > 3) return 2;
  return 1;
}

BYTE Mix(BYTE to, BYTE from, int i, int shift) {
  return static_cast<BYTE>((to * ((1 << shift) - i) + from * i) >> shift);
}

void FillSolid(HDC dc, const RECT& rect, BYTE red, BYTE green, BYTE blue) {
  SetBkColor(dc, RGB(red, green, blue));
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

// The opaque gradient of the two colours, by GradientFill or in bands.
void DrawOpaqueGradient(HDC dc, const RECT& rect, uint32_t from, uint32_t to, bool vertical, int steps) {
  TRIVERTEX first = Vertex(Red(from), Green(from), Blue(from), kOpaqueVertexAlpha);
  TRIVERTEX second = Vertex(Red(to), Green(to), Blue(to), kOpaqueVertexAlpha);
  if (!Gradient(dc, rect, first, second, vertical)) {
    FillGradientBands(dc, rect, from, to, vertical, steps);
  }
}

}  // namespace

BOOL FillColorGradient(HDC dc, const RECT& rect, COLORREF first, COLORREF second, bool vertical) {
  return Gradient(dc, rect, Vertex(GetRValue(first), GetGValue(first), GetBValue(first), 0),
                  Vertex(GetRValue(second), GetGValue(second), GetBValue(second), 0), vertical);
}

BOOL FillGradient(HDC dc, const RECT& rect, COLORREF top, COLORREF bottom) {
  return FillColorGradient(dc, rect, top, bottom, true);
}

void FillGradientMirror(HDC dc, const RECT& rect, COLORREF edge, COLORREF middle) {
  int centre = (rect.top + rect.bottom) / 2;
  FillColorGradient(dc, {rect.left, rect.top, rect.right, centre + 1}, edge, middle, true);
  FillColorGradient(dc, {rect.left, centre - 1, rect.right, rect.bottom}, middle, edge, true);
}

void FillGradientBands(HDC dc, const RECT& rect, uint32_t from, uint32_t to, bool vertical, int steps) {
  int shift = BandShift(steps);
  int extent = vertical ? rect.bottom - rect.top : rect.right - rect.left;
  for (int i = 0; i < (1 << shift); ++i) {
    int inner = (i * extent) >> shift, outer = ((i + 1) * extent) >> shift;
    if (outer == inner) continue;
    RECT band = rect;
    if (vertical) {
      band.top = rect.bottom - outer, band.bottom = rect.bottom - inner;
    } else {
      band.left = rect.right - outer, band.right = rect.right - inner;
    }
    FillSolid(dc, band, Mix(Red(to), Red(from), i, shift), Mix(Green(to), Green(from), i, shift),
              Mix(Blue(to), Blue(from), i, shift));
  }
}

void FillAlphaGradient(HDC dc, const RECT& rect, uint32_t from, uint32_t to, bool vertical, int steps) {
  BYTE alpha = static_cast<BYTE>((Alpha(from) + Alpha(to)) / 2);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (alpha == 0 || width <= 0 || height <= 0) return;
  if (alpha == 255) {
    DrawOpaqueGradient(dc, rect, from, to, vertical, steps);
    return;
  }
  // Drawn opaque off screen, then blended at the mean alpha. The off-screen pixels get an opaque
  // alpha byte, as the blend reads per-pixel alpha and GDI leaves that byte at 0.
  CMemoryDC memory(CreateCompatibleDC(dc));
  uint32_t* pixels = nullptr;
  CBitmapHandle bitmap(CreateTopDownDib(width, height, &pixels));
  if (!memory.IsValid() || !bitmap.IsValid()) return;
  CSelection selected(memory.Get(), bitmap.Get());
  DrawOpaqueGradient(memory.Get(), {0, 0, width, height}, from, to, vertical, steps);
  GdiFlush();
  SetOpaqueAlpha(pixels, width * height);
  BlendFunction()(dc, rect.left, rect.top, width, height, memory.Get(), 0, 0, width, height, SkinBlend(alpha));
}

void FillAlphaColor(HDC dc, const RECT& rect, uint32_t color) {
  if (Alpha(color) == 0) return;
  if (Alpha(color) == 255) {
    FillSolid(dc, rect, Red(color), Green(color), Blue(color));
    return;
  }
  uint32_t* pixel = nullptr;
  CBitmapHandle bitmap(CreateTopDownDib(1, 1, &pixel));
  if (!bitmap.IsValid()) return;
  // Premultiplied, as the blend expects: the colour itself would brighten what lies beneath.
  *pixel = PremultipliedPixel(Alpha(color), Red(color), Green(color), Blue(color));
  GridParams grid = {rect, rect, {0, 0, 1, 1}, {0, 0, 0, 0}, true, 255, false, false, false};
  DrawBitmapGrid(dc, bitmap.Get(), grid);
}
