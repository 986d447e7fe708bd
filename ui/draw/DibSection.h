// 32-bit DIB sections: the pixel format of decoded images and of every blend.
#pragma once

#include <windows.h>

#include <cstdint>

// Premultiplied 0xAARRGGBB from straight alpha and colour: what AlphaBlend expects per pixel.
uint32_t PremultipliedPixel(BYTE alpha, BYTE red, BYTE green, BYTE blue);

// Sets every pixel's alpha byte to 0xFF: GDI drawing leaves it at 0, the blends read it.
void SetOpaqueAlpha(uint32_t* pixels, int count);

// A top-down 32-bit BI_RGB DIB section; `bits` receives its pixels (rows of 0xAARRGGBB values).
HBITMAP CreateTopDownDib(int width, int height, uint32_t** bits);
