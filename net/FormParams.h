// The HTTP client's form parameters: a 17-bucket hash map whose iteration order is part of what
// goes on the wire ("a=1&b=2" joins entries bucket by bucket, newest first within a bucket).
#pragma once

#include <string>
#include <utility>
#include <vector>

class CFormParams {
public:
  static constexpr int kBuckets = 17;

  void Set(const char* name, const char* value);  // replaces an existing name's value
  void Set(const char* name, int value);
  bool IsEmpty() const;
  void Clear();

  // name=value pairs joined with "&"; values percent-encoded (UTF-8 form unless `ansiValues`),
  // names as they are. "" for no parameters.
  std::string Build(bool ansiValues = false) const;
  // The entries in the order Build joins them.
  std::vector<std::pair<std::string, std::string>> Entries() const;

  static unsigned Hash(const char* name);

private:
  std::vector<std::pair<std::string, std::string>> m_buckets[kBuckets];  // newest first
};
