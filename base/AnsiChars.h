// Walking ANSI text by character, in the system's code page. The second byte of a double-byte
// character may be 0x5C, the backslash ("乗" is 81 5C in GBK), or an ASCII letter, so splitting a
// path at a byte or lower-casing byte by byte cuts characters apart. Every place that splits a
// path or compares names ignoring case goes through here.
#pragma once

#include <string>
#include <vector>

namespace AnsiChars {

// The next character after `p` (a double-byte character counts as one; a lead byte at the end of
// the text stands alone).
const char* Next(const char* p);
// The last '\' or '/' that is a character of its own; npos when there is none.
size_t LastSeparator(const std::string& path);
// The text between separators, in order (empty parts included).
std::vector<std::string> PathParts(const std::string& path);
// Single-byte ASCII letters in lower case, every other character as it is.
std::string AsciiLower(const std::string& text);
// Equal once both are AsciiLower'd, compared in place.
bool SameIgnoringAsciiCase(const char* a, const char* b);

}  // namespace AnsiChars
