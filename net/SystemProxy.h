// The proxy the user's Internet settings choose for one URL, read through WinHTTP the way the
// platform's own clients read them: a proxy script (named, or found by auto-detect), which WinHTTP
// fetches and runs; when it cannot be fetched or run, the static list with its bypass list; else
// a direct connection.
#pragma once

#include <windows.h>

#include "net/ProxyChoice.h"
#include "net/Url.h"

enum class EProxyRoute { kDirect, kProxy, kAborted };

// How long a request waits for the script: auto-detect can stall on DNS or DHCP for much longer.
constexpr DWORD kProxyScriptWaitMs = 5000;

// The route for `url`, and in `proxy` the server when it is kProxy. `abortEvent` (may be null)
// ends the wait for the script at once, and the request with it (kAborted).
EProxyRoute ChooseSystemProxy(const CUrl& url, HANDLE abortEvent, DWORD scriptWaitMs, ProxyServer& proxy);
