#include "net/StoredCredential.h"

#include <windows.h>

#include <wincred.h>

#include <vector>

#include "base/TextFormat.h"

namespace {

const char kProxyTargetFormat[] = "velmor-proxy:%s:%d";

// The credential CredRead handed out, freed once.
class CCredential {
public:
  CCredential() = default;
  CCredential(const CCredential&) = delete;
  CCredential& operator=(const CCredential&) = delete;
  ~CCredential() {
    if (m_credential) CredFree(m_credential);
  }
  PCREDENTIALA* Put() { return &m_credential; }
  const CREDENTIALA& operator*() const { return *m_credential; }

private:
  PCREDENTIALA m_credential = nullptr;
};

// The blob is UTF-16 without a terminator; the result is in the ANSI code page.
bool PasswordOf(const CREDENTIALA& credential, std::string& password) {
  size_t chars = credential.CredentialBlobSize / sizeof(wchar_t);
  if (chars == 0) return true;
  std::vector<wchar_t> wide(chars);
  memcpy(wide.data(), credential.CredentialBlob, chars * sizeof(wchar_t));
  int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(chars), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  password.assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(chars), &password[0], length, nullptr, nullptr);
  SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
  return true;
}

}  // namespace

CStoredCredential::~CStoredCredential() { Wipe(); }

void CStoredCredential::Wipe() {
  if (!m_password.empty()) SecureZeroMemory(&m_password[0], m_password.size());
  m_password.clear();
  m_user.clear();
  m_held = false;
}

bool CStoredCredential::Read(const std::string& target) {
  Wipe();
  CCredential credential;
  if (!CredReadA(target.c_str(), CRED_TYPE_GENERIC, 0, credential.Put())) return false;
  if (!(*credential).UserName || !PasswordOf(*credential, m_password)) {
    Wipe();
    return false;
  }
  m_user = (*credential).UserName;
  m_held = true;
  return true;
}

bool CStoredCredential::ReadForProxy(const ProxyServer& proxy) {
  std::string target;
  FormatString(target, kProxyTargetFormat, proxy.host.c_str(), proxy.port);
  return Read(target);
}
