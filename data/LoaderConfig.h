// The loader configuration: the list of file records carried in a container's "data.txt".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/ByteBuffer.h"

class CDbContainer;
class CEcdsaP256Key;

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
  // Optional, written only when not empty. Without a signature key a malformed value is carried
  // and never interpreted; with one it refuses the configuration.
  std::string file_sha256;           // 64 lowercase hexadecimal digits
  std::string compress_file_sha256;  // likewise, of the packed file
  std::string serial;                // unsigned decimal; a configuration never replaces a higher one
  std::string expires;               // "YYYY-MM-DDTHH:MM:SSZ", UTC
};

class CLoaderConfig {
public:
  static const char kDataEntry[];
  static const char kUserEntry[];
  static const char kSignatureEntry[];
  // A real record list is a few hundred bytes: a larger "data.txt" is refused before parsing.
  static constexpr unsigned long kMaxDataBytes = 4 * 1024 * 1024;

  // An empty or null expected user skips the "user.txt" check. "data.txt" must be strict JSON
  // (comments allowed): one root, no duplicate keys, valid UTF-8. Running out of memory on the
  // way is a failed load.
  bool LoadFromMemory(const CByteBuffer& bytes, const char* password, const char* expectedUser);
  bool LoadFromFile(const char* path, const char* password, const char* expectedUser);
  // With a signer, "data.sig" holds the signature over the exact bytes written as "data.txt".
  bool Save(const char* path, const char* user, const char* password, const CEcdsaP256Key* signer = nullptr) const;

  // From now on a load also needs "data.sig" to verify with this public key (128 hexadecimal
  // digits, X then Y) and every record to carry well-formed signed fields: "file_sha256", and
  // "compress_file_sha256" when it names a packing. Empty: unsigned, the new fields optional.
  void RequireSignature(const std::string& publicKeyHex) { m_publicKey = publicKeyHex; }
  bool IsSigned() const { return !m_publicKey.empty(); }

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
  bool VerifySignature(const CDbContainer& container, const std::string& json) const;

  std::string m_publicKey;

  std::vector<std::unique_ptr<LoaderFile>> m_files;
};

// The compact JSON text of the records: one line and a newline, every name and string quoted
// with JsonQuote so the text is pure ASCII.
std::string SerializeLoaderFiles(const CLoaderConfig& config);

// "serial": decimal digits only (no sign, no space), at most 2^64 - 1.
bool ParseSerial(const std::string& text, unsigned long long* value);
// "expires": exactly "YYYY-MM-DDTHH:MM:SSZ" naming a real UTC time from the year 1970 on; seconds
// since 1970-01-01T00:00:00Z.
bool ParseUtcTime(const std::string& text, long long* seconds);
