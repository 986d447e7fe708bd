// A generic credential of the Windows Credential Manager, as an administrator stores one with
// "cmdkey /generic:TARGET /user:USER /pass:PASSWORD": the user name, and the password, which
// cmdkey and the control panel store as UTF-16. The password is wiped when the object goes.
#pragma once

#include <string>

#include "net/ProxyChoice.h"

class CStoredCredential {
public:
  CStoredCredential() = default;
  CStoredCredential(const CStoredCredential&) = delete;
  CStoredCredential& operator=(const CStoredCredential&) = delete;
  ~CStoredCredential();

  // The one stored for a proxy: "velmor-proxy:<host>:<port>", the host as the settings name it.
  bool ReadForProxy(const ProxyServer& proxy);

  bool IsHeld() const { return m_held; }
  const std::string& User() const { return m_user; }          // "DOMAIN\user", "user@domain" or "user"
  const std::string& Password() const { return m_password; }  // in the ANSI code page

private:
  // False (and nothing held) when the user has no generic credential under `target`.
  bool Read(const std::string& target);
  void Wipe();

  bool m_held = false;
  std::string m_user;
  std::string m_password;
};
