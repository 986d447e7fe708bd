#include "net/TlsStream.h"

#include <algorithm>
#include <cstring>

namespace {

// Room for many records, so one recv takes whatever the socket holds; a record is at most
// 16 KiB of data plus its header and expansion.
constexpr size_t kInputCapacity = 256 * 1024;
constexpr BYTE kAlertRecord = 21;
// Rounds of one handshake (or renegotiation) that read nothing before it counts as a loop: a full
// TLS 1.2 handshake needs three or four. Rounds that wait for more of a record are bounded by the
// bytes they bring instead, so a server whose records arrive a few bytes at a time gets through.
constexpr int kMaxHandshakeRounds = 64;
constexpr size_t kMaxHandshakeBytes = 256 * 1024;

constexpr DWORD kRequestFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
// No client certificate, and the server's certificate is ours to check: the platform's own
// check differs between systems (Wine's checks nothing).
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
constexpr DWORD kBelowTls12 = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;

SecBuffer* FindBuffer(SecBuffer* buffers, int count, ULONG type) {
  for (int i = 0; i < count; ++i) {
    if (buffers[i].BufferType == type) return &buffers[i];
  }
  return nullptr;
}

}  // namespace

CTlsStream::CTlsStream(CEventSocket& socket, const SecurityFunctionTableA& sspi, DWORD systemBuild)
    : m_socket(socket),
      m_sspi(sspi),
      m_systemBuild(systemBuild),
      m_credentials(sspi),
      m_context(sspi),
      m_in(kInputCapacity) {}

bool CTlsStream::AcquireCredentials() {
  SCHANNEL_CRED legacy = {};
  legacy.dwVersion = SCHANNEL_CRED_VERSION;
  legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  legacy.dwFlags = kCredentialFlags;
  TLS_PARAMETERS parameters = {};
  parameters.grbitDisabledProtocols = kBelowTls12;
  SCH_CREDENTIALS current = {};
  current.dwVersion = SCH_CREDENTIALS_VERSION;
  current.dwFlags = kCredentialFlags;
  current.cTlsParameters = 1;
  current.pTlsParameters = &parameters;
  void* authData = m_systemBuild >= kFirstTls13Build ? static_cast<void*>(&current) : static_cast<void*>(&legacy);
  m_status = m_sspi.AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                              nullptr, authData, nullptr, nullptr, m_credentials.Get(), nullptr);
  if (m_status != SEC_E_OK) return false;
  m_credentials.SetValid();
  return true;
}

// One call of the provider's handshake function; its token, when it made one, goes to the server
// (an alert too, so the server learns why we stop).
int CTlsStream::Initialize(SecBufferDesc* input, bool withContext, DWORD timeoutMs) {
  SecBuffer token = {0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc output = {SECBUFFER_VERSION, 1, &token};
  ULONG attributes = 0;
  m_status = m_sspi.InitializeSecurityContextA(m_credentials.Get(), withContext ? m_context.Get() : nullptr,
                                               const_cast<SEC_CHAR*>(m_host.c_str()), kRequestFlags, 0, 0, input, 0,
                                               m_context.Get(), &output, &attributes, nullptr);
  CSspiBuffer owner(m_sspi, token.pvBuffer);
  if (!withContext && !FAILED(m_status)) m_context.SetValid();
  if (token.cbBuffer == 0 || !token.pvBuffer) return kNetDone;
  return m_socket.Send(token.pvBuffer, static_cast<int>(token.cbBuffer), nullptr, timeoutMs);
}

// The buffered bytes to the provider; what it leaves over (SECBUFFER_EXTRA, only ever in the
// second buffer) stays buffered for the next step or for the records after the handshake.
int CTlsStream::HandshakeStep(DWORD timeoutMs) {
  ULONG length = static_cast<ULONG>(m_inEnd - m_inStart);
  SecBuffer buffers[2] = {{length, SECBUFFER_TOKEN, m_in.data() + m_inStart}, {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc input = {SECBUFFER_VERSION, 2, buffers};
  int sent = Initialize(&input, true, timeoutMs);
  if (m_status == SEC_E_INCOMPLETE_MESSAGE) return sent;
  bool extra = buffers[1].BufferType == SECBUFFER_EXTRA && buffers[1].cbBuffer <= length;
  m_inStart = extra ? m_inEnd - buffers[1].cbBuffer : m_inEnd;
  return sent;
}

int CTlsStream::Handshake(const char* host, CLowSpeedRule& pace, DWORD waitMs) {
  m_host = host ? host : "";
  if (!AcquireCredentials()) return kNetSocketError;
  int sent = Initialize(nullptr, false, waitMs);  // the ClientHello, naming the host (SNI)
  if (sent != kNetDone) return sent;
  int result = CompleteHandshake(pace, waitMs);
  if (result != kNetDone) return result;
  m_status = m_sspi.QueryContextAttributesA(m_context.Get(), SECPKG_ATTR_STREAM_SIZES, &m_sizes);
  if (m_status != SEC_E_OK || m_sizes.cbMaximumMessage == 0) return kNetSocketError;
  m_established = true;
  return kNetDone;
}

int CTlsStream::CompleteHandshake(CLowSpeedRule& pace, DWORD waitMs) {
  size_t handshakeBytes = 0;
  for (int idleRounds = 0; idleRounds < kMaxHandshakeRounds;) {
    if (m_status == SEC_E_OK) return kNetDone;
    bool needsInput = m_status == SEC_E_INCOMPLETE_MESSAGE || m_inStart == m_inEnd;
    // The server asked for a client certificate: we have none, so go on without.
    if (m_status == SEC_I_INCOMPLETE_CREDENTIALS) {
      needsInput = false;
    } else if (m_status != SEC_I_CONTINUE_NEEDED && m_status != SEC_E_INCOMPLETE_MESSAGE) {
      return kNetSocketError;
    }
    if (needsInput) {
      size_t buffered = m_inEnd - m_inStart;
      int read = ReadPaced(pace, waitMs);
      if (read != kNetDone) return read;
      handshakeBytes += m_inEnd - m_inStart - buffered;
      if (handshakeBytes > kMaxHandshakeBytes) break;
    } else {
      ++idleRounds;
    }
    int step = HandshakeStep(waitMs);
    if (step != kNetDone) return step;
  }
  m_status = SEC_E_INTERNAL_ERROR;
  return kNetSocketError;
}

// One or more waits until some bytes came, each within the wait and the pace.
int CTlsStream::ReadPaced(CLowSpeedRule& pace, DWORD waitMs) {
  for (;;) {
    DWORD left = pace.TimeLeft(GetTickCount());
    if (left == 0) return kNetTimeout;
    size_t buffered = m_inEnd - m_inStart;  // ReadMore may move the bytes to the front
    int read = ReadMore(std::min(left, waitMs));
    if (read == kNetWouldBlock) continue;
    if (read != kNetDone) return read;
    size_t received = m_inEnd - m_inStart - buffered;
    pace.Received(GetTickCount(), static_cast<int>(received));
    if (received > 0) return kNetDone;
  }
}

// One receive into the free room after the buffered bytes. A close here comes before the
// server's close_notify: the stream was cut.
int CTlsStream::ReadMore(DWORD timeoutMs) {
  if (m_inStart > 0 && m_plainLength == 0) {
    memmove(m_in.data(), m_in.data() + m_inStart, m_inEnd - m_inStart);
    m_inEnd -= m_inStart;
    m_inStart = 0;
  }
  if (m_inEnd == m_in.size()) {  // a record longer than TLS allows
    m_status = SEC_E_INVALID_TOKEN;
    return kNetSocketError;
  }
  int count = 0;
  int result = m_socket.Receive(m_in.data() + m_inEnd, static_cast<int>(m_in.size() - m_inEnd), &count, timeoutMs);
  if (result != kNetDone) return result;
  if (count == 0 && m_socket.PeerClosed()) {
    m_status = kTruncated;
    return kNetSocketError;
  }
  m_inEnd += count;
  return kNetDone;
}

// One record, decrypted in place. The provider's count of missing bytes is not relied on (Wine's
// is wrong): an incomplete record just waits for more bytes.
CTlsStream::EDecrypt CTlsStream::DecryptRecord() {
  if (m_inStart == m_inEnd) return EDecrypt::kNeedMore;
  ULONG length = static_cast<ULONG>(m_inEnd - m_inStart);
  BYTE* record = m_in.data() + m_inStart;
  bool alert = record[0] == kAlertRecord;
  SecBuffer buffers[4] = {{length, SECBUFFER_DATA, record},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
  SECURITY_STATUS status = m_sspi.DecryptMessage(m_context.Get(), &message, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return EDecrypt::kNeedMore;
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
    m_status = status;
    return EDecrypt::kFailed;
  }
  const SecBuffer* extra = FindBuffer(buffers, 4, SECBUFFER_EXTRA);
  m_inStart = extra && extra->cbBuffer <= length ? m_inEnd - extra->cbBuffer : m_inEnd;
  const SecBuffer* data = FindBuffer(buffers, 4, SECBUFFER_DATA);
  if (data && data->cbBuffer > 0 && data->cbBuffer <= length) {
    m_plain = static_cast<BYTE*>(data->pvBuffer);
    m_plainLength = static_cast<int>(data->cbBuffer);
  }
  // Windows reports the server's close_notify as an expired context, Wine as an alert record
  // that decrypts to nothing.
  if (status == SEC_I_CONTEXT_EXPIRED || (alert && m_plainLength == 0)) return EDecrypt::kClosed;
  return status == SEC_I_RENEGOTIATE ? EDecrypt::kRenegotiate : EDecrypt::kRecord;
}

// The provider wants the bytes after the record (a HelloRequest's answer, a session ticket) as a
// handshake input; the rounds of one connection are bounded.
int CTlsStream::Renegotiate(DWORD timeoutMs) {
  if (++m_renegotiations > kMaxRenegotiations) {
    m_status = SEC_E_INTERNAL_ERROR;
    return kNetSocketError;
  }
  CLowSpeedRule pace(GetTickCount());
  int step = HandshakeStep(timeoutMs);
  if (step != kNetDone) return step;
  return CompleteHandshake(pace, timeoutMs);
}

int CTlsStream::TakePlain(BYTE* out, int capacity) {
  int count = std::min(capacity, m_plainLength);
  memcpy(out, m_plain, count);
  m_plain += count;
  m_plainLength -= count;
  return count;
}

int CTlsStream::Receive(void* buffer, int capacity, int* received, DWORD timeoutMs) {
  BYTE* out = static_cast<BYTE*>(buffer);
  int filled = 0;
  bool waited = false;
  *received = 0;
  if (m_failure != kNetDone) return m_failure;
  while (filled < capacity && m_failure == kNetDone) {
    if (m_plainLength > 0) {
      filled += TakePlain(out + filled, capacity - filled);
      continue;
    }
    if (m_closed) break;
    if (m_renegotiate) {
      m_renegotiate = false;
      m_failure = Renegotiate(timeoutMs);
      continue;
    }
    EDecrypt step = DecryptRecord();
    if (step == EDecrypt::kFailed) m_failure = kNetSocketError;
    if (step == EDecrypt::kClosed) m_closed = true;
    if (step == EDecrypt::kRenegotiate) m_renegotiate = true;
    if (step != EDecrypt::kNeedMore) continue;
    // Only an incomplete record makes us wait, and only once: the caller's rules decide again.
    if (filled > 0 || waited) break;
    int read = ReadMore(timeoutMs);
    if (read != kNetDone) return read;
    waited = true;
  }
  *received = filled;
  // Bytes decrypted before a failure are handed out first; the failure comes with the next call.
  return filled > 0 ? kNetDone : m_failure;
}

int CTlsStream::Send(const void* bytes, int length, DWORD timeoutMs) {
  const BYTE* data = static_cast<const BYTE*>(bytes);
  for (int offset = 0; offset < length;) {
    int chunk = std::min(length - offset, static_cast<int>(m_sizes.cbMaximumMessage));
    m_out.resize(m_sizes.cbHeader + chunk + m_sizes.cbTrailer);
    BYTE* record = m_out.data();
    memcpy(record + m_sizes.cbHeader, data + offset, chunk);
    SecBuffer buffers[4] = {{m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, record},
                            {static_cast<ULONG>(chunk), SECBUFFER_DATA, record + m_sizes.cbHeader},
                            {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record + m_sizes.cbHeader + chunk},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
    m_status = m_sspi.EncryptMessage(m_context.Get(), 0, &message, 0);
    if (m_status != SEC_E_OK) return kNetSocketError;
    int total = static_cast<int>(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    int sent = m_socket.Send(record, total, nullptr, timeoutMs);
    if (sent != kNetDone) return sent;
    offset += chunk;
  }
  return kNetDone;
}

void CTlsStream::Shutdown(DWORD timeoutMs) {
  if (!m_established) return;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control = {sizeof(type), SECBUFFER_TOKEN, &type};
  SecBufferDesc controls = {SECBUFFER_VERSION, 1, &control};
  if (m_sspi.ApplyControlToken(m_context.Get(), &controls) != SEC_E_OK) return;
  Initialize(nullptr, true, timeoutMs);  // its token is the close_notify
  m_established = false;
}

PCCERT_CONTEXT CTlsStream::RemoteCertificate() {
  PCCERT_CONTEXT certificate = nullptr;
  if (m_sspi.QueryContextAttributesA(m_context.Get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK) {
    return nullptr;
  }
  return certificate;
}
