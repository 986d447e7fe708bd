#include "tools/velmor-pack/KeyFile.h"

#include <cstring>
#include <vector>

#include "base/Base64.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kSec1Label[] = "EC PRIVATE KEY";
const char kPkcs8Label[] = "PRIVATE KEY";
constexpr size_t kPemLineChars = 64;

constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagBitString = 0x03;
constexpr uint8_t kTagOctetString = 0x04;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagParameters = 0xa0;  // [0] of ECPrivateKey
constexpr uint8_t kTagPublicKey = 0xa1;   // [1] of ECPrivateKey
constexpr uint8_t kUncompressedPoint = 0x04;
const Bytes kOidPrime256v1 = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};  // 1.2.840.10045.3.1.7
const Bytes kOidEcPublicKey = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};       // 1.2.840.10045.2.1

// Reads DER elements one after another out of a span it does not own.
class CDerReader {
public:
  CDerReader(const uint8_t* data, size_t size) : m_data(data), m_left(size) {}
  explicit CDerReader(const Bytes& bytes) : CDerReader(bytes.data(), bytes.size()) {}

  bool AtEnd() const { return m_left == 0; }
  uint8_t PeekTag() const { return m_left ? m_data[0] : 0; }

  // The next element's content, when its tag is `tag`; definite lengths up to 64 KiB only.
  bool Next(uint8_t tag, CDerReader& content) {
    if (m_left < 2 || m_data[0] != tag) return false;
    size_t length = m_data[1], header = 2;
    if (length == 0x81 || length == 0x82) {
      size_t count = length & 0x7f;
      if (m_left < 2 + count) return false;
      length = 0;
      for (size_t i = 0; i < count; ++i) length = length << 8 | m_data[2 + i];
      header += count;
    } else if (length > 0x7f) {
      return false;
    }
    if (m_left - header < length) return false;
    content = CDerReader(m_data + header, length);
    m_data += header + length;
    m_left -= header + length;
    return true;
  }

  bool NextEquals(uint8_t tag, const Bytes& expected) {
    CDerReader content(nullptr, 0);
    return Next(tag, content) && content.Equals(expected);
  }
  bool Equals(const Bytes& expected) const {
    return m_left == expected.size() && memcmp(m_data, expected.data(), m_left) == 0;
  }
  const uint8_t* Data() const { return m_data; }
  size_t Size() const { return m_left; }

private:
  const uint8_t* m_data;
  size_t m_left;
};

// The base64 between "-----BEGIN label-----" and "-----END label-----".
bool PemBody(const std::string& pem, const char* label, Bytes& der) {
  std::string begin = std::string("-----BEGIN ") + label + "-----";
  std::string end = std::string("-----END ") + label + "-----";
  size_t from = pem.find(begin);
  if (from == std::string::npos) return false;
  from += begin.size();
  size_t to = pem.find(end, from);
  return to != std::string::npos && DecodeBase64(pem.substr(from, to - from), der) && !der.empty();
}

// RFC 5915's ECPrivateKey; the curve, when named, must be P-256, and the public key must be there.
bool ReadSec1(CDerReader der, P256KeyPair& out, std::string& error) {
  CDerReader key(nullptr, 0), privateKey(nullptr, 0);
  if (!der.Next(kTagSequence, key) || !key.NextEquals(kTagInteger, {1}) || !key.Next(kTagOctetString, privateKey) ||
      privateKey.Size() == 0 || privateKey.Size() > kEcdsaP256PrivateBytes) {
    error = "not an EC private key";
    return false;
  }
  memset(out.privateKey, 0, sizeof(out.privateKey));
  memcpy(out.privateKey + kEcdsaP256PrivateBytes - privateKey.Size(), privateKey.Data(), privateKey.Size());
  CDerReader parameters(nullptr, 0), publicKey(nullptr, 0), point(nullptr, 0);
  if (key.PeekTag() == kTagParameters &&
      (!key.Next(kTagParameters, parameters) || !parameters.NextEquals(kTagOid, kOidPrime256v1))) {
    error = "the key is not on the P-256 curve (prime256v1)";
    return false;
  }
  if (!key.Next(kTagPublicKey, publicKey) || !publicKey.Next(kTagBitString, point) ||
      point.Size() != 2 + kEcdsaP256PublicBytes || point.Data()[0] != 0 || point.Data()[1] != kUncompressedPoint) {
    error = "the key file carries no uncompressed public key";
    return false;
  }
  memcpy(out.publicKey, point.Data() + 2, kEcdsaP256PublicBytes);
  return true;
}

// RFC 5208's PrivateKeyInfo wrapping an ECPrivateKey.
bool ReadPkcs8(CDerReader der, P256KeyPair& out, std::string& error) {
  CDerReader info(nullptr, 0), algorithm(nullptr, 0), wrapped(nullptr, 0);
  if (!der.Next(kTagSequence, info) || !info.NextEquals(kTagInteger, {0}) || !info.Next(kTagSequence, algorithm) ||
      !algorithm.NextEquals(kTagOid, kOidEcPublicKey) || !algorithm.NextEquals(kTagOid, kOidPrime256v1) ||
      !info.Next(kTagOctetString, wrapped)) {
    error = "not a P-256 (prime256v1) private key";
    return false;
  }
  return ReadSec1(wrapped, out, error);
}

}  // namespace

bool ReadPrivateKeyPem(const std::string& pem, P256KeyPair& out, std::string& error) {
  Bytes der;
  if (PemBody(pem, kSec1Label, der)) return ReadSec1(CDerReader(der), out, error);
  if (PemBody(pem, kPkcs8Label, der)) return ReadPkcs8(CDerReader(der), out, error);
  error = "no PEM \"EC PRIVATE KEY\" or \"PRIVATE KEY\" block";
  return false;
}

std::string WritePrivateKeyPem(const P256KeyPair& key) {
  Bytes der = {kTagSequence, 0x77, kTagInteger, 1, 1, kTagOctetString, kEcdsaP256PrivateBytes};
  der.insert(der.end(), key.privateKey, key.privateKey + kEcdsaP256PrivateBytes);
  der.insert(der.end(), {kTagParameters, 10, kTagOid, 8});
  der.insert(der.end(), kOidPrime256v1.begin(), kOidPrime256v1.end());
  der.insert(der.end(), {kTagPublicKey, 0x44, kTagBitString, 0x42, 0, kUncompressedPoint});
  der.insert(der.end(), key.publicKey, key.publicKey + kEcdsaP256PublicBytes);
  std::string body = EncodeBase64(der);
  std::string pem = std::string("-----BEGIN ") + kSec1Label + "-----\n";
  for (size_t i = 0; i < body.size(); i += kPemLineChars) pem += body.substr(i, kPemLineChars) + "\n";
  return pem + "-----END " + kSec1Label + "-----\n";
}
