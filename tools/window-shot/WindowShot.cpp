// Saves what a window shows as a PNG: waits for a visible top-level window of the given class,
// lets it run for a moment, then copies its rectangle from the screen.
// Usage: window-shot CLASS OUT.png [DELAY_MS] [TIMEOUT_MS]
// Exit codes: 0 saved, 1 no such window in time or nothing written, 2 usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/ScopedHandle.h"
#include "ui/draw/GdiHandles.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

constexpr DWORD kPollMs = 50;

HWND WaitForWindow(const char* className, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += kPollMs) {
    HWND window = FindWindowA(className, nullptr);
    if (window && IsWindowVisible(window)) return window;
    Sleep(kPollMs);
  }
  return nullptr;
}

// The window's pixels as the screen shows them, as tightly packed RGB rows.
bool Capture(HWND window, int* width, int* height, std::vector<unsigned char>& rgb) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  *width = rect.right - rect.left;
  *height = rect.bottom - rect.top;
  if (*width <= 0 || *height <= 0) return false;
  CWindowDC screen(nullptr);
  CMemoryDC memory(CreateCompatibleDC(screen.Get()));
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), *width, -*height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  CBitmapHandle bitmap(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap.IsValid() || !bits) return false;
  CSelection selected(memory.Get(), bitmap.Get());
  if (!BitBlt(memory.Get(), 0, 0, *width, *height, screen.Get(), rect.left, rect.top, SRCCOPY)) return false;
  GdiFlush();
  const unsigned char* bgra = static_cast<const unsigned char*>(bits);
  rgb.resize(static_cast<size_t>(*width) * *height * 3);
  for (size_t i = 0, count = static_cast<size_t>(*width) * *height; i < count; ++i) {
    rgb[i * 3] = bgra[i * 4 + 2];
    rgb[i * 3 + 1] = bgra[i * 4 + 1];
    rgb[i * 3 + 2] = bgra[i * 4];
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    fprintf(stderr, "usage: window-shot CLASS OUT.png [DELAY_MS] [TIMEOUT_MS]\n");
    return 2;
  }
  DWORD delayMs = argc > 3 ? strtoul(argv[3], nullptr, 10) : 0;
  DWORD timeoutMs = argc > 4 ? strtoul(argv[4], nullptr, 10) : 30000;
  HWND window = WaitForWindow(argv[1], timeoutMs);
  if (!window) {
    fprintf(stderr, "window-shot: no visible window of class %s\n", argv[1]);
    return 1;
  }
  Sleep(delayMs);
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  if (!Capture(window, &width, &height, rgb) || !stbi_write_png(argv[2], width, height, 3, rgb.data(), width * 3)) {
    fprintf(stderr, "window-shot: could not save %s\n", argv[2]);
    return 1;
  }
  printf("saved %s (%dx%d)\n", argv[2], width, height);
  return 0;
}
