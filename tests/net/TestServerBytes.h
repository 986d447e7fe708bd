// What the loopback peers are: their ports as the harness wrote them, what the test server sends,
// recomputed on this side, and a client's body as text.
#pragma once

#include <fstream>
#include <map>
#include <string>

#include "TestSupport.h"
#include "net/HttpClient.h"

// Byte i is i % 251, as the server's pattern.
inline std::string Pattern(int count) {
  std::string bytes(count, '\0');
  for (int i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

inline std::string Body(CHttpClient& client) { return Text(client.GetResponseBody()); }

// The harness's servers file: one "name port" line for each peer.
inline std::map<std::string, int> TestServerPorts(const char* file) {
  std::map<std::string, int> ports;
  std::ifstream servers(file);
  std::string name;
  int port;
  while (servers >> name >> port) ports[name] = port;
  return ports;
}
