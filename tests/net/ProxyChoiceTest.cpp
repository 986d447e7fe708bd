// Reading the user's proxy settings: which entry of the static list serves a scheme, and which
// hosts the bypass list sends direct.
#include <gtest/gtest.h>

#include <string>

#include "net/ProxyChoice.h"

TEST(ProxyChoice, TheListNamesAProxyPerScheme) {
  struct Row {
    const char* list;
    const char* scheme;
    const char* expected;  // "host:port", or "" for none
  };
  const Row rows[] = {
      {"proxy.corp:8080", "http", "proxy.corp:8080"},
      {"proxy.corp:8080", "https", "proxy.corp:8080"},
      {"proxy.corp", "http", "proxy.corp:80"},
      {"http=a.corp:8080;https=b.corp:8443", "https", "b.corp:8443"},
      {"HTTP=a.corp:8080 HTTPS=b.corp:8443", "http", "a.corp:8080"},
      {"https=b.corp:8443", "http", ""},
      {"ftp=f.corp:21;c.corp:3128", "https", "c.corp:3128"},
      {"https=http://b.corp:8443/", "https", "b.corp:8443"},
      {"http=a.corp:99999;b.corp:1", "http", "b.corp:1"},
      {"a.corp:x80", "http", ""},
      {"http=;socks=s.corp:1080", "http", ""},
      {"", "http", ""},
  };
  for (const Row& row : rows) {
    ProxyServer server;
    bool found = ProxyForScheme(row.list, row.scheme, server);
    std::string chosen = found ? server.host + ":" + std::to_string(server.port) : "";
    EXPECT_EQ(row.expected, chosen) << row.list << " for " << row.scheme;
  }
}

TEST(ProxyChoice, TheBypassListSendsHostsDirect) {
  struct Row {
    const char* bypass;
    const char* host;
    bool direct;
  };
  const Row rows[] = {
      {"<local>", "intranet", true},
      {"<local>", "config.velmor.example", false},
      {"*.corp.example;<local>", "Wiki.CORP.example", true},
      {"*.corp.example", "corp.example", false},
      {"10.*, 192.168.*", "10.1.2.3", true},
      {"10.*, 192.168.*", "110.1.2.3", false},
      {"config.velmor.example", "config.velmor.example", true},
      {"*velmor*", "cdn.velmor.example", true},
      {"", "intranet", false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.direct, BypassesProxy(row.bypass, row.host)) << row.bypass << " " << row.host;
}
