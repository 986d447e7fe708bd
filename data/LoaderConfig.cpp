#include "data/LoaderConfig.h"

#include <windows.h>

#include <json/json.h>

#include <cstdlib>
#include <sstream>

#include "base/PlatformCrypto.h"
#include "base/TextConverter.h"
#include "base/TextFormat.h"
#include "data/DbContainer.h"

const char CLoaderConfig::kDataEntry[] = "data.txt";
const char CLoaderConfig::kUserEntry[] = "user.txt";
const char CLoaderConfig::kSignatureEntry[] = "data.sig";

namespace {

const char kZipPacking[] = "zip";
const char kContainerPacking[] = "velmor";

// The keys in the order they are read.
enum class EKey { FileName, FileCheck, Url, Path, Desc, Bits, CompressFileName, CompressType, Password, CompressCheck };
const char* const kKeys[] = {"file_name",
                             "file_check",
                             "url",
                             "path",
                             "desc",
                             "bits",
                             "compress_file_name",
                             "compress_type",
                             "compress_user_password",
                             "compress_file_check"};
constexpr int kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

// Keys a record may carry beyond the ten: the signed mode's integrity and freshness fields.
const char* const kOptionalKeys[] = {"file_sha256", "compress_file_sha256", "serial", "expires"};
constexpr int kOptionalKeyCount = sizeof(kOptionalKeys) / sizeof(kOptionalKeys[0]);

const std::string* OptionalField(const LoaderFile& file, int index) {
  const std::string* fields[] = {&file.file_sha256, &file.compress_file_sha256, &file.serial, &file.expires};
  return fields[index];
}

std::string* OptionalField(LoaderFile& file, int index) {
  return const_cast<std::string*>(OptionalField(static_cast<const LoaderFile&>(file), index));
}

constexpr int kSerialMaxDigits = 20;  // 18446744073709551615
const char kExpiryPattern[] = "dddd-dd-ddTdd:dd:ddZ";

const std::string* TextField(const LoaderFile& file, EKey key) {
  switch (key) {
    case EKey::FileName: return &file.file_name;
    case EKey::FileCheck: return &file.file_check;
    case EKey::Url: return &file.url;
    case EKey::Path: return &file.path;
    case EKey::Desc: return &file.desc;
    case EKey::CompressFileName: return &file.compress_file_name;
    case EKey::CompressType: return &file.compress_type;
    case EKey::Password: return &file.compress_user_password;
    case EKey::CompressCheck: return &file.compress_file_check;
    case EKey::Bits: break;
  }
  return nullptr;
}

std::string* TextField(LoaderFile& file, EKey key) {
  return const_cast<std::string*>(TextField(static_cast<const LoaderFile&>(file), key));
}

const Json::Value* Member(const Json::Value& object, const char* key) { return object.find(key, key + strlen(key)); }

// A member counts only when present and a JSON string; its UTF-8 text comes out in the ANSI code page.
bool ReadString(const Json::Value* member, std::string& out) {
  if (!member || !member->isString()) return false;
  CTextConverter converter;
  const char* ansi = converter.Utf8ToAnsi(member->asCString());
  out = ansi ? ansi : "";
  return true;
}

// The optional keys: absent, or a JSON string. Without a signature key any other value is ignored,
// so an unsigned configuration that loaded before still loads.
bool ReadOptionalMembers(const Json::Value& object, LoaderFile& file, bool strict) {
  // Keys are unique and the ten are there: a record of ten members has nothing more to look up.
  if (object.size() <= static_cast<Json::ArrayIndex>(kKeyCount)) return true;
  for (int k = 0; k < kOptionalKeyCount; ++k) {
    const Json::Value* member = Member(object, kOptionalKeys[k]);
    if (member && !ReadString(member, *OptionalField(file, k)) && strict) return false;
  }
  return true;
}

// What a signed record must carry: its digests well-formed (the package's whenever it names a
// packing) and, when present, a serial and an expiry that read.
bool HasSignedFields(const LoaderFile& file) {
  if (!IsSha256Text(file.file_sha256)) return false;
  bool packed = CLoaderConfig::HasCompression(file);
  if ((packed || !file.compress_file_sha256.empty()) && !IsSha256Text(file.compress_file_sha256)) return false;
  unsigned long long serial = 0;
  long long expires = 0;
  return (file.serial.empty() || ParseSerial(file.serial, &serial)) &&
         (file.expires.empty() || ParseUtcTime(file.expires, &expires));
}

int Number(const std::string& text, size_t at, size_t digits) { return atoi(text.substr(at, digits).c_str()); }

bool ReadRecord(const Json::Value& element, LoaderFile& file, bool strict) {
  if (!element.isObject()) return false;
  for (int k = 0; k < kKeyCount; ++k) {
    std::string text;
    if (!ReadString(Member(element, kKeys[k]), text)) return false;
    if (static_cast<EKey>(k) == EKey::Bits) {
      file.bits = static_cast<unsigned int>(strtoul(text.c_str(), nullptr, 10));
    } else {
      *TextField(file, static_cast<EKey>(k)) = text;
    }
  }
  return ReadOptionalMembers(element, file, strict);
}

void WriteJson(const Json::Value& value, std::string& out) {
  switch (value.type()) {
    case Json::arrayValue:
      out += '[';
      for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
        if (i) out += ',';
        WriteJson(value[i], out);
      }
      out += ']';
      return;
    case Json::objectValue: {
      out += '{';
      bool first = true;
      for (const std::string& name : value.getMemberNames()) {
        if (!first) out += ',';
        first = false;
        out += JsonQuote(name.c_str()) + ':';
        WriteJson(value[name], out);
      }
      out += '}';
      return;
    }
    case Json::stringValue: out += JsonQuote(value.asCString()); return;
    default: {
      Json::StreamWriterBuilder builder;
      builder["indentation"] = "";
      out += Json::writeString(builder, value);
      return;
    }
  }
}

}  // namespace

const LoaderFile* CLoaderConfig::At(int index) const {
  return index >= 0 && index < Count() ? m_files[index].get() : nullptr;
}

bool CLoaderConfig::HasCompression(const LoaderFile& file) { return !file.compress_type.empty(); }

bool CLoaderConfig::IsZip(const LoaderFile& file) { return lstrcmpiA(file.compress_type.c_str(), kZipPacking) == 0; }

bool CLoaderConfig::IsContainer(const LoaderFile& file) {
  return lstrcmpiA(file.compress_type.c_str(), kContainerPacking) == 0;
}

bool CLoaderConfig::LoadFromMemory(const CByteBuffer& bytes, const char* password, const char* expectedUser) {
  Clear();
  // The bytes come from the network: JsonCpp and the strings allocate on their behalf, and deep
  // nesting makes JsonCpp throw. Neither may end the process.
  try {
    if (Load(bytes, password, expectedUser)) return true;
  } catch (const std::exception&) {
  }
  Clear();
  return false;
}

bool CLoaderConfig::Load(const CByteBuffer& bytes, const char* password, const char* expectedUser) {
  CDbContainer container;
  if (!container.Open(bytes, password)) return false;
  if (expectedUser && *expectedUser) {
    std::string user;
    if (!container.ReadTextEntry(kUserEntry, user) || lstrcmpiA(user.c_str(), expectedUser) != 0) return false;
  }
  std::string json;
  if (!container.ReadTextEntry(kDataEntry, json, kMaxDataBytes)) return false;
  if (IsSigned() && !VerifySignature(container, json)) return false;
  return ParseRecords(json);
}

// The signature covers the entry's exact bytes, which may go on past the text a reader sees.
bool CLoaderConfig::VerifySignature(const CDbContainer& container, const std::string& json) const {
  CByteBuffer data, signature;
  if (!container.ReadEntry(kDataEntry, data, kMaxDataBytes) || data.Length() != static_cast<int>(json.size())) {
    return false;
  }
  return container.ReadEntry(kSignatureEntry, signature, kEcdsaP256SignatureBytes) &&
         VerifyEcdsaP256Sha256(m_publicKey, data, signature);
}

// Strict where two readers could disagree: trailing text after the root, a second root and
// duplicate keys (one tool keeps the first, another the last) are refused. Comments stay allowed.
bool CLoaderConfig::ParseRecords(const std::string& json) {
  if (!IsValidUtf8(json)) return false;
  Json::CharReaderBuilder builder;
  builder["collectComments"] = true;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  Json::Value root;
  std::string errors;
  std::istringstream input(json);
  if (!Json::parseFromStream(builder, input, &root, &errors)) return false;
  if (!root.isNull() && !root.isArray()) return false;
  for (const Json::Value& element : root) {
    auto file = std::make_unique<LoaderFile>();
    if (!ReadRecord(element, *file, IsSigned()) || (IsSigned() && !HasSignedFields(*file))) {
      Clear();
      return false;
    }
    m_files.push_back(std::move(file));
  }
  return true;
}

bool CLoaderConfig::LoadFromFile(const char* path, const char* password, const char* expectedUser) {
  Clear();
  CByteBuffer bytes;
  if (bytes.ReadFromFile(path) <= 0) return false;
  return LoadFromMemory(bytes, password, expectedUser);
}

bool CLoaderConfig::Save(const char* path, const char* user, const char* password, const CEcdsaP256Key* signer) const {
  if (!path || !*path) return false;
  CDbContainer container;
  std::string json = SerializeLoaderFiles(*this);
  if (!container.WriteTextEntry(kDataEntry, json.c_str())) return false;
  CByteBuffer signature;
  if (signer && (!SignEcdsaP256Sha256(*signer, CByteBuffer(json.data(), static_cast<int>(json.size())), signature) ||
                 !container.WriteEntry(kSignatureEntry, signature))) {
    return false;
  }
  if (user && *user && !container.WriteTextEntry(kUserEntry, user)) return false;
  return container.Save(path, password);
}

std::string SerializeLoaderFiles(const CLoaderConfig& config) {
  // Values stay in the ANSI code page here; JsonQuote turns them into \u escapes.
  Json::Value root(Json::arrayValue);
  for (int i = 0; i < config.Count(); ++i) {
    const LoaderFile& file = *config.At(i);
    Json::Value record(Json::objectValue);
    for (int k = 0; k < kKeyCount; ++k) {
      EKey key = static_cast<EKey>(k);
      std::string bits;
      if (key == EKey::Bits) FormatString(bits, "%u", file.bits);
      record[kKeys[k]] = key == EKey::Bits ? bits : *TextField(file, key);
    }
    for (int k = 0; k < kOptionalKeyCount; ++k) {
      if (!OptionalField(file, k)->empty()) record[kOptionalKeys[k]] = *OptionalField(file, k);
    }
    root.append(record);
  }
  std::string text;
  WriteJson(root, text);
  return text + "\n";
}

bool ParseSerial(const std::string& text, unsigned long long* value) {
  if (text.empty() || text.size() > kSerialMaxDigits) return false;
  unsigned long long result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (result > (~0ULL - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

bool ParseUtcTime(const std::string& text, long long* seconds) {
  if (text.size() != sizeof(kExpiryPattern) - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kExpiryPattern[i] == 'd' ? !digit : text[i] != kExpiryPattern[i]) return false;
  }
  return UtcSecondsOf(Number(text, 0, 4), Number(text, 5, 2), Number(text, 8, 2), Number(text, 11, 2),
                      Number(text, 14, 2), Number(text, 17, 2), seconds);
}
