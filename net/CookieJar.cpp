#include "net/CookieJar.h"

#include <algorithm>
#include <ctime>

#include "base/TextConverter.h"
#include "base/TextFormat.h"
#include "net/HttpLines.h"
#include "net/Url.h"

namespace {

const char kSetCookie[] = "Set-Cookie";

std::string TrimLeadingSpaces(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first);
}

// Parts split at ";": every part but the first loses its leading spaces; empty parts go.
std::vector<std::string> SplitParts(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (bool first = true;; first = false) {
    size_t end = text.find(';', start);
    std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!first) part = TrimLeadingSpaces(part);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// The attribute name of "name=value" in lower case, or "" when there is no "=" after position 0.
std::string AttributeName(const std::string& part) {
  size_t equals = part.find('=');
  return equals == std::string::npos || equals == 0 ? "" : AsciiLower(part.substr(0, equals));
}

std::string AttributeValue(const std::string& part) { return part.substr(part.find('=') + 1); }

std::vector<std::string> HostLabels(const std::string& host) {
  std::vector<std::string> labels;
  size_t start = 0;
  while (start <= host.size()) {
    size_t dot = host.find('.', start);
    std::string label = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!label.empty()) labels.push_back(label);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return labels;
}

std::vector<std::string> UrlHostLabels(const char* url) {
  CUrl cracked;
  return cracked.SetUrl(url) ? HostLabels(cracked.hostName) : std::vector<std::string>();
}

// The date of an Expires part: after the weekday's comma, before "gmt", as local time.
bool ParseExpiry(const std::string& expiresPart, SYSTEMTIME& out) {
  std::string text = AsciiLower(expiresPart);
  size_t comma = text.find(',');
  if (comma == std::string::npos || comma == 0) return false;
  text = text.substr(comma + 1);
  size_t zone = text.find("gmt");
  if (zone != std::string::npos && zone > 0) text = text.substr(0, zone);
  long long seconds = 0;
  if (!ParseVariantDate(text.c_str(), &seconds)) return false;
  __time64_t time = seconds;
  struct tm local;
  if (_localtime64_s(&local, &time) != 0) return false;
  out = {};
  out.wYear = static_cast<WORD>(local.tm_year + 1900);
  out.wMonth = static_cast<WORD>(local.tm_mon + 1);
  out.wDayOfWeek = static_cast<WORD>(local.tm_wday);
  out.wDay = static_cast<WORD>(local.tm_mday);
  out.wHour = static_cast<WORD>(local.tm_hour);
  out.wMinute = static_cast<WORD>(local.tm_min);
  out.wSecond = static_cast<WORD>(local.tm_sec);
  return true;
}

}  // namespace

bool ParseCookieText(const std::string& text, CCookie& out) {
  std::string expires;
  bool seen[3] = {false, false, false};  // domain, path, expires
  std::vector<std::string> rest;
  for (const std::string& part : SplitParts(text)) {
    std::string name = AttributeName(part);
    int attribute = name == "domain" ? 0 : name == "path" ? 1 : name == "expires" ? 2 : -1;
    if (attribute >= 0) {
      if (seen[attribute] || (attribute == 0 && AttributeValue(part).empty())) return false;
      seen[attribute] = true;
      if (attribute == 2) expires = part;
    } else if (!name.empty()) {
      rest.push_back(part);
    } else if (AsciiLower(part) != "httponly") {
      return false;
    }
  }
  if (rest.size() != 1) return false;
  CCookie cookie;
  if (!expires.empty() && !ParseExpiry(expires, cookie.expiry)) return false;
  size_t equals = rest[0].find('=');
  cookie.name = rest[0].substr(0, equals);
  cookie.value = rest[0].substr(equals + 1);
  out = cookie;
  return true;
}

bool CCookieJar::SetCookieText(const std::string& value) {
  std::string domainUrl, expires;
  bool seenOnce[4] = {false, false, false, false};  // path, expires, max-age, version
  bool seenDomain = false;
  std::vector<std::string> rest;
  for (const std::string& part : SplitParts(value)) {
    std::string name = AttributeName(part);
    if (name == "domain") {
      std::string domain = AttributeValue(part);
      if (seenDomain || domain.empty()) return false;
      seenDomain = true;
      if (domain[0] == '.') domain.erase(0, 1);
      domainUrl = "http://" + domain;
      continue;
    }
    int attribute = name == "path" ? 0 : name == "expires" ? 1 : name == "max-age" ? 2 : name == "version" ? 3 : -1;
    if (attribute >= 0) {
      if (seenOnce[attribute]) return false;
      seenOnce[attribute] = true;
      if (attribute == 1) expires = part;
    } else if (!name.empty()) {
      rest.push_back(part);
    } else if (AsciiLower(part) != "httponly") {
      return false;  // Secure and every other flag
    }
  }
  if (rest.size() != 1 || AttributeName(rest[0]).empty()) return false;
  std::string cookieText;
  FormatString(cookieText, "%s; %s", rest[0].c_str(), expires.c_str());
  CCookie cookie;
  if (!ParseCookieText(cookieText, cookie)) return false;
  // Without a Domain attribute the empty URL does not crack: such cookies are not kept.
  return SetCookie(domainUrl.c_str(), cookieText);
}

bool CCookieJar::SetCookie(const char* url, const std::string& cookieText) {
  CCookie cookie;
  std::vector<std::string> labels = UrlHostLabels(url);
  if (labels.empty() || !ParseCookieText(cookieText, cookie)) return false;
  if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return false;
  // A full jar still takes new values for the cookies it holds; it grows no further nodes.
  std::vector<const CCookieDomain*> path = PathOf(labels);
  if (m_count >= kMaxCookies && path.size() < labels.size()) return false;
  Domains* level = &m_roots;
  CCookieDomain* node = nullptr;
  for (auto label = labels.rbegin(); label != labels.rend(); ++label) {
    auto found = std::find_if(level->begin(), level->end(), [&](const auto& d) { return d->label == *label; });
    if (found == level->end()) {
      level->push_back(std::make_unique<CCookieDomain>());
      level->back()->label = *label;
      found = level->end() - 1;
    }
    node = found->get();
    level = &node->children;
  }
  auto existing =
      std::find_if(node->cookies.begin(), node->cookies.end(), [&](const CCookie& c) { return c.name == cookie.name; });
  if (existing == node->cookies.end()) {
    if (node->cookies.size() >= kMaxCookiesPerDomain || m_count >= kMaxCookies) return false;
    node->cookies.push_back(cookie);
    ++m_count;
  } else {
    existing->value = cookie.value;
    existing->expiry = cookie.expiry;
  }
  return true;
}

std::vector<const CCookieJar::CCookieDomain*> CCookieJar::PathOf(const std::vector<std::string>& labels) const {
  std::vector<const CCookieDomain*> path;
  const Domains* level = &m_roots;
  for (auto label = labels.rbegin(); label != labels.rend(); ++label) {
    auto found = std::find_if(level->begin(), level->end(), [&](const auto& d) { return d->label == *label; });
    if (found == level->end()) break;
    path.push_back(found->get());
    level = &(*found)->children;
  }
  return path;
}

std::string CCookieJar::GetCookieHeader(const char* url) const {
  CUrl cracked;
  return cracked.SetUrl(url) ? GetCookieHeader(cracked) : "";
}

std::string CCookieJar::GetCookieHeader(const CUrl& url) const {
  std::string header;
  for (const CCookieDomain* node : PathOf(HostLabels(url.hostName))) {
    for (const CCookie& cookie : node->cookies) {
      if (!header.empty()) header += "; ";
      header += cookie.name + "=" + cookie.value;
    }
  }
  return header;
}

bool CCookieJar::GetCookie(const char* url, const char* name, std::string& value) const {
  value.clear();
  for (const CCookieDomain* node : PathOf(UrlHostLabels(url))) {
    for (const CCookie& cookie : node->cookies) {
      if (cookie.name == name) {
        value = cookie.value;
        return true;
      }
    }
  }
  return false;
}

// Walks the head with an offset: copying the rest of the head for each line would make a head of
// many short lines cost lines times head bytes.
int CCookieJar::TakeSetCookies(const std::string& head) {
  size_t position = 0;
  for (;;) {
    size_t lineEnd = head.find(kLineEnd, position);
    if (lineEnd == std::string::npos || lineEnd == position) break;
    std::string line = head.substr(position, lineEnd - position);
    position = head.find_first_not_of(' ', lineEnd + kLineEndLength);
    if (position == std::string::npos) break;
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    if (_stricmp(line.substr(0, colon).c_str(), kSetCookie) == 0)
      SetCookieText(TrimLeadingSpaces(line.substr(colon + 1)));
  }
  return 1;
}
