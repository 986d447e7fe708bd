#include "ui/draw/IconLoader.h"

#include <vector>

#include "base/FileUtil.h"

namespace {

constexpr WORD kIconType = 1;
constexpr DWORD kIconFormatVersion = 0x30000;

#pragma pack(push, 2)
// An .ico file's directory entry: where each image's bytes lie in the file.
struct FileDirEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes, imageOffset;
};
// The same entry in a resource directory, which LookupIconIdFromDirectoryEx reads: an id instead of an offset.
struct ResourceDirEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
struct DirHeader {
  WORD reserved, type, count;
};
#pragma pack(pop)

// The file's directory entries, each checked to lie inside the bytes; empty when malformed.
std::vector<FileDirEntry> ReadDirectory(const CByteBuffer& bytes) {
  if (bytes.Length() < static_cast<int>(sizeof(DirHeader))) return {};
  const DirHeader* header = reinterpret_cast<const DirHeader*>(bytes.Data());
  size_t length = static_cast<size_t>(bytes.Length());
  if (header->reserved != 0 || header->type != kIconType || header->count == 0 ||
      sizeof(DirHeader) + header->count * sizeof(FileDirEntry) > length) {
    return {};
  }
  const FileDirEntry* entries = reinterpret_cast<const FileDirEntry*>(bytes.Data() + sizeof(DirHeader));
  std::vector<FileDirEntry> directory(entries, entries + header->count);
  for (const FileDirEntry& entry : directory) {
    if (entry.bytesInRes == 0 || entry.imageOffset >= length || entry.bytesInRes > length - entry.imageOffset) {
      return {};
    }
  }
  return directory;
}

// Lets the system choose among the images as it does for resources: entry i gets id i + 1.
int ChooseEntry(const std::vector<FileDirEntry>& directory, int width, int height) {
  std::vector<BYTE> resource(sizeof(DirHeader) + directory.size() * sizeof(ResourceDirEntry));
  DirHeader* header = reinterpret_cast<DirHeader*>(resource.data());
  *header = {0, kIconType, static_cast<WORD>(directory.size())};
  ResourceDirEntry* entries = reinterpret_cast<ResourceDirEntry*>(resource.data() + sizeof(DirHeader));
  for (size_t i = 0; i < directory.size(); ++i) {
    const FileDirEntry& file = directory[i];
    entries[i] = {file.width,  file.height,   file.colorCount, file.reserved,
                  file.planes, file.bitCount, file.bytesInRes, static_cast<WORD>(i + 1)};
  }
  int id = LookupIconIdFromDirectoryEx(resource.data(), TRUE, width, height, 0);
  return id >= 1 && id <= static_cast<int>(directory.size()) ? id - 1 : -1;
}

}  // namespace

HICON IconFromFileBytes(const CByteBuffer& bytes, int width, int height) {
  std::vector<FileDirEntry> directory = ReadDirectory(bytes);
  if (directory.empty()) return nullptr;
  int chosen = ChooseEntry(directory, width, height);
  if (chosen < 0) return nullptr;
  const FileDirEntry& entry = directory[chosen];
  return CreateIconFromResourceEx(bytes.Data() + entry.imageOffset, entry.bytesInRes, TRUE, kIconFormatVersion, width,
                                  height, 0);
}

HICON LoadIconThroughFile(const CByteBuffer& bytes, int width, int height) {
  char path[MAX_PATH];
  if (bytes.IsEmpty() || !MakeTempFileName(path)) return nullptr;
  HICON icon = nullptr;
  if (bytes.WriteToFile(path, false) == bytes.Length()) {
    icon = static_cast<HICON>(LoadImageA(nullptr, path, IMAGE_ICON, width, height, LR_LOADFROMFILE));
  }
  DeleteFileA(path);
  return icon;
}
