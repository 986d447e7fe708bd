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

constexpr DWORD kBoxWaitMs = 20000;
constexpr DWORD kPollMs = 50;
constexpr int kMessageBoxTextId = 0xFFFF;

void AppendToBuffer(void* context, void* data, int size) { static_cast<CByteBuffer*>(context)->Append(data, size); }

std::vector<BYTE> ToBytes(const std::vector<uint32_t>& pixels, bool withAlpha) {
  std::vector<BYTE> bytes;
  for (uint32_t p : pixels) {
    bytes.insert(bytes.end(), {static_cast<BYTE>(p >> 16), static_cast<BYTE>(p >> 8), static_cast<BYTE>(p)});
    if (withAlpha) bytes.push_back(static_cast<BYTE>(p >> 24));
  }
  return bytes;
}

template <typename T>
void Put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

std::string IconBitmap(const IconImage& image) {
  std::string bytes;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = image.size;
  header.biHeight = image.size * 2;  // colour rows and mask rows
  header.biPlanes = 1;
  header.biBitCount = 32;
  Put(bytes, header);
  for (int i = 0; i < image.size * image.size; ++i) Put<uint32_t>(bytes, 0xFF000000 | image.rgb);
  int maskRow = ((image.size + 31) / 32) * 4;
  bytes.append(static_cast<size_t>(maskRow) * image.size, '\0');
  return bytes;
}

struct Search {
  DWORD process;
  const std::string* caption;
  HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  Search* search = reinterpret_cast<Search*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[32] = {}, caption[256] = {};
  GetClassNameA(window, className, sizeof(className));
  GetWindowTextA(window, caption, sizeof(caption));
  if (process == search->process && IsWindowVisible(window) && strcmp(className, "#32770") == 0 &&
      *search->caption == caption) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

CByteBuffer MakePng(int width, int height, const std::vector<uint32_t>& pixels) {
  std::vector<BYTE> rgba = ToBytes(pixels, true);
  CByteBuffer png;
  stbi_write_png_to_func(AppendToBuffer, &png, width, height, 4, rgba.data(), width * 4);
  return png;
}

CByteBuffer SolidPng(int width, int height, uint32_t argb) {
  return MakePng(width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, argb));
}

CByteBuffer MakeIcon(const std::vector<IconImage>& images) {
  std::string directory, data;
  Put<WORD>(directory, 0);
  Put<WORD>(directory, 1);
  Put<WORD>(directory, static_cast<WORD>(images.size()));
  size_t offset = 6 + 16 * images.size();
  for (const IconImage& image : images) {
    std::string bitmap = IconBitmap(image);
    Put<BYTE>(directory, static_cast<BYTE>(image.size));
    Put<BYTE>(directory, static_cast<BYTE>(image.size));
    Put<WORD>(directory, 0);  // colour count, reserved
    Put<WORD>(directory, 1);
    Put<WORD>(directory, 32);
    Put<DWORD>(directory, static_cast<DWORD>(bitmap.size()));
    Put<DWORD>(directory, static_cast<DWORD>(offset + data.size()));
    data += bitmap;
  }
  return Bytes(directory + data);
}

CPixelSurface::CPixelSurface(int width, int height, uint32_t fill)
    : m_width(width),
      m_height(height),
      m_bitmap(CreateTopDownDib(width, height, &m_pixels)),
      m_dc(CreateCompatibleDC(nullptr)) {
  SelectObject(m_dc.Get(), m_bitmap.Get());  // the DC is deleted first, then the bitmap
  for (int i = 0; i < width * height; ++i) m_pixels[i] = fill;
}

uint32_t CPixelSurface::At(int x, int y) const {
  GdiFlush();
  return m_pixels[y * m_width + x];
}

void CPixelSurface::Set(int x, int y, uint32_t pixel) {
  GdiFlush();
  m_pixels[y * m_width + x] = pixel;
}

bool Near(uint32_t actual, uint32_t expected, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    int a = (actual >> shift) & 0xFF, e = (expected >> shift) & 0xFF;
    if (abs(a - e) > tolerance) return false;
  }
  return true;
}

std::vector<uint32_t> CaptureScreen(const RECT& rect) {
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  CPixelSurface surface(width, height, 0);
  CWindowDC screen(nullptr);
  BitBlt(surface.Dc(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY);
  std::vector<uint32_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels.push_back(Rgb(surface.At(x, y)));
  }
  return pixels;
}

bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& rgb) {
  std::vector<BYTE> bytes = ToBytes(rgb, false);
  CByteBuffer png;
  stbi_write_png_to_func(AppendToBuffer, &png, width, height, 3, bytes.data(), width * 3);
  return !png.IsEmpty() && png.WriteToFile(path.c_str(), false) == png.Length();
}

CBoxAnswerer::CBoxAnswerer(const std::string& caption, int button)
    : m_caption(caption), m_button(button), m_thread(&CBoxAnswerer::Run, this) {}

CBoxAnswerer::~CBoxAnswerer() {
  if (m_thread.joinable()) m_thread.join();
}

bool CBoxAnswerer::Wait() {
  if (m_thread.joinable()) m_thread.join();
  return m_found;
}

void CBoxAnswerer::Run() {
  Search search = {GetCurrentProcessId(), &m_caption, nullptr};
  for (DWORD waited = 0; !search.found && waited < kBoxWaitMs; waited += kPollMs) {
    Sleep(kPollMs);
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
  }
  if (!search.found) return;
  HWND box = search.found;
  owner = GetWindow(box, GW_OWNER);
  GetWindowRect(box, &rect);
  char buffer[1024] = {};
  GetDlgItemTextA(box, kMessageBoxTextId, buffer, sizeof(buffer));
  text = buffer;
  m_found = true;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(m_button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, m_button)));
}

RECT WorkArea() {
  RECT area = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

POINT CentreOf(const RECT& rect) { return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

unsigned long RunDisabledTest(const std::string& fullName) {
  size_t split = fullName.find('.');
  std::string filter = fullName.substr(0, split) + ".DISABLED_" + fullName.substr(split + 1);
  return RunProgram("\"" + ExecutablePath() + "\" --gtest_also_run_disabled_tests --gtest_filter=" + filter);
}
