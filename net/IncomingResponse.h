// A response as it comes off the socket, kept as its head (status line and headers, blank line
// included) and its raw body, so the body can be handed out without a copy. Receives land
// straight in the body buffer; before the head is complete they go there too, and the head is
// moved out once its end is seen. The head position, the announced length and the chunk walk are
// kept between receives, so each receive costs only what it added (the answers equal
// IsResponseComplete's). Empty lines and interim 1xx answers before the final head are skipped.
#pragma once

#include "base/ByteBuffer.h"
#include "net/ChunkDecoder.h"

class CIncomingResponse {
public:
  // Most a server can make us hold for one response; a larger one fails the request.
  static constexpr int kMaxResponseBytes = 512 * 1024 * 1024;
  // A head (interim answers included) whose blank line has not come within this fails at once.
  static constexpr int kMaxHeadBytes = 256 * 1024;
  // Most we reserve on the word of a Content-Length; beyond it the buffer grows as bytes come.
  static constexpr int kMaxUpFrontReserve = 16 * 1024 * 1024;

  // `receiveSize`: the most one receive may bring. `maxBytes`: the cap of this response.
  explicit CIncomingResponse(int receiveSize, int maxBytes = kMaxResponseBytes);

  // Interim answers are the answer: for a request that waits for its 100 before sending its body.
  void KeepInterimAnswers() { m_keepInterim = true; }

  // Where the next receive writes, with room for `receiveSize` bytes; null without the memory.
  BYTE* ReceiveSpace(int* room);
  // Takes the `count` bytes the receive wrote. False when the response cannot be taken: past its
  // cap (or announcing a length that would be), a head past its cap or malformed, a transfer
  // coding we cannot undo, a malformed chunked body. Bytes beyond an announced length are dropped.
  bool Commit(int count);
  // ReceiveSpace and Commit for bytes from elsewhere.
  bool Append(const BYTE* bytes, int count);

  bool HasHead() const { return m_headIn; }
  // Head plus Content-Length once both are known, else -1.
  long long ExpectedTotal() const { return m_hasLength ? m_head.Length() + m_contentLength : -1; }
  int ReceivedLength() const { return m_head.Length() + m_body.Length(); }
  bool IsComplete() const;
  // After the server closed the connection: complete, or a close-delimited body with its head in.
  bool IsCompleteAtClose() const;

  const CByteBuffer& Head() const { return m_head; }
  const CByteBuffer& Body() const { return m_body; }  // before the head is complete: all bytes so far
  CByteBuffer Joined() const;                         // head and body as received (debug files)

private:
  bool ReadHeads();
  bool TakeFinalHead(int headStart, int bodyStart);
  bool ReadBody();
  long long BodyLimit() const;

  int m_receiveSize;
  int m_maxBytes;
  bool m_keepInterim = false;
  CByteBuffer m_head;
  CByteBuffer m_body;
  int m_headStart = 0;    // where the head being read begins (after skipped interim answers)
  int m_headScanned = 0;  // bytes searched for its end so far
  bool m_headIn = false;  // the final head
  bool m_noBody = false;  // 204, 304 and kept interim answers end with their head
  bool m_hasLength = false;
  long long m_contentLength = 0;
  bool m_chunked = false;
  CChunkDecoder m_chunks;
};
