// Trusts a test root certificate: adds it to the local machine's Root store.
// Usage: trust_root.exe CERT_FILE   (PEM or DER)
// Exit codes: 0 trusted, 1 failed (the reason on stderr), 2 usage.
//
// The TLS tests run it in their Wine prefix before the program under test starts: a process
// reads the Root store once, so a root added from inside a test would not be seen by it.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>

#include "base/ByteBuffer.h"
#include "base/ScopedHandle.h"

namespace {

struct CertStoreTraits {
  using Handle = HCERTSTORE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CertCloseStore(h, 0); }
};
using CCertStore = CScopedHandle<CertStoreTraits>;

int Fail(const char* what) {
  fprintf(stderr, "trust_root: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}

bool IsPem(const CByteBuffer& file) {
  static const char kBegin[] = "-----BEGIN";
  const int length = sizeof(kBegin) - 1;
  return file.Length() >= length && memcmp(file.Data(), kBegin, length) == 0;
}

// The DER bytes of the first certificate of a PEM file.
bool DecodePem(const CByteBuffer& pem, CByteBuffer& der) {
  const char* text = reinterpret_cast<const char*>(pem.Data());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text, pem.Length(), CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return false;
  }
  if (!der.SetSize(static_cast<int>(size))) return false;
  return CryptStringToBinaryA(text, pem.Length(), CRYPT_STRING_BASE64HEADER, der.Data(), &size, nullptr, nullptr) &&
         der.SetSize(static_cast<int>(size));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: trust_root CERT_FILE   (PEM or DER)\n");
    return 2;
  }
  CByteBuffer file;
  if (file.ReadFromFile(argv[1]) <= 0) return Fail("reading the certificate file");
  CByteBuffer der;
  if (!IsPem(file)) {
    der = file;
  } else if (!DecodePem(file, der)) {
    return Fail("CryptStringToBinaryA");
  }

  CCertStore root(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"));
  if (!root.IsValid()) return Fail("CertOpenStore");
  if (!CertAddEncodedCertificateToStore(root.Get(), X509_ASN_ENCODING, der.Data(), der.Length(),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    return Fail("CertAddEncodedCertificateToStore");
  }
  return 0;
}
