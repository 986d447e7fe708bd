#include "net/Url.h"

#include <wininet.h>

#include <vector>

namespace {

constexpr DWORD kComponentChars = 1024;
constexpr WORD kDefaultPort = 80;

}  // namespace

bool CUrl::SetUrl(const char* url) {
  urlText = url ? url : "";
  std::vector<char> schemeBuffer(kComponentChars), host(kComponentChars), user(kComponentChars), pass(kComponentChars),
      path(kComponentChars), extra(kComponentChars);
  URL_COMPONENTSA components = {};
  components.dwStructSize = sizeof(components);
  components.lpszScheme = schemeBuffer.data();
  components.dwSchemeLength = kComponentChars;
  components.lpszHostName = host.data();
  components.dwHostNameLength = kComponentChars;
  components.lpszUserName = user.data();
  components.dwUserNameLength = kComponentChars;
  components.lpszPassword = pass.data();
  components.dwPasswordLength = kComponentChars;
  components.lpszUrlPath = path.data();
  components.dwUrlPathLength = kComponentChars;
  components.lpszExtraInfo = extra.data();
  components.dwExtraInfoLength = kComponentChars;
  if (!InternetCrackUrlA(urlText.c_str(), static_cast<DWORD>(urlText.size()), ICU_DECODE, &components)) return false;

  scheme = components.nScheme;
  port = components.nPort != 0 ? components.nPort : kDefaultPort;
  schemeName = schemeBuffer.data();
  hostName = host.data();
  userName = user.data();
  password = pass.data();
  urlPath = path.data();
  extraInfo = extra.data();
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
  if (!InternetCreateUrlA(&components, 0, out.data(), &length)) return std::string();
  return std::string(out.data(), length);
}

std::string CleanRequestUrl(const std::string& url, const std::string& formParams) {
  std::string cleaned = url;
  size_t hash = cleaned.rfind('#');
  if (hash != std::string::npos && hash + 1 < cleaned.size()) cleaned.erase(hash);
  if (!formParams.empty()) cleaned += "?" + formParams;
  return cleaned;
}
