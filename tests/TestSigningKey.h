// A P-256 key pair for the tests only: never a product key. The private half is committed so the
// tests can sign what a publisher would; tests/test-only-signing-key.pem holds the same key as
// openssl writes it (SEC1 PEM), for velmor-pack --sign.
#pragma once

namespace TestSigningKey {
// X then Y, as VELMOR_CONFIG_PUBLIC_KEY holds it.
constexpr const char kPublicHex[] =
    "53aa89868b2fc60f31af3b5130baff7c1fdfb08501e24be62310f363afc0f243"
    "1178b30832f7ab217733c7141708ec9152b0848572f5fc1303154390d20a304d";
constexpr const char kPrivateHex[] = "077cf0dfb4d3408b07ef1c99978e1ee6b977f2a1384c7bfbf73e71b9829fcdc5";
constexpr const char kPemFileName[] = "test-only-signing-key.pem";
}  // namespace TestSigningKey
