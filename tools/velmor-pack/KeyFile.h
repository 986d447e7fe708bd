// The signing key's file: a P-256 private key in the PEM forms openssl writes and reads, SEC1
// "EC PRIVATE KEY" (what `openssl ecparam -genkey` makes, and what keygen writes) and PKCS#8
// "PRIVATE KEY". Both must carry the public key, which the platform's private blob needs.
#pragma once

#include <cstdint>
#include <string>

#include "base/PlatformCrypto.h"

struct P256KeyPair {
  uint8_t publicKey[kEcdsaP256PublicBytes];
  uint8_t privateKey[kEcdsaP256PrivateBytes];
};

// False with a one-line reason when the text is no P-256 private key in either form.
bool ReadPrivateKeyPem(const std::string& pem, P256KeyPair& out, std::string& error);
// The SEC1 form, with the curve and the public key.
std::string WritePrivateKeyPem(const P256KeyPair& key);
