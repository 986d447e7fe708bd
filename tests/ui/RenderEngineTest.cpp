#include <gtest/gtest.h>

#include <memory>

#include "UiTestSupport.h"
#include "ui/draw/AlphaBlend.h"
#include "ui/draw/Fills.h"
#include "ui/draw/ImageAttributes.h"
#include "ui/draw/ImageStore.h"
#include "ui/draw/MemCanvas.h"

namespace {

constexpr uint32_t kBack = Argb(0, 10, 20, 30);
constexpr uint32_t kRed = Argb(255, 220, 30, 30);
constexpr uint32_t kBlue = Argb(255, 30, 30, 220);
const uint32_t kColumns[4] = {Argb(255, 200, 0, 0), Argb(255, 0, 200, 0), Argb(255, 0, 0, 200), Argb(255, 9, 9, 0)};

uint32_t Cell(int row, int column) { return Argb(255, 40 + 80 * row, 40 + 80 * column, 200); }

class RenderEngine : public ::testing::Test {
protected:
  void SetUp() override {
    std::vector<uint32_t> grid, columns;
    for (int i = 0; i < 81; ++i) grid.push_back(Cell(i / 27, i % 9 / 3));  // 3 × 3 cells of 3 × 3 pixels
    for (int i = 0; i < 8; ++i) columns.push_back(kColumns[i % 4]);
    m_store.AddImageIfAbsent("grid.png", MakePng(9, 9, grid), 0);
    m_store.AddImageIfAbsent("columns.png", MakePng(4, 2, columns), 0);
    m_store.AddImageIfAbsent("a.png", SolidPng(2, 2, kRed), 0);
    m_store.AddImageIfAbsent("b.png", MakePng(2, 1, {0, kBlue}), 0);  // left half transparent
    m_store.AddImageIfAbsent("ab.png", MakePng(2, 1, {kRed, kBlue}), 0);
    m_store.AddImageIfAbsent("a-over-b.png", MakePng(1, 2, {kRed, kBlue}), 0);
    m_store.AddImageIfAbsent("按钮.png", SolidPng(1, 1, kBlue), 0);
  }

  CPixelSurface& Draw(const RECT& item, const char* image, const char* modify = nullptr, const RECT* paint = nullptr,
                      uint32_t back = kBack) {
    m_surface = std::make_unique<CPixelSurface>(120, 60, back);
    EXPECT_TRUE(m_store.DrawSkinImage(m_surface->Dc(), item, paint ? *paint : item, image, modify));
    return *m_surface;
  }

  CImageStore m_store;
  std::unique_ptr<CPixelSurface> m_surface;
};

void Fill(CMemCanvas& canvas, const RECT& rect, COLORREF color) {
  CBrushHandle brush(CreateSolidBrush(color));
  canvas.FillRect(rect, brush.Get());
}

}  // namespace

TEST_F(RenderEngine, NineGridPiecesLandWhereTheTableSaysAndHoleSkipsTheCentre) {
  CPixelSurface& s = Draw({5, 5, 35, 26}, "file='grid.png' corner='3,3,3,3'");
  const int xs[3] = {6, 20, 33}, ys[3] = {6, 15, 24};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Cell(r, c), s.At(xs[c], ys[r])) << r << c;
  }
  EXPECT_EQ(kBack, s.At(35, 26));
  EXPECT_EQ(kBack, Draw({0, 0, 30, 30}, "file='grid.png' corner='3,3,3,3' hole='true'").At(15, 15));
  EXPECT_EQ(Cell(0, 1), m_surface->At(15, 1));
  EXPECT_EQ(Cell(1, 1), Draw({0, 0, 30, 30}, "file='grid.png' corner='3,3,3,3' hole='TRUE'").At(15, 15));
}

TEST_F(RenderEngine, TiledCentresAreCroppedNotSqueezedOnTheOpaqueAndBlendedPaths) {
  for (const char* fade : {"255", "254"}) {
    std::string image = std::string("file='columns.png' xtiled='true' ytiled='true' fade='") + fade + "'";
    CPixelSurface& s = Draw({0, 0, 10, 3}, image.c_str());
    EXPECT_TRUE(Near(s.At(7, 0), kColumns[3])) << fade;
    EXPECT_TRUE(Near(s.At(8, 1), kColumns[0])) << fade;
    EXPECT_TRUE(Near(s.At(9, 2), kColumns[1])) << fade;  // the last tile is cut at the right and bottom
    EXPECT_EQ(kBack, s.At(10, 2));
    EXPECT_EQ(kBack, s.At(9, 3));
  }
  EXPECT_EQ(kColumns[1], Draw({0, 0, 10, 7}, "file='columns.png' xtiled='true'").At(9, 6));  // height stretched
}

TEST_F(RenderEngine, OnlyPiecesMeetingThePaintRectangleAreDrawnEachOneWhole) {
  RECT paint = {5, 5, 9, 9};
  CPixelSurface& s = Draw({5, 5, 35, 26}, "file='grid.png' corner='3,3,3,3'", nullptr, &paint);
  EXPECT_EQ(Cell(0, 1), s.At(30, 6));
  EXPECT_EQ(Cell(1, 1), s.At(30, 20));
  EXPECT_EQ(kBack, s.At(33, 6));
  EXPECT_EQ(kBack, s.At(33, 24));
  // Unscaled and without corners, only the painted part is copied.
  RECT corner = {0, 0, 4, 4};
  EXPECT_EQ(kBack, Draw({0, 0, 9, 9}, "grid.png", nullptr, &corner).At(5, 5));
  EXPECT_EQ(Cell(1, 1), m_surface->At(3, 3));
  EXPECT_EQ(Cell(0, 1), Draw({0, 0, 9, 9}, "file='grid.png' corner='3,3,3,3'", nullptr, &corner).At(5, 1));
}

TEST_F(RenderEngine, FadesAndAlphaBlendOverTheTarget) {
  auto mix = [](uint32_t c, uint32_t under, uint32_t a) { return (c * a + under * (255 - a)) / 255; };
  RECT item = {0, 0, 20, 10};
  CPixelSurface& s = Draw(item, "file='a.png' fade='128'", nullptr, nullptr, 0xFFFFFF);
  EXPECT_TRUE(Near(s.At(5, 5), Argb(0, mix(220, 255, 128), mix(30, 255, 128), mix(30, 255, 128))));
  m_store.DrawSkinImage(s.Dc(), item, item, "b.png", nullptr);
  EXPECT_TRUE(Near(s.At(15, 5), kBlue));
  EXPECT_TRUE(Near(s.At(5, 5), Argb(0, mix(220, 255, 128), mix(30, 255, 128), mix(30, 255, 128))));
  m_store.DrawSkinImage(s.Dc(), item, item, "file='a.png' fade='300'", nullptr);  // 300 keeps its low byte, 44
  EXPECT_TRUE(Near(s.At(15, 5), Argb(0, mix(220, 30, 44), 30, mix(30, 220, 44))));
}

TEST_F(RenderEngine, AttributeStringsParseAsPairsWithCarryOverAndStopAtTheFirstFault) {
  EXPECT_EQ(kRed, Draw({10, 10, 30, 20}, "ab.png").At(12, 15));  // a bare name: stretched over the item
  EXPECT_EQ(kBlue, m_surface->At(28, 15));
  CPixelSurface& s = Draw({0, 0, 40, 40}, "file='a.png' dest='0,0,10,10' file='b.png'");
  EXPECT_EQ(kRed, s.At(2, 5));  // a.png, seen through b.png's transparent half
  EXPECT_EQ(kBlue, s.At(7, 5));
  EXPECT_EQ(kBack, s.At(20, 20));
  EXPECT_EQ(kBack, Draw({0, 0, 40, 40}, "file='a.png' dest='0,0,10,10'", "file='b.png'").At(2, 5));
  EXPECT_EQ(kBlue, m_surface->At(7, 5));
  for (const char* faulty : {"file='a.png',dest='0,0,10,10'", "file='a.png' dest='0,0,10,10", "file='a.png' dest '1'",
                             "file='none.png' file='a.png' dest"}) {
    EXPECT_EQ(kRed, Draw({0, 0, 40, 40}, faulty).At(20, 20)) << faulty;
  }
  EXPECT_EQ(kBlue, Draw({0, 0, 10, 10}, "file='按钮.png' dest='0;0;5;5'").At(4, 4));  // any one-byte separator
  EXPECT_EQ(kBack, m_surface->At(5, 5));
}

TEST_F(RenderEngine, DestIsLimitedToTheItemAndSourceToTheImage) {
  CPixelSurface& s = Draw({10, 0, 110, 50}, "file='ab.png' dest='5,5,500,500'");
  EXPECT_EQ(kBack, s.At(14, 20));
  EXPECT_EQ(kRed, s.At(60, 20));  // 15 to 110 wide: the halves meet near 62
  EXPECT_EQ(kBlue, s.At(65, 20));
  EXPECT_EQ(kBlue, Draw({0, 0, 20, 20}, "file='ab.png' source='1,0,9,9'").At(2, 2));
  EXPECT_EQ(kBack, Draw({0, 0, 20, 20}, "file='ab.png' source='5,0,9,9'").At(2, 2));
}

TEST_F(RenderEngine, TilesKeepTheirPhaseWhenOnlyThoseMeetingThePaintRectangleAreDrawn) {
  struct Case {
    const char* image;
    RECT item, paint;
    POINT origin;   // where the first tile starts
    bool vertical;  // the two colours alternate down, not across
  };
  const Case cases[] = {
      {"file='ab.png' xtiled='true' ytiled='true'", {3, 2, 40, 20}, {10, 5, 17, 9}, {3, 2}, false},
      {"file='ab.png' xtiled='true'", {3, 2, 40, 20}, {20, 0, 31, 60}, {3, 2}, false},
      {"file='ab.png' dest='6,1,30,15' xtiled='true' ytiled='true'", {3, 2, 40, 20}, {14, 6, 25, 12}, {9, 3}, false},
      {"file='a-over-b.png' ytiled='true'", {3, 3, 40, 41}, {0, 13, 120, 22}, {3, 3}, true},
  };
  for (const Case& c : cases) {
    CPixelSurface& s = Draw(c.item, c.image, nullptr, &c.paint);
    RECT painted;
    IntersectRect(&painted, &c.item, &c.paint);
    for (int y = 0; y < 60; ++y) {
      for (int x = 0; x < 120; ++x) {
        POINT at = {x, y};
        std::string wrong;
        int step = c.vertical ? y - c.origin.y : x - c.origin.x;
        if (PtInRect(&painted, at) && !Near(s.At(x, y), step % 2 ? kBlue : kRed)) wrong += " inside";
        if (!PtInRect(&c.item, at) && s.At(x, y) != kBack) wrong += " outside";
        if (!wrong.empty()) FAIL() << c.image << " at " << x << "," << y << wrong;
      }
    }
  }
}

TEST_F(RenderEngine, AHugeTiledCentreCostsOnlyWhatThePaintRectangleShows) {
  RECT item = {0, 0, 120, 60}, paint = {7, 4, 30, 40};
  CPixelSurface& s =
      Draw(item, "file='按钮.png' dest='-2000000000,-2000000000,300,30' xtiled='true' ytiled='true'", nullptr, &paint);
  EXPECT_EQ(kBlue, s.At(7, 4));
  EXPECT_EQ(kBlue, s.At(29, 29));
  EXPECT_EQ(kBack, s.At(29, 30));  // below the destination
  EXPECT_EQ(kBack, s.At(6, 10));   // beside the paint rectangle
  EXPECT_EQ(kBack, s.At(30, 10));
  // Drawn directly, without the parser's limits: the phase still counts from the far-away origin.
  for (LONG left : {-2000000000L, -1999999999L}) {
    ImageAttributes attributes;
    attributes.dest = {left, -2000000000, 120, 30};
    attributes.xTiled = attributes.yTiled = true;
    CPixelSurface surface(120, 60, kBack);
    DrawImageRecord(*m_store.GetImage("ab.png"), surface.Dc(), item, paint, attributes);
    uint32_t even = left % 2 ? kBlue : kRed, odd = left % 2 ? kRed : kBlue;
    EXPECT_EQ(even, surface.At(8, 4)) << left;
    EXPECT_EQ(odd, surface.At(29, 29)) << left;
    EXPECT_EQ(kBack, surface.At(29, 30)) << left;
  }
}

TEST_F(RenderEngine, NumbersPastTheRangeSaturateInsteadOfWrapping) {
  struct Case {
    const char* image;
    POINT at;
    uint32_t expected;
  };
  const Case cases[] = {
      {"file='a.png' dest='0,0,99999999999,99999999999'", {39, 29}, kRed},  // to the item's far corner
      {"file='a.png' dest='99999999999,0,5,20'", {12, 15}, kBack},          // starts past the item
      {"file='a.png' dest='0,99999999999,20,5'", {12, 12}, kBack},
      {"file='a.png' dest='-99999999999,-99999999999,5,5'", {14, 14}, kRed},
      {"file='ab.png' source='1,0,99999999999,99999999999'", {12, 12}, kBlue},
      {"file='ab.png' source='99999999999,0,99999999999,1'", {12, 12}, kBack},
      {"file='a.png' fade='99999999999'", {20, 20}, kRed},  // the largest number's low byte: opaque
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, Draw({10, 10, 40, 30}, c.image).At(c.at.x, c.at.y)) << c.image;
  }
}

TEST(Fills, GradientsBandsAndTranslucentFills) {
  CPixelSurface s(10, 40, 0);
  FillGradientMirror(s.Dc(), {0, 0, 10, 40}, RGB(0, 0, 0), RGB(0, 0, 240));
  EXPECT_TRUE(Near(s.At(5, 19), 0x0000F0, 8));  // the lower half starts one row above the middle
  EXPECT_TRUE(Near(s.At(5, 39), 0x000000, 12));
  FillGradientBands(s.Dc(), {0, 0, 4, 8}, Argb(255, 0, 0, 0), Argb(255, 200, 100, 40), true, 4);
  EXPECT_EQ(0xC86428u, Rgb(s.At(0, 7)));  // band 0, at the bottom, has the "to" colour
  EXPECT_EQ(0x32190Au, Rgb(s.At(0, 0)));  // band 3: (to + 3 × from) / 4
  CPixelSurface white(8, 8, 0xFFFFFF), black(8, 8, 0);
  FillAlphaGradient(white.Dc(), {0, 0, 8, 8}, Argb(128, 255, 0, 0), Argb(128, 255, 0, 0), true, 16);
  EXPECT_TRUE(Near(white.At(4, 4), 0xFF7F7F));
  FillAlphaColor(black.Dc(), {0, 0, 8, 8}, Argb(128, 255, 0, 0));
  EXPECT_TRUE(Near(black.At(4, 4), 0x800000));
  FillAlphaColor(black.Dc(), {0, 0, 8, 8}, Argb(0, 255, 255, 255));
  EXPECT_TRUE(Near(black.At(4, 4), 0x800000));
}

TEST(Fills, TheSoftwareBlendMatchesTheSystemBlendOnPremultipliedPixels) {
  ASSERT_NE(BlendFunction(), SoftwareAlphaBlend);
  CPixelSurface source(4, 1, 0);
  const uint32_t pixels[4] = {Argb(128, 100, 50, 25), Argb(255, 200, 10, 10), 0, Argb(64, 64, 0, 32)};
  for (int x = 0; x < 4; ++x) source.Set(x, 0, pixels[x]);
  CPixelSurface system(4, 1, 0x1EA05A), software(4, 1, 0x1EA05A);
  ASSERT_TRUE(BlendFunction()(system.Dc(), 0, 0, 4, 1, source.Dc(), 0, 0, 4, 1, SkinBlend(200)));
  ASSERT_TRUE(SoftwareAlphaBlend(software.Dc(), 0, 0, 4, 1, source.Dc(), 0, 0, 4, 1, SkinBlend(200)));
  for (int x = 0; x < 4; ++x) EXPECT_TRUE(Near(software.At(x, 0), system.At(x, 0))) << x;
  EXPECT_TRUE(Near(software.At(0, 0), 0x60884A));  // 100 × 200/255 + 30 × (1 − 128 × 200/255²)...
}

TEST(MemCanvas, KeyedGridsAndWholeBlends) {
  CMemCanvas canvas;
  ASSERT_TRUE(canvas.Create(nullptr, 9, 9));
  Fill(canvas, {0, 0, 9, 9}, RGB(0, 0, 200));
  Fill(canvas, {0, 0, 3, 3}, RGB(255, 0, 255));  // the key colour, around one green pixel
  Fill(canvas, {1, 1, 2, 2}, RGB(0, 200, 0));
  CPixelSurface target(20, 20, 0xFFFFFF);
  ASSERT_TRUE(canvas.DrawKeyedGrid(target.Dc(), {0, 0, 20, 20}, {0, 0, 9, 9}, {3, 3, 6, 6}, RGB(255, 0, 255)));
  EXPECT_EQ(0xFFFFFFu, Rgb(target.At(0, 0)));
  EXPECT_EQ(0x00C800u, Rgb(target.At(1, 1)));
  EXPECT_EQ(0x0000C8u, Rgb(target.At(10, 1)));
  ASSERT_TRUE(canvas.BlendWhole(target.Dc(), 0, 0, 20, 20, 3, 3, 3, 3, 128));
  EXPECT_TRUE(Near(target.At(0, 0), 0x7F7FE3));
}
