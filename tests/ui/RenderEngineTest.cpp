#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "UiTestSupport.h"
#include "ui/draw/AlphaBlend.h"
#include "ui/draw/BitmapGrid.h"
#include "ui/draw/Fills.h"
#include "ui/draw/ImageAttributes.h"
#include "ui/draw/ImageStore.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBackground = Argb(0, 10, 20, 30);
constexpr uint32_t kRed = Argb(255, 220, 30, 30);
constexpr uint32_t kBlue = Argb(255, 30, 30, 220);
constexpr uint32_t kClear = 0;

// Nine cells of 3 × 3 pixels, each its own opaque colour: row r, column c.
uint32_t Cell(int r, int c) { return Argb(255, 40 + 80 * r, 40 + 80 * c, 200); }

CByteBuffer GridPng() {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) pixels.push_back(Cell(y / 3, x / 3));
  }
  return MakePng(9, 9, pixels);
}

// Four columns A B C D, `rows` high.
const uint32_t kColumns[4] = {Argb(255, 200, 0, 0), Argb(255, 0, 200, 0), Argb(255, 0, 0, 200), Argb(255, 200, 200, 0)};
CByteBuffer ColumnsPng(int rows) {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < rows; ++y) pixels.insert(pixels.end(), kColumns, kColumns + 4);
  return MakePng(4, rows, pixels);
}

class RenderEngine : public ::testing::Test {
protected:
  void SetUp() override {
    m_store.AddImageIfAbsent("grid.png", GridPng(), 0);
    m_store.AddImageIfAbsent("a.png", SolidPng(2, 2, kRed), 0);
    m_store.AddImageIfAbsent("b.png", MakePng(2, 1, {kClear, kBlue}), 0);
    m_store.AddImageIfAbsent("ab.png", MakePng(2, 1, {kRed, kBlue}), 0);
    m_store.AddImageIfAbsent("按钮.png", SolidPng(1, 1, kBlue), 0);
    m_store.AddImageIfAbsent("columns.png", ColumnsPng(2), 0);
    m_store.AddImageIfAbsent("row.png", ColumnsPng(1), 0);
  }

  // Draws into a fresh surface with item = paint = `item` unless a paint rectangle is given.
  CPixelSurface& Draw(const RECT& item, const char* image, const char* modify = nullptr, const RECT* paint = nullptr) {
    m_surface = std::make_unique<CPixelSurface>(120, 60, kBackground);
    m_store.DrawSkinImage(m_surface->Dc(), item, paint ? *paint : item, image, modify);
    return *m_surface;
  }

  CImageStore m_store;
  std::unique_ptr<CPixelSurface> m_surface;
};

}  // namespace

TEST_F(RenderEngine, NineGridPiecesLandWhereTheTableSays) {
  CPixelSurface& s = Draw({5, 5, 35, 26}, "file='grid.png' corner='3,3,3,3'");
  EXPECT_EQ(Cell(0, 0), s.At(6, 6));
  EXPECT_EQ(Cell(0, 1), s.At(20, 6));
  EXPECT_EQ(Cell(0, 2), s.At(33, 7));
  EXPECT_EQ(Cell(1, 0), s.At(6, 15));
  EXPECT_EQ(Cell(1, 1), s.At(20, 15));
  EXPECT_EQ(Cell(1, 2), s.At(34, 22));
  EXPECT_EQ(Cell(2, 0), s.At(5, 25));
  EXPECT_EQ(Cell(2, 1), s.At(9, 24));
  EXPECT_EQ(Cell(2, 2), s.At(34, 25));
  EXPECT_EQ(kBackground, s.At(35, 26));
  EXPECT_EQ(kBackground, s.At(4, 4));
}

TEST_F(RenderEngine, HoleSkipsTheCentreOnlyWhenExactlyTrue) {
  EXPECT_EQ(kBackground, Draw({0, 0, 30, 30}, "file='grid.png' corner='3,3,3,3' hole='true'").At(15, 15));
  EXPECT_EQ(Cell(0, 1), m_surface->At(15, 1));
  EXPECT_EQ(Cell(1, 1), Draw({0, 0, 30, 30}, "file='grid.png' corner='3,3,3,3' hole='TRUE'").At(15, 15));
}

TEST_F(RenderEngine, DoublyTiledCentresAreCroppedNotSqueezed) {
  for (const char* image : {"file='columns.png' xtiled='true' ytiled='true'",
                            "file='columns.png' xtiled='true' ytiled='true' fade='254'"}) {
    SCOPED_TRACE(image);
    CPixelSurface& s = Draw({0, 0, 10, 3}, image);
    EXPECT_TRUE(Near(s.At(0, 0), kColumns[0]));
    EXPECT_TRUE(Near(s.At(7, 0), kColumns[3]));
    EXPECT_TRUE(Near(s.At(8, 1), kColumns[0]));
    EXPECT_TRUE(Near(s.At(9, 2), kColumns[1]));  // the last tile is cut at the right and bottom
    EXPECT_EQ(kBackground, s.At(10, 2));
    EXPECT_EQ(kBackground, s.At(9, 3));
  }
}

TEST_F(RenderEngine, SinglyTiledCentresStretchTheOtherAxis) {
  CPixelSurface& s = Draw({0, 0, 10, 5}, "file='row.png' xtiled='true'");
  EXPECT_EQ(kColumns[1], s.At(9, 4));
  EXPECT_EQ(kColumns[2], s.At(6, 0));
  CPixelSurface& t = Draw({0, 0, 8, 5}, "file='row.png' ytiled='true'");
  EXPECT_EQ(kColumns[0], t.At(1, 4));  // four columns stretched to eight pixels, one row tiled down
  EXPECT_EQ(kColumns[3], t.At(7, 2));
}

TEST_F(RenderEngine, PiecesOutsideThePaintRectangleAreSkippedOthersDrawnWhole) {
  RECT paint = {5, 5, 9, 9};
  CPixelSurface& s = Draw({5, 5, 35, 26}, "file='grid.png' corner='3,3,3,3'", nullptr, &paint);
  EXPECT_EQ(Cell(0, 0), s.At(6, 6));
  EXPECT_EQ(Cell(0, 1), s.At(30, 6));  // the top edge meets the paint rectangle: drawn whole
  EXPECT_EQ(Cell(1, 1), s.At(30, 20));
  EXPECT_EQ(kBackground, s.At(33, 6));  // corners and edges beyond it are not drawn
  EXPECT_EQ(kBackground, s.At(6, 24));
  EXPECT_EQ(kBackground, s.At(33, 24));
}

TEST_F(RenderEngine, AnUnscaledImageWithoutCornersCopiesOnlyThePaintedPart) {
  RECT paint = {0, 0, 4, 4};
  CPixelSurface& s = Draw({0, 0, 9, 9}, "grid.png", nullptr, &paint);
  EXPECT_EQ(Cell(1, 1), s.At(3, 3));
  EXPECT_EQ(kBackground, s.At(5, 5));
  CPixelSurface& t = Draw({0, 0, 9, 9}, "file='grid.png' corner='3,3,3,3'", nullptr, &paint);
  EXPECT_EQ(Cell(0, 1), t.At(5, 1));  // with corners, nine pieces: the top edge meets it, drawn whole
  EXPECT_EQ(kBackground, t.At(7, 7));
}

TEST_F(RenderEngine, FadeAndAlphaBlendWhileOpaqueImagesAreCopied) {
  m_surface = std::make_unique<CPixelSurface>(20, 10, Argb(0, 255, 255, 255));
  RECT item = {0, 0, 20, 10};
  m_store.DrawSkinImage(m_surface->Dc(), item, item, "file='a.png' fade='128'", nullptr);
  auto faded = [](uint32_t c) { return (c * 128 + 255 * (255 - 128)) / 255; };
  EXPECT_TRUE(Near(m_surface->At(5, 5), Argb(0, faded(220), faded(30), faded(30))));

  m_store.DrawSkinImage(m_surface->Dc(), item, item, "file='b.png'", nullptr);
  EXPECT_TRUE(Near(m_surface->At(15, 5), kBlue));
  EXPECT_TRUE(Near(m_surface->At(5, 5), Argb(0, faded(220), faded(30), faded(30))));  // transparent half

  m_store.DrawSkinImage(m_surface->Dc(), item, item, "file='a.png' fade='300'", nullptr);  // 300 & 0xFF = 44
  auto light = [](uint32_t c, uint32_t under) { return (c * 44 + under * (255 - 44)) / 255; };
  EXPECT_TRUE(Near(m_surface->At(15, 5), Argb(0, light(220, 30), light(30, 30), light(30, 220))));
}

TEST_F(RenderEngine, ABareNameDrawsThatImageStretchedOverTheItem) {
  CPixelSurface& s = Draw({10, 10, 30, 20}, "ab.png");
  EXPECT_EQ(kRed, s.At(12, 15));
  EXPECT_EQ(kBlue, s.At(28, 15));
  EXPECT_EQ(kBackground, s.At(9, 15));
}

TEST_F(RenderEngine, AttributesCarryOverFromOneImageToTheNext) {
  CPixelSurface& s = Draw({0, 0, 40, 40}, "file='a.png' dest='0,0,10,10' file='b.png'");
  EXPECT_EQ(kRed, s.At(2, 5));  // a.png, left visible through b.png's transparent half
  EXPECT_EQ(kBlue, s.At(7, 5));
  EXPECT_EQ(kBackground, s.At(20, 20));
}

TEST_F(RenderEngine, AFileInTheModifyStringReplacesThePendingImageWithoutDrawingIt) {
  CPixelSurface& s = Draw({0, 0, 40, 40}, "file='a.png' dest='0,0,10,10'", "file='b.png'");
  EXPECT_EQ(kBackground, s.At(2, 5));
  EXPECT_EQ(kBlue, s.At(7, 5));
}

TEST_F(RenderEngine, AFaultEndsTheParseButWhatCameBeforeIsDrawn) {
  EXPECT_EQ(kRed, Draw({0, 0, 40, 40}, "file='a.png',dest='0,0,10,10'").At(20, 20));
  EXPECT_EQ(kRed, Draw({0, 0, 40, 40}, "file='a.png' dest='0,0,10,10").At(20, 20));
  EXPECT_EQ(kRed, Draw({0, 0, 40, 40}, "file='a.png' dest '0,0,10,10'").At(20, 20));
}

TEST_F(RenderEngine, DestIsRelativeToTheItemAndLimitedToItsRightAndBottom) {
  CPixelSurface& s = Draw({10, 0, 110, 50}, "file='ab.png' dest='5,5,500,500'");
  EXPECT_EQ(kBackground, s.At(14, 20));
  EXPECT_EQ(kRed, s.At(60, 20));  // 15..110 wide: the halves meet near 62
  EXPECT_EQ(kBlue, s.At(65, 20));
  EXPECT_EQ(kBlue, s.At(109, 49));
  CPixelSurface& t = Draw({0, 0, 40, 40}, "file='a.png' dest='2;2;12;12'");  // any one-byte separator
  EXPECT_EQ(kRed, t.At(11, 11));
  EXPECT_EQ(kBackground, t.At(12, 12));
}

TEST_F(RenderEngine, SourceIsCutToTheImageAndASourceOutsideItDrawsNothing) {
  EXPECT_EQ(kBlue, Draw({0, 0, 20, 20}, "file='ab.png' source='1,0,9,9'").At(2, 2));
  EXPECT_EQ(kRed, Draw({0, 0, 20, 20}, "file='ab.png' source='0,0,0,0'").At(2, 2));
  CPixelSurface& s = Draw({0, 0, 20, 20}, "file='ab.png' source='5,0,9,9'");
  EXPECT_EQ(kBackground, s.At(2, 2));
  EXPECT_EQ(kBackground, s.At(18, 2));
}

TEST_F(RenderEngine, NamesAreReadCharacterByCharacterInTheCodePage) {
  EXPECT_EQ(kBlue, Draw({0, 0, 10, 10}, "file='按钮.png' dest='0,0,5,5'").At(4, 4));
  EXPECT_EQ(kBackground, m_surface->At(5, 5));
}

TEST_F(RenderEngine, MissingImagesAreSkippedAndTheRestDrawn) {
  EXPECT_TRUE(m_store.DrawSkinImage(CPixelSurface(4, 4, 0).Dc(), {0, 0, 4, 4}, {0, 0, 4, 4}, "none.png", nullptr));
  EXPECT_EQ(kRed, Draw({0, 0, 40, 40}, "file='none.png' file='a.png'").At(20, 20));
}

TEST(Fills, GradientsRunFromTheirFirstToTheirSecondColour) {
  CPixelSurface s(10, 40, 0);
  ASSERT_TRUE(FillGradient(s.Dc(), {0, 0, 10, 40}, RGB(0, 0, 0), RGB(200, 100, 0)));
  EXPECT_TRUE(Near(s.At(5, 0), 0x000000, 6));
  EXPECT_TRUE(Near(s.At(5, 39), 0xC86400, 6));
  FillGradientMirror(s.Dc(), {0, 0, 10, 40}, RGB(0, 0, 0), RGB(0, 0, 240));
  EXPECT_TRUE(Near(s.At(5, 0), 0x000000, 12));
  EXPECT_TRUE(Near(s.At(5, 19), 0x0000F0, 8));  // the lower half starts one row above the middle
  EXPECT_TRUE(Near(s.At(5, 39), 0x000000, 12));
}

TEST(Fills, BandsCarryTheToColourAtTheBottom) {
  CPixelSurface s(4, 8, 0);
  FillGradientBands(s.Dc(), {0, 0, 4, 8}, Argb(255, 0, 0, 0), Argb(255, 200, 100, 40), true, 4);  // 4 bands
  EXPECT_EQ(0xC86428u, Rgb(s.At(0, 7)));
  EXPECT_EQ(0x32190Au, Rgb(s.At(0, 0)));  // (to × 1 + from × 3) >> 2
  FillGradientBands(s.Dc(), {0, 0, 4, 8}, Argb(255, 0, 0, 0), Argb(255, 200, 100, 40), false, 2);
  EXPECT_EQ(0xC86428u, Rgb(s.At(3, 0)));
  EXPECT_EQ(0x643214u, Rgb(s.At(0, 0)));
}

TEST(Fills, TranslucentGradientsAndColoursBlendOverWhatIsThere) {
  CPixelSurface white(8, 8, 0xFFFFFF), black(8, 8, 0);
  FillAlphaGradient(white.Dc(), {0, 0, 8, 8}, Argb(128, 255, 0, 0), Argb(128, 255, 0, 0), true, 16);
  EXPECT_TRUE(Near(white.At(4, 4), 0xFF7F7F));
  FillAlphaColor(black.Dc(), {0, 0, 8, 8}, Argb(128, 255, 0, 0));
  EXPECT_TRUE(Near(black.At(4, 4), 0x800000));
  FillAlphaColor(black.Dc(), {0, 0, 4, 8}, Argb(255, 1, 2, 3));
  EXPECT_EQ(0x010203u, Rgb(black.At(1, 1)));
  FillAlphaColor(black.Dc(), {0, 0, 8, 8}, Argb(0, 255, 255, 255));
  FillAlphaGradient(black.Dc(), {0, 0, 8, 8}, Argb(0, 255, 255, 255), Argb(1, 255, 255, 255), true, 16);
  EXPECT_EQ(0x010203u, Rgb(black.At(1, 1)));
  FillAlphaGradient(black.Dc(), {0, 0, 8, 8}, Argb(255, 9, 9, 9), Argb(255, 9, 9, 9), false, 16);
  EXPECT_TRUE(Near(black.At(1, 1), 0x090909));
}

TEST(AlphaBlendFallback, TheSoftwareBlendMatchesTheSystemBlendOnPremultipliedPixels) {
  ASSERT_NE(BlendFunction(), SoftwareAlphaBlend);  // the system has one: compare with it
  CPixelSurface source(4, 1, 0);
  const uint32_t pixels[4] = {Argb(128, 100, 50, 25), Argb(255, 200, 10, 10), 0, Argb(64, 64, 0, 32)};
  for (int x = 0; x < 4; ++x) source.Set(x, 0, pixels[x]);
  const uint32_t under = Argb(0, 30, 160, 90);
  CPixelSurface system(4, 1, under), software(4, 1, under);
  BLENDFUNCTION blend = SkinBlend(200);
  ASSERT_TRUE(BlendFunction()(system.Dc(), 0, 0, 4, 1, source.Dc(), 0, 0, 4, 1, blend));
  ASSERT_TRUE(SoftwareAlphaBlend(software.Dc(), 0, 0, 4, 1, source.Dc(), 0, 0, 4, 1, blend));
  for (int x = 0; x < 4; ++x) {
    EXPECT_TRUE(Near(software.At(x, 0), system.At(x, 0)))
        << x << ": " << std::hex << software.At(x, 0) << " " << system.At(x, 0);
  }
  // 100 × 200/255 + 30 × (1 − 128 × 200/255²): the colour is already multiplied by its alpha.
  EXPECT_TRUE(Near(software.At(0, 0), Argb(0, 96, 136, 74)));
  EXPECT_EQ(Rgb(under), Rgb(software.At(2, 0)));
}
