// The HTTP client's transport: Winsock start-up, name resolution, and a TCP connection whose
// sends and receives wait on its network event and an abort event, with a time-out.
#pragma once

#include <winsock2.h>

#include <string>
#include <vector>

#include "base/ScopedHandle.h"
#include "base/WinEvent.h"

int NetStartup();  // 1 when Winsock 2.2 is available
int NetCleanup();  // 1 when it succeeded

// Result codes of Send and Receive.
enum ENetResult {
  kNetDone = 0,
  kNetTimeout = 1,
  kNetAborted = 2,
  kNetWouldBlock = 3,
  kNetSocketError = 4,
};

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle s) { ::closesocket(s); }
};
using CSocketHandle = CScopedHandle<SocketTraits>;

class CEventSocket {
public:
  static constexpr DWORD kConnectTimeoutMs = 30000;
  static constexpr DWORD kAbortCheckMs = 50;  // how late a streaming receive may notice an abort

  CEventSocket() = default;
  CEventSocket(const CEventSocket&) = delete;
  CEventSocket& operator=(const CEventSocket&) = delete;
  ~CEventSocket() { Close(); }

  bool Resolve(const char* host, std::vector<std::string>& addresses);
  // Each address in turn, each given `timeoutMs` to accept; the abort event ends the attempt.
  bool ConnectHost(const char* host, unsigned short port, DWORD timeoutMs = kConnectTimeoutMs);
  bool Connect(const char* address, unsigned short port, DWORD timeoutMs = kConnectTimeoutMs);  // dotted IPv4

  // Sends every byte (resuming short sends); `sent` is the total sent.
  int Send(const void* bytes, int length, int* sent, DWORD timeoutMs);
  // What the socket holds, or once data or the peer's close is reported, one recv: `received` is
  // the byte count, 0 when the peer has closed the connection. A failed recv is kNetSocketError
  // (count 0), never kNetDone; kNetWouldBlock when a report found nothing to read.
  int Receive(void* buffer, int capacity, int* received, DWORD timeoutMs);

  void Close();
  void Abort() { m_abort.Set(); }  // ends any wait of this object at once, now and later
  // An event of the caller's that, once set, also ends every wait at once (null: none).
  void SetAbortEvent(HANDLE event) { m_outsideAbort = event; }
  int GetLastError() const { return m_lastError; }
  bool PeerClosed() const { return m_peerClosed; }

private:
  int WaitForNetworkEvents(long wanted, DWORD timeoutMs, WSANETWORKEVENTS* events);
  int TakeReadEvents(DWORD timeoutMs);
  bool IsAborted() const;
  bool AbortDue();

  CSocketHandle m_socket;
  CWinEvent m_networkEvent;
  CWinEvent m_abort;
  HANDLE m_outsideAbort = nullptr;
  int m_lastError = 0;
  bool m_peerClosed = false;  // the peer's close was reported; no more events will come
  // Read and close reports that came while waiting for something else (a connect, a send):
  // Winsock reports each once, so a later receive must not wait for them again.
  long m_pendingEvents = 0;
  bool m_pendingError = false;
  bool m_abortChecked = false;
  DWORD m_lastAbortCheck = 0;
};
