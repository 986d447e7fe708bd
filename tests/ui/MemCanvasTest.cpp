#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "ui/draw/DibSection.h"
#include "ui/draw/MemCanvas.h"

namespace {

constexpr COLORREF kKey = RGB(255, 0, 255);

void Fill(CMemCanvas& canvas, const RECT& rect, COLORREF color) {
  CBrushHandle brush(CreateSolidBrush(color));
  canvas.FillRect(rect, brush.Get());
}

}  // namespace

TEST(MemCanvas, AnEmptyCanvasDrawsNothing) {
  CMemCanvas canvas;
  EXPECT_TRUE(canvas.IsEmpty());
  CPixelSurface target(4, 4, 0x123456);
  EXPECT_EQ(0, canvas.Blit(target.Dc(), 0, 0, 4, 4, 0, 0, SRCCOPY));
  EXPECT_EQ(0, canvas.FillRect({0, 0, 4, 4}, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
  EXPECT_EQ(0, canvas.BlendWhole(target.Dc(), 0, 0, 4, 4, 0, 0, 4, 4, 128));
  EXPECT_EQ(0x123456u, target.At(2, 2));
  ASSERT_TRUE(canvas.Create(nullptr, 4, 4));
  canvas.Release();
  EXPECT_TRUE(canvas.IsEmpty());
  EXPECT_EQ(0, canvas.GetWidth());
}

TEST(MemCanvas, DrawsOffScreenAndCopiesToTheTarget) {
  CPixelSurface target(10, 10, 0);
  CMemCanvas canvas;
  ASSERT_TRUE(canvas.Create(target.Dc(), 6, 4));
  EXPECT_FALSE(canvas.IsEmpty());
  Fill(canvas, {0, 0, 6, 4}, RGB(10, 20, 30));
  Fill(canvas, {3, 0, 6, 4}, RGB(200, 100, 0));
  ASSERT_TRUE(canvas.Blit(target.Dc(), 2, 2, 6, 4, 0, 0, SRCCOPY));
  EXPECT_EQ(0x0A141Eu, Rgb(target.At(2, 2)));
  EXPECT_EQ(0xC86400u, Rgb(target.At(7, 5)));
  EXPECT_EQ(0u, Rgb(target.At(8, 2)));
  ASSERT_TRUE(canvas.StretchWhole(target.Dc(), 10, 10));
  EXPECT_EQ(0xC86400u, Rgb(target.At(9, 9)));
}

TEST(MemCanvas, MadeFromABitmapHoldsItsSizeAndPixels) {
  uint32_t* pixels = nullptr;
  CBitmapHandle bitmap(CreateTopDownDib(3, 2, &pixels));
  for (int i = 0; i < 6; ++i) pixels[i] = 0x00102030u * (i + 1);
  CMemCanvas canvas;
  ASSERT_TRUE(canvas.CreateFromBitmap(bitmap.Get(), nullptr));
  EXPECT_EQ(3, canvas.GetWidth());
  EXPECT_EQ(2, canvas.GetHeight());
  CPixelSurface target(3, 2, 0);
  canvas.Blit(target.Dc(), 0, 0, 3, 2, 0, 0, SRCCOPY);
  EXPECT_EQ(0x00102030u * 5, Rgb(target.At(1, 1)));
  EXPECT_FALSE(canvas.CreateFromBitmap(nullptr, nullptr));
}

TEST(MemCanvas, KeyedGridKeepsBorderWidthsAndLeavesKeyColouredCornerPixelsOut) {
  CMemCanvas canvas;
  ASSERT_TRUE(canvas.Create(nullptr, 9, 9));
  Fill(canvas, {0, 0, 9, 9}, RGB(0, 0, 200));      // edges and centre
  Fill(canvas, {0, 0, 3, 3}, kKey);                // top-left corner: key colour...
  Fill(canvas, {1, 1, 2, 2}, RGB(0, 200, 0));      // ...with one green pixel
  Fill(canvas, {6, 6, 9, 9}, RGB(200, 200, 200));  // bottom-right corner
  CPixelSurface target(20, 20, 0xFFFFFF);
  ASSERT_TRUE(canvas.DrawKeyedGrid(target.Dc(), {0, 0, 20, 20}, {0, 0, 9, 9}, {3, 3, 6, 6}, kKey));
  EXPECT_EQ(0xFFFFFFu, Rgb(target.At(0, 0)));  // key: transparent
  EXPECT_EQ(0x00C800u, Rgb(target.At(1, 1)));
  EXPECT_EQ(0x0000C8u, Rgb(target.At(10, 1)));  // top edge stretched
  EXPECT_EQ(0x0000C8u, Rgb(target.At(10, 10)));
  EXPECT_EQ(0xC8C8C8u, Rgb(target.At(17, 17)));
  EXPECT_EQ(0x0000C8u, Rgb(target.At(16, 16)));  // the corner keeps its three pixels
}

TEST(MemCanvas, BlendWholeDrawsTheCanvasAtConstantAlpha) {
  CMemCanvas canvas;
  ASSERT_TRUE(canvas.Create(nullptr, 4, 4));
  Fill(canvas, {0, 0, 4, 4}, RGB(255, 0, 0));
  CPixelSurface target(4, 4, 0xFFFFFF);
  ASSERT_TRUE(canvas.BlendWhole(target.Dc(), 0, 0, 4, 4, 0, 0, 4, 4, 128));
  EXPECT_TRUE(Near(target.At(2, 2), 0xFF7F7F));
}
