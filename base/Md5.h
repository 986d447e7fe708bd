// MD5 message digest (RFC 1321) and its text form, the product's integrity check.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMd5HexSize = 33;  // 32 lowercase hexadecimal digits and the terminating zero

class CMd5 {
public:
  CMd5();
  void Update(const void* data, size_t length);
  void Final(uint8_t digest[16]);

private:
  void Transform(const uint8_t* block);

  uint32_t m_state[4];
  uint64_t m_bitCount;
  uint8_t m_pending[64];
};

// The digest of `length` bytes as 32 lowercase hexadecimal digits.
void Md5Hex(const void* data, size_t length, char out[kMd5HexSize]);

// Digests are compared as text ignoring letter case, so upper-case digests from elsewhere match.
bool Md5Equal(const char* a, const char* b);
