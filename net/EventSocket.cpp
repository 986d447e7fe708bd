#include "net/EventSocket.h"

#include <ws2tcpip.h>

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr long kSocketEvents = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE;
constexpr long kReadEvents = FD_READ | FD_CLOSE;

}  // namespace

int NetStartup() {
  WSADATA data;
  if (WSAStartup(kWinsockVersion, &data) != 0) return 0;
  if (data.wVersion != kWinsockVersion) {
    WSACleanup();
    return 0;
  }
  return 1;
}

int NetCleanup() { return WSACleanup() == 0 ? 1 : 0; }

bool CEventSocket::Resolve(const char* host, std::vector<std::string>& addresses) {
  const hostent* entry = host ? gethostbyname(host) : nullptr;
  if (!entry || entry->h_addrtype != AF_INET) return false;
  for (char** address = entry->h_addr_list; *address; ++address) {
    in_addr ip;
    memcpy(&ip, *address, sizeof(ip));
    addresses.push_back(inet_ntoa(ip));
  }
  return !addresses.empty();
}

bool CEventSocket::ConnectHost(const char* host, unsigned short port, DWORD timeoutMs) {
  std::vector<std::string> addresses;
  if (!Resolve(host, addresses)) return false;
  for (const std::string& address : addresses) {
    if (Connect(address.c_str(), port, timeoutMs)) return true;
    if (IsAborted()) return false;
  }
  return false;
}

// Non-blocking from the start, so a host that never answers costs the time-out, not the
// system's minutes of SYN retries, and an abort ends the wait.
bool CEventSocket::Connect(const char* address, unsigned short port, DWORD timeoutMs) {
  Close();
  m_lastError = 0;
  m_socket.Reset(socket(AF_INET, SOCK_STREAM, 0));
  if (!m_socket.IsValid()) {
    m_lastError = WSAGetLastError();
    return false;
  }
  sockaddr_in target = {};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = address ? inet_addr(address) : INADDR_NONE;
  if (target.sin_addr.s_addr == INADDR_NONE) {
    Close();
    WSASetLastError(WSAEINVAL);
    return false;
  }
  // Also makes the socket non-blocking.
  if (WSAEventSelect(m_socket.Get(), m_networkEvent.Get(), kSocketEvents) == SOCKET_ERROR) {
    m_lastError = WSAGetLastError();
    Close();
    return false;
  }
  if (connect(m_socket.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == 0) return true;
  m_lastError = WSAGetLastError();
  if (m_lastError == WSAEWOULDBLOCK) {
    WSANETWORKEVENTS events;
    int waited = WaitForNetworkEvents(FD_CONNECT, timeoutMs, &events);
    m_lastError = waited == kNetDone      ? events.iErrorCode[FD_CONNECT_BIT]
                  : waited == kNetTimeout ? WSAETIMEDOUT
                                          : m_lastError;
    if (waited == kNetDone && m_lastError == 0) return true;
  }
  Close();
  return false;
}

void CEventSocket::Close() {
  m_socket.Reset();
  m_peerClosed = false;
  m_pendingEvents = 0;
  m_pendingError = false;
}

// Waits until the network event reports one of `wanted` (reading and resetting it each time),
// the abort event is set, or a wait times out.
int CEventSocket::WaitForNetworkEvents(long wanted, DWORD timeoutMs, WSANETWORKEVENTS* events) {
  HANDLE handles[3] = {m_networkEvent.Get(), m_abort.Get(), m_outsideAbort};
  DWORD count = m_outsideAbort ? 3 : 2;
  do {
    DWORD waited = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    if (waited == WAIT_OBJECT_0 + 1 || waited == WAIT_OBJECT_0 + 2) return kNetAborted;
    if (waited != WAIT_OBJECT_0) return kNetTimeout;
    if (WSAEnumNetworkEvents(m_socket.Get(), m_networkEvent.Get(), events) == SOCKET_ERROR) {
      m_lastError = WSAGetLastError();
      return kNetSocketError;
    }
    long reads = events->lNetworkEvents & kReadEvents;
    m_pendingEvents |= reads;
    if (((reads & FD_READ) && events->iErrorCode[FD_READ_BIT] != 0) ||
        ((reads & FD_CLOSE) && events->iErrorCode[FD_CLOSE_BIT] != 0)) {
      m_pendingError = true;
    }
  } while (!(events->lNetworkEvents & wanted));
  return kNetDone;
}

// Waits for a read or close report unless one already came; then takes it.
int CEventSocket::TakeReadEvents(DWORD timeoutMs) {
  if (!(m_pendingEvents & kReadEvents)) {
    WSANETWORKEVENTS events;
    int waited = WaitForNetworkEvents(kReadEvents, timeoutMs, &events);
    if (waited != kNetDone) return waited;
  }
  if (m_pendingError) return kNetSocketError;
  if (m_pendingEvents & FD_CLOSE) m_peerClosed = true;
  m_pendingEvents = 0;
  return kNetDone;
}

int CEventSocket::Send(const void* bytes, int length, int* sent, DWORD timeoutMs) {
  const char* data = static_cast<const char*>(bytes);
  int total = 0;
  if (sent) *sent = 0;
  while (total < length) {
    m_lastError = 0;
    int accepted = send(m_socket.Get(), data + total, length - total, 0);
    if (accepted > 0) {
      total += accepted;
      if (sent) *sent = total;
      continue;
    }
    m_lastError = WSAGetLastError();
    if (m_lastError != WSAEWOULDBLOCK) return kNetSocketError;
    // The buffers are full: wait until the socket can take more.
    WSANETWORKEVENTS events;
    int waited = WaitForNetworkEvents(FD_WRITE | FD_CLOSE, timeoutMs, &events);
    if (waited != kNetDone) return waited;
    if ((events.lNetworkEvents & FD_WRITE) && events.iErrorCode[FD_WRITE_BIT] != 0) return kNetSocketError;
    if (events.lNetworkEvents & FD_CLOSE) return kNetSocketError;  // the peer is gone: the rest cannot go
  }
  return kNetDone;
}

bool CEventSocket::IsAborted() const {
  return m_abort.Wait(0) || (m_outsideAbort && WaitForSingleObject(m_outsideAbort, 0) == WAIT_OBJECT_0);
}

// Each look at the abort events is a trip through the system; while bytes stream in, a look every
// kAbortCheckMs is enough, and every wait looks at them anyway.
bool CEventSocket::AbortDue() {
  DWORD now = GetTickCount();
  if (m_abortChecked && now - m_lastAbortCheck < kAbortCheckMs) return false;
  m_abortChecked = true;
  m_lastAbortCheck = now;
  return IsAborted();
}

// recv first: while data streams, no wait and no event is needed. Only when nothing is there does
// the receive wait for a read or close report (the abort events with it), then try once more.
int CEventSocket::Receive(void* buffer, int capacity, int* received, DWORD timeoutMs) {
  if (received) *received = 0;
  if (AbortDue()) return kNetAborted;
  for (bool waited = false;; waited = true) {
    int count = recv(m_socket.Get(), static_cast<char*>(buffer), capacity, 0);
    if (count != SOCKET_ERROR) {
      if (received) *received = count;
      if (count == 0) m_peerClosed = true;  // an orderly close: never a reason to wait again
      return kNetDone;
    }
    m_lastError = WSAGetLastError();
    if (m_lastError != WSAEWOULDBLOCK) return kNetSocketError;
    // A readiness report that the last recv already used up: the caller's rules decide again.
    if (waited || m_peerClosed) return kNetWouldBlock;
    int taken = TakeReadEvents(timeoutMs);
    if (taken != kNetDone) return taken;
  }
}
