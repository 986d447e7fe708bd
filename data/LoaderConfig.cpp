#include "data/LoaderConfig.h"

#include <windows.h>

#include <json/json.h>

#include <cstdlib>
#include <sstream>

#include "base/TextConverter.h"
#include "base/TextFormat.h"
#include "data/DbContainer.h"

const char CLoaderConfig::kDataEntry[] = "data.txt";
const char CLoaderConfig::kUserEntry[] = "user.txt";

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

// A member counts only when present and a JSON string; its UTF-8 text comes out in the ANSI code page.
bool ReadStringMember(const Json::Value& object, const char* key, std::string& out) {
  const Json::Value* member = object.find(key, key + strlen(key));
  if (!member || !member->isString()) return false;
  CTextConverter converter;
  const char* ansi = converter.Utf8ToAnsi(member->asCString());
  out = ansi ? ansi : "";
  return true;
}

bool ReadRecord(const Json::Value& element, LoaderFile& file) {
  if (!element.isObject()) return false;
  for (int k = 0; k < kKeyCount; ++k) {
    std::string text;
    if (!ReadStringMember(element, kKeys[k], text)) return false;
    if (static_cast<EKey>(k) == EKey::Bits) {
      file.bits = static_cast<unsigned int>(strtoul(text.c_str(), nullptr, 10));
    } else {
      *TextField(file, static_cast<EKey>(k)) = text;
    }
  }
  return true;
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
  return ParseRecords(json);
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
    if (!ReadRecord(element, *file)) {
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

bool CLoaderConfig::Save(const char* path, const char* user, const char* password) const {
  if (!path || !*path) return false;
  CDbContainer container;
  if (!container.WriteTextEntry(kDataEntry, SerializeLoaderFiles(*this).c_str())) return false;
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
    root.append(record);
  }
  std::string text;
  WriteJson(root, text);
  return text + "\n";
}
