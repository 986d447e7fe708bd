#include "net/FormParams.h"

#include "base/TextFormat.h"
#include "net/UrlEncoding.h"

unsigned CFormParams::Hash(const char* name) {
  unsigned hash = 0;
  for (const char* p = name; *p; ++p)
    hash = hash * 33 + static_cast<unsigned>(static_cast<int>(static_cast<signed char>(*p)));
  return hash;
}

void CFormParams::Set(const char* name, const char* value) {
  if (!name) return;
  auto& bucket = m_buckets[Hash(name) % kBuckets];
  for (auto& entry : bucket) {
    if (entry.first == name) {
      entry.second = value ? value : "";
      return;
    }
  }
  bucket.insert(bucket.begin(), {name, value ? value : ""});
}

void CFormParams::Set(const char* name, int value) {
  std::string text;
  FormatString(text, "%d", value);
  Set(name, text.c_str());
}

bool CFormParams::IsEmpty() const {
  for (const auto& bucket : m_buckets) {
    if (!bucket.empty()) return false;
  }
  return true;
}

void CFormParams::Clear() {
  for (auto& bucket : m_buckets) bucket.clear();
}

std::vector<std::pair<std::string, std::string>> CFormParams::Entries() const {
  std::vector<std::pair<std::string, std::string>> entries;
  for (const auto& bucket : m_buckets) entries.insert(entries.end(), bucket.begin(), bucket.end());
  return entries;
}

std::string CFormParams::Build(bool ansiValues) const {
  std::string joined;
  for (const auto& [name, value] : Entries()) {
    if (!joined.empty()) joined += '&';
    joined += name + "=" + (ansiValues ? UrlEncodeAnsi(value.c_str()) : UrlEncodeUtf8(value.c_str()));
  }
  return joined;
}
