// The process-wide skin image store: a zip package of skin files in memory, and the images and
// icons made from it (or from the executable's resources), cached by name.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/ByteBuffer.h"
#include "ui/draw/GdiHandles.h"

constexpr int kResourceTypeChars = 50;  // a record keeps at most 49 bytes of its resource type

// One decoded image: a top-down 32-bit DIB section with premultiplied B, G, R, A pixels.
struct SkinImage {
  CBitmapHandle bitmap;
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  char resourceType[kResourceTypeChars] = {};  // empty for package images
  uint32_t mask = 0;                           // the colour made transparent when decoded
};

class CImageStore {
public:
  CImageStore();
  virtual ~CImageStore();
  CImageStore(const CImageStore&) = delete;
  CImageStore& operator=(const CImageStore&) = delete;

  // The package. Entry names are compared ignoring case.
  bool AddPackageEntry(const char* name, const CByteBuffer& bytes);
  bool ReadPackageEntry(const char* name, CByteBuffer& out) const;  // false when missing or empty
  bool HasPackageEntry(const char* name) const;
  bool RemovePackageEntry(const char* name);
  bool LoadPackageFromResource(const char* name, const char* type);
  bool LoadPackageFromFile(const char* path);
  bool SetPackage(const CByteBuffer& bytes);  // replaces the package and forgets every cached image and icon
  bool SavePackage(const char* path) const;
  // Writes every entry into the directory; true only when each one was written. Entries whose
  // names would leave the directory (absolute, drive or ".." parts) are never written.
  bool ExtractPackage(const char* directory) const;
  const CByteBuffer& Package() const { return m_package; }

  // Images. Records stay owned by the store; names match exactly (case-sensitive).
  // With a resource type, the name is the decimal identifier of a resource of that type.
  const SkinImage* FindImage(const char* name, const char* resourceType, uint32_t mask);
  const SkinImage* GetImage(const char* name) { return FindImage(name, nullptr, 0); }
  const SkinImage* LoadSkinImage(const char* name, const char* resourceType, uint32_t mask);
  bool AddImageIfAbsent(const char* name, const CByteBuffer& bytes, uint32_t mask);
  const SkinImage* ReplaceImage(const char* name, const CByteBuffer& bytes, uint32_t mask);
  bool RemoveImage(const char* name);
  HBITMAP CopyImageBitmap(const char* name);  // a new bitmap the caller deletes

  // Icons from icon-file entries. Sized icons are cached; callers get copies they destroy.
  HICON LoadPackageIcon(const char* name) const;
  HICON GetSizedIcon(const char* name, int width, int height);
  HICON GetSizedIconFromBytes(const CByteBuffer& bytes, int width, int height);

  // Draws an image-attribute string with this store's images. Defined with the attribute drawing
  // (ui/draw/ImageAttributes.cpp), which uses the store: the store never uses the drawing.
  bool DrawSkinImage(HDC dc, const RECT& item, const RECT& paint, const char* image, const char* modify);

private:
  struct SizedIcon {
    int width;
    int height;
    CIconHandle icon;
  };

  bool ReadImageBytes(const char* name, const char* resourceType, CByteBuffer& out) const;
  const SkinImage* Cache(const char* name, std::unique_ptr<SkinImage> image);
  HICON CopyCachedIcon(const std::string& key, int width, int height) const;
  HICON CacheSizedIcon(const std::string& key, const CByteBuffer& bytes, int width, int height);

  CByteBuffer m_package;
  std::string m_packagePath;
  std::map<std::string, std::unique_ptr<SkinImage>> m_images;
  std::map<std::string, std::vector<SizedIcon>> m_icons;
};

// The store is made on first use and lives until DestroyImageStore; the next use makes a new one.
CImageStore* GetImageStore();
void DestroyImageStore();
