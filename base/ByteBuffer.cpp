#include "base/ByteBuffer.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/Md5.h"
#include "base/ScopedHandle.h"

namespace {

// Largest capacity we ask the heap for: the header and the spare zero byte must still fit an int.
constexpr int kMaxCapacity = INT_MAX - 64;

struct StaticEmptyBlock {
  LONG refs;
  int length;
  int capacity;
  int rangeCapacity;
  BYTE zero[4];
};

// Shared by every empty buffer; its negative count keeps it from being counted, changed or freed.
StaticEmptyBlock g_emptyBlock = {-1, 0, 0, 0, {0, 0, 0, 0}};

}  // namespace

BYTE* CByteBuffer::EmptyBlock() { return g_emptyBlock.zero; }

// A new zero-filled block with count 1 and length 0. One byte beyond the capacity stays zero, so
// the data can always be read as text; null when the memory cannot be had.
BYTE* CByteBuffer::Allocate(int capacity) {
  if (capacity < 0 || capacity > kMaxCapacity) return nullptr;
  Header* head = static_cast<Header*>(calloc(1, sizeof(Header) + capacity + 1));
  if (!head) return nullptr;
  head->refs = 1;
  head->length = 0;
  head->capacity = capacity;
  return reinterpret_cast<BYTE*>(head + 1);
}

CByteBuffer::CByteBuffer() : m_data(EmptyBlock()) {}

CByteBuffer::CByteBuffer(int capacity) : m_data(EmptyBlock()) {
  if (BYTE* block = Allocate(capacity)) m_data = block;
}

CByteBuffer::CByteBuffer(const void* bytes, int length) : m_data(EmptyBlock()) { SetBytes(bytes, length); }

CByteBuffer::CByteBuffer(const CByteBuffer& other) : m_data(other.m_data) {
  if (Head()->refs >= 0) InterlockedIncrement(&Head()->refs);
}

CByteBuffer::~CByteBuffer() { Release(); }

void CByteBuffer::Release() {
  BYTE* data = m_data;
  m_data = EmptyBlock();
  if (data == EmptyBlock()) return;
  Header* head = reinterpret_cast<Header*>(data) - 1;
  if (InterlockedDecrement(&head->refs) > 0) return;
  if (head->rangeCapacity > 0) {
    VirtualFree(head, 0, MEM_RELEASE);
  } else {
    free(head);
  }
}

// Commits the pages of a reserved range up to `capacity` bytes of data (and the zero byte after
// them); committed pages come zero-filled. Only the pages not committed yet are asked for: the
// system walks every page it is given, and a download grows its buffer many times.
bool CByteBuffer::CommitRange(Header* head, int capacity) {
  static const SIZE_T page = [] {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return static_cast<SIZE_T>(system.dwPageSize);
  }();
  SIZE_T bytes = sizeof(Header) + static_cast<SIZE_T>(capacity) + 1;
  SIZE_T committedEnd = (sizeof(Header) + static_cast<SIZE_T>(head->capacity) + 1 + page - 1) / page * page;
  BYTE* base = reinterpret_cast<BYTE*>(head);
  if (bytes > committedEnd && !VirtualAlloc(base + committedEnd, bytes - committedEnd, MEM_COMMIT, PAGE_READWRITE)) {
    return false;
  }
  SIZE_T committed = (bytes + page - 1) / page * page - sizeof(Header) - 1;
  head->capacity =
      committed > static_cast<SIZE_T>(head->rangeCapacity) ? head->rangeCapacity : static_cast<int>(committed);
  return true;
}

bool CByteBuffer::ReserveAddressRange(int maxCapacity) {
  int length = Length();
  if (maxCapacity < length || maxCapacity > kMaxCapacity) return false;
  void* range =
      VirtualAlloc(nullptr, sizeof(Header) + static_cast<SIZE_T>(maxCapacity) + 1, MEM_RESERVE, PAGE_READWRITE);
  if (!range) return false;
  Header* head = static_cast<Header*>(range);
  // The header itself lives in the first page: commit it before writing the range's size there.
  if (!VirtualAlloc(head, sizeof(Header), MEM_COMMIT, PAGE_READWRITE)) {
    VirtualFree(range, 0, MEM_RELEASE);
    return false;
  }
  head->rangeCapacity = maxCapacity;
  head->capacity = 0;  // the header's page only
  if (!CommitRange(head, length)) {
    VirtualFree(range, 0, MEM_RELEASE);
    return false;
  }
  head->refs = 1;
  head->length = length;
  BYTE* data = reinterpret_cast<BYTE*>(head + 1);
  memcpy(data, m_data, length);
  Adopt(data);
  return true;
}

void CByteBuffer::Adopt(BYTE* block) {
  Release();
  m_data = block;
}

// Ensures an unshared block of at least `capacity` bytes; the old bytes are not kept when a new
// block is needed. On failure the buffer is left as it was.
bool CByteBuffer::MakeExclusive(int capacity) {
  if (capacity < 0) return false;
  bool isStatic = Head()->refs < 0;
  if (!isStatic && !IsShared() && Capacity() >= capacity) return true;
  if (isStatic && capacity == 0) return true;
  BYTE* block = Allocate(capacity);
  if (!block) return false;
  Adopt(block);
  return true;
}

CByteBuffer& CByteBuffer::Assign(const CByteBuffer& other) {
  if (m_data == other.m_data) return *this;
  if (other.Head()->refs < 0) return AssignBytes(nullptr, 0);
  InterlockedIncrement(&other.Head()->refs);
  BYTE* shared = other.m_data;
  Release();
  m_data = shared;
  return *this;
}

CByteBuffer& CByteBuffer::AssignBytes(const void* bytes, int length) {
  if (length < 0 || (length > 0 && !bytes)) return *this;
  if (length > 0 && Head()->refs >= 0 && !IsShared() && Capacity() >= length) {
    memmove(m_data, bytes, length);  // the source may lie inside this very block
    Head()->length = length;
    return *this;
  }
  if (length == 0) {
    if (MakeExclusive(0) && Head()->refs >= 0) Head()->length = 0;
    return *this;
  }
  return SetBytes(bytes, length);
}

CByteBuffer& CByteBuffer::SetBytes(const void* bytes, int length) {
  if (length < 0 || (length > 0 && !bytes)) return *this;
  BYTE* block = Allocate(length);
  if (!block) return *this;
  if (length > 0) memcpy(block, bytes, length);
  reinterpret_cast<Header*>(block)[-1].length = length;
  Adopt(block);
  return *this;
}

CByteBuffer& CByteBuffer::Append(const void* bytes, int length) {
  TryAppend(bytes, length);
  return *this;
}

bool CByteBuffer::TryAppend(const void* bytes, int length) {
  if (length == 0) return true;
  if (length < 0 || !bytes) return false;
  int oldLength = Length();
  if (length > kMaxCapacity - oldLength) return false;
  // A reserved range grows in place, by doubling what it commits.
  if (Head()->rangeCapacity > 0 && !IsShared()) ReserveMore(length, Head()->rangeCapacity);
  if (Head()->refs >= 0 && !IsShared() && Capacity() >= oldLength + length) {
    memmove(m_data + oldLength, bytes, length);
    Head()->length = oldLength + length;
    return true;
  }
  // Grows to exactly the needed size; callers that know the final size reserve it up front.
  BYTE* block = Allocate(oldLength + length);
  if (!block) return false;
  memcpy(block, m_data, oldLength);
  memcpy(block + oldLength, bytes, length);
  reinterpret_cast<Header*>(block)[-1].length = oldLength + length;
  Adopt(block);
  return true;
}

CByteBuffer& CByteBuffer::AppendText(const char* text) { return Append(text, text ? lstrlenA(text) : 0); }

CByteBuffer& CByteBuffer::AppendByte(BYTE value) { return Append(&value, 1); }

CByteBuffer& CByteBuffer::AppendBuffer(const CByteBuffer& other) {
  TryAppendBuffer(other);
  return *this;
}

bool CByteBuffer::TryAppendBuffer(const CByteBuffer& other) {
  // Appending a buffer to itself reads from the block that may be replaced: keep it alive.
  CByteBuffer source(other);
  return TryAppend(source.Data(), source.Length());
}

bool CByteBuffer::SetSize(int length) {
  if (!MakeExclusive(length)) return false;
  if (Head()->refs >= 0) Head()->length = length;
  return true;
}

bool CByteBuffer::Reserve(int capacity) {
  if (capacity < 0) return false;
  if (Head()->refs >= 0 && !IsShared() && Capacity() >= capacity) return true;
  // Within a reserved range, growing commits more of it in place.
  if (Head()->refs > 0 && !IsShared() && capacity <= Head()->rangeCapacity) return CommitRange(Head(), capacity);
  int length = Length();
  BYTE* block = Allocate(capacity < length ? length : capacity);
  if (!block) return false;
  memcpy(block, m_data, length);
  reinterpret_cast<Header*>(block)[-1].length = length;
  Adopt(block);
  return true;
}

bool CByteBuffer::ReserveMore(int count, int limit) {
  if (count < 0) return false;
  int length = Length();
  if (limit > kMaxCapacity) limit = kMaxCapacity;
  if (count > limit - length) return false;
  int needed = length + count;
  if (Head()->refs >= 0 && !IsShared() && Capacity() >= needed) return true;
  long long wanted = 2LL * Capacity();
  if (wanted < needed) wanted = needed;
  if (wanted > limit) wanted = limit;
  return Reserve(static_cast<int>(wanted)) || Reserve(needed);
}

bool CByteBuffer::SetLength(int length) {
  if (Head()->refs < 0 || length < -1 || length > Capacity()) return false;
  if (length == -1) length = lstrlenA(reinterpret_cast<const char*>(m_data));
  if (IsShared() && !UnshareBytes(length)) return false;
  Head()->length = length;
  return true;
}

// A copy of the shared block's first `count` bytes (at least the length), as this buffer's own.
bool CByteBuffer::UnshareBytes(int count) {
  if (count < Length()) count = Length();
  BYTE* block = Allocate(count);
  if (!block) return false;
  memcpy(block, m_data, count);
  reinterpret_cast<Header*>(block)[-1].length = Length();
  Adopt(block);
  return true;
}

bool CByteBuffer::MakeUnique() {
  if (!IsShared()) return true;
  return Reserve(Length());
}

int CByteBuffer::Erase(int position, int count) {
  int length = Length();
  if (position < 0) position = 0;
  if (count <= 0 || position >= length) return length;
  if (!MakeUnique()) return -1;
  if (count > length - position) count = length - position;
  memmove(m_data + position, m_data + position + count, length - position - count);
  int newLength = length - count;
  memset(m_data + newLength, 0, Capacity() - newLength);
  Head()->length = newLength;
  return length;
}

void CByteBuffer::Clear() { Release(); }

int CByteBuffer::Find(const void* pattern, int patternLength, int start) const {
  if (!pattern || patternLength <= 0) return -1;
  if (start < 0) start = 0;
  const BYTE* needle = static_cast<const BYTE*>(pattern);
  int last = Length() - patternLength;
  for (int i = start; i <= last; ++i) {
    const void* hit = memchr(m_data + i, needle[0], last - i + 1);
    if (!hit) return -1;
    i = static_cast<int>(static_cast<const BYTE*>(hit) - m_data);
    if (memcmp(m_data + i, needle, patternLength) == 0) return i;
  }
  return -1;
}

int CByteBuffer::PopFront(void* destination, int count) {
  if (count <= 0) return 0;
  if (count > Length()) count = Length();
  if (!MakeUnique()) return -1;
  memcpy(destination, m_data, count);
  Erase(0, count);
  return count;
}

CByteBuffer& CByteBuffer::PopFrontBuffer(CByteBuffer& out, int count) {
  if (count < 0) count = 0;
  if (count > Length()) count = Length();
  CByteBuffer front(m_data, count);
  if (front.Length() != count || !MakeUnique()) return out;
  Erase(0, count);
  out.Assign(front);
  return out;
}

int CByteBuffer::ReadUntil(const void* pattern, int patternLength, CByteBuffer& out) {
  int index = Find(pattern, patternLength, 0);
  if (index <= 0) return index;
  int before = Length();
  PopFrontBuffer(out, index);
  return Length() == before ? -1 : index;
}

int CByteBuffer::ReadFromFile(const char* path) {
  CFileHandle file(
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr));
  return file.IsValid() ? ReadFromHandle(file.Get()) : -1;
}

int CByteBuffer::ReadFromHandle(HANDLE file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxCapacity) return -1;
  if (size.QuadPart == 0) return 0;

  BYTE* block = Allocate(static_cast<int>(size.QuadPart));
  if (!block) return -1;
  int total = 0;
  int capacity = static_cast<int>(size.QuadPart);
  while (total < capacity) {
    DWORD read = 0;
    if (!ReadFile(file, block + total, capacity - total, &read, nullptr)) {
      free(reinterpret_cast<Header*>(block) - 1);
      return -1;
    }
    if (read == 0) break;  // the file shrank while we read it
    total += static_cast<int>(read);
  }
  if (total == 0) {
    free(reinterpret_cast<Header*>(block) - 1);
    return 0;
  }
  reinterpret_cast<Header*>(block)[-1].length = total;
  Adopt(block);
  return total;
}

int CByteBuffer::WriteToFile(const char* path, bool append) const {
  CFileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                               FILE_ATTRIBUTE_ARCHIVE, nullptr));
  if (!file.IsValid()) return -1;
  if (SetFilePointer(file.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    return -1;
  }
  int total = 0;
  while (total < Length()) {
    DWORD written = 0;
    // A short or failed write (full disk) is a failure, never a success with fewer bytes.
    if (!WriteFile(file.Get(), m_data + total, Length() - total, &written, nullptr) || written == 0) {
      return -1;
    }
    total += static_cast<int>(written);
  }
  return total;
}

int CByteBuffer::LoadFromResource(const char* name, const char* type) {
  Clear();
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC resource = FindResourceA(module, name, type);
  if (!resource) return 0;
  HGLOBAL loaded = LoadResource(module, resource);
  if (!loaded) return -1;
  const void* bytes = LockResource(loaded);
  int size = static_cast<int>(SizeofResource(module, resource));
  if (!bytes) return -1;
  Append(bytes, size);
  FreeResource(loaded);
  return Length() == size ? size : -1;
}

bool SameBytes(const CByteBuffer& a, const CByteBuffer& b) {
  return a.Length() == b.Length() && (a.Length() == 0 || memcmp(a.Data(), b.Data(), a.Length()) == 0);
}

CByteBuffer Concatenated(const CByteBuffer& first, const CByteBuffer& second) {
  CByteBuffer joined(first.Length() + second.Length());
  if (!joined.TryAppendBuffer(first) || !joined.TryAppendBuffer(second)) return CByteBuffer();
  return joined;
}

int CByteBuffer::Md5Hex(char* out, int outSize, int offset) const {
  if (!out || outSize <= 0) return 1;
  offset = std::clamp(offset, 0, Length());
  char digest[kMd5HexSize];
  ::Md5Hex(m_data + offset, Length() - offset, digest);
  lstrcpynA(out, digest, outSize);
  return 1;
}

std::string Md5Text(const CByteBuffer& buffer) {
  char digest[kMd5HexSize];
  ::Md5Hex(buffer.Data(), buffer.Length(), digest);
  return digest;
}
