// URLs: cracking into components, composing back, and the clean-up a request URL gets.
#pragma once

#include <windows.h>

#include <string>

class CUrl {
public:
  static constexpr int kSchemeHttp = 3;
  static constexpr int kSchemeHttps = 4;

  CUrl() = default;
  explicit CUrl(const char* url) { SetUrl(url); }

  // Cracks the text (escapes decoded); false when the platform's cracker refuses it.
  bool SetUrl(const char* url);
  std::string ToString() const;  // without an explicit port; "" when it cannot be composed

  int scheme = kSchemeHttp;
  std::string hostName;
  WORD port = 0;
  std::string userName;
  std::string password;
  std::string urlPath;
  std::string extraInfo;  // "?query#fragment" as the cracker returns it
  std::string schemeName;
  std::string urlText;
};

// Drops the text after the last "#" (when there is any) and appends "?" + the form parameters
// when they are not empty, even if the URL already has a query.
std::string CleanRequestUrl(const std::string& url, const std::string& formParams);
