#include "net/Url.h"

#include <wininet.h>

#include <vector>

#include "base/SystemLibrary.h"

namespace {

constexpr DWORD kComponentChars = 1024;
constexpr WORD kDefaultPort = 80;
const char kInternetLibrary[] = "wininet.dll";

// wininet.dll is no KnownDLL: looked up in the system directory, never imported.
BOOL CrackUrl(const char* url, DWORD length, DWORD flags, URL_COMPONENTSA* components) {
  static const auto crack = SystemFunction<decltype(&::InternetCrackUrlA)>(kInternetLibrary, "InternetCrackUrlA");
  return crack && crack(url, length, flags, components);
}

BOOL CreateUrl(URL_COMPONENTSA* components, DWORD flags, char* url, DWORD* length) {
  static const auto create = SystemFunction<decltype(&::InternetCreateUrlA)>(kInternetLibrary, "InternetCreateUrlA");
  return create && create(components, flags, url, length);
}

}  // namespace

bool CUrl::SetUrl(const char* url) {
  urlText = url ? url : "";
  // Six components, each given its own 1024-character slice of one buffer.
  std::vector<char> buffer(6 * kComponentChars);
  int next = 0;
  auto bind = [&](LPSTR& text, DWORD& length) {
    text = buffer.data() + kComponentChars * next++;
    length = kComponentChars;
  };
  URL_COMPONENTSA components = {};
  components.dwStructSize = sizeof(components);
  bind(components.lpszScheme, components.dwSchemeLength);
  bind(components.lpszHostName, components.dwHostNameLength);
  bind(components.lpszUserName, components.dwUserNameLength);
  bind(components.lpszPassword, components.dwPasswordLength);
  bind(components.lpszUrlPath, components.dwUrlPathLength);
  bind(components.lpszExtraInfo, components.dwExtraInfoLength);
  if (!CrackUrl(urlText.c_str(), static_cast<DWORD>(urlText.size()), ICU_DECODE, &components)) return false;

  scheme = components.nScheme;
  port = components.nPort != 0 ? components.nPort : kDefaultPort;
  schemeName = components.lpszScheme;
  hostName = components.lpszHostName;
  userName = components.lpszUserName;
  password = components.lpszPassword;
  urlPath = components.lpszUrlPath;
  extraInfo = components.lpszExtraInfo;
  if (urlPath.empty()) urlPath = "/";
  return true;
}

std::string CUrl::ToString() const {
  // Empty components are left out: Wine's composer writes ":@" for an empty user and password.
  auto component = [](const std::string& text) { return text.empty() ? nullptr : const_cast<char*>(text.c_str()); };
  URL_COMPONENTSA components = {};
  components.dwStructSize = sizeof(components);
  components.lpszScheme = component(schemeName);
  components.lpszHostName = component(hostName);
  components.lpszUserName = component(userName);
  components.lpszPassword = component(password);
  components.lpszUrlPath = component(urlPath);
  components.lpszExtraInfo = component(extraInfo);
  std::vector<char> out(kComponentChars);
  DWORD length = kComponentChars;
  if (!CreateUrl(&components, 0, out.data(), &length)) return std::string();
  return std::string(out.data(), length);
}

std::string CleanRequestUrl(const std::string& url, const std::string& formParams) {
  std::string cleaned = url;
  size_t hash = cleaned.rfind('#');
  if (hash != std::string::npos && hash + 1 < cleaned.size()) cleaned.erase(hash);
  if (!formParams.empty()) cleaned += "?" + formParams;
  return cleaned;
}
