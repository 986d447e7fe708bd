#include "net/ProxyChoice.h"

#include <cstdlib>
#include <vector>

#include "base/AnsiChars.h"

namespace {

constexpr int kDefaultProxyPort = 80;
constexpr int kMaxPort = 65535;
const char kSeparators[] = "; \t\r\n";
const char kBypassSeparators[] = ";, \t\r\n";
const char kLocalNames[] = "<local>";

std::vector<std::string> Split(const std::string& text, const char* separators) {
  std::vector<std::string> parts;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// "host[:port]", perhaps written as a URL ("http://host:port/").
bool ReadServer(std::string entry, ProxyServer& out) {
  size_t scheme = entry.find("://");
  if (scheme != std::string::npos) entry = entry.substr(scheme + 3);
  entry = entry.substr(0, entry.find('/'));
  size_t colon = entry.rfind(':');
  ProxyServer server;
  server.host = entry.substr(0, colon);
  server.port = kDefaultProxyPort;
  if (colon != std::string::npos) {
    std::string digits = entry.substr(colon + 1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) {
      return false;
    }
    server.port = atoi(digits.c_str());
  }
  if (server.host.empty() || server.port <= 0 || server.port > kMaxPort) return false;
  out = server;
  return true;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' stands for any run of characters; everything else is compared ignoring ASCII case.
bool WildcardMatches(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') return WildcardMatches(pattern + 1, text) || (*text && WildcardMatches(pattern, text + 1));
  return *text && LowerAscii(*pattern) == LowerAscii(*text) && WildcardMatches(pattern + 1, text + 1);
}

}  // namespace

bool ProxyForScheme(const std::string& list, const std::string& scheme, ProxyServer& out) {
  bool found = false;
  ProxyServer fallback;
  for (const std::string& entry : Split(list, kSeparators)) {
    size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (!found && ReadServer(entry, fallback)) found = true;
      continue;
    }
    if (AnsiChars::SameIgnoringAsciiCase(entry.substr(0, equals).c_str(), scheme.c_str()) &&
        ReadServer(entry.substr(equals + 1), out)) {
      return true;
    }
  }
  if (found) out = fallback;
  return found;
}

bool BypassesProxy(const std::string& bypass, const std::string& host) {
  for (const std::string& entry : Split(bypass, kBypassSeparators)) {
    if (AnsiChars::SameIgnoringAsciiCase(entry.c_str(), kLocalNames)) {
      if (host.find('.') == std::string::npos) return true;
      continue;
    }
    if (WildcardMatches(entry.c_str(), host.c_str())) return true;
  }
  return false;
}
