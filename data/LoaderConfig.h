// The loader configuration: the list of file records carried in a container's "data.txt".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/ByteBuffer.h"

// One file record; the field names are the JSON keys. Texts are in the ANSI code page.
struct LoaderFile {
  std::string file_name;
  std::string file_check;
  std::string url;
  std::string path;
  std::string desc;
  unsigned int bits = 0;
  std::string compress_file_name;
  std::string compress_type;
  std::string compress_user_password;
  std::string compress_file_check;
};

class CLoaderConfig {
public:
  static const char kDataEntry[];
  static const char kUserEntry[];
  // A real record list is a few hundred bytes: a larger "data.txt" is refused before parsing.
  static constexpr unsigned long kMaxDataBytes = 4 * 1024 * 1024;

  // An empty or null expected user skips the "user.txt" check. "data.txt" must be strict JSON
  // (comments allowed): one root, no duplicate keys, valid UTF-8. Running out of memory on the
  // way is a failed load.
  bool LoadFromMemory(const CByteBuffer& bytes, const char* password, const char* expectedUser);
  bool LoadFromFile(const char* path, const char* password, const char* expectedUser);
  bool Save(const char* path, const char* user, const char* password) const;

  int Count() const { return static_cast<int>(m_files.size()); }
  const LoaderFile* At(int index) const;
  void Add(const LoaderFile& file) { m_files.push_back(std::make_unique<LoaderFile>(file)); }
  void Clear() { m_files.clear(); }

  static bool HasCompression(const LoaderFile& file);
  static bool IsZip(const LoaderFile& file);
  static bool IsContainer(const LoaderFile& file);

private:
  bool Load(const CByteBuffer& bytes, const char* password, const char* expectedUser);
  bool ParseRecords(const std::string& json);

  std::vector<std::unique_ptr<LoaderFile>> m_files;
};

// The compact JSON text of the records: one line and a newline, every name and string quoted
// with JsonQuote so the text is pure ASCII.
std::string SerializeLoaderFiles(const CLoaderConfig& config);
