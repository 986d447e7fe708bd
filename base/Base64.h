// Base64 with the standard alphabet and '=' padding: PEM bodies and HTTP authentication tokens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string EncodeBase64(const uint8_t* bytes, size_t size);
inline std::string EncodeBase64(const std::vector<uint8_t>& bytes) { return EncodeBase64(bytes.data(), bytes.size()); }
// Appends the decoded bytes to `out`; white space is skipped. False on any other character outside
// the alphabet, or one after the padding.
bool DecodeBase64(const std::string& text, std::vector<uint8_t>& out);
