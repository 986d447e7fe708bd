// Conversions between the ANSI code page, UTF-16 and UTF-8, and the JSON quoting that keeps
// written JSON pure ASCII whatever the code page.
#pragma once

#include <cstddef>
#include <string>

class CTextConverter {
public:
  // Each conversion replaces the previous result, which stays valid until the next one.
  // Null means no result; callers treat it as an empty string.
  const wchar_t* AnsiToWide(const char* text);
  const char* WideToAnsi(const wchar_t* text, int length = 0);
  const wchar_t* Utf8ToWide(const char* text);
  const char* WideToUtf8(const wchar_t* text);
  const char* Utf8ToAnsi(const char* text);
  const char* AnsiToUtf8(const char* text);
  const char* JsonEscape(const char* text);

private:
  const wchar_t* SetWide(std::wstring&& wide);
  const char* SetNarrow(std::string&& narrow);
  std::nullptr_t Fail();

  // At most one of the two holds the current result; the other is kept empty.
  std::wstring m_wide;
  std::string m_narrow;
};

// A double quote, the escaped text, a double quote.
std::string JsonQuote(const char* text);

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text);
bool IsValidUtf8(const char* data, size_t length);

// ASCII letters in lower case, every other byte as it is (for protocol keywords and names).
std::string AsciiLower(std::string text);
