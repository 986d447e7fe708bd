#include "base/AnsiChars.h"

#include <windows.h>

#include <cstring>

namespace AnsiChars {

namespace {

bool IsSeparator(const char* p) { return *p == '\\' || *p == '/'; }

char LowerSingle(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* Next(const char* p) {
  if (!*p) return p;
  return IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] ? p + 2 : p + 1;
}

size_t LastSeparator(const std::string& path) {
  size_t last = std::string::npos;
  for (const char* p = path.c_str(); *p; p = Next(p)) {
    if (IsSeparator(p)) last = static_cast<size_t>(p - path.c_str());
  }
  return last;
}

std::vector<std::string> PathParts(const std::string& path) {
  std::vector<std::string> parts(1);
  for (const char* p = path.c_str(); *p;) {
    const char* next = Next(p);
    if (IsSeparator(p)) {
      parts.emplace_back();
    } else {
      parts.back().append(p, next);
    }
    p = next;
  }
  return parts;
}

std::string AsciiLower(const std::string& text) {
  std::string lower = text;
  for (char* p = &lower[0]; *p; p = const_cast<char*>(Next(p))) {
    if (Next(p) == p + 1) *p = LowerSingle(*p);
  }
  return lower;
}

bool SameIgnoringAsciiCase(const char* a, const char* b) {
  while (*a && *b) {
    const char* nextA = Next(a);
    const char* nextB = Next(b);
    bool single = nextA == a + 1;
    if (nextA - a != nextB - b) return false;
    if (single ? LowerSingle(*a) != LowerSingle(*b) : memcmp(a, b, nextA - a) != 0) return false;
    a = nextA;
    b = nextB;
  }
  return *a == *b;
}

}  // namespace AnsiChars
