// A response as it comes off the socket: its bytes, and what is known so far about where it
// ends. Receives land straight in the response's own buffer, which is reserved from the
// announced length or grows by doubling; the head position, the announced length and the chunk
// walk are kept between receives, so each receive costs only what it added (the answers equal
// IsResponseComplete's).
#pragma once

#include "base/ByteBuffer.h"

class CIncomingResponse {
public:
  // Most a server can make us hold for one response; a larger one fails the request.
  static constexpr int kMaxResponseBytes = 512 * 1024 * 1024;

  // `receiveSize`: the most one receive may bring.
  explicit CIncomingResponse(int receiveSize) : m_receiveSize(receiveSize) {}

  // Where the next receive writes, with room for `receiveSize` bytes; null without the memory.
  BYTE* ReceiveSpace(int* room);
  // Takes the `count` bytes the receive wrote. False when the response passes the limit (or its
  // head announces a length that would): the response cannot be taken.
  bool Commit(int count);
  // ReceiveSpace and Commit for bytes from elsewhere.
  bool Append(const BYTE* bytes, int count);

  bool HasHead() const { return m_headEnd >= 0; }
  // Head plus Content-Length once both are known, else -1.
  long long ExpectedTotal() const { return m_hasLength ? m_bodyStart + m_contentLength : -1; }
  bool IsComplete();
  // After the server closed the connection: complete, or a close-delimited body with its head in.
  bool IsCompleteAtClose();

  const CByteBuffer& Bytes() const { return m_bytes; }

private:
  bool ReadHead();

  int m_receiveSize;
  CByteBuffer m_bytes;
  int m_headScanned = 0;  // bytes searched for the head's end so far
  int m_headEnd = -1;
  int m_bodyStart = 0;
  bool m_hasLength = false;
  long long m_contentLength = 0;
  bool m_chunked = false;
  int m_chunkWalk = 0;  // body offset of the first chunk not yet wholly received
};
