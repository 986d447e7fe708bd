// The HTTP client's cookies, in memory only: filed under their Domain attribute in a tree of host
// labels read from the right, and sent to every host below that domain.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CUrl;

struct CCookie {
  std::string name;  // compared case-sensitively
  std::string value;
  SYSTEMTIME expiry = {};  // all zero without an Expires attribute
};

// "name=value; attributes..." into a cookie; false for anything the jar refuses.
bool ParseCookieText(const std::string& text, CCookie& out);

// Bounded, since every response may add to it: cookies past a bound are ignored, the response
// is not failed for them.
class CCookieJar {
public:
  static constexpr size_t kMaxCookiesPerDomain = 50;
  static constexpr int kMaxCookies = 3000;
  static constexpr size_t kMaxCookieBytes = 4096;  // name and value together

  int TakeSetCookies(const std::string& head);   // every Set-Cookie line of a response head
  bool SetCookieText(const std::string& value);  // one Set-Cookie value
  bool SetCookie(const char* url, const std::string& cookieText);
  std::string GetCookieHeader(const char* url) const;  // "" when nothing matches
  std::string GetCookieHeader(const CUrl& url) const;  // the same for a URL cracked already
  bool GetCookie(const char* url, const char* name, std::string& value) const;
  void Clear() {
    m_roots.clear();
    m_count = 0;
  }

private:
  struct CCookieDomain {
    std::string label;
    std::vector<std::unique_ptr<CCookieDomain>> children;
    std::vector<CCookie> cookies;
  };
  using Domains = std::vector<std::unique_ptr<CCookieDomain>>;

  // The nodes from the host's top-level label towards its leftmost one, as far as they exist.
  // The nodes from the root down the host's labels (given left to right), as far as they exist.
  std::vector<const CCookieDomain*> PathOf(const std::vector<std::string>& labels) const;

  Domains m_roots;
  int m_count = 0;
};
