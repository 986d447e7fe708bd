#include "ui/draw/DibSection.h"

uint32_t PremultipliedPixel(BYTE alpha, BYTE red, BYTE green, BYTE blue) {
  if (alpha != 255) {
    red = static_cast<BYTE>(red * alpha / 255);
    green = static_cast<BYTE>(green * alpha / 255);
    blue = static_cast<BYTE>(blue * alpha / 255);
  }
  return static_cast<uint32_t>(alpha) << 24 | static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 |
         blue;
}

HBITMAP CreateTopDownDib(int width, int height, uint32_t** bits) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bits) *bits = bitmap ? static_cast<uint32_t*>(pixels) : nullptr;
  return bitmap;
}

void SetOpaqueAlpha(uint32_t* pixels, int count) {
  for (int i = 0; i < count; ++i) pixels[i] |= 0xFF000000;
}
