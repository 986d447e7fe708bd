#include <gtest/gtest.h>

#include <winsock2.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "LoopbackServer.h"
#include "net/EventSocket.h"

namespace {

constexpr DWORD kShortWaitMs = 300;

std::string ReceiveAll(SOCKET client, size_t expected, DWORD pauseEveryChunkMs = 0) {
  std::string data;
  char buffer[4096];
  while (data.size() < expected) {
    int count = recv(client, buffer, sizeof(buffer), 0);
    if (count <= 0) break;
    data.append(buffer, count);
    if (pauseEveryChunkMs && data.size() % (256 * 1024) < sizeof(buffer)) Sleep(pauseEveryChunkMs);
  }
  return data;
}

class EventSocketTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(1, NetStartup()); }
  void TearDown() override { EXPECT_EQ(1, NetCleanup()); }
};

}  // namespace

TEST_F(EventSocketTest, ResolvesDottedAddressesAndNames) {
  CEventSocket socket;
  std::vector<std::string> addresses;
  ASSERT_TRUE(socket.Resolve("127.0.0.1", addresses));
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1"}, addresses);
  addresses.clear();
  ASSERT_TRUE(socket.Resolve("localhost", addresses));
  EXPECT_EQ("127.0.0.1", addresses.front());
  addresses.clear();
  EXPECT_FALSE(socket.Resolve("no-such-host.invalid", addresses));
  EXPECT_FALSE(socket.ConnectHost("no-such-host.invalid", 80));
}

TEST_F(EventSocketTest, RefusedAndMalformedAddressesFail) {
  CEventSocket socket;
  EXPECT_FALSE(socket.Connect("999.1.1.1", 80));
  EXPECT_EQ(WSAEINVAL, WSAGetLastError());
  EXPECT_EQ(0, socket.GetLastError());

  unsigned short freePort;
  {
    CLoopbackServer probe([](SOCKET) {});
    freePort = probe.Port();
    CEventSocket connectOnce;
    connectOnce.Connect("127.0.0.1", freePort);  // lets the probe's accept return
  }
  EXPECT_FALSE(socket.Connect("127.0.0.1", freePort));
  EXPECT_EQ(WSAECONNREFUSED, socket.GetLastError());
}

// The owner's close keeps the error the failure path is about to report, also when closing fails.
TEST_F(EventSocketTest, SocketOwnerKeepsTheCallersLastError) {
  SOCKET stale = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(INVALID_SOCKET, stale);
  closesocket(stale);
  const SOCKET sockets[] = {socket(AF_INET, SOCK_STREAM, 0), stale};
  for (SOCKET s : sockets) {
    {
      CSocketHandle owner(s);
      WSASetLastError(WSAEHOSTUNREACH);
    }
    EXPECT_EQ(WSAEHOSTUNREACH, WSAGetLastError());
  }
}

TEST_F(EventSocketTest, SendsEverythingEvenWhenTheBuffersFill) {
  std::string payload(8 * 1024 * 1024, 'p');
  for (size_t i = 0; i < payload.size(); i += 4096) payload[i] = static_cast<char>(i / 4096);
  std::string arrived;
  {
    // A slow reader, so the sender meets full buffers and must resume.
    CLoopbackServer server([&](SOCKET client) { arrived = ReceiveAll(client, payload.size(), 5); });
    CEventSocket socket;
    ASSERT_TRUE(socket.ConnectHost("127.0.0.1", server.Port()));
    int sent = 0;
    EXPECT_EQ(kNetDone, socket.Send(payload.data(), static_cast<int>(payload.size()), &sent, 10000));
    EXPECT_EQ(static_cast<int>(payload.size()), sent);
  }
  EXPECT_TRUE(arrived == payload);
}

TEST_F(EventSocketTest, ReceivesThenSeesTheOrderlyCloseAtOnce) {
  CLoopbackServer server([](SOCKET client) { send(client, "hello", 5, 0); });  // then closes
  CEventSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port()));
  char buffer[64];
  std::string data;
  int received = -1;
  DWORD start = GetTickCount();
  while (socket.Receive(buffer, sizeof(buffer), &received, 10000) == kNetDone && received > 0) {
    data.append(buffer, received);
  }
  EXPECT_EQ("hello", data);
  EXPECT_EQ(0, received);
  EXPECT_LT(GetTickCount() - start, 5000u);  // far from the 10 s time-out
}

TEST_F(EventSocketTest, SilenceTimesOutAndAbortEndsWaitsAtOnce) {
  CWinEvent release;
  CLoopbackServer server([&](SOCKET) { release.Wait(10000); });
  CEventSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port()));
  char buffer[16];
  int received = 0;
  EXPECT_EQ(kNetTimeout, socket.Receive(buffer, sizeof(buffer), &received, kShortWaitMs));

  std::thread aborter([&socket] {
    Sleep(100);
    socket.Abort();
  });
  EXPECT_EQ(kNetAborted, socket.Receive(buffer, sizeof(buffer), &received, 10000));
  aborter.join();
  EXPECT_EQ(kNetAborted, socket.Receive(buffer, sizeof(buffer), &received, 10000));  // stays aborted
  release.Set();
}

// Reads that never wait (the server always has more) still see an abort soon after it is set.
TEST_F(EventSocketTest, AbortEndsAStreamThatNeverPauses) {
  CWinEvent stop;
  CLoopbackServer server([&](SOCKET client) {
    std::string block(64 * 1024, 'x');
    while (!stop.Wait(0) && send(client, block.data(), static_cast<int>(block.size()), 0) > 0) {
    }
  });
  CEventSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port()));
  std::thread aborter([&socket] {
    Sleep(200);
    socket.Abort();
  });
  char buffer[4096];
  int received = 0;
  int result = kNetDone;
  long long total = 0;
  while ((result = socket.Receive(buffer, sizeof(buffer), &received, 10000)) == kNetDone && received > 0) {
    total += received;
  }
  aborter.join();
  stop.Set();
  EXPECT_EQ(kNetAborted, result);
  EXPECT_GT(total, 0);
}

// A listener whose queue is full drops further connection attempts: a connect that would
// otherwise hang for the system's minutes of retries.
TEST_F(EventSocketTest, ConnectGivesUpAfterItsTimeOutOrOnAbort) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  int length = sizeof(address);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  ASSERT_EQ(0, listen(listener, 0));
  unsigned short port = ntohs(address.sin_port);

  std::vector<std::unique_ptr<CEventSocket>> queued;
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    queued.push_back(std::make_unique<CEventSocket>());
    full = !queued.back()->Connect("127.0.0.1", port, kShortWaitMs);
  }
  ASSERT_TRUE(full) << "the listener's queue never filled";
  EXPECT_EQ(WSAETIMEDOUT, queued.back()->GetLastError());

  CEventSocket aborted;
  std::thread aborter([&aborted] {
    Sleep(100);
    aborted.Abort();
  });
  DWORD started = GetTickCount();
  EXPECT_FALSE(aborted.ConnectHost("127.0.0.1", port, 10000));
  EXPECT_LT(GetTickCount() - started, 5000u);
  aborter.join();
  closesocket(listener);
}
