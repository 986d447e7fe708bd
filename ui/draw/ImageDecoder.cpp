#include "ui/draw/ImageDecoder.h"

#include <memory>

// Skins are PNG files; the other decoders are attack surface we do not need. The size limit is
// checked up front below, and stb_image holds its own reading to it too.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_MAX_DIMENSIONS kMaxImageSide
#include <stb_image.h>

#include "ui/draw/DibSection.h"

namespace {

struct StbiFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
using CStbiPixels = std::unique_ptr<stbi_uc, StbiFree>;

constexpr int kChannels = 4;  // R, G, B, A bytes per decoded pixel

// Converts R, G, B, A bytes into premultiplied pixels; true when any pixel is not opaque or masked.
bool ConvertPixels(const stbi_uc* rgba, int count, uint32_t mask, uint32_t* out) {
  bool hasAlpha = false;
  for (int i = 0; i < count; ++i, rgba += kChannels) {
    uint32_t pixel = PremultipliedPixel(rgba[3], rgba[0], rgba[1], rgba[2]);
    if (rgba[3] != 255) hasAlpha = true;
    if (pixel == mask) {
      pixel = 0;
      hasAlpha = true;
    }
    out[i] = pixel;
  }
  return hasAlpha;
}

// Read from the header alone, so an oversized image is refused before any pixel memory.
bool HasAllowedSize(const BYTE* bytes, int length) {
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(bytes, length, &width, &height, &channels)) return false;
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide;
}

}  // namespace

bool DecodeImage(const BYTE* bytes, int length, uint32_t mask, DecodedImage& out) {
  if (!bytes || length <= 0 || !HasAllowedSize(bytes, length)) return false;
  int width = 0, height = 0, channels = 0;
  CStbiPixels rgba(stbi_load_from_memory(bytes, length, &width, &height, &channels, kChannels));
  if (!rgba) return false;
  uint32_t* pixels = nullptr;
  CBitmapHandle bitmap(CreateTopDownDib(width, height, &pixels));
  if (!bitmap.IsValid()) return false;
  out.hasAlpha = ConvertPixels(rgba.get(), width * height, mask, pixels);
  out.bitmap = std::move(bitmap);
  out.width = width;
  out.height = height;
  return true;
}

HBITMAP DecodeToDib(const BYTE* bytes, int length, uint32_t mask) {
  DecodedImage image;
  if (!DecodeImage(bytes, length, mask, image)) return nullptr;
  return image.bitmap.Release();
}
