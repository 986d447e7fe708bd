// Helpers of the window and drawing tests: images made in memory, pixels read back, message
// boxes of this process answered.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/ByteBuffer.h"
#include "ui/draw/GdiHandles.h"

constexpr uint32_t Rgb(uint32_t pixel) { return pixel & 0xFFFFFF; }
constexpr uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }
// Colours equal within `tolerance` per channel, alpha ignored (blends round differently).
bool Near(uint32_t actual, uint32_t expected, int tolerance = 2);

// 8-bit RGBA PNG of straight 0xAARRGGBB pixels, row by row; and of one colour.
CByteBuffer MakePng(int width, int height, const std::vector<uint32_t>& pixels);
CByteBuffer SolidPng(int width, int height, uint32_t argb);
// An .ico file of opaque 32-bit images, {size, 0xRRGGBB} each.
CByteBuffer MakeIcon(const std::vector<std::pair<int, uint32_t>>& images);
bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& rgb);

// A 32-bit top-down DIB selected into a memory DC, its pixels read and written directly.
class CPixelSurface {
public:
  CPixelSurface(int width, int height, uint32_t fill);
  HDC Dc() const { return m_dc.Get(); }
  uint32_t At(int x, int y) const;
  void Set(int x, int y, uint32_t pixel);

private:
  int m_width;
  uint32_t* m_pixels = nullptr;
  CBitmapHandle m_bitmap;
  CMemoryDC m_dc;
};

// A screen rectangle's pixels (0x00RRGGBB, row by row), captured again until `accept` likes them
// or three seconds pass.
std::vector<uint32_t> CaptureScreen(const RECT& rect, const std::function<bool(const std::vector<uint32_t>&)>& accept);

// A visible box of this process with the caption, waited for up to 20 s; null when none came.
HWND WaitForBox(const std::string& caption);

// On its own thread, waits for a visible box of this process with the caption, notes its owner,
// rectangle and text, and presses `button` by message.
struct BoxSeen {
  bool found = false;
  HWND owner = nullptr;
  RECT rect = {};
  std::string text;
};
class CBoxAnswerer {
public:
  CBoxAnswerer(const std::string& caption, int button);
  ~CBoxAnswerer() { Wait(); }
  const BoxSeen& Wait();

private:
  BoxSeen m_seen;
  std::thread m_thread;
};

RECT WorkArea();
// Runs this program again with only the named disabled test ("Suite.Name"); its exit code.
unsigned long RunDisabledTest(const std::string& suite, const std::string& name);
