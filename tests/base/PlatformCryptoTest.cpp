// The platform crypto facility against known answers (FIPS 180-2 vectors, a signature openssl
// made with the tests' key) and against itself: every altered input must be refused. The digest
// itself is the platform's; these check that our wrapper hands it every byte and reads it back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestSigningKey.h"
#include "base/ByteBuffer.h"
#include "base/PlatformCrypto.h"

namespace {

CByteBuffer BytesOf(const std::string& text) { return CByteBuffer(text.data(), static_cast<int>(text.size())); }

CByteBuffer FromHex(const std::string& hex) {
  CByteBuffer bytes;
  uint8_t value[256];
  EXPECT_TRUE(hex.size() <= 2 * sizeof(value) && ParseHexExact(hex, value, hex.size() / 2)) << hex;
  bytes.AssignBytes(value, static_cast<int>(hex.size() / 2));
  return bytes;
}

// `openssl dgst -sha256 -sign tests/test-only-signing-key.pem` over "velmor", DER turned into r then s.
const char kOpensslSignatureOfVelmor[] =
    "b59ea801afd326037b6d270bfea964fdd1fd2c9af669fcb0dba405ed80da53e3"
    "81744d5cc7b4943d0a1cde8c5b8dca0a0828ecb9f2018253a376196cb0a6aa7b";

struct GeneratedKey {
  CEcdsaP256Key key;
  std::string publicHex;
};

void Generate(GeneratedKey& out) {
  uint8_t publicKey[kEcdsaP256PublicBytes];
  ASSERT_TRUE(out.key.Generate());
  ASSERT_TRUE(out.key.ExportPublic(publicKey));
  out.publicHex = HexText(publicKey, sizeof(publicKey));
}

}  // namespace

TEST(PlatformCrypto, Sha256MatchesKnownAnswers) {
  std::string generated(100000, '\0');
  for (size_t i = 0; i < generated.size(); ++i) generated[i] = static_cast<char>(i * 7);
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {generated, "931030b89f42c06dcdda12a43dfcd601d745d11bbb5fcd1a00fea442e8405157"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message.size());
    EXPECT_EQ(c.digest, Sha256Text(BytesOf(c.message)));
    EXPECT_TRUE(IsSha256Text(c.digest));
  }
}

TEST(PlatformCrypto, HexTextIsExactBothWays) {
  const uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff};
  EXPECT_EQ("000fa0ff", HexText(bytes, sizeof(bytes)));
  uint8_t back[4] = {};
  EXPECT_TRUE(ParseHexExact("000FA0ff", back, sizeof(back)));
  EXPECT_EQ(0, memcmp(bytes, back, sizeof(bytes)));
  for (const char* bad : {"", "000fa0f", "000fa0fff", "000fa0fg", "000fa0f ", " 00fa0ff", "-00fa0ff", "0x0fa0ff"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseHexExact(bad, back, sizeof(back)));
  }
  std::string digest(64, 'a');
  EXPECT_TRUE(IsSha256Text(digest));
  for (const std::string& bad : {std::string(63, 'a'), std::string(65, 'a'), std::string(64, 'A'),
                                 digest.substr(1) + "g", digest.substr(1) + " "}) {
    EXPECT_FALSE(IsSha256Text(bad)) << bad;
  }
}

TEST(PlatformCrypto, AnOpensslSignatureVerifiesWithTheBuiltInKeyForm) {
  CByteBuffer signature = FromHex(kOpensslSignatureOfVelmor);
  EXPECT_TRUE(VerifyEcdsaP256Sha256(TestSigningKey::kPublicHex, BytesOf("velmor"), signature));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(TestSigningKey::kPublicHex, BytesOf("velmor "), signature));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(TestSigningKey::kPublicHex, BytesOf("Velmor"), signature));
}

TEST(PlatformCrypto, EveryAlteredSignatureKeyOrMessageIsRefused) {
  GeneratedKey signer;
  ASSERT_NO_FATAL_FAILURE(Generate(signer));
  CByteBuffer message = BytesOf("[{\"file_name\":\"loader.dll\"}]\n"), signature;
  ASSERT_TRUE(SignEcdsaP256Sha256(signer.key, message, signature));
  ASSERT_EQ(static_cast<int>(kEcdsaP256SignatureBytes), signature.Length());
  EXPECT_TRUE(VerifyEcdsaP256Sha256(signer.publicHex, message, signature));

  for (int bit = 0; bit < 8 * signature.Length(); bit += 37) {
    CByteBuffer flipped(signature.Data(), signature.Length());
    flipped.Data()[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.publicHex, message, flipped)) << "signature bit " << bit;
  }
  for (int at = 0; at < message.Length(); at += 5) {
    CByteBuffer altered(message.Data(), message.Length());
    altered.Data()[at] ^= 0x20;
    EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.publicHex, altered, signature)) << "message byte " << at;
  }
  CByteBuffer shorter(signature.Data(), signature.Length() - 1), longer(signature.Data(), signature.Length());
  longer.AppendByte(0);
  EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.publicHex, message, shorter));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.publicHex, message, longer));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.publicHex, message, BytesOf(std::string(64, '\0'))));

  GeneratedKey other;
  ASSERT_NO_FATAL_FAILURE(Generate(other));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(other.publicHex, message, signature));
  // Public keys that are no key: not on the curve, not hexadecimal, the wrong length.
  std::string offCurve = signer.publicHex;
  offCurve[127] = offCurve[127] == '0' ? '1' : '0';
  for (const std::string& bad : {offCurve, std::string(128, '0'), signer.publicHex.substr(2), signer.publicHex + "00",
                                 "g" + signer.publicHex.substr(1), std::string()}) {
    EXPECT_FALSE(VerifyEcdsaP256Sha256(bad, message, signature)) << bad;
  }
}

TEST(PlatformCrypto, AnExportedPrivateKeySignsAfterImport) {
  GeneratedKey generated;
  ASSERT_NO_FATAL_FAILURE(Generate(generated));
  uint8_t publicKey[kEcdsaP256PublicBytes], privateKey[kEcdsaP256PrivateBytes];
  ASSERT_TRUE(generated.key.ExportPublic(publicKey));
  ASSERT_TRUE(generated.key.ExportPrivate(privateKey));
  CEcdsaP256Key imported;
  ASSERT_TRUE(imported.ImportPrivate(publicKey, privateKey));
  CByteBuffer message = BytesOf("signed after import"), signature;
  ASSERT_TRUE(SignEcdsaP256Sha256(imported, message, signature));
  EXPECT_TRUE(VerifyEcdsaP256Sha256(generated.publicHex, message, signature));

  // The tests' committed key signs what its public half verifies.
  CEcdsaP256Key testKey;
  ASSERT_TRUE(ParseHexExact(TestSigningKey::kPublicHex, publicKey, sizeof(publicKey)));
  ASSERT_TRUE(ParseHexExact(TestSigningKey::kPrivateHex, privateKey, sizeof(privateKey)));
  ASSERT_TRUE(testKey.ImportPrivate(publicKey, privateKey));
  ASSERT_TRUE(SignEcdsaP256Sha256(testKey, message, signature));
  EXPECT_TRUE(VerifyEcdsaP256Sha256(TestSigningKey::kPublicHex, message, signature));

  CEcdsaP256Key empty;
  uint8_t digest[kSha256Bytes] = {}, rs[kEcdsaP256SignatureBytes] = {};
  EXPECT_FALSE(empty.Sign(digest, rs));
  EXPECT_FALSE(empty.Verify(digest, rs));
  EXPECT_FALSE(empty.ExportPublic(publicKey));
}
