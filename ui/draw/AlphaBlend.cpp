#include "ui/draw/AlphaBlend.h"

#include <cstdint>

#include "base/SystemLibrary.h"
#include "ui/draw/DibSection.h"
#include "ui/draw/GdiHandles.h"

namespace {

const char kMsImg32[] = "msimg32.dll";
constexpr uint32_t kFull = 255 * 255;

template <typename Function>
Function Lookup(const char* name) {
  return SystemFunction<Function>(kMsImg32, name);
}

BYTE Channel(uint32_t pixel, int shift) { return static_cast<BYTE>(pixel >> shift); }

// One channel of source over destination: source × constant + destination × (1 - weight).
uint32_t BlendChannel(uint32_t source, uint32_t destination, uint32_t constant, uint32_t weight) {
  uint32_t value = (source * constant * 255 + destination * (kFull - weight)) / kFull;
  return value > 255 ? 255 : value;
}

void BlendPixels(const uint32_t* source, uint32_t* destination, int count, const BLENDFUNCTION& blend) {
  uint32_t constant = blend.SourceConstantAlpha;
  bool perPixel = (blend.AlphaFormat & AC_SRC_ALPHA) != 0;
  for (int i = 0; i < count; ++i) {
    uint32_t s = source[i], d = destination[i];
    uint32_t weight = (perPixel ? Channel(s, 24) : 255) * constant;  // source alpha × constant, of 255²
    uint32_t out = 0;
    for (int shift = 0; shift <= 24; shift += 8) {
      out |= BlendChannel(Channel(s, shift), Channel(d, shift), constant, weight) << shift;
    }
    destination[i] = out;
  }
}

}  // namespace

AlphaBlendFunction BlendFunction() {
  static AlphaBlendFunction function = [] {
    AlphaBlendFunction found = Lookup<AlphaBlendFunction>("AlphaBlend");
    return found ? found : SoftwareAlphaBlend;
  }();
  return function;
}

GradientFillFunction GradientFunction() {
  static GradientFillFunction function = Lookup<GradientFillFunction>("GradientFill");
  return function;
}

TransparentBltFunction TransparentFunction() {
  static TransparentBltFunction function = Lookup<TransparentBltFunction>("TransparentBlt");
  return function;
}

BLENDFUNCTION SkinBlend(BYTE fade) { return {AC_SRC_OVER, 0, fade, AC_SRC_ALPHA}; }

BOOL WINAPI SoftwareAlphaBlend(HDC target, int x, int y, int cx, int cy, HDC source, int sourceX, int sourceY,
                               int sourceCx, int sourceCy, BLENDFUNCTION blend) {
  if (cx <= 0 || cy <= 0) return FALSE;
  CMemoryDC dc(CreateCompatibleDC(target));
  uint32_t* sourceBits = nullptr;
  uint32_t* targetBits = nullptr;
  CBitmapHandle sourceDib(CreateTopDownDib(cx, cy, &sourceBits));
  CBitmapHandle targetDib(CreateTopDownDib(cx, cy, &targetBits));
  if (!dc.IsValid() || !sourceDib.IsValid() || !targetDib.IsValid()) return FALSE;
  {
    CSelection selected(dc.Get(), sourceDib.Get());
    SetStretchBltMode(dc.Get(), COLORONCOLOR);
    StretchBlt(dc.Get(), 0, 0, cx, cy, source, sourceX, sourceY, sourceCx, sourceCy, SRCCOPY);
  }
  CSelection selected(dc.Get(), targetDib.Get());
  BitBlt(dc.Get(), 0, 0, cx, cy, target, x, y, SRCCOPY);
  GdiFlush();
  BlendPixels(sourceBits, targetBits, cx * cy, blend);
  return BitBlt(target, x, y, cx, cy, dc.Get(), 0, 0, SRCCOPY);
}
