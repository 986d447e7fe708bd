#include <gtest/gtest.h>

#include <string>

#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "base/Path.h"
#include "ui/draw/ImageDecoder.h"
#include "ui/draw/ImageStore.h"

namespace {

constexpr uint32_t kRed = Argb(255, 217, 43, 43);

uint32_t DibPixel(HBITMAP bitmap, int x, int y) {
  DIBSECTION dib = {};
  if (GetObjectA(bitmap, sizeof(dib), &dib) != sizeof(dib)) return 0xDEADBEEF;
  return static_cast<const uint32_t*>(dib.dsBm.bmBits)[y * dib.dsBm.bmWidth + x];
}

// The colour in the middle of an icon drawn at `size`.
uint32_t IconColour(HICON icon, int size) {
  CPixelSurface surface(size, size, 0);
  DrawIconEx(surface.Dc(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  return icon ? Rgb(surface.At(size / 2, size / 2)) : 0xDEADBEEF;
}

void AppendTo(void* buffer, void* data, int size) { static_cast<CByteBuffer*>(buffer)->Append(data, size); }

}  // namespace

TEST(ImageDecoder, OnlyPngIsDecoded) {
  DecodedImage png;
  CByteBuffer red = SolidPng(1, 1, kRed);
  ASSERT_TRUE(DecodeImage(red.Data(), red.Length(), 0, png));
  EXPECT_EQ(kRed, DibPixel(png.bitmap.Get(), 0, 0));
  // One red pixel in formats stb_image also reads.
  const BYTE rgb[3] = {217, 43, 43};
  CByteBuffer bmp, tga, jpeg;
  stbi_write_bmp_to_func(AppendTo, &bmp, 1, 1, 3, rgb);
  stbi_write_tga_to_func(AppendTo, &tga, 1, 1, 3, rgb);
  stbi_write_jpg_to_func(AppendTo, &jpeg, 1, 1, 3, rgb, 90);
  for (const CByteBuffer* bytes : {&bmp, &tga, &jpeg}) {
    ASSERT_GT(bytes->Length(), 8);
    DecodedImage image;
    EXPECT_FALSE(DecodeImage(bytes->Data(), bytes->Length(), 0, image));
  }
}

TEST(ImageDecoder, ASideLongerThanTheLimitIsRefused) {
  struct Case {
    int width, height;
    bool decoded;
  };
  for (const Case& c : {Case{kMaxImageSide, 1, true}, Case{1, kMaxImageSide, true}, Case{kMaxImageSide + 1, 1, false},
                        Case{1, kMaxImageSide + 1, false}}) {
    CByteBuffer png = SolidPng(c.width, c.height, kRed);
    DecodedImage image;
    EXPECT_EQ(c.decoded, DecodeImage(png.Data(), png.Length(), 0, image)) << c.width << " x " << c.height;
    EXPECT_EQ(c.decoded ? c.width : 0, image.width);
  }
}

TEST(ImageStore, DecodingPremultipliesMasksAndMarksAlpha) {
  CByteBuffer png = MakePng(3, 1, {Argb(128, 200, 100, 50), Argb(255, 0, 255, 0), kRed});
  CBitmapHandle plain(DecodeToDib(png.Data(), png.Length(), 0));
  ASSERT_TRUE(plain.IsValid());
  EXPECT_EQ(Argb(128, 100, 50, 25), DibPixel(plain.Get(), 0, 0));  // B 25, G 50, R 100, A 128
  CImageStore store;
  const SkinImage* masked = store.ReplaceImage("masked", png, Argb(255, 0, 255, 0));
  ASSERT_NE(nullptr, masked);
  EXPECT_TRUE(masked->hasAlpha);
  EXPECT_EQ(0u, DibPixel(masked->bitmap.Get(), 1, 0));
  EXPECT_EQ(kRed, DibPixel(masked->bitmap.Get(), 2, 0));
  EXPECT_EQ(masked, store.FindImage("masked", nullptr, 0));  // cached: a later mask changes nothing
  EXPECT_FALSE(store.ReplaceImage("opaque", SolidPng(3, 2, kRed), 0)->hasAlpha);
  EXPECT_EQ(nullptr, store.ReplaceImage("text", Bytes("not an image"), 0));

  // An opaque image gets its alpha from the mask alone: the keyed pixel, and only it, goes clear.
  const uint32_t kGreen = Argb(255, 0, 255, 0);
  CByteBuffer opaque = MakePng(2, 1, {kGreen, kRed});
  const SkinImage* unmasked = store.ReplaceImage("opaque unmasked", opaque, 0);
  const SkinImage* keyed = store.ReplaceImage("opaque keyed", opaque, kGreen);
  ASSERT_NE(nullptr, unmasked);
  ASSERT_NE(nullptr, keyed);
  EXPECT_FALSE(unmasked->hasAlpha);
  EXPECT_EQ(kGreen, DibPixel(unmasked->bitmap.Get(), 0, 0));
  EXPECT_TRUE(keyed->hasAlpha);
  EXPECT_EQ(0u, DibPixel(keyed->bitmap.Get(), 0, 0));
  EXPECT_EQ(kRed, DibPixel(keyed->bitmap.Get(), 1, 0));
}

TEST(ImageStore, PackageEntriesAreAddedReplacedAndRemovedIgnoringCase) {
  CImageStore store;
  CByteBuffer first = SolidPng(4, 4, kRed), second = SolidPng(4, 4, Argb(255, 0, 0, 255));
  ASSERT_TRUE(store.AddPackageEntry("Skin/Frame.PNG", first));
  ASSERT_TRUE(store.AddPackageEntry("close.png", first));
  CByteBuffer package = store.Package();
  ASSERT_TRUE(store.AddPackageEntry("CLOSE.png", first));
  EXPECT_EQ(Text(package), Text(store.Package()));  // the same bytes: not rebuilt
  ASSERT_TRUE(store.AddPackageEntry("close.png", second));
  CByteBuffer read;
  ASSERT_TRUE(store.ReadPackageEntry("Close.PNG", read));
  EXPECT_EQ(Text(second), Text(read));
  ASSERT_TRUE(store.RemovePackageEntry("SKIN/FRAME.png"));
  EXPECT_FALSE(store.HasPackageEntry("skin/frame.png"));
  EXPECT_TRUE(store.HasPackageEntry("close.png"));
}

TEST(ImageStore, ImagesComeFromPackageEntriesAndNumberedResources) {
  CImageStore store;
  ASSERT_TRUE(store.AddPackageEntry("close.png", SolidPng(5, 3, kRed)));
  const SkinImage* image = store.GetImage("close.png");
  ASSERT_NE(nullptr, image);
  EXPECT_EQ(5, image->width);
  EXPECT_NE(image, store.GetImage("Close.png"));  // one entry, cached under each exact name
  const SkinImage* resource = store.FindImage("103", "PNG", 0);
  ASSERT_NE(nullptr, resource);
  EXPECT_EQ(24, resource->height);
  EXPECT_TRUE(resource->hasAlpha);  // its transparent margin
  EXPECT_EQ(nullptr, CImageStore().FindImage("close.png", "PNG", 0));
  HBITMAP copy = store.CopyImageBitmap("close.png");
  EXPECT_NE(image->bitmap.Get(), copy);
  DeleteObject(copy);
  EXPECT_EQ(kRed, DibPixel(image->bitmap.Get(), 1, 1));
  EXPECT_TRUE(store.RemoveImage("close.png"));
  EXPECT_FALSE(store.RemoveImage("other.png"));
}

TEST(ImageStore, ADamagedPackageIsLeftAsItWasAndSetPackageReplacesIt) {
  CImageStore store;
  std::string noise(4000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 >> 3);
  ASSERT_TRUE(store.AddPackageEntry("noise.bin", Bytes(noise)));
  CByteBuffer damaged = store.Package();
  damaged.MakeUnique();
  damaged.Data()[60] ^= 0x55;  // inside the deflated data: the entry no longer reads
  store.SetPackage(damaged);
  EXPECT_EQ(Text(damaged), Text(store.Package()));
  EXPECT_FALSE(store.AddPackageEntry("new.png", SolidPng(2, 2, kRed)));
  EXPECT_FALSE(store.RemovePackageEntry("other.png"));
  EXPECT_EQ(Text(damaged), Text(store.Package()));
}

TEST(ImageStore, PackagesSaveLoadAndExtractOnlyInsideTheDirectory) {
  CScratchDir dir;
  CImageStore store;
  ASSERT_TRUE(store.AddPackageEntry("one.png", Bytes("1")));
  ASSERT_TRUE(store.AddPackageEntry("..\\escape.txt", Bytes("2")));
  ASSERT_TRUE(store.SavePackage(dir.File("skin.zip").c_str()));
  CImageStore loaded;
  ASSERT_TRUE(loaded.LoadPackageFromFile(dir.File("skin.zip").c_str()));
  ASSERT_TRUE(CreateDirectoryA(dir.File("out").c_str(), nullptr));
  EXPECT_FALSE(loaded.ExtractPackage((dir.File("out") + "\\\\").c_str()));  // one entry refused
  EXPECT_EQ("1", ReadFileBytes(dir.File("out\\one.png")));
  EXPECT_FALSE(FileExists(dir.File("escape.txt")));
}

TEST(ImageStore, ExtractingRefusesADirectoryPastThePathLimitRatherThanCutIt) {
  CScratchDir dir;
  CImageStore store;
  ASSERT_TRUE(store.AddPackageEntry("one.png", Bytes("1")));
  std::string out = dir.File("out");
  ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
  ASSERT_LT(out.size() + 8, static_cast<size_t>(kMaxPathChars));
  // Cut at 259 characters, what is left is `out` and backslashes: the entries would land there.
  std::string cutToOut = out + std::string(kMaxPathChars - out.size(), '\\');
  ASSERT_EQ(static_cast<size_t>(kMaxPathChars), cutToOut.size());
  for (const std::string& tooLong : {cutToOut + "elsewhere", cutToOut + "\\" + std::string(300, 'x')}) {
    EXPECT_FALSE(store.ExtractPackage(tooLong.c_str())) << tooLong.size();
    EXPECT_FALSE(FileExists(out + "\\one.png")) << tooLong.size();
  }
  // Trailing backslashes do not count: these are `out` itself.
  for (const std::string& fits : {out, cutToOut + std::string(100, '\\')}) {
    ASSERT_TRUE(store.ExtractPackage(fits.c_str())) << fits.size();
    EXPECT_EQ("1", ReadFileBytes(out + "\\one.png"));
    ASSERT_TRUE(DeleteFileA((out + "\\one.png").c_str()));
  }
}

TEST(ImageStore, IconsComeFromTheBestFittingImageOfAnIconFile) {
  CImageStore store;
  CByteBuffer icon = MakeIcon({{16, 0xFF0000}, {32, 0x0000FF}});
  ASSERT_TRUE(store.AddPackageEntry("app.ico", icon));
  CIconHandle large(store.LoadPackageIcon("app.ico")), small(store.GetSizedIcon("app.ico", 16, 16));
  CIconHandle again(store.GetSizedIcon("app.ico", 16, 16)), fromBytes(store.GetSizedIconFromBytes(icon, 32, 32));
  EXPECT_EQ(0x0000FFu, IconColour(large.Get(), 32));
  EXPECT_EQ(0xFF0000u, IconColour(small.Get(), 16));
  EXPECT_NE(small.Get(), again.Get());  // each caller gets its own copy
  EXPECT_EQ(0xFF0000u, IconColour(again.Get(), 16));
  EXPECT_EQ(0x0000FFu, IconColour(fromBytes.Get(), 32));
  ASSERT_TRUE(store.AddPackageEntry("cut.ico", CByteBuffer(icon.Data(), 40)));  // images past the end
  ASSERT_TRUE(store.AddPackageEntry("text.ico", Bytes("plain text, not an icon")));
  EXPECT_EQ(nullptr, store.LoadPackageIcon("cut.ico"));
  EXPECT_EQ(nullptr, store.LoadPackageIcon("text.ico"));
  EXPECT_EQ(nullptr, store.GetSizedIcon("text.ico", 16, 16));
}
