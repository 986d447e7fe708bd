#include "ui/draw/ImageStore.h"

#include <cstdlib>
#include <cstring>

#include "base/AnsiChars.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "data/ZipArchive.h"
#include "ui/draw/IconLoader.h"
#include "ui/draw/ImageDecoder.h"

namespace {

// Removing an entry rebuilds the package; a result larger than this is refused.
constexpr int kMaxRebuiltPackageBytes = 10000000;
constexpr int kPackageIconSize = 32;

std::unique_ptr<CImageStore> g_store;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain relative name: no drive, no root, no ".." part, so it stays below the target directory.
bool StaysInside(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) return false;
  for (const std::string& part : AnsiChars::PathParts(name)) {
    if (part == "..") return false;
  }
  return true;
}

std::unique_ptr<SkinImage> Decode(const CByteBuffer& bytes, uint32_t mask) {
  DecodedImage decoded;
  if (!DecodeImage(bytes.Data(), bytes.Length(), mask, decoded)) return nullptr;
  auto image = std::make_unique<SkinImage>();
  image->bitmap = std::move(decoded.bitmap);
  image->width = decoded.width;
  image->height = decoded.height;
  image->hasAlpha = decoded.hasAlpha;
  image->mask = mask;
  return image;
}

}  // namespace

CImageStore* GetImageStore() {
  if (!g_store) g_store = std::make_unique<CImageStore>();
  return g_store.get();
}

void DestroyImageStore() { g_store.reset(); }

CImageStore::CImageStore() = default;

CImageStore::~CImageStore() = default;

bool CImageStore::AddPackageEntry(const char* name, const CByteBuffer& bytes) {
  return PutZipEntry(m_package, name, bytes);
}

bool CImageStore::ReadPackageEntry(const char* name, CByteBuffer& out) const {
  return ReadZipEntry(m_package, name, out);
}

bool CImageStore::HasPackageEntry(const char* name) const { return HasZipEntry(m_package, name); }

bool CImageStore::RemovePackageEntry(const char* name) {
  return RemoveZipEntry(m_package, name, kMaxRebuiltPackageBytes);
}

bool CImageStore::LoadPackageFromResource(const char* name, const char* type) {
  return m_package.LoadFromResource(name, type) > 0;
}

bool CImageStore::LoadPackageFromFile(const char* path) {
  m_packagePath = path ? path : "";
  return m_package.ReadFromFile(path) > 0;
}

bool CImageStore::SetPackage(const CByteBuffer& bytes) {
  m_images.clear();
  m_icons.clear();
  m_package = bytes;
  return true;
}

bool CImageStore::SavePackage(const char* path) const {
  return !m_package.IsEmpty() && m_package.WriteToFile(path, false) == m_package.Length();
}

bool CImageStore::ExtractPackage(const char* directory) const {
  CZipReader zip;
  if (!zip.Open(m_package)) return false;
  // Trailing backslashes do not count against the path limit; a directory still too long is
  // refused (CPath keeps no cut text), since a cut one would be some other directory.
  std::string trimmed(directory ? directory : "");
  StripTrailingBackslashes(trimmed.data());
  CPath base(trimmed.c_str());
  if (base.IsEmpty()) return false;
  bool all = true;
  int count = zip.Count();
  for (int i = 0; i < count; ++i) {
    std::string name;
    CByteBuffer content;
    CPath target(base);
    bool written = zip.GetEntry(i, &name, nullptr) && StaysInside(name) && target.Append(name.c_str()) &&
                   zip.Extract(i, content) && content.WriteToFile(target.c_str(), false) == content.Length();
    all = all && written;
  }
  return all;
}

const SkinImage* CImageStore::FindImage(const char* name, const char* resourceType, uint32_t mask) {
  if (!name) return nullptr;
  auto cached = m_images.find(name);
  if (cached != m_images.end()) return cached->second.get();
  return LoadSkinImage(name, resourceType, mask);
}

bool CImageStore::ReadImageBytes(const char* name, const char* resourceType, CByteBuffer& out) const {
  if (!resourceType || !*resourceType) return ReadPackageEntry(name, out);
  if (!IsDigit(name[0])) return false;
  WORD id = static_cast<WORD>(strtoul(name, nullptr, 10));
  return out.LoadFromResource(MAKEINTRESOURCEA(id), resourceType) > 0;
}

const SkinImage* CImageStore::LoadSkinImage(const char* name, const char* resourceType, uint32_t mask) {
  CByteBuffer bytes;
  if (!name || !ReadImageBytes(name, resourceType, bytes)) return nullptr;
  std::unique_ptr<SkinImage> image = Decode(bytes, mask);
  if (!image) return nullptr;
  if (resourceType) lstrcpynA(image->resourceType, resourceType, kResourceTypeChars);
  return Cache(name, std::move(image));
}

const SkinImage* CImageStore::Cache(const char* name, std::unique_ptr<SkinImage> image) {
  std::unique_ptr<SkinImage>& slot = m_images[name];
  slot = std::move(image);
  return slot.get();
}

bool CImageStore::AddImageIfAbsent(const char* name, const CByteBuffer& bytes, uint32_t mask) {
  if (!name) return false;
  if (m_images.count(name)) return true;
  return ReplaceImage(name, bytes, mask) != nullptr;
}

const SkinImage* CImageStore::ReplaceImage(const char* name, const CByteBuffer& bytes, uint32_t mask) {
  if (!name) return nullptr;
  std::unique_ptr<SkinImage> image = Decode(bytes, mask);
  return image ? Cache(name, std::move(image)) : nullptr;
}

bool CImageStore::RemoveImage(const char* name) {
  if (!GetImage(name)) return false;
  m_images.erase(name);
  return true;
}

HBITMAP CImageStore::CopyImageBitmap(const char* name) {
  const SkinImage* image = GetImage(name);
  if (!image) return nullptr;
  // Always a new bitmap: handing out the cached one would let the caller delete it.
  return static_cast<HBITMAP>(CopyImage(image->bitmap.Get(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

HICON CImageStore::LoadPackageIcon(const char* name) const {
  CByteBuffer bytes;
  if (!ReadPackageEntry(name, bytes)) return nullptr;
  return IconFromFileBytes(bytes, kPackageIconSize, kPackageIconSize);
}

HICON CImageStore::GetSizedIcon(const char* name, int width, int height) {
  if (!name) return nullptr;
  if (HICON copy = CopyCachedIcon(name, width, height)) return copy;
  CByteBuffer bytes;
  if (!ReadPackageEntry(name, bytes)) return nullptr;
  return CacheSizedIcon(name, bytes, width, height);
}

HICON CImageStore::GetSizedIconFromBytes(const CByteBuffer& bytes, int width, int height) {
  std::string digest = Md5Text(bytes);
  if (HICON copy = CopyCachedIcon(digest.c_str(), width, height)) return copy;
  return CacheSizedIcon(digest.c_str(), bytes, width, height);
}

// Callers always get a new icon: handing out the cached one would let them destroy it.
HICON CImageStore::CopyCachedIcon(const std::string& key, int width, int height) const {
  auto list = m_icons.find(key);
  if (list == m_icons.end()) return nullptr;
  for (const SizedIcon& entry : list->second) {
    if (entry.width == width && entry.height == height) return CopyIcon(entry.icon.Get());
  }
  return nullptr;
}

HICON CImageStore::CacheSizedIcon(const std::string& key, const CByteBuffer& bytes, int width, int height) {
  CIconHandle icon(LoadIconThroughFile(bytes, width, height));
  if (!icon.IsValid()) return nullptr;
  HICON copy = CopyIcon(icon.Get());
  m_icons[key].push_back({width, height, std::move(icon)});
  return copy;
}
