// The one container for raw bytes: a single pointer with value semantics whose block is
// shared between copies (interlocked count) and made exclusive before any change.
#pragma once

#include <windows.h>

#include <climits>
#include <string>

class CByteBuffer {
public:
  CByteBuffer();
  explicit CByteBuffer(int capacity);
  CByteBuffer(const void* bytes, int length);
  CByteBuffer(const CByteBuffer& other);
  CByteBuffer& operator=(const CByteBuffer& other) { return Assign(other); }
  ~CByteBuffer();

  CByteBuffer& Assign(const CByteBuffer& other);
  CByteBuffer& AssignBytes(const void* bytes, int length);
  CByteBuffer& SetBytes(const void* bytes, int length);
  CByteBuffer& Append(const void* bytes, int length);
  CByteBuffer& AppendText(const char* text);
  CByteBuffer& AppendByte(BYTE value);
  CByteBuffer& AppendBuffer(const CByteBuffer& other);
  // The checked forms, for bytes that must arrive whole (downloaded, decoded or built data):
  // false, with the buffer unchanged, when the memory cannot be had or the arguments are bad.
  bool TryAppend(const void* bytes, int length);
  bool TryAppendBuffer(const CByteBuffer& other);

  int Length() const { return Head()->length; }
  int Capacity() const { return Head()->capacity; }
  BYTE* Data() const { return m_data; }
  bool IsEmpty() const { return Length() == 0; }

  // False (buffer unchanged) when the memory cannot be had.
  bool SetSize(int length);
  bool SetLength(int length);  // -1: up to the first zero byte
  bool Reserve(int capacity);  // keeps the bytes; false (buffer unchanged) without the memory
  // Room for `count` more bytes, doubling the capacity (never past `limit`), so a buffer built by
  // many appends is copied a bounded number of times. False when it does not fit.
  bool ReserveMore(int count, int limit = INT_MAX);
  // Gives the bytes an address range for up to `maxCapacity` bytes whose memory is committed
  // only as the buffer grows, so growing within it never moves the bytes: for a large download
  // of announced size. False (buffer unchanged) when the range cannot be had.
  bool ReserveAddressRange(int maxCapacity);
  bool MakeUnique();
  int Erase(int position, int count);  // the length before the erase; -1 when out of memory
  void Clear();

  int Find(const void* pattern, int patternLength, int start) const;
  int PopFront(void* destination, int count);  // bytes taken; -1 when out of memory
  CByteBuffer& PopFrontBuffer(CByteBuffer& out, int count);
  int ReadUntil(const void* pattern, int patternLength, CByteBuffer& out);

  int ReadFromFile(const char* path);
  // The rest of an open file, from its current position; like ReadFromFile otherwise.
  int ReadFromHandle(HANDLE file);
  int WriteToFile(const char* path, bool append) const;
  int LoadFromResource(const char* name, const char* type);

  // The MD5 text of the bytes from `offset` to the end, at most outSize - 1 characters of it.
  int Md5Hex(char* out, int outSize, int offset) const;

private:
  struct Header {
    volatile LONG refs;  // negative only for the static empty block
    int length;
    int capacity;
    int rangeCapacity;  // 0: a heap block; else the most a reserved address range can commit
  };

  Header* Head() const { return reinterpret_cast<Header*>(m_data) - 1; }
  bool IsShared() const { return Head()->refs > 1; }
  static BYTE* Allocate(int capacity);
  static bool CommitRange(Header* head, int capacity);
  static BYTE* EmptyBlock();
  void Release();
  void Adopt(BYTE* block);
  bool MakeExclusive(int capacity);
  bool UnshareBytes(int count);

  BYTE* m_data;
};

// The MD5 text of all of a buffer's bytes (see Md5Hex).
std::string Md5Text(const CByteBuffer& buffer);

// Whether both hold the same bytes.
bool SameBytes(const CByteBuffer& a, const CByteBuffer& b);

// The bytes of `first` then those of `second`; empty when the memory cannot be had, never a part.
CByteBuffer Concatenated(const CByteBuffer& first, const CByteBuffer& second);
