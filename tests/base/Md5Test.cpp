#include <gtest/gtest.h>

#include <string>

#include "base/ByteBuffer.h"
#include "base/Md5.h"

namespace {

std::string Digest(const std::string& message) {
  char out[kMd5HexSize];
  Md5Hex(message.data(), message.size(), out);
  return out;
}

}  // namespace

TEST(Md5, MatchesTheTestSuiteOfRfc1321) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Digest(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Digest("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Digest("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Digest("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Digest("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            Digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            Digest("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

TEST(Md5, PaddingBoundariesAndPiecewiseUpdates) {
  // 55, 56 and 64 bytes straddle the length field's place in the last block.
  EXPECT_EQ("ef1772b6dff9a122358552954ad0df65", Digest(std::string(55, 'a')));
  EXPECT_EQ("3b0c8ac703f828b04c6c197006d17218", Digest(std::string(56, 'a')));
  EXPECT_EQ("014842d480b571495a4a0363793f7367", Digest(std::string(64, 'a')));

  std::string message(1000, 'x');
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>(i * 7);
  CMd5 md5;
  for (size_t offset = 0; offset < message.size(); offset += 13) {
    md5.Update(message.data() + offset, std::min<size_t>(13, message.size() - offset));
  }
  uint8_t digest[16];
  md5.Final(digest);
  char hex[kMd5HexSize];
  for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  EXPECT_EQ(Digest(message), hex);
}

TEST(Md5, BufferDigestsStartAtTheOffsetAndCompareIgnoringCase) {
  CByteBuffer buffer("xxabc", 5);
  char out[kMd5HexSize];
  EXPECT_EQ(1, buffer.Md5Hex(out, sizeof(out), 2));
  EXPECT_STREQ("900150983cd24fb0d6963f7d28e17f72", out);
  buffer.Md5Hex(out, sizeof(out), 99);
  EXPECT_STREQ("d41d8cd98f00b204e9800998ecf8427e", out);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Text(CByteBuffer("abc", 3)));

  char shortOut[9];
  buffer.Md5Hex(shortOut, sizeof(shortOut), 2);
  EXPECT_STREQ("90015098", shortOut);

  EXPECT_TRUE(Md5Equal("900150983CD24FB0D6963F7D28E17F72", "900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_FALSE(Md5Equal("900150983cd24fb0d6963f7d28e17f73", "900150983cd24fb0d6963f7d28e17f72"));
}
