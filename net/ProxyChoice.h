// The proxy the user's settings name for one request: the static list in its plain form
// ("host:port") or its per-scheme form ("http=a:8080;https=b:8443"), and the bypass list
// ("<local>", wildcards), read the way the platform's own clients read them.
#pragma once

#include <string>

struct ProxyServer {
  std::string host;
  int port = 0;
};

// The entry of `list` for `scheme` ("http" or "https"): its own "scheme=" entry, else an entry
// without a scheme. False when the list names none (or only ones that do not read).
bool ProxyForScheme(const std::string& list, const std::string& scheme, ProxyServer& out);

// Whether `host` goes direct by `bypass`: entries split by ';', ',' or spaces, compared ignoring
// case, '*' matching any run of characters; "<local>" matches every name without a dot.
bool BypassesProxy(const std::string& bypass, const std::string& host);
