#include "UiTestSupport.h"

#include <cstdlib>
#include <cstring>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#include "TestSupport.h"
#include "base/Path.h"
#include "ui/draw/DibSection.h"

namespace {

void AppendTo(void* buffer, void* data, int size) { static_cast<CByteBuffer*>(buffer)->Append(data, size); }

CByteBuffer EncodePng(int width, int height, const std::vector<uint32_t>& pixels, int channels) {
  std::vector<BYTE> bytes;
  for (uint32_t p : pixels) {
    for (int shift : {16, 8, 0, 24}) bytes.push_back(static_cast<BYTE>(p >> shift));
    bytes.resize(bytes.size() - 4 + channels);
  }
  CByteBuffer png;
  stbi_write_png_to_func(AppendTo, &png, width, height, channels, bytes.data(), width * channels);
  return png;
}

template <typename T>
void Put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

}  // namespace

bool Near(uint32_t actual, uint32_t expected, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    if (abs(static_cast<int>((actual >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF)) > tolerance) {
      return false;
    }
  }
  return true;
}

CByteBuffer MakePng(int width, int height, const std::vector<uint32_t>& pixels) {
  return EncodePng(width, height, pixels, 4);
}

CByteBuffer SolidPng(int width, int height, uint32_t argb) {
  return MakePng(width, height, std::vector<uint32_t>(width * height, argb));
}

bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& rgb) {
  CByteBuffer png = EncodePng(width, height, rgb, 3);
  return !png.IsEmpty() && png.WriteToFile(path.c_str(), false) == png.Length();
}

CByteBuffer MakeIcon(const std::vector<std::pair<int, uint32_t>>& images) {
  std::string directory, data;
  for (WORD field : {0, 1, static_cast<int>(images.size())}) Put<WORD>(directory, field);
  for (const auto& [size, rgb] : images) {
    std::string bitmap;
    BITMAPINFOHEADER header = {sizeof(header), size, size * 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};  // colours, then mask
    Put(bitmap, header);
    for (int i = 0; i < size * size; ++i) Put<uint32_t>(bitmap, 0xFF000000 | rgb);
    bitmap.append((size + 31) / 32 * 4 * size, '\0');
    for (BYTE field : {size, size, 0, 0}) Put(directory, field);
    for (WORD field : {1, 32}) Put(directory, field);
    Put<DWORD>(directory, bitmap.size());
    Put<DWORD>(directory, 6 + 16 * images.size() + data.size());
    data += bitmap;
  }
  return Bytes(directory + data);
}

CPixelSurface::CPixelSurface(int width, int height, uint32_t fill)
    : m_width(width), m_bitmap(CreateTopDownDib(width, height, &m_pixels)), m_dc(CreateCompatibleDC(nullptr)) {
  SelectObject(m_dc.Get(), m_bitmap.Get());  // the DC goes first, then the bitmap
  std::fill(m_pixels, m_pixels + width * height, fill);
}

uint32_t CPixelSurface::At(int x, int y) const {
  GdiFlush();
  return m_pixels[y * m_width + x];
}

void CPixelSurface::Set(int x, int y, uint32_t pixel) {
  GdiFlush();
  m_pixels[y * m_width + x] = pixel;
}

std::vector<uint32_t> CaptureScreen(const RECT& rect, const std::function<bool(const std::vector<uint32_t>&)>& accept) {
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  std::vector<uint32_t> pixels;
  for (int waited = 0; waited <= 3000 && (pixels.empty() || !accept(pixels)); waited += 50) {
    if (waited) Sleep(50);
    CPixelSurface surface(width, height, 0);
    CWindowDC screen(nullptr);
    BitBlt(surface.Dc(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY);
    pixels.clear();
    for (int i = 0; i < width * height; ++i) pixels.push_back(Rgb(surface.At(i % width, i / width)));
  }
  return pixels;
}

HWND WaitForBox(const std::string& caption) {
  return WaitForWindowOf(GetCurrentProcessId(), "#32770", caption.c_str(), 20000);
}

CBoxAnswerer::CBoxAnswerer(const std::string& caption, int button)
    : m_thread([this, caption, button] {
        HWND box = WaitForBox(caption);
        if (!box) return;
        char text[1024] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));  // a message box's text
        m_seen = {true, GetWindow(box, GW_OWNER), {}, text};
        GetWindowRect(box, &m_seen.rect);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      }) {}

const BoxSeen& CBoxAnswerer::Wait() {
  if (m_thread.joinable()) m_thread.join();
  return m_seen;
}

RECT WorkArea() {
  RECT area = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

unsigned long RunDisabledTest(const std::string& suite, const std::string& name) {
  return RunProgram("\"" + ExecutablePath() + "\" --gtest_also_run_disabled_tests --gtest_filter=" + suite +
                    ".DISABLED_" + name);
}
