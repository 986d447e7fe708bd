// The percent-encodings of form values and the per-character UTF-8 form of multipart fields.
#pragma once

#include <string>

// ANSI text in; letters and digits stay, every other code unit below 256 becomes %XX, and a
// character from 256 up becomes the %XX of its UTF-8 (or, in the ANSI form, code-page) bytes.
std::string UrlEncodeUtf8(const char* text);
std::string UrlEncodeAnsi(const char* text);

// Code units below 256 as single bytes, the others as their UTF-8 bytes, nothing escaped.
std::string AnsiToUtf8Chars(const char* text);
