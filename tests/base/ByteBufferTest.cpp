#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "base/ByteBuffer.h"

namespace {}  // namespace

TEST(ByteBufferSharing, CopiesShareUntilOneChanges) {
  CByteBuffer original = Bytes("hello");
  CByteBuffer copy(original);
  EXPECT_EQ(original.Data(), copy.Data());

  copy.AppendText(" world");
  EXPECT_EQ("hello", Text(original));
  EXPECT_EQ("hello world", Text(copy));
  EXPECT_NE(original.Data(), copy.Data());

  CByteBuffer assigned;
  assigned = original;
  assigned.Erase(0, 1);
  EXPECT_EQ("hello", Text(original));
  EXPECT_EQ("ello", Text(assigned));
}

TEST(ByteBufferSharing, EmptyBuffersShareTheStaticBlock) {
  CByteBuffer a, b;
  EXPECT_EQ(a.Data(), b.Data());
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(0, a.Data()[0]);
  CByteBuffer filled = Bytes("x");
  filled.Clear();
  EXPECT_EQ(a.Data(), filled.Data());
  EXPECT_FALSE(a.SetLength(0));  // the static block is never changed
}

TEST(ByteBufferSharing, CopyOnWriteHoldsAcrossThreads) {
  CByteBuffer shared = Bytes("payload");
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, &mismatches, t] {
      for (int i = 0; i < 20000; ++i) {
        CByteBuffer mine(shared);
        mine.AppendByte(static_cast<BYTE>('a' + t));
        if (Text(mine) != std::string("payload") + static_cast<char>('a' + t)) ++mismatches[t];
        CByteBuffer another;
        another = mine;
        another.Erase(0, 3);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(4, 0), mismatches);
  EXPECT_EQ("payload", Text(shared));
  shared.AppendText("!");  // the count came back to one: changed in place, no copy needed
  EXPECT_EQ("payload!", Text(shared));
}

TEST(ByteBufferGrowth, AppendGrowsToExactlyTheNeededSize) {
  CByteBuffer buffer;
  buffer.AppendText("abc");
  buffer.AppendByte('d');
  EXPECT_EQ(4, buffer.Length());
  EXPECT_EQ(4, buffer.Capacity());

  CByteBuffer reserved(16);
  const BYTE* block = reserved.Data();
  reserved.AppendText("0123456789");
  EXPECT_EQ(block, reserved.Data());
  EXPECT_EQ(16, reserved.Capacity());
}

TEST(ByteBufferGrowth, AppendingToItselfDoublesTheContent) {
  CByteBuffer buffer = Bytes("ab");
  buffer.AppendBuffer(buffer);
  EXPECT_EQ("abab", Text(buffer));
  CByteBuffer roomy(10);
  roomy.AppendText("xy");
  roomy.AppendBuffer(roomy);
  EXPECT_EQ("xyxy", Text(roomy));
}

TEST(ByteBufferGrowth, AssignBytesReusesAnExclusiveBlockAndAcceptsItsOwnBytes) {
  CByteBuffer buffer = Bytes("0123456789");
  const BYTE* block = buffer.Data();
  buffer.AssignBytes(buffer.Data() + 5, 3);
  EXPECT_EQ("567", Text(buffer));
  EXPECT_EQ(block, buffer.Data());

  CByteBuffer shared(buffer);
  buffer.AssignBytes("zz", 2);
  EXPECT_EQ("567", Text(shared));
  EXPECT_EQ("zz", Text(buffer));
}

TEST(ByteBufferGrowth, FailedAllocationLeavesTheBufferAsItWas) {
  CByteBuffer buffer = Bytes("keep");
  // Far beyond what a 32-bit process can allocate.
  EXPECT_FALSE(buffer.SetSize(0x7ff00000));
  EXPECT_EQ("keep", Text(buffer));
  buffer.Append(buffer.Data(), 0x7ff00000);
  EXPECT_EQ("keep", Text(buffer));
  CByteBuffer huge(0x7ff00000);
  EXPECT_EQ(0, huge.Capacity());
  EXPECT_TRUE(huge.IsEmpty());
}

// The checked appends say whether the bytes arrived, and a refused append changes nothing.
TEST(ByteBufferGrowth, CheckedAppendsReportWhatTheChainedOnesSwallow) {
  const char tail[] = "tail";
  struct {
    const char* name;
    const void* bytes;
    int length;
    bool appended;
    const char* after;
  } cases[] = {
      {"bytes", tail, 4, true, "keeptail"},
      {"nothing", tail, 0, true, "keep"},
      {"null bytes with a length", nullptr, 3, false, "keep"},
      {"negative length", tail, -1, false, "keep"},
      {"beyond any capacity", tail, INT_MAX, false, "keep"},
      {"more than a 32-bit process can allocate", nullptr, 0x7ff00000, false, "keep"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    CByteBuffer buffer = Bytes("keep");
    CByteBuffer copy = buffer;  // shared: a refused append must not unshare or touch it
    const void* bytes = item.length == 0x7ff00000 ? buffer.Data() : item.bytes;
    EXPECT_EQ(item.appended, buffer.TryAppend(bytes, item.length));
    EXPECT_EQ(item.after, Text(buffer));
    EXPECT_EQ("keep", Text(copy));
  }
  CByteBuffer self = Bytes("ab");
  EXPECT_TRUE(self.TryAppendBuffer(self));
  EXPECT_EQ("abab", Text(self));
  EXPECT_EQ("abab--", Text(Concatenated(self, Bytes("--"))));
  EXPECT_EQ("", Text(Concatenated(CByteBuffer(), CByteBuffer())));
}

TEST(ByteBufferEditing, EraseLimitsAndZeroesTheTail) {
  CByteBuffer buffer = Bytes("abcdef");
  EXPECT_EQ(6, buffer.Erase(10, 2));
  EXPECT_EQ("abcdef", Text(buffer));
  EXPECT_EQ(6, buffer.Erase(2, 0));
  EXPECT_EQ(6, buffer.Erase(-3, 2));
  EXPECT_EQ("cdef", Text(buffer));
  EXPECT_EQ(4, buffer.Erase(1, 100));
  EXPECT_EQ("c", Text(buffer));
  EXPECT_EQ(0, buffer.Data()[1]);
  EXPECT_EQ(0, buffer.Data()[3]);
}

TEST(ByteBufferEditing, SetLengthCountsUpToTheFirstZero) {
  CByteBuffer buffer(8);
  buffer.AppendText("abc");
  buffer.Data()[1] = '\0';
  EXPECT_TRUE(buffer.SetLength(-1));
  EXPECT_EQ(1, buffer.Length());
  EXPECT_TRUE(buffer.SetLength(8));
  EXPECT_FALSE(buffer.SetLength(9));
  EXPECT_EQ(8, buffer.Length());
}

TEST(ByteBufferEditing, SetLengthOnASharedCopyGivesItABlockThatHoldsTheLength) {
  for (bool range : {false, true}) {
    CByteBuffer probe(64);
    ASSERT_TRUE(!range || probe.ReserveAddressRange(1024 * 1024));
    for (int length : {-1, 6, 40, probe.Capacity()}) {
      CByteBuffer original(64);
      original.AppendText("abcdef");
      ASSERT_TRUE(!range || original.ReserveAddressRange(1024 * 1024));
      ASSERT_TRUE(original.SetLength(3));  // "def" stays in the block past the length
      CByteBuffer copy(original);
      ASSERT_TRUE(copy.SetLength(length)) << range << " " << length;
      // The same bytes an unshared buffer would show, in a block of the copy's own.
      EXPECT_EQ(length == -1 ? 6 : length, copy.Length()) << range << " " << length;
      ASSERT_GE(copy.Capacity(), copy.Length()) << range << " " << length;
      EXPECT_EQ("abcdef", Text(copy).substr(0, 6)) << range << " " << length;
      memset(copy.Data(), 'w', copy.Length());
      EXPECT_EQ(0, copy.Data()[copy.Length()]);
      EXPECT_EQ("abc", Text(original));
      EXPECT_EQ('d', original.Data()[3]);
    }
  }
}

TEST(ByteBufferEditing, ReserveKeepsBytesAndUnsharesCopies) {
  CByteBuffer buffer = Bytes("abc");
  CByteBuffer copy(buffer);
  ASSERT_TRUE(buffer.Reserve(1000));
  EXPECT_GE(buffer.Capacity(), 1000);
  EXPECT_EQ("abc", Text(buffer));
  buffer.AppendText("def");
  EXPECT_EQ("abc", Text(copy));
  EXPECT_EQ("abcdef", Text(buffer));
  const BYTE* block = buffer.Data();
  EXPECT_TRUE(buffer.Reserve(10));  // already large enough: same block
  EXPECT_EQ(block, buffer.Data());
  EXPECT_FALSE(buffer.Reserve(-1));
  EXPECT_EQ("abcdef", Text(buffer));
}

TEST(ByteBufferGrowth, ReserveMoreDoublesWithinTheLimit) {
  CByteBuffer buffer(1000);
  buffer.SetSize(1000);
  ASSERT_TRUE(buffer.ReserveMore(1));
  EXPECT_EQ(2000, buffer.Capacity());
  ASSERT_TRUE(buffer.ReserveMore(500));  // room enough: no new block
  EXPECT_EQ(2000, buffer.Capacity());
  ASSERT_TRUE(buffer.ReserveMore(10000));
  EXPECT_EQ(11000, buffer.Capacity());
  EXPECT_TRUE(buffer.ReserveMore(100, 1100));  // the limit caps the growth, not the need
  EXPECT_EQ(11000, buffer.Capacity());
  EXPECT_FALSE(buffer.ReserveMore(101, 1100));
  EXPECT_EQ(1000, buffer.Length());
}

TEST(ByteBufferGrowth, AReservedRangeGrowsInPlaceUpToItsSize) {
  CByteBuffer buffer = Bytes("head");
  ASSERT_TRUE(buffer.ReserveAddressRange(64 * 1024 * 1024));
  EXPECT_EQ("head", Text(buffer));
  const BYTE* data = buffer.Data();
  EXPECT_LT(buffer.Capacity(), 64 * 1024);  // memory only for what it holds, rounded to a page
  std::string piece(1024 * 1024, 'r');
  for (int i = 0; i < 40; ++i) buffer.Append(piece.data(), static_cast<int>(piece.size()));
  EXPECT_EQ(data, buffer.Data());  // never moved
  EXPECT_EQ(4 + 40 * 1024 * 1024, buffer.Length());
  EXPECT_EQ(0, buffer.Data()[buffer.Length()]);  // the zero byte after the data still holds

  CByteBuffer copy(buffer);  // copies share, and a change unshares into an ordinary block
  copy.AppendText("!");
  EXPECT_NE(copy.Data(), buffer.Data());
  EXPECT_EQ(4 + 40 * 1024 * 1024, buffer.Length());
  EXPECT_FALSE(buffer.ReserveAddressRange(16));   // smaller than what it holds
  EXPECT_TRUE(buffer.Reserve(64 * 1024 * 1024));  // the whole range
  EXPECT_TRUE(buffer.Reserve(65 * 1024 * 1024));  // past it: an ordinary block, bytes kept
  EXPECT_EQ('r', buffer.Data()[buffer.Length() - 1]);
}

TEST(ByteBufferSearch, FindHonoursStartAndBounds) {
  CByteBuffer buffer = Bytes("GET / HTTP/1.1\r\n\r\nbody");
  EXPECT_EQ(14, buffer.Find("\r\n", 2, 0));
  EXPECT_EQ(16, buffer.Find("\r\n", 2, 15));
  EXPECT_EQ(20, buffer.Find("dy", 2, 0));
  EXPECT_EQ(-1, buffer.Find("dy", 2, 21));  // past length - pattern length
  EXPECT_EQ(-1, buffer.Find("xyz", 3, 0));
  EXPECT_EQ(-1, buffer.Find("", 0, 0));
}

TEST(ByteBufferSearch, ReadUntilTakesWhatLiesBeforeThePattern) {
  CByteBuffer buffer = Bytes("line one\r\nline two");
  CByteBuffer line;
  EXPECT_EQ(8, buffer.ReadUntil("\r\n", 2, line));
  EXPECT_EQ("line one", Text(line));
  EXPECT_EQ("\r\nline two", Text(buffer));

  CByteBuffer untouched = Bytes("before");
  EXPECT_EQ(0, buffer.ReadUntil("\r\n", 2, untouched));
  EXPECT_EQ("before", Text(untouched));
  EXPECT_EQ("\r\nline two", Text(buffer));
  EXPECT_EQ(-1, buffer.ReadUntil("##", 2, untouched));
  EXPECT_EQ("before", Text(untouched));
}

TEST(ByteBufferSearch, PopFrontMovesBytesOut) {
  CByteBuffer buffer = Bytes("abcdef");
  CByteBuffer shared(buffer);
  char head[3] = {};
  EXPECT_EQ(2, buffer.PopFront(head, 2));
  EXPECT_STREQ("ab", head);
  EXPECT_EQ("cdef", Text(buffer));
  EXPECT_EQ("abcdef", Text(shared));

  CByteBuffer out;
  buffer.PopFrontBuffer(out, 100);
  EXPECT_EQ("cdef", Text(out));
  EXPECT_TRUE(buffer.IsEmpty());
  EXPECT_EQ(0, buffer.PopFront(head, 0));
}

TEST(ByteBufferFiles, ReadAndWriteWholeFiles) {
  CScratchDir dir;
  std::string path = dir.File("data.bin");
  std::string bytes("\x00\x01\xff binary\r\n", 12);
  CByteBuffer buffer(bytes.data(), static_cast<int>(bytes.size()));
  EXPECT_EQ(12, buffer.WriteToFile(path.c_str(), false));
  EXPECT_EQ(12, buffer.WriteToFile(path.c_str(), true));
  EXPECT_EQ(bytes + bytes, ReadFileBytes(path));

  EXPECT_EQ(12, buffer.WriteToFile(path.c_str(), false));
  CByteBuffer read;
  EXPECT_EQ(12, read.ReadFromFile(path.c_str()));
  EXPECT_EQ(bytes, Text(read));
}

TEST(ByteBufferFiles, EmptyAndMissingFilesKeepTheContents) {
  CScratchDir dir;
  CByteBuffer buffer = Bytes("previous");
  EXPECT_EQ(-1, buffer.ReadFromFile(dir.File("missing.bin").c_str()));
  EXPECT_EQ(-1, buffer.ReadFromFile(dir.Path().c_str()));  // a directory is no file

  CByteBuffer empty;
  EXPECT_EQ(0, empty.WriteToFile(dir.File("empty.bin").c_str(), false));
  EXPECT_TRUE(FileExists(dir.File("empty.bin")));
  EXPECT_EQ(0, buffer.ReadFromFile(dir.File("empty.bin").c_str()));
  EXPECT_EQ("previous", Text(buffer));

  EXPECT_EQ(-1, buffer.WriteToFile(dir.File("no\\such\\folder.bin").c_str(), false));
}

TEST(ByteBufferFiles, ChineseFileNamesWork) {
  CScratchDir dir;
  std::string path = dir.File("配置文件.db");
  CByteBuffer buffer = Bytes("内容");
  EXPECT_EQ(4, buffer.WriteToFile(path.c_str(), false));
  CByteBuffer read;
  EXPECT_EQ(4, read.ReadFromFile(path.c_str()));
  EXPECT_EQ("内容", Text(read));
}

TEST(ByteBufferResources, LoadsTheCloseButtonImage) {
  CByteBuffer buffer = Bytes("stale");
  int size = buffer.LoadFromResource(MAKEINTRESOURCEA(103), "PNG");
  ASSERT_GT(size, 8);
  EXPECT_EQ(size, buffer.Length());
  EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8), Text(buffer).substr(0, 8));

  EXPECT_EQ(0, buffer.LoadFromResource("close.png", "PNG"));
  EXPECT_TRUE(buffer.IsEmpty());
}
