#include "base/Md5.h"

#include <windows.h>

#include <cstring>

#include "base/TextFormat.h"

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadLittleEndian(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);  // x86 is little endian, as MD5 wants
  return v;
}

inline void StoreLittleEndian(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }

// The four auxiliary functions of RFC 1321 (F and G in their one-operation-shorter forms).
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) (a) = (b) + RotateLeft((a) + f((b), (c), (d)) + (x) + (t), (s))

}  // namespace

CMd5::CMd5() : m_state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, m_bitCount(0), m_pending{} {}

void CMd5::Transform(const uint8_t* block) {
  // Words are read straight from the block: copying them first costs more than it saves on x86.
  const uint8_t* x = block;
  uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];

  MD5_STEP(MD5_F, a, b, c, d, LoadLittleEndian(x + 0), 0xd76aa478, 7);
  MD5_STEP(MD5_F, d, a, b, c, LoadLittleEndian(x + 4), 0xe8c7b756, 12);
  MD5_STEP(MD5_F, c, d, a, b, LoadLittleEndian(x + 8), 0x242070db, 17);
  MD5_STEP(MD5_F, b, c, d, a, LoadLittleEndian(x + 12), 0xc1bdceee, 22);
  MD5_STEP(MD5_F, a, b, c, d, LoadLittleEndian(x + 16), 0xf57c0faf, 7);
  MD5_STEP(MD5_F, d, a, b, c, LoadLittleEndian(x + 20), 0x4787c62a, 12);
  MD5_STEP(MD5_F, c, d, a, b, LoadLittleEndian(x + 24), 0xa8304613, 17);
  MD5_STEP(MD5_F, b, c, d, a, LoadLittleEndian(x + 28), 0xfd469501, 22);
  MD5_STEP(MD5_F, a, b, c, d, LoadLittleEndian(x + 32), 0x698098d8, 7);
  MD5_STEP(MD5_F, d, a, b, c, LoadLittleEndian(x + 36), 0x8b44f7af, 12);
  MD5_STEP(MD5_F, c, d, a, b, LoadLittleEndian(x + 40), 0xffff5bb1, 17);
  MD5_STEP(MD5_F, b, c, d, a, LoadLittleEndian(x + 44), 0x895cd7be, 22);
  MD5_STEP(MD5_F, a, b, c, d, LoadLittleEndian(x + 48), 0x6b901122, 7);
  MD5_STEP(MD5_F, d, a, b, c, LoadLittleEndian(x + 52), 0xfd987193, 12);
  MD5_STEP(MD5_F, c, d, a, b, LoadLittleEndian(x + 56), 0xa679438e, 17);
  MD5_STEP(MD5_F, b, c, d, a, LoadLittleEndian(x + 60), 0x49b40821, 22);

  MD5_STEP(MD5_G, a, b, c, d, LoadLittleEndian(x + 4), 0xf61e2562, 5);
  MD5_STEP(MD5_G, d, a, b, c, LoadLittleEndian(x + 24), 0xc040b340, 9);
  MD5_STEP(MD5_G, c, d, a, b, LoadLittleEndian(x + 44), 0x265e5a51, 14);
  MD5_STEP(MD5_G, b, c, d, a, LoadLittleEndian(x + 0), 0xe9b6c7aa, 20);
  MD5_STEP(MD5_G, a, b, c, d, LoadLittleEndian(x + 20), 0xd62f105d, 5);
  MD5_STEP(MD5_G, d, a, b, c, LoadLittleEndian(x + 40), 0x02441453, 9);
  MD5_STEP(MD5_G, c, d, a, b, LoadLittleEndian(x + 60), 0xd8a1e681, 14);
  MD5_STEP(MD5_G, b, c, d, a, LoadLittleEndian(x + 16), 0xe7d3fbc8, 20);
  MD5_STEP(MD5_G, a, b, c, d, LoadLittleEndian(x + 36), 0x21e1cde6, 5);
  MD5_STEP(MD5_G, d, a, b, c, LoadLittleEndian(x + 56), 0xc33707d6, 9);
  MD5_STEP(MD5_G, c, d, a, b, LoadLittleEndian(x + 12), 0xf4d50d87, 14);
  MD5_STEP(MD5_G, b, c, d, a, LoadLittleEndian(x + 32), 0x455a14ed, 20);
  MD5_STEP(MD5_G, a, b, c, d, LoadLittleEndian(x + 52), 0xa9e3e905, 5);
  MD5_STEP(MD5_G, d, a, b, c, LoadLittleEndian(x + 8), 0xfcefa3f8, 9);
  MD5_STEP(MD5_G, c, d, a, b, LoadLittleEndian(x + 28), 0x676f02d9, 14);
  MD5_STEP(MD5_G, b, c, d, a, LoadLittleEndian(x + 48), 0x8d2a4c8a, 20);

  MD5_STEP(MD5_H, a, b, c, d, LoadLittleEndian(x + 20), 0xfffa3942, 4);
  MD5_STEP(MD5_H, d, a, b, c, LoadLittleEndian(x + 32), 0x8771f681, 11);
  MD5_STEP(MD5_H, c, d, a, b, LoadLittleEndian(x + 44), 0x6d9d6122, 16);
  MD5_STEP(MD5_H, b, c, d, a, LoadLittleEndian(x + 56), 0xfde5380c, 23);
  MD5_STEP(MD5_H, a, b, c, d, LoadLittleEndian(x + 4), 0xa4beea44, 4);
  MD5_STEP(MD5_H, d, a, b, c, LoadLittleEndian(x + 16), 0x4bdecfa9, 11);
  MD5_STEP(MD5_H, c, d, a, b, LoadLittleEndian(x + 28), 0xf6bb4b60, 16);
  MD5_STEP(MD5_H, b, c, d, a, LoadLittleEndian(x + 40), 0xbebfbc70, 23);
  MD5_STEP(MD5_H, a, b, c, d, LoadLittleEndian(x + 52), 0x289b7ec6, 4);
  MD5_STEP(MD5_H, d, a, b, c, LoadLittleEndian(x + 0), 0xeaa127fa, 11);
  MD5_STEP(MD5_H, c, d, a, b, LoadLittleEndian(x + 12), 0xd4ef3085, 16);
  MD5_STEP(MD5_H, b, c, d, a, LoadLittleEndian(x + 24), 0x04881d05, 23);
  MD5_STEP(MD5_H, a, b, c, d, LoadLittleEndian(x + 36), 0xd9d4d039, 4);
  MD5_STEP(MD5_H, d, a, b, c, LoadLittleEndian(x + 48), 0xe6db99e5, 11);
  MD5_STEP(MD5_H, c, d, a, b, LoadLittleEndian(x + 60), 0x1fa27cf8, 16);
  MD5_STEP(MD5_H, b, c, d, a, LoadLittleEndian(x + 8), 0xc4ac5665, 23);

  MD5_STEP(MD5_I, a, b, c, d, LoadLittleEndian(x + 0), 0xf4292244, 6);
  MD5_STEP(MD5_I, d, a, b, c, LoadLittleEndian(x + 28), 0x432aff97, 10);
  MD5_STEP(MD5_I, c, d, a, b, LoadLittleEndian(x + 56), 0xab9423a7, 15);
  MD5_STEP(MD5_I, b, c, d, a, LoadLittleEndian(x + 20), 0xfc93a039, 21);
  MD5_STEP(MD5_I, a, b, c, d, LoadLittleEndian(x + 48), 0x655b59c3, 6);
  MD5_STEP(MD5_I, d, a, b, c, LoadLittleEndian(x + 12), 0x8f0ccc92, 10);
  MD5_STEP(MD5_I, c, d, a, b, LoadLittleEndian(x + 40), 0xffeff47d, 15);
  MD5_STEP(MD5_I, b, c, d, a, LoadLittleEndian(x + 4), 0x85845dd1, 21);
  MD5_STEP(MD5_I, a, b, c, d, LoadLittleEndian(x + 32), 0x6fa87e4f, 6);
  MD5_STEP(MD5_I, d, a, b, c, LoadLittleEndian(x + 60), 0xfe2ce6e0, 10);
  MD5_STEP(MD5_I, c, d, a, b, LoadLittleEndian(x + 24), 0xa3014314, 15);
  MD5_STEP(MD5_I, b, c, d, a, LoadLittleEndian(x + 52), 0x4e0811a1, 21);
  MD5_STEP(MD5_I, a, b, c, d, LoadLittleEndian(x + 16), 0xf7537e82, 6);
  MD5_STEP(MD5_I, d, a, b, c, LoadLittleEndian(x + 44), 0xbd3af235, 10);
  MD5_STEP(MD5_I, c, d, a, b, LoadLittleEndian(x + 8), 0x2ad7d2bb, 15);
  MD5_STEP(MD5_I, b, c, d, a, LoadLittleEndian(x + 36), 0xeb86d391, 21);

  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
}

void CMd5::Update(const void* data, size_t length) {
  const uint8_t* input = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>((m_bitCount >> 3) & 63);
  m_bitCount += static_cast<uint64_t>(length) << 3;

  if (used != 0) {
    size_t take = 64 - used;
    if (length < take) {
      memcpy(m_pending + used, input, length);
      return;
    }
    memcpy(m_pending + used, input, take);
    Transform(m_pending);
    input += take;
    length -= take;
  }
  for (; length >= 64; input += 64, length -= 64) Transform(input);
  memcpy(m_pending, input, length);
}

void CMd5::Final(uint8_t digest[16]) {
  static const uint8_t kPadding[64] = {0x80};
  uint8_t lengthBytes[8];
  StoreLittleEndian(lengthBytes, static_cast<uint32_t>(m_bitCount));
  StoreLittleEndian(lengthBytes + 4, static_cast<uint32_t>(m_bitCount >> 32));

  size_t used = static_cast<size_t>((m_bitCount >> 3) & 63);
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  Update(lengthBytes, 8);
  for (int i = 0; i < 4; ++i) StoreLittleEndian(digest + 4 * i, m_state[i]);
}

void Md5Hex(const void* data, size_t length, char out[kMd5HexSize]) {
  CMd5 md5;
  md5.Update(data, length);
  uint8_t digest[16];
  md5.Final(digest);
  memcpy(out, HexText(digest, sizeof(digest)).c_str(), kMd5HexSize);
}

bool Md5Equal(const char* a, const char* b) { return a && b && lstrcmpiA(a, b) == 0; }
