// Helpers of the window and drawing tests: images made in memory, pixels read back, message
// boxes of this process found and answered.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "base/ByteBuffer.h"
#include "ui/draw/GdiHandles.h"

// 0x00RRGGBB of a pixel (its alpha byte dropped) and a colour made from parts.
constexpr uint32_t Rgb(uint32_t pixel) { return pixel & 0xFFFFFF; }
constexpr uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

// A PNG (8-bit RGBA) of `width` × `height` pixels given row by row as straight 0xAARRGGBB.
CByteBuffer MakePng(int width, int height, const std::vector<uint32_t>& pixels);
CByteBuffer SolidPng(int width, int height, uint32_t argb);

// An .ico file with one 32-bit image per entry, each filled with one opaque colour.
struct IconImage {
  int size;
  uint32_t rgb;
};
CByteBuffer MakeIcon(const std::vector<IconImage>& images);

// A 32-bit top-down DIB selected into a memory DC: a drawing target whose pixels are read directly.
class CPixelSurface {
public:
  CPixelSurface(int width, int height, uint32_t fill);
  HDC Dc() const { return m_dc.Get(); }
  uint32_t At(int x, int y) const;  // 0xAARRGGBB as stored
  void Set(int x, int y, uint32_t pixel);
  int Width() const { return m_width; }
  int Height() const { return m_height; }

private:
  int m_width, m_height;
  uint32_t* m_pixels = nullptr;
  CBitmapHandle m_bitmap;
  CMemoryDC m_dc;
};

// Colours equal within `tolerance` per channel (blends round differently on each system).
bool Near(uint32_t actual, uint32_t expected, int tolerance = 2);

// The pixels of a screen rectangle, row by row, as 0x00RRGGBB.
std::vector<uint32_t> CaptureScreen(const RECT& rect);
// Polls the screen until `accept` likes the capture or `timeoutMs` passes; the last capture.
template <typename Predicate>
std::vector<uint32_t> CaptureScreenUntil(const RECT& rect, Predicate accept, DWORD timeoutMs = 3000) {
  std::vector<uint32_t> pixels = CaptureScreen(rect);
  for (DWORD waited = 0; !accept(pixels) && waited < timeoutMs; waited += 50) {
    Sleep(50);
    pixels = CaptureScreen(rect);
  }
  return pixels;
}
bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& rgb);

// Waits on its own thread for a visible message box of this process with the caption, notes
// what it shows, and presses `button` by message.
class CBoxAnswerer {
public:
  CBoxAnswerer(const std::string& caption, int button);
  ~CBoxAnswerer();
  bool Wait();  // joins; true when the box was found and pressed

  HWND owner = nullptr;
  RECT rect = {};
  std::string text;

private:
  void Run();

  std::string m_caption;
  int m_button;
  std::atomic<bool> m_found{false};
  std::thread m_thread;
};

// The work area and a rectangle's centre.
RECT WorkArea();
POINT CentreOf(const RECT& rect);

// Runs this test program again with only the named disabled test of a suite; its exit code.
unsigned long RunDisabledTest(const std::string& fullName);
