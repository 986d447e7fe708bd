#include "ui/draw/ImageAttributes.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "ui/draw/BitmapGrid.h"
#include "ui/draw/ImageStore.h"

namespace {

constexpr char kTrue[] = "true";

bool IsBlank(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 0x01 && byte <= 0x20;
}

// Key bytes: above 0x20 read as signed, so bytes 0x80 and above end a key as well.
bool IsKeyByte(char c) { return static_cast<signed char>(c) > 0x20 && c != '='; }

const char* SkipBlanks(const char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

// Numbers of rectangles are held to ±2^24: far beyond any screen, while sums of a few of them
// (item plus offset, a width less two insets) stay well inside an int.
constexpr long kMaxNumber = 1L << 24;

// Four decimal numbers, each starting one byte after the previous one ended; missing ones are 0.
RECT ReadFour(const char* text) {
  LONG numbers[4] = {};
  const char* p = text;
  for (LONG& number : numbers) {
    if (!p) break;
    char* end = nullptr;
    number = std::clamp(strtol(p, &end, 10), -kMaxNumber, kMaxNumber);
    p = *end ? end + 1 : nullptr;
  }
  return {numbers[0], numbers[1], numbers[2], numbers[3]};
}

// An item coordinate moved by an offset, saturating at the ends of the LONG range.
LONG Offset(LONG base, LONG offset) {
  return static_cast<LONG>(std::clamp<long long>(static_cast<long long>(base) + offset, LONG_MIN, LONG_MAX));
}

bool IsZero(const RECT& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

// One parse over the image string and the modify string; each file, res or restype key after
// the first of its pass draws the image pending until then.
class CAttributeParser {
public:
  CAttributeParser(HDC dc, const RECT& item, const RECT& paint, const char* image, CImageStore* store)
      : m_dc(dc), m_item(item), m_paint(paint), m_store(store) {
    m_state.name = image;
    m_state.dest = item;
  }

  void Pass(const char* text) {
    if (!text) return;
    m_counter = 0;
    const char* p = text;
    std::string key, value;
    while (*p && ReadPair(p, key, value)) {
      Apply(key, value);
      if (*p != ' ') break;
      ++p;
    }
  }

  void DrawPending() { DrawNamedImage(m_dc, m_item, m_paint, m_state, m_store); }

private:
  // key='value' at p; p then points just after the closing quote.
  static bool ReadPair(const char*& p, std::string& key, std::string& value) {
    const char* start = SkipBlanks(p);
    const char* end = start;
    while (IsKeyByte(*end)) ++end;
    key.assign(start, end);
    end = SkipBlanks(end);
    if (*end != '=') return false;
    end = SkipBlanks(end + 1);
    if (*end != '\'') return false;
    const char* valueStart = end + 1;
    // Character by character in the ANSI code page: a trail byte never ends the value.
    const char* q = valueStart;
    while (*q && *q != '\'') q = CharNextA(q);
    if (*q != '\'') return false;
    value.assign(valueStart, q);
    p = q + 1;
    return true;
  }

  void StartImage() {
    if (m_counter > 0) DrawPending();
    ++m_counter;
  }

  void Apply(const std::string& key, const std::string& value) {
    if (value.empty()) return;
    const char* text = value.c_str();
    if (key == "file" || key == "res") {
      StartImage();
      m_state.name = value;
    } else if (key == "restype") {
      StartImage();
      m_state.resourceType = value;
    } else if (key == "dest") {
      RECT n = ReadFour(text);
      m_state.dest = {Offset(m_item.left, n.left), Offset(m_item.top, n.top),
                      std::min(Offset(m_item.left, n.right), m_item.right),
                      std::min(Offset(m_item.top, n.bottom), m_item.bottom)};
    } else if (key == "source") {
      m_state.source = ReadFour(text);
    } else if (key == "corner") {
      m_state.corner = ReadFour(text);
    } else if (key == "mask") {
      m_state.mask = strtoul(text[0] == '#' ? text + 1 : text, nullptr, 16);
    } else if (key == "fade") {
      m_state.fade = static_cast<BYTE>(strtol(text, nullptr, 10));
    } else if (key == "hole") {
      m_state.hole = value == kTrue;
    } else if (key == "xtiled") {
      m_state.xTiled = value == kTrue;
    } else if (key == "ytiled") {
      m_state.yTiled = value == kTrue;
    }
  }

  HDC m_dc;
  RECT m_item;
  RECT m_paint;
  CImageStore* m_store;
  ImageAttributes m_state;
  int m_counter = 0;
};

}  // namespace

bool DrawSkinImage(HDC dc, const RECT& item, const RECT& paint, const char* image, const char* modify,
                   CImageStore* store) {
  if (!image) return true;
  CAttributeParser parser(dc, item, paint, image, store);
  parser.Pass(image);
  parser.Pass(modify);
  parser.DrawPending();
  return true;
}

bool DrawNamedImage(HDC dc, const RECT& item, const RECT& paint, const ImageAttributes& attributes,
                    CImageStore* store) {
  CImageStore* images = store ? store : GetImageStore();
  const char* type = attributes.resourceType.empty() ? nullptr : attributes.resourceType.c_str();
  const SkinImage* image = images->FindImage(attributes.name.c_str(), type, attributes.mask);
  if (!image) return false;
  DrawImageRecord(*image, dc, item, paint, attributes);
  return true;
}

void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& item, const RECT& paint,
                     const ImageAttributes& attributes) {
  RECT source = IsZero(attributes.source) ? RECT{0, 0, image.width, image.height} : attributes.source;
  source.right = std::min<LONG>(source.right, image.width);
  source.bottom = std::min<LONG>(source.bottom, image.height);
  RECT met;
  if (!IntersectRect(&met, &attributes.dest, &item) || !IntersectRect(&met, &attributes.dest, &paint)) return;
  GridParams grid = {attributes.dest,  paint,           source,          attributes.corner,
                     image.hasAlpha,   attributes.fade, attributes.hole, attributes.xTiled,
                     attributes.yTiled};
  DrawBitmapGrid(dc, image.bitmap.Get(), grid);
}

void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& dest) {
  ImageAttributes attributes;
  attributes.dest = dest;
  DrawImageRecord(image, dc, dest, dest, attributes);
}

void DrawImageRecord(const SkinImage& image, HDC dc, int x, int y, int cx, int cy) {
  DrawImageRecord(image, dc, RECT{x, y, x + cx, y + cy});
}

void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& dest, const RECT& source) {
  ImageAttributes attributes;
  attributes.dest = dest;
  attributes.source = source;
  DrawImageRecord(image, dc, dest, dest, attributes);
}

void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& dest, BYTE fade) {
  ImageAttributes attributes;
  attributes.dest = dest;
  attributes.fade = fade;
  DrawImageRecord(image, dc, dest, dest, attributes);
}

bool CImageStore::DrawSkinImage(HDC dc, const RECT& item, const RECT& paint, const char* image, const char* modify) {
  return ::DrawSkinImage(dc, item, paint, image, modify, this);
}
