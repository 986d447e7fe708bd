#include "ui/draw/BitmapGrid.h"

#include "ui/draw/AlphaBlend.h"
#include "ui/draw/GdiHandles.h"

namespace {

struct Box {
  int x, y, w, h;
};

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// Copies boxes of the selected bitmap to the target: blended, or opaque (stretched or 1:1).
class CGridPainter {
public:
  CGridPainter(HDC target, HDC source, const GridSpec& spec)
      : m_target(target),
        m_source(source),
        m_clip(spec.clip),
        m_blended(spec.hasAlpha || spec.fade != 255),
        m_blend(SkinBlend(spec.fade)) {}

  bool Blended() const { return m_blended; }

  // Drawn whole when it meets the clip rectangle; `exact` marks pieces of the source's own size.
  void Draw(const Box& to, const Box& from, bool exact = false) const {
    RECT box = {to.x, to.y, to.x + to.w, to.y + to.h};
    RECT met;
    if (to.w <= 0 || to.h <= 0 || from.w <= 0 || from.h <= 0 || !IntersectRect(&met, &box, &m_clip)) return;
    if (m_blended) {
      BlendFunction()(m_target, to.x, to.y, to.w, to.h, m_source, from.x, from.y, from.w, from.h, m_blend);
    } else if (exact) {
      BitBlt(m_target, to.x, to.y, to.w, to.h, m_source, from.x, from.y, SRCCOPY);
    } else {
      StretchBlt(m_target, to.x, to.y, to.w, to.h, m_source, from.x, from.y, from.w, from.h, SRCCOPY);
    }
  }

  // The part of an unscaled image that lies inside the clip rectangle.
  void CopyClipped(const RECT& dest, const RECT& source) const {
    RECT part;
    if (!IntersectRect(&part, &dest, &m_clip)) return;
    BitBlt(m_target, part.left, part.top, Width(part), Height(part), m_source, source.left + part.left - dest.left,
           source.top + part.top - dest.top, SRCCOPY);
  }

private:
  HDC m_target;
  HDC m_source;
  RECT m_clip;
  bool m_blended;
  BLENDFUNCTION m_blend;
};

// Tiles of one axis: count, and the extent of tile i cropped at the end (never squeezed).
int TileCount(int extent, int tile) { return tile > 0 && extent > 0 ? (extent + tile - 1) / tile : 0; }
int TileExtent(int start, int tile, int end) { return start + tile > end ? end - start : tile; }

void DrawTiledCentre(const CGridPainter& painter, const GridSpec& spec, const Box& centre, const Box& from) {
  int endX = centre.x + centre.w, endY = centre.y + centre.h;
  int columns = spec.xTiled ? TileCount(centre.w, from.w) : 1;
  int rows = spec.yTiled ? TileCount(centre.h, from.h) : 1;
  // Only tiles cut on both axes are copied 1:1; a single tiled axis still stretches the other.
  bool exact = spec.xTiled && spec.yTiled;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      Box to = centre;
      Box part = from;
      if (spec.xTiled) {
        to.x = centre.x + j * from.w;
        to.w = part.w = TileExtent(to.x, from.w, endX);
      }
      if (spec.yTiled) {
        to.y = centre.y + i * from.h;
        to.h = part.h = TileExtent(to.y, from.h, endY);
      }
      painter.Draw(to, part, exact);
    }
  }
}

void DrawNineGrid(const CGridPainter& painter, const GridSpec& spec) {
  const RECT &d = spec.dest, &s = spec.source, &c = spec.corner;
  int dw = Width(d) - c.left - c.right, dh = Height(d) - c.top - c.bottom;
  int sw = Width(s) - c.left - c.right, sh = Height(s) - c.top - c.bottom;
  Box centre = {d.left + c.left, d.top + c.top, dw, dh};
  Box centreSource = {s.left + c.left, s.top + c.top, sw, sh};
  if (!spec.hole) {
    if (spec.xTiled || spec.yTiled) {
      DrawTiledCentre(painter, spec, centre, centreSource);
    } else {
      painter.Draw(centre, centreSource);
    }
  }
  // Corners are copied 1:1, edges stretched along their length.
  if (c.left > 0 && c.top > 0) painter.Draw({d.left, d.top, c.left, c.top}, {s.left, s.top, c.left, c.top});
  if (c.top > 0) painter.Draw({centre.x, d.top, dw, c.top}, {centreSource.x, s.top, sw, c.top});
  if (c.right > 0 && c.top > 0) {
    painter.Draw({d.right - c.right, d.top, c.right, c.top}, {s.right - c.right, s.top, c.right, c.top});
  }
  if (c.left > 0) painter.Draw({d.left, centre.y, c.left, dh}, {s.left, centreSource.y, c.left, sh});
  if (c.right > 0) {
    painter.Draw({d.right - c.right, centre.y, c.right, dh}, {s.right - c.right, centreSource.y, c.right, sh});
  }
  if (c.left > 0 && c.bottom > 0) {
    painter.Draw({d.left, d.bottom - c.bottom, c.left, c.bottom}, {s.left, s.bottom - c.bottom, c.left, c.bottom});
  }
  if (c.bottom > 0) {
    painter.Draw({centre.x, d.bottom - c.bottom, dw, c.bottom}, {centreSource.x, s.bottom - c.bottom, sw, c.bottom});
  }
  if (c.right > 0 && c.bottom > 0) {
    painter.Draw({d.right - c.right, d.bottom - c.bottom, c.right, c.bottom},
                 {s.right - c.right, s.bottom - c.bottom, c.right, c.bottom});
  }
}

bool IsUnscaledWithoutCorners(const GridSpec& spec) {
  const RECT& c = spec.corner;
  return Width(spec.dest) == Width(spec.source) && Height(spec.dest) == Height(spec.source) && c.left == 0 &&
         c.top == 0 && c.right == 0 && c.bottom == 0;
}

}  // namespace

void DrawBitmapGrid(HDC target, HBITMAP bitmap, const GridSpec& spec) {
  BlendFunction();  // found before the first draw, once per process
  if (!bitmap) return;
  CMemoryDC source(CreateCompatibleDC(target));
  if (!source.IsValid()) return;
  CSelection selected(source.Get(), bitmap);
  SetStretchBltMode(target, COLORONCOLOR);
  CGridPainter painter(target, source.Get(), spec);
  if (!painter.Blended() && IsUnscaledWithoutCorners(spec)) {
    painter.CopyClipped(spec.dest, spec.source);
    return;
  }
  DrawNineGrid(painter, spec);
}
