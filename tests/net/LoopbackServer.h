// A blocking server on 127.0.0.1 in the test's own process, for the transport tests.
#pragma once

#include <winsock2.h>

#include <functional>
#include <thread>

// A blocking server on 127.0.0.1 in this process: accepts one connection and hands it to `serve`.
class CLoopbackServer {
public:
  explicit CLoopbackServer(std::function<void(SOCKET)> serve) {
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    listen(m_listener, 1);
    m_thread = std::thread([this, serve] {
      SOCKET client = accept(m_listener, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      serve(client);
      closesocket(client);
    });
  }
  ~CLoopbackServer() {
    closesocket(m_listener);  // ends an accept that never came
    m_thread.join();
  }
  unsigned short Port() const { return m_port; }

private:
  SOCKET m_listener;
  unsigned short m_port = 0;
  std::thread m_thread;
};
