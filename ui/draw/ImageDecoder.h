// Skin PNG images decoded with stb_image into premultiplied, top-down 32-bit DIB sections.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/draw/GdiHandles.h"

// The longest side accepted. Skin images are far smaller; the limit bounds what a hostile file can
// make us allocate (64 MiB of pixels, twice: the decoded bytes and the bitmap).
constexpr int kMaxImageSide = 4096;

struct DecodedImage {
  CBitmapHandle bitmap;
  int width = 0;
  int height = 0;
  bool hasAlpha = false;  // some pixel is not fully opaque, or was masked
};

// Decodes PNG bytes, at most kMaxImageSide pixels each way. A pixel equal to `mask` (0xAARRGGBB, after
// premultiplication) becomes transparent black. False, with nothing in `out`, on any failure.
bool DecodeImage(const BYTE* bytes, int length, uint32_t mask, DecodedImage& out);

// The same decoding for callers that need only the bitmap, which they then own.
HBITMAP DecodeToDib(const BYTE* bytes, int length, uint32_t mask);
