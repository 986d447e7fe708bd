// The TLS stream's record layer against a scripted security provider, for what Wine's SChannel
// never produces: renegotiation requests, the expired-context close, wrong missing-byte counts,
// application data in the handshake's last read, and the credentials of newer systems. The
// "records" are plain TLS framing with no cipher; the peer is a real loopback socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "net/EventSocket.h"
#include "net/TlsStream.h"

namespace {

constexpr BYTE kHandshake = 22;
constexpr BYTE kAlert = 21;
constexpr BYTE kData = 23;
constexpr int kHeader = 5;
constexpr DWORD kWaitMs = 2000;
constexpr DWORD kOldBuild = 7601;
constexpr DWORD kNewBuild = 22000;

std::string Record(BYTE type, const std::string& payload) {
  std::string record = {static_cast<char>(type), 3, 3, static_cast<char>(payload.size() >> 8),
                        static_cast<char>(payload.size() & 0xff)};
  return record + payload;
}

// What the provider saw and how it reports a close.
struct Script {
  bool windowsClose = false;  // SEC_I_CONTEXT_EXPIRED, as Windows; else Wine's empty SEC_E_OK
  DWORD credentialVersion = 0;
  DWORD enabledProtocols = 0;
  DWORD disabledProtocols = 0;
  DWORD credentialFlags = 0;
  std::string targetName;
  int callsAfterHandshake = 0;
  bool established = false;
  bool shutdown = false;
} g_script;

// A whole record at the front of `bytes`, else 0.
ULONG RecordLength(const BYTE* bytes, ULONG length) {
  if (length < kHeader) return 0;
  ULONG whole = kHeader + (bytes[3] << 8 | bytes[4]);
  return whole <= length ? whole : 0;
}

SECURITY_STATUS SEC_ENTRY Acquire(SEC_CHAR*, SEC_CHAR*, ULONG, void*, void* authData, SEC_GET_KEY_FN, void*,
                                  PCredHandle handle, PTimeStamp) {
  g_script.credentialVersion = *static_cast<DWORD*>(authData);
  if (g_script.credentialVersion == SCH_CREDENTIALS_VERSION) {
    auto* current = static_cast<SCH_CREDENTIALS*>(authData);
    g_script.credentialFlags = current->dwFlags;
    g_script.disabledProtocols = current->cTlsParameters ? current->pTlsParameters->grbitDisabledProtocols : 0;
  } else {
    auto* legacy = static_cast<SCHANNEL_CRED*>(authData);
    g_script.credentialFlags = legacy->dwFlags;
    g_script.enabledProtocols = legacy->grbitEnabledProtocols;
  }
  handle->dwLower = handle->dwUpper = 1;
  return SEC_E_OK;
}

void GiveToken(PSecBufferDesc output, const std::string& token) {
  output->pBuffers[0].pvBuffer = new char[token.size()];
  memcpy(output->pBuffers[0].pvBuffer, token.data(), token.size());
  output->pBuffers[0].cbBuffer = static_cast<ULONG>(token.size());
}

// The hello first; then each server handshake record is answered, the first with our finish; a
// shutdown's token is the close_notify.
SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle, PCtxtHandle context, SEC_CHAR* target, ULONG, ULONG, ULONG,
                                     PSecBufferDesc input, ULONG, PCtxtHandle newContext, PSecBufferDesc output, ULONG*,
                                     PTimeStamp) {
  if (!context) {
    g_script.targetName = target;
    newContext->dwLower = newContext->dwUpper = 1;
    GiveToken(output, Record(kHandshake, "hello"));
    return SEC_I_CONTINUE_NEEDED;
  }
  if (g_script.shutdown) {
    GiveToken(output, Record(kAlert, std::string("\x01\x00", 2)));
    return SEC_E_OK;
  }
  SecBuffer* in = input->pBuffers;
  BYTE* bytes = static_cast<BYTE*>(in[0].pvBuffer);
  ULONG length = in[0].cbBuffer;
  if (g_script.established) {  // a ticket's or renegotiation's turn: the records after it stay
    ++g_script.callsAfterHandshake;
    if (length > 0) in[1] = {length, SECBUFFER_EXTRA, bytes};
    return SEC_E_OK;
  }
  ULONG whole = RecordLength(bytes, length);
  if (whole == 0) return SEC_E_INCOMPLETE_MESSAGE;
  if (whole < length) in[1] = {length - whole, SECBUFFER_EXTRA, bytes + whole};
  GiveToken(output, Record(kHandshake, "finished"));
  g_script.established = true;
  return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY Decrypt(PCtxtHandle, PSecBufferDesc message, ULONG, ULONG*) {
  SecBuffer* buffers = message->pBuffers;
  BYTE* bytes = static_cast<BYTE*>(buffers[0].pvBuffer);
  ULONG length = buffers[0].cbBuffer;
  ULONG whole = RecordLength(bytes, length);
  if (whole == 0) {
    buffers[0] = {7, SECBUFFER_MISSING, nullptr};  // a count that is wrong, as Wine's can be
    return SEC_E_INCOMPLETE_MESSAGE;
  }
  BYTE type = bytes[0];
  ULONG dataLength = type == kData ? whole - kHeader : 0;
  buffers[0] = {kHeader, SECBUFFER_STREAM_HEADER, bytes};
  buffers[1] = {dataLength, SECBUFFER_DATA, bytes + kHeader};
  buffers[2] = {0, SECBUFFER_STREAM_TRAILER, bytes + whole};
  buffers[3] = {length - whole, whole < length ? static_cast<ULONG>(SECBUFFER_EXTRA) : SECBUFFER_EMPTY, bytes + whole};
  if (type == kHandshake) return SEC_I_RENEGOTIATE;
  if (type == kAlert) return g_script.windowsClose ? SEC_I_CONTEXT_EXPIRED : SEC_E_OK;
  return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY Query(PCtxtHandle, ULONG attribute, void* buffer) {
  if (attribute != SECPKG_ATTR_STREAM_SIZES) return SEC_E_UNSUPPORTED_FUNCTION;
  *static_cast<SecPkgContext_StreamSizes*>(buffer) = {kHeader, 0, 16384, 4, 16};
  return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY Control(PCtxtHandle, PSecBufferDesc) {
  g_script.shutdown = true;
  return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY FreeBuffer(void* buffer) {
  delete[] static_cast<char*>(buffer);
  return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY FreeCredentials(PCredHandle) { return SEC_E_OK; }
SECURITY_STATUS SEC_ENTRY DeleteContext(PCtxtHandle) { return SEC_E_OK; }

SecurityFunctionTableA ScriptedProvider() {
  SecurityFunctionTableA table = {};
  table.AcquireCredentialsHandleA = Acquire;
  table.FreeCredentialsHandle = FreeCredentials;
  table.InitializeSecurityContextA = Initialize;
  table.DeleteSecurityContext = DeleteContext;
  table.ApplyControlToken = Control;
  table.QueryContextAttributesA = Query;
  table.FreeContextBuffer = FreeBuffer;
  table.DecryptMessage = Decrypt;
  return table;
}

enum class EEnd { kCloseNotify, kTcpClose, kHold };

struct Case {
  const char* name;
  std::vector<std::string> writes;  // the server's sends after our hello, a short pause between
  EEnd end;
  bool windowsClose;
  DWORD build;
  std::string expectedPlain;
  int expectedEnd;  // the result that ended reading: kNetDone after a clean close
  int expectedCallsAfterHandshake;
};

std::string Repeated(const std::string& record, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += record;
  return all;
}

const std::string kServerDone = Record(kHandshake, "server-done");
const std::string kBig(3000, 'x');
const std::string kBigRecord = Record(kData, kBig);

const Case kCases[] = {
    {"data in the handshake's last read",
     {kServerDone + Record(kData, "early")},
     EEnd::kHold,
     false,
     kOldBuild,
     "early",
     kNetTimeout,
     0},
    {"one renegotiation between records",
     {kServerDone, Record(kData, "A") + Record(kHandshake, "ticket") + Record(kData, "B")},
     EEnd::kCloseNotify,
     false,
     kNewBuild,
     "AB",
     kNetDone,
     1},
    {"renegotiations beyond the bound",
     {kServerDone, Record(kData, "A") + Repeated(Record(kHandshake, "ticket"), CTlsStream::kMaxRenegotiations + 1)},
     EEnd::kHold,
     false,
     kOldBuild,
     "A",
     kNetSocketError,
     CTlsStream::kMaxRenegotiations},
    {"close as Windows reports it",
     {kServerDone, Record(kData, "bye")},
     EEnd::kCloseNotify,
     true,
     kNewBuild,
     "bye",
     kNetDone,
     0},
    {"records in pieces, the missing counts wrong",
     {kServerDone.substr(0, 3), kServerDone.substr(3) + kBigRecord.substr(0, 2), kBigRecord.substr(2, 1000),
      kBigRecord.substr(1002)},
     EEnd::kCloseNotify,
     false,
     kOldBuild,
     kBig,
     kNetDone,
     0},
    {"cut before close_notify",
     {kServerDone, Record(kData, "part")},
     EEnd::kTcpClose,
     false,
     kOldBuild,
     "part",
     kNetSocketError,
     0},
};

void PrintTo(const Case& row, std::ostream* out) { *out << row.name; }

class TlsStreamTest : public ::testing::TestWithParam<Case> {
protected:
  void SetUp() override { ASSERT_EQ(1, NetStartup()); }
  void TearDown() override { NetCleanup(); }
};

// Reads up to `count` bytes (less when the client closes first).
std::string ReceiveSome(SOCKET socket, size_t count) {
  std::string data;
  char buffer[4096];
  while (data.size() < count) {
    int got = recv(socket, buffer, static_cast<int>(std::min(sizeof(buffer), count - data.size())), 0);
    if (got <= 0) break;
    data.append(buffer, got);
  }
  return data;
}

TEST_P(TlsStreamTest, ReadsWhatTheScriptSends) {
  const Case& row = GetParam();
  g_script = Script();
  g_script.windowsClose = row.windowsClose;
  const std::string hello = Record(kHandshake, "hello");
  const std::string finished = Record(kHandshake, "finished");
  const std::string closeNotify = Record(kAlert, std::string("\x01\x00", 2));
  std::string clientSent;
  std::string plain;
  int end = kNetDone;
  {  // the server's thread has ended when its bytes are compared
    CLoopbackServer server([&](SOCKET peer) {
      clientSent = ReceiveSome(peer, hello.size());
      for (const std::string& write : row.writes) {
        send(peer, write.data(), static_cast<int>(write.size()), 0);
        Sleep(30);
      }
      if (row.end == EEnd::kCloseNotify) send(peer, closeNotify.data(), static_cast<int>(closeNotify.size()), 0);
      // Our finish; then, unless the server cuts the connection, all until the client closes.
      clientSent += ReceiveSome(peer, row.end == EEnd::kTcpClose ? finished.size() : 1 << 20);
    });

    SecurityFunctionTableA provider = ScriptedProvider();
    {
      CEventSocket socket;
      ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port()));
      CTlsStream stream(socket, provider, row.build);
      CLowSpeedRule pace(GetTickCount());
      ASSERT_EQ(kNetDone, stream.Handshake("velmor.test", pace, kWaitMs));
      char buffer[1024];
      while (end == kNetDone && !stream.PeerClosed()) {
        int count = 0;
        end = stream.Receive(buffer, sizeof(buffer), &count, kWaitMs);
        plain.append(buffer, count);
      }
      if (row.end == EEnd::kTcpClose) {
        EXPECT_EQ(CTlsStream::kTruncated, stream.LastStatus());
      }
      stream.Shutdown(kWaitMs);
    }
  }

  EXPECT_EQ(row.expectedPlain, plain);
  EXPECT_EQ(row.expectedEnd, end);
  EXPECT_EQ(row.expectedCallsAfterHandshake, g_script.callsAfterHandshake);
  EXPECT_EQ("velmor.test", g_script.targetName);
  // The hello, our finish, and after a session that came up, the close_notify.
  std::string expectedSent = hello + finished + (row.end == EEnd::kTcpClose ? "" : closeNotify);
  EXPECT_EQ(expectedSent, clientSent);
  // Newer systems get SCH_CREDENTIALS with everything below TLS 1.2 disabled, older ones
  // SCHANNEL_CRED with TLS 1.2 alone; the certificate is always ours to check.
  EXPECT_EQ(SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS,
            g_script.credentialFlags & (SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS));
  if (row.build == kNewBuild) {
    EXPECT_EQ(static_cast<DWORD>(SCH_CREDENTIALS_VERSION), g_script.credentialVersion);
    EXPECT_EQ(static_cast<DWORD>(SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT),
              g_script.disabledProtocols & (SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_2_CLIENT));
  } else {
    EXPECT_EQ(static_cast<DWORD>(SCHANNEL_CRED_VERSION), g_script.credentialVersion);
    EXPECT_EQ(static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT), g_script.enabledProtocols);
  }
}

INSTANTIATE_TEST_SUITE_P(Scripted, TlsStreamTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c) name += isalnum(*c) ? *c : '_';
                           return name;
                         });

}  // namespace
