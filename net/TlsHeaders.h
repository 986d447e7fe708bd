// The platform headers of the TLS code in the order they need: SSPI wants SECURITY_WIN32, the
// newer SChannel credential structure wants SCHANNEL_USE_BLACKLISTS and <winternl.h>, and the
// lean Windows headers leave out <wincrypt.h>.
#pragma once

#include <winsock2.h>
#include <windows.h>

#ifndef CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS  // CERT_CHAIN_PARA's revocation wait
#endif
#include <wincrypt.h>

#include <winternl.h>

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#ifndef SCHANNEL_USE_BLACKLISTS
#define SCHANNEL_USE_BLACKLISTS
#endif
#include <schannel.h>
#include <security.h>
#include <sspi.h>
