// What the loopback test server sends, recomputed on this side, and a client's body as text.
#pragma once

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
