#include "base/PlatformCrypto.h"

#include <cstring>
#include <vector>

#include "base/SystemLibrary.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

const char kCngLibrary[] = "bcrypt.dll";

template <typename Function>
Function Find(const char* name) {
  return SystemFunction<Function>(kCngLibrary, name);
}

// bcrypt.dll is no KnownDLL: its functions are looked up in the system directory, never imported,
// and only when a digest or a key is first asked for (an unkeyed start never loads it).
struct CngFunctions {
  decltype(&::BCryptOpenAlgorithmProvider) openAlgorithmProvider =
      Find<decltype(&::BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
  decltype(&::BCryptCloseAlgorithmProvider) closeAlgorithmProvider =
      Find<decltype(&::BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
  decltype(&::BCryptCreateHash) createHash = Find<decltype(&::BCryptCreateHash)>("BCryptCreateHash");
  decltype(&::BCryptHashData) hashData = Find<decltype(&::BCryptHashData)>("BCryptHashData");
  decltype(&::BCryptFinishHash) finishHash = Find<decltype(&::BCryptFinishHash)>("BCryptFinishHash");
  decltype(&::BCryptDestroyHash) destroyHash = Find<decltype(&::BCryptDestroyHash)>("BCryptDestroyHash");
  decltype(&::BCryptImportKeyPair) importKeyPair = Find<decltype(&::BCryptImportKeyPair)>("BCryptImportKeyPair");
  decltype(&::BCryptGenerateKeyPair) generateKeyPair =
      Find<decltype(&::BCryptGenerateKeyPair)>("BCryptGenerateKeyPair");
  decltype(&::BCryptFinalizeKeyPair) finalizeKeyPair =
      Find<decltype(&::BCryptFinalizeKeyPair)>("BCryptFinalizeKeyPair");
  decltype(&::BCryptExportKey) exportKey = Find<decltype(&::BCryptExportKey)>("BCryptExportKey");
  decltype(&::BCryptDestroyKey) destroyKey = Find<decltype(&::BCryptDestroyKey)>("BCryptDestroyKey");
  decltype(&::BCryptVerifySignature) verifySignature =
      Find<decltype(&::BCryptVerifySignature)>("BCryptVerifySignature");
  decltype(&::BCryptSignHash) signHash = Find<decltype(&::BCryptSignHash)>("BCryptSignHash");

  bool Complete() const {
    return openAlgorithmProvider && closeAlgorithmProvider && createHash && hashData && finishHash && destroyHash &&
           importKeyPair && generateKeyPair && finalizeKeyPair && exportKey && destroyKey && verifySignature &&
           signHash;
  }
};

const CngFunctions& Cng() {
  static const CngFunctions functions;
  return functions;
}

// The platform's key blobs: a header, then X, Y (and d for a private key), 32 bytes each.
constexpr size_t kCoordinateBytes = 32;
constexpr size_t kBlobHeader = sizeof(BCRYPT_ECCKEY_BLOB);
constexpr size_t kPublicBlobBytes = kBlobHeader + kEcdsaP256PublicBytes;
constexpr size_t kPrivateBlobBytes = kPublicBlobBytes + kEcdsaP256PrivateBytes;

}  // namespace

bool Sha256(const void* data, size_t length, uint8_t digest[kSha256Bytes]) {
  // Create, hash, finish rather than the one-call BCryptHash, which only Windows 10 exports: an
  // import the system lacks would stop the launcher from starting at all on 7 and 8.
  CBcryptAlgorithm sha;
  CBcryptHash hash;
  return Cng().Complete() && Succeeded(Cng().openAlgorithmProvider(sha.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
         Succeeded(Cng().createHash(sha.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0)) &&
         Succeeded(
             Cng().hashData(hash.Get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(length), 0)) &&
         Succeeded(Cng().finishHash(hash.Get(), digest, kSha256Bytes, 0));
}

std::string Sha256Text(const CByteBuffer& bytes) {
  uint8_t digest[kSha256Bytes];
  if (!Sha256(bytes.Data(), static_cast<size_t>(bytes.Length()), digest)) return std::string();
  return HexText(digest, sizeof(digest));
}

bool IsSha256Text(const std::string& text) {
  if (text.size() != 2 * kSha256Bytes) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool CEcdsaP256Key::Open() {
  if (m_algorithm.IsValid()) return true;
  return Cng().Complete() &&
         Succeeded(Cng().openAlgorithmProvider(m_algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
}

bool CEcdsaP256Key::Import(const wchar_t* blobType, const uint8_t* material, size_t size, ULONG magic) {
  if (!Open()) return false;
  std::vector<uint8_t> blob(kBlobHeader + size);
  BCRYPT_ECCKEY_BLOB header = {magic, kCoordinateBytes};
  memcpy(blob.data(), &header, kBlobHeader);
  memcpy(blob.data() + kBlobHeader, material, size);
  bool imported = Succeeded(Cng().importKeyPair(m_algorithm.Get(), nullptr, blobType, m_key.Put(), blob.data(),
                                                static_cast<ULONG>(blob.size()), 0));
  SecureZeroMemory(blob.data(), blob.size());
  return imported;
}

bool CEcdsaP256Key::ImportPublic(const uint8_t publicKey[kEcdsaP256PublicBytes]) {
  return Import(BCRYPT_ECCPUBLIC_BLOB, publicKey, kEcdsaP256PublicBytes, BCRYPT_ECDSA_PUBLIC_P256_MAGIC);
}

bool CEcdsaP256Key::ImportPrivate(const uint8_t publicKey[kEcdsaP256PublicBytes],
                                  const uint8_t privateKey[kEcdsaP256PrivateBytes]) {
  uint8_t material[kEcdsaP256PublicBytes + kEcdsaP256PrivateBytes];
  memcpy(material, publicKey, kEcdsaP256PublicBytes);
  memcpy(material + kEcdsaP256PublicBytes, privateKey, kEcdsaP256PrivateBytes);
  bool imported = Import(BCRYPT_ECCPRIVATE_BLOB, material, sizeof(material), BCRYPT_ECDSA_PRIVATE_P256_MAGIC);
  SecureZeroMemory(material, sizeof(material));
  return imported;
}

bool CEcdsaP256Key::Generate() {
  return Open() && Succeeded(Cng().generateKeyPair(m_algorithm.Get(), m_key.Put(), 256, 0)) &&
         Succeeded(Cng().finalizeKeyPair(m_key.Get(), 0));
}

bool CEcdsaP256Key::Export(const wchar_t* blobType, size_t offset, uint8_t* out, size_t size) const {
  uint8_t blob[kPrivateBlobBytes];
  ULONG written = 0;
  bool exported = m_key.IsValid() &&
                  Succeeded(Cng().exportKey(m_key.Get(), nullptr, blobType, blob, sizeof(blob), &written, 0)) &&
                  written >= offset + size;
  if (exported) memcpy(out, blob + offset, size);
  SecureZeroMemory(blob, sizeof(blob));
  return exported;
}

bool CEcdsaP256Key::ExportPublic(uint8_t publicKey[kEcdsaP256PublicBytes]) const {
  return Export(BCRYPT_ECCPUBLIC_BLOB, kBlobHeader, publicKey, kEcdsaP256PublicBytes);
}

bool CEcdsaP256Key::ExportPrivate(uint8_t privateKey[kEcdsaP256PrivateBytes]) const {
  return Export(BCRYPT_ECCPRIVATE_BLOB, kPublicBlobBytes, privateKey, kEcdsaP256PrivateBytes);
}

bool CEcdsaP256Key::Verify(const uint8_t digest[kSha256Bytes],
                           const uint8_t signature[kEcdsaP256SignatureBytes]) const {
  // Any status but success (STATUS_INVALID_SIGNATURE for a forgery) refuses.
  return m_key.IsValid() && Cng().verifySignature(m_key.Get(), nullptr, const_cast<PUCHAR>(digest), kSha256Bytes,
                                                  const_cast<PUCHAR>(signature), kEcdsaP256SignatureBytes, 0) == 0;
}

bool CEcdsaP256Key::Sign(const uint8_t digest[kSha256Bytes], uint8_t signature[kEcdsaP256SignatureBytes]) const {
  ULONG written = 0;
  return m_key.IsValid() &&
         Succeeded(Cng().signHash(m_key.Get(), nullptr, const_cast<PUCHAR>(digest), kSha256Bytes, signature,
                                  kEcdsaP256SignatureBytes, &written, 0)) &&
         written == kEcdsaP256SignatureBytes;
}

bool VerifyEcdsaP256Sha256(const std::string& publicKeyHex, const CByteBuffer& message, const CByteBuffer& signature) {
  uint8_t publicKey[kEcdsaP256PublicBytes];
  uint8_t digest[kSha256Bytes];
  CEcdsaP256Key key;
  return signature.Length() == static_cast<int>(kEcdsaP256SignatureBytes) &&
         ParseHexExact(publicKeyHex, publicKey, sizeof(publicKey)) && key.ImportPublic(publicKey) &&
         Sha256(message.Data(), static_cast<size_t>(message.Length()), digest) && key.Verify(digest, signature.Data());
}

bool SignEcdsaP256Sha256(const CEcdsaP256Key& key, const CByteBuffer& message, CByteBuffer& signature) {
  uint8_t digest[kSha256Bytes];
  uint8_t rs[kEcdsaP256SignatureBytes];
  if (!Sha256(message.Data(), static_cast<size_t>(message.Length()), digest) || !key.Sign(digest, rs)) return false;
  signature = CByteBuffer(rs, sizeof(rs));
  return signature.Length() == static_cast<int>(sizeof(rs));
}

void CloseCngAlgorithm(BCRYPT_ALG_HANDLE handle) { Cng().closeAlgorithmProvider(handle, 0); }
void DestroyCngKey(BCRYPT_KEY_HANDLE handle) { Cng().destroyKey(handle); }
void DestroyCngHash(BCRYPT_HASH_HANDLE handle) { Cng().destroyHash(handle); }
