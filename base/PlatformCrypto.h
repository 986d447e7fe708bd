// SHA-256 and ECDSA P-256 through the platform's CNG (bcrypt.dll): the configuration's signature,
// the loader's second digest and the authoring tool's keys. No other crypto code is linked in.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ByteBuffer.h"
#include "base/ScopedHandle.h"
#include "base/TextFormat.h"

constexpr size_t kSha256Bytes = 32;
constexpr size_t kEcdsaP256PublicBytes = 64;     // X then Y, big-endian
constexpr size_t kEcdsaP256PrivateBytes = 32;    // d, big-endian
constexpr size_t kEcdsaP256SignatureBytes = 64;  // r then s, big-endian

// Only handles that were opened are closed, so the functions are there.
void CloseCngAlgorithm(BCRYPT_ALG_HANDLE handle);
void DestroyCngKey(BCRYPT_KEY_HANDLE handle);
void DestroyCngHash(BCRYPT_HASH_HANDLE handle);

struct BcryptAlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { CloseCngAlgorithm(h); }
};
using CBcryptAlgorithm = CScopedHandle<BcryptAlgorithmTraits>;

struct BcryptKeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DestroyCngKey(h); }
};
using CBcryptKey = CScopedHandle<BcryptKeyTraits>;

struct BcryptHashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DestroyCngHash(h); }
};
using CBcryptHash = CScopedHandle<BcryptHashTraits>;

// The digest of `length` bytes; false when the platform provider fails.
bool Sha256(const void* data, size_t length, uint8_t digest[kSha256Bytes]);
// 64 lowercase hexadecimal digits; empty when the provider fails.
std::string Sha256Text(const CByteBuffer& bytes);

// Exactly 64 lowercase hexadecimal digits, the published form of a SHA-256 digest.
bool IsSha256Text(const std::string& text);

// One P-256 key held by the platform: a public key verifies, a private key also signs.
class CEcdsaP256Key {
public:
  bool ImportPublic(const uint8_t publicKey[kEcdsaP256PublicBytes]);
  // The public half is part of the platform's private blob.
  bool ImportPrivate(const uint8_t publicKey[kEcdsaP256PublicBytes], const uint8_t privateKey[kEcdsaP256PrivateBytes]);
  bool Generate();
  bool ExportPublic(uint8_t publicKey[kEcdsaP256PublicBytes]) const;
  bool ExportPrivate(uint8_t privateKey[kEcdsaP256PrivateBytes]) const;

  // Over a SHA-256 digest; the signature is r then s.
  bool Verify(const uint8_t digest[kSha256Bytes], const uint8_t signature[kEcdsaP256SignatureBytes]) const;
  bool Sign(const uint8_t digest[kSha256Bytes], uint8_t signature[kEcdsaP256SignatureBytes]) const;

private:
  bool Open();
  bool Import(const wchar_t* blobType, const uint8_t* material, size_t size, ULONG magic);
  bool Export(const wchar_t* blobType, size_t offset, uint8_t* out, size_t size) const;

  CBcryptAlgorithm m_algorithm;
  CBcryptKey m_key;
};

// True only when `signature` is exactly 64 bytes and verifies over the SHA-256 of `message` with
// the public key given as 128 hexadecimal digits.
bool VerifyEcdsaP256Sha256(const std::string& publicKeyHex, const CByteBuffer& message, const CByteBuffer& signature);
// Signs the SHA-256 of `message`; false when the key cannot sign.
bool SignEcdsaP256Sha256(const CEcdsaP256Key& key, const CByteBuffer& message, CByteBuffer& signature);
