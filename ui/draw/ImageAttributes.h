// Skin images described by image-attribute strings: pairs key='value' separated by single spaces,
// e.g. "file='frame.png' dest='0,0,100,30' corner='4,4,4,4' fade='200'". A bare name such as
// "close.png" draws that image over the whole item rectangle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CImageStore;
struct SkinImage;

// What one image is drawn with. Rectangles are in target coordinates except `source` and
// `corner` (image pixels); a source of all zeros means the whole image.
struct ImageAttributes {
  std::string name;
  std::string resourceType;  // when not empty, the name is a numeric resource identifier
  RECT dest = {};
  RECT source = {};
  RECT corner = {};
  uint32_t mask = 0;  // 0xAARRGGBB made transparent when the image is first loaded
  BYTE fade = 255;
  bool hole = false;
  bool xTiled = false;
  bool yTiled = false;
};

// Parses the image string, then the modify string (may be null), and draws every image they
// name; attributes carry over from one image to the next. Images come from `store`, or from the
// process-wide store when it is null. A malformed string ends the parse at its first fault, and
// what was parsed so far is still drawn. Returns true.
bool DrawSkinImage(HDC dc, const RECT& item, const RECT& paint, const char* image, const char* modify,
                   CImageStore* store = nullptr);

// One image by name; false when the store cannot provide it. It is drawn only where its
// destination meets both the item and the paint rectangle, and the paint rectangle clips.
bool DrawNamedImage(HDC dc, const RECT& item, const RECT& paint, const ImageAttributes& attributes,
                    CImageStore* store = nullptr);

// The same drawing for an image already at hand.
void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& item, const RECT& paint,
                     const ImageAttributes& attributes);
void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& dest);
void DrawImageRecord(const SkinImage& image, HDC dc, int x, int y, int cx, int cy);
void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& dest, const RECT& source);
void DrawImageRecord(const SkinImage& image, HDC dc, const RECT& dest, BYTE fade);
