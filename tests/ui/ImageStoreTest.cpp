#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "data/ZipArchive.h"
#include "ui/draw/ImageDecoder.h"
#include "ui/draw/ImageStore.h"

namespace {

constexpr uint32_t kRed = Argb(255, 217, 43, 43);

// The stored (premultiplied) pixel of a DIB section.
uint32_t DibPixel(HBITMAP bitmap, int x, int y) {
  DIBSECTION dib = {};
  if (GetObjectA(bitmap, sizeof(dib), &dib) != sizeof(dib) || !dib.dsBm.bmBits) return 0xDEADBEEF;
  return static_cast<const uint32_t*>(dib.dsBm.bmBits)[y * dib.dsBm.bmWidth + x];
}

SIZE IconSize(HICON icon) {
  ICONINFO info = {};
  BITMAP bitmap = {};
  if (!GetIconInfo(icon, &info)) return {0, 0};
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return {bitmap.bmWidth, bitmap.bmHeight};
}

// The colour an icon shows in its middle, drawn on black.
uint32_t IconColour(HICON icon, int size) {
  CPixelSurface surface(size, size, 0);
  DrawIconEx(surface.Dc(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  return Rgb(surface.At(size / 2, size / 2));
}

}  // namespace

TEST(ImageStore, DecodingPremultipliesColoursAndMarksAlpha) {
  CByteBuffer png = MakePng(2, 1, {Argb(128, 200, 100, 50), Argb(255, 1, 2, 3)});
  CBitmapHandle bitmap(DecodeToDib(png.Data(), png.Length(), 0));
  ASSERT_TRUE(bitmap.IsValid());
  EXPECT_EQ(Argb(128, 100, 50, 25), DibPixel(bitmap.Get(), 0, 0));  // B 25, G 50, R 100, A 128
  EXPECT_EQ(Argb(255, 1, 2, 3), DibPixel(bitmap.Get(), 1, 0));

  CImageStore store;
  ASSERT_TRUE(store.AddImageIfAbsent("mixed", png, 0));
  EXPECT_TRUE(store.FindImage("mixed", nullptr, 0)->hasAlpha);
  ASSERT_TRUE(store.AddImageIfAbsent("opaque", SolidPng(3, 2, kRed), 0));
  const SkinImage* opaque = store.GetImage("opaque");
  EXPECT_FALSE(opaque->hasAlpha);
  EXPECT_EQ(3, opaque->width);
  EXPECT_EQ(2, opaque->height);
  EXPECT_EQ(nullptr, DecodeToDib(reinterpret_cast<const BYTE*>("not an image"), 12, 0));
}

TEST(ImageStore, TheMaskClearsExactlyThatColourAndMarksAlpha) {
  const uint32_t green = Argb(255, 0, 255, 0);
  CByteBuffer png = MakePng(2, 1, {green, kRed});
  CImageStore store;
  const SkinImage* masked = store.ReplaceImage("masked", png, green);
  ASSERT_NE(nullptr, masked);
  EXPECT_TRUE(masked->hasAlpha);
  EXPECT_EQ(0u, DibPixel(masked->bitmap.Get(), 0, 0));
  EXPECT_EQ(kRed, DibPixel(masked->bitmap.Get(), 1, 0));
  EXPECT_EQ(green, masked->mask);
  // A cached name keeps its first record whatever mask is asked for later.
  EXPECT_EQ(masked, store.FindImage("masked", nullptr, 0));
  EXPECT_FALSE(store.ReplaceImage("opaque", png, 0)->hasAlpha);
}

TEST(ImageStore, PackageEntriesAreAddedReadReplacedAndRemovedIgnoringCase) {
  CImageStore store;
  CByteBuffer first = SolidPng(4, 4, kRed), second = SolidPng(4, 4, Argb(255, 0, 0, 255));
  ASSERT_TRUE(store.AddPackageEntry("Skin/Frame.PNG", first));
  ASSERT_TRUE(store.AddPackageEntry("close.png", first));
  CByteBuffer package = store.Package();
  ASSERT_TRUE(store.AddPackageEntry("CLOSE.png", first));
  EXPECT_EQ(Text(package), Text(store.Package()));  // same bytes: the package is not rebuilt

  ASSERT_TRUE(store.AddPackageEntry("close.png", second));
  CByteBuffer read;
  ASSERT_TRUE(store.ReadPackageEntry("Close.PNG", read));
  EXPECT_EQ(Text(second), Text(read));
  EXPECT_TRUE(store.HasPackageEntry("skin/frame.png"));

  ASSERT_TRUE(store.RemovePackageEntry("SKIN/FRAME.png"));
  EXPECT_FALSE(store.HasPackageEntry("skin/frame.png"));
  EXPECT_TRUE(store.HasPackageEntry("close.png"));
  EXPECT_FALSE(store.ReadPackageEntry("missing.png", read));
}

TEST(ImageStore, ImagesComeFromThePackageAndNumberedResources) {
  CImageStore store;
  ASSERT_TRUE(store.AddPackageEntry("close.png", SolidPng(5, 3, kRed)));
  const SkinImage* image = store.GetImage("close.png");
  ASSERT_NE(nullptr, image);
  EXPECT_EQ(5, image->width);
  const SkinImage* other = store.GetImage("Close.png");  // the same entry, cached under its own name
  ASSERT_NE(nullptr, other);
  EXPECT_NE(image, other);

  const SkinImage* resource = store.FindImage("103", "PNG", 0);
  ASSERT_NE(nullptr, resource);
  EXPECT_EQ(24, resource->width);
  EXPECT_EQ(24, resource->height);
  EXPECT_TRUE(resource->hasAlpha);  // the transparent margin
  EXPECT_STREQ("PNG", resource->resourceType);
  EXPECT_EQ(nullptr, CImageStore().FindImage("close.png", "PNG", 0));
  EXPECT_EQ(nullptr, store.FindImage("104", "PNG", 0));
}

TEST(ImageStore, CopiedBitmapsAreTheCallersOwnAndLeaveTheCacheIntact) {
  CImageStore store;
  ASSERT_TRUE(store.AddImageIfAbsent("red", SolidPng(2, 2, kRed), 0));
  HBITMAP cached = store.GetImage("red")->bitmap.Get();
  HBITMAP copy = store.CopyImageBitmap("red");
  ASSERT_NE(nullptr, copy);
  EXPECT_NE(cached, copy);
  EXPECT_EQ(kRed, DibPixel(copy, 1, 1));
  DeleteObject(copy);
  EXPECT_EQ(kRed, DibPixel(store.GetImage("red")->bitmap.Get(), 1, 1));

  EXPECT_TRUE(store.RemoveImage("red"));
  EXPECT_EQ(nullptr, store.GetImage("red"));
  EXPECT_FALSE(store.RemoveImage("red"));
}

TEST(ImageStore, APackageWithADamagedEntryIsLeftAsItWasRatherThanLosingIt) {
  CImageStore store;
  std::string noise(4000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 >> 3);
  ASSERT_TRUE(store.AddPackageEntry("noise.bin", Bytes(noise)));
  CByteBuffer damaged = store.Package();
  damaged.MakeUnique();
  damaged.Data()[60] ^= 0x55;  // inside the deflated data: its CRC no longer matches
  store.SetPackage(damaged);

  EXPECT_FALSE(store.AddPackageEntry("new.png", SolidPng(2, 2, kRed)));
  EXPECT_FALSE(store.RemovePackageEntry("other.png"));
  EXPECT_EQ(Text(damaged), Text(store.Package()));
}

TEST(ImageStore, SetPackageReplacesThePackageAndForgetsCachedImages) {
  CImageStore store;
  ASSERT_TRUE(store.AddPackageEntry("a.png", SolidPng(2, 2, kRed)));
  ASSERT_NE(nullptr, store.GetImage("a.png"));
  CImageStore other;
  ASSERT_TRUE(other.AddPackageEntry("b.png", SolidPng(3, 3, kRed)));

  store.SetPackage(other.Package());
  EXPECT_EQ(Text(other.Package()), Text(store.Package()));
  EXPECT_EQ(nullptr, store.GetImage("a.png"));
  EXPECT_NE(nullptr, store.GetImage("b.png"));
}

TEST(ImageStore, SavedPackagesLoadBackAndExtractOnlyInsideTheDirectory) {
  CScratchDir dir;
  CImageStore store;
  ASSERT_TRUE(store.AddPackageEntry("one.png", Bytes("1")));
  ASSERT_TRUE(store.AddPackageEntry("..\\escape.txt", Bytes("2")));
  ASSERT_TRUE(store.SavePackage(dir.File("skin.zip").c_str()));

  CImageStore loaded;
  ASSERT_TRUE(loaded.LoadPackageFromFile(dir.File("skin.zip").c_str()));
  std::string target = dir.File("out");
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
  EXPECT_FALSE(loaded.ExtractPackage((target + "\\\\").c_str()));  // one entry refused
  EXPECT_EQ("1", ReadFileBytes(target + "\\one.png"));
  EXPECT_FALSE(FileExists(dir.File("escape.txt")));
  EXPECT_FALSE(CImageStore().SavePackage(dir.File("empty.zip").c_str()));
}

TEST(ImageStore, IconsComeFromTheBestFittingImageOfAnIconFile) {
  CImageStore store;
  const uint32_t red = 0xFF0000, blue = 0x0000FF;
  CByteBuffer icon = MakeIcon({{16, red}, {32, blue}});
  ASSERT_TRUE(store.AddPackageEntry("app.ico", icon));

  CIconHandle large(store.LoadPackageIcon("app.ico"));
  ASSERT_TRUE(large.IsValid());
  EXPECT_EQ(32, IconSize(large.Get()).cx);
  EXPECT_EQ(blue, IconColour(large.Get(), 32));

  CIconHandle small(store.GetSizedIcon("app.ico", 16, 16));
  ASSERT_TRUE(small.IsValid());
  EXPECT_EQ(16, IconSize(small.Get()).cx);
  EXPECT_EQ(red, IconColour(small.Get(), 16));
  CIconHandle again(store.GetSizedIcon("app.ico", 16, 16));
  EXPECT_NE(small.Get(), again.Get());  // each caller gets its own copy

  CIconHandle fromBytes(store.GetSizedIconFromBytes(icon, 32, 32));
  ASSERT_TRUE(fromBytes.IsValid());
  EXPECT_EQ(blue, IconColour(fromBytes.Get(), 32));
}

TEST(ImageStore, MalformedIconFilesGiveNoIcon) {
  CImageStore store;
  CByteBuffer icon = MakeIcon({{16, 0xFF0000}});
  CByteBuffer truncated(icon.Data(), 30);  // the directory points past the end
  ASSERT_TRUE(store.AddPackageEntry("cut.ico", truncated));
  ASSERT_TRUE(store.AddPackageEntry("text.ico", Bytes("plain text, not an icon")));
  EXPECT_EQ(nullptr, store.LoadPackageIcon("cut.ico"));
  EXPECT_EQ(nullptr, store.LoadPackageIcon("text.ico"));
  EXPECT_EQ(nullptr, store.GetSizedIcon("text.ico", 16, 16));
  EXPECT_EQ(nullptr, store.LoadPackageIcon("missing.ico"));
}

TEST(ImageStore, TheProcessWideStoreLivesUntilDestroyed) {
  CImageStore* store = GetImageStore();
  ASSERT_TRUE(store->AddPackageEntry("x.png", SolidPng(1, 1, kRed)));
  EXPECT_EQ(store, GetImageStore());
  DestroyImageStore();
  EXPECT_FALSE(GetImageStore()->HasPackageEntry("x.png"));
  DestroyImageStore();
}
