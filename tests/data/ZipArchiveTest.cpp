#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "data/ZipArchive.h"

namespace {

// Writes entries (name, content, password) into a new archive and returns its bytes.
CByteBuffer MakeArchive(const std::vector<std::tuple<std::string, std::string, std::string>>& entries) {
  CScratchDir dir;
  std::string path = dir.File("archive.zip");
  CZipWriter writer;
  EXPECT_TRUE(writer.Create(path.c_str()));
  for (const auto& [name, content, password] : entries) {
    EXPECT_TRUE(writer.Add(name.c_str(), Bytes(content), password.c_str()));
  }
  EXPECT_TRUE(writer.Close());
  CByteBuffer bytes;
  bytes.ReadFromFile(path.c_str());
  return bytes;
}

// Offsets in the headers CZipWriter writes, which have no extra fields.
constexpr char kLocalSignature[] = "PK\x03\x04";
constexpr char kCentralSignature[] = "PK\x01\x02";
struct HeaderLayout {
  const char* signature;
  int flags, method, crc, compressedSize, size, name;
};
constexpr HeaderLayout kLocal = {kLocalSignature, 6, 8, 14, 18, 22, 30};
constexpr HeaderLayout kCentral = {kCentralSignature, 8, 10, 16, 20, 24, 46};

// The header of entry `index`, found by its signature.
BYTE* Header(CByteBuffer& archive, const HeaderLayout& layout, int index) {
  int at = -1;
  for (int i = 0; i <= index; ++i) at = archive.Find(layout.signature, 4, at + 1);
  EXPECT_GE(at, 0);
  return archive.Data() + at;
}

void Put16(BYTE* at, unsigned value) {
  at[0] = static_cast<BYTE>(value);
  at[1] = static_cast<BYTE>(value >> 8);
}

void Put32(BYTE* at, unsigned long value) {
  Put16(at, value & 0xFFFF);
  Put16(at + 2, value >> 16);
}

unsigned long Get32(const BYTE* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<unsigned long>(at[3]) << 24;
}

constexpr unsigned kDataDescriptorFlag = 1u << 3;
constexpr unsigned kUtf8NameFlag = 1u << 11;
constexpr unsigned kBzip2 = 12;

void SetFlagInBoth(CByteBuffer& archive, int index, unsigned flag) {
  for (const HeaderLayout* layout : {&kLocal, &kCentral}) {
    BYTE* header = Header(archive, *layout, index);
    Put16(header + layout->flags, (header[layout->flags] | header[layout->flags + 1] << 8) | flag);
  }
}

// An archive of `count` entries "entry00000.txt"..., each holding its index as text.
std::string ManyName(int index) {
  char name[32];
  snprintf(name, sizeof(name), "entry%05d.txt", index);
  return name;
}

CByteBuffer ManyEntries(int count) {
  CScratchDir dir;
  std::string path = dir.File("many.zip");
  CZipWriter writer;
  EXPECT_TRUE(writer.Create(path.c_str()));
  for (int i = 0; i < count; ++i) EXPECT_TRUE(writer.Add(ManyName(i).c_str(), Bytes(std::to_string(i))));
  EXPECT_TRUE(writer.Close());
  CByteBuffer bytes;
  bytes.ReadFromFile(path.c_str());
  return bytes;
}

}  // namespace

TEST(ZipArchive, WrittenEntriesReadBackInOrderAndIgnoringCase) {
  // "丄" and "乤" (GBK 81 41 and 81 61) differ only in a trail byte that looks like a letter.
  CByteBuffer archive =
      MakeArchive({{"First.TXT", "one", ""}, {"目录.txt", "二", ""}, {"empty", "", ""}, {"丄.dll", "3", ""}});
  CZipReader reader;
  ASSERT_TRUE(reader.Open(archive));
  ASSERT_EQ(4, reader.Count());
  EXPECT_EQ(3, reader.Find("丄.DLL"));
  EXPECT_EQ(-1, reader.Find("乤.dll"));
  CZipReader twoNames;  // not one name twice
  EXPECT_TRUE(twoNames.Open(MakeArchive({{"丄.dll", "a", ""}, {"乤.dll", "b", ""}})));
  std::string name;
  unsigned long size = 0;
  ASSERT_TRUE(reader.GetEntry(1, &name, &size));
  EXPECT_EQ("目录.txt", name);
  EXPECT_EQ(2ul, size);
  EXPECT_EQ(0, reader.Find("first.txt"));
  EXPECT_EQ(-1, reader.Find("first"));
  CByteBuffer out;
  ASSERT_TRUE(reader.Extract(reader.Find("FIRST.txt"), out));
  EXPECT_EQ("one", Text(out));
  ASSERT_TRUE(reader.Extract(2, out));
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_FALSE(reader.Extract(4, out));
}

TEST(ZipArchive, PasswordProtectedEntriesNeedTheirPassword) {
  std::string library(50000, 'L');
  for (size_t i = 0; i < library.size(); i += 7) library[i] = static_cast<char>(i);
  CByteBuffer archive = MakeArchive({{"loader.dll", library, "s3cret"}});
  CZipReader reader;
  ASSERT_TRUE(reader.Open(archive));
  CByteBuffer out = Bytes("before");
  EXPECT_FALSE(reader.Extract(0, out, "wrong"));
  EXPECT_FALSE(reader.Extract(0, out));
  EXPECT_EQ("before", Text(out));
  ASSERT_TRUE(reader.Extract(0, out, "s3cret"));
  EXPECT_EQ(library, Text(out));
}

TEST(ZipArchive, RefusesWhatIsNoArchive) {
  CZipReader reader;
  EXPECT_FALSE(reader.Open(Bytes("definitely not a zip archive")));
  EXPECT_FALSE(reader.Open(CByteBuffer()));
  EXPECT_EQ(0, reader.Count());
  EXPECT_EQ(-1, reader.Find("x"));
}

TEST(ZipArchive, AnEntryClaimingAHugeSizeIsAFailedReadNotAnAllocation) {
  CByteBuffer archive = MakeArchive({{"big.bin", std::string(100, 'b'), ""}});
  // Make both headers claim 3 GiB uncompressed.
  Put32(Header(archive, kLocal, 0) + kLocal.size, 0xC0000000ul);
  Put32(Header(archive, kCentral, 0) + kCentral.size, 0xC0000000ul);
  CZipReader reader;
  ASSERT_TRUE(reader.Open(archive));
  unsigned long size = 0;
  ASSERT_TRUE(reader.GetEntry(0, nullptr, &size));
  EXPECT_EQ(0xC0000000ul, size);
  CByteBuffer out;
  EXPECT_FALSE(reader.Extract(0, out));
}

TEST(ZipArchive, DamagedDataFailsItsCheck) {
  CByteBuffer archive = MakeArchive({{"data.txt", std::string(2000, 'd'), ""}});
  archive.Data()[40] ^= 0x55;  // inside the compressed data of the only entry
  CZipReader reader;
  ASSERT_TRUE(reader.Open(archive));
  CByteBuffer out;
  EXPECT_FALSE(reader.Extract(0, out));
}

TEST(ZipArchive, RefusesOverlongEntryNames) {
  CScratchDir dir;
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(dir.File("names.zip").c_str()));
  EXPECT_TRUE(writer.Add(std::string(1024, 'n').c_str(), Bytes("ok")));
  EXPECT_FALSE(writer.Add(std::string(1025, 'n').c_str(), Bytes("too long")));
  EXPECT_FALSE(writer.Add("", Bytes("no name")));
  EXPECT_TRUE(writer.Close());
  EXPECT_FALSE(writer.Add("late", Bytes("closed")));
}

// Each archive could be read one way here and another way elsewhere: nothing may come out of it,
// refused by Open (`opens` false) or by Extract.
TEST(ZipArchive, NothingComesOutOfAnArchiveThatReadsTwoWays) {
  struct Case {
    const char* what;
    std::vector<std::string> names;  // each entry holds "text"
    void (*patch)(CByteBuffer& archive);
    const char* lookUp;
    bool opens;
  };
  const Case cases[] = {
      {"central name differs from the local one",
       {"data.txt"},
       [](CByteBuffer& a) { Header(a, kCentral, 0)[kCentral.name + 1] = 'b'; },
       "dbta.txt",
       false},
      {"names equal ignoring case", {"data.txt", "DATA.TXT"}, [](CByteBuffer&) {}, "data.txt", false},
      {"a zero byte inside a name",
       {"abc.txt"},
       [](CByteBuffer& a) {
         Header(a, kLocal, 0)[kLocal.name + 1] = 0;
         Header(a, kCentral, 0)[kCentral.name + 1] = 0;
       },
       "a",
       false},
      {"UTF-8 flag on the central header only",
       {"data.txt"},
       [](CByteBuffer& a) { Header(a, kCentral, 0)[kCentral.flags + 1] |= kUtf8NameFlag >> 8; },
       "data.txt",
       false},
      {"UTF-8 flag on a name that is not UTF-8",
       {"啊.txt"},  // B0 A1 in GBK: a UTF-8 continuation byte first
       [](CByteBuffer& a) { SetFlagInBoth(a, 0, kUtf8NameFlag); },
       "啊.txt",
       false},
      {"UTF-8 name without an ANSI form",
       {u8"\u0E01.txt"},
       [](CByteBuffer& a) { SetFlagInBoth(a, 0, kUtf8NameFlag); },
       u8"\u0E01.txt",
       false},
      {"UTF-8 name equal to an ANSI one",
       {"名.txt", u8"名.txt"},
       [](CByteBuffer& a) { SetFlagInBoth(a, 1, kUtf8NameFlag); },
       "名.txt",
       false},
      {"sizes and CRC left to a data descriptor",
       {"data.txt"},
       [](CByteBuffer& a) {
         SetFlagInBoth(a, 0, kDataDescriptorFlag);
         for (const HeaderLayout* layout : {&kLocal, &kCentral}) {
           BYTE* header = Header(a, *layout, 0);
           for (int field : {layout->crc, layout->compressedSize, layout->size}) Put32(header + field, 0);
         }
       },
       "data.txt",
       true},
      {"sizes and CRC zero while the data is still there",
       {"data.txt"},
       [](CByteBuffer& a) {
         SetFlagInBoth(a, 0, kDataDescriptorFlag);
         for (const HeaderLayout* layout : {&kLocal, &kCentral}) {
           BYTE* header = Header(a, *layout, 0);
           for (int field : {layout->crc, layout->size}) Put32(header + field, 0);
         }
       },
       "data.txt",
       true},
      {"a method we do not decode",
       {"data.txt"},
       [](CByteBuffer& a) {
         for (const HeaderLayout* layout : {&kLocal, &kCentral}) {
           BYTE* header = Header(a, *layout, 0);
           Put16(header + layout->method, kBzip2);
           Put32(header + layout->size, Get32(header + layout->compressedSize));
         }
       },
       "data.txt",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::tuple<std::string, std::string, std::string>> entries;
    for (const std::string& name : c.names) entries.emplace_back(name, "text", "");
    CByteBuffer archive = MakeArchive(entries);
    c.patch(archive);
    CZipReader reader;
    EXPECT_EQ(c.opens, reader.Open(archive));
    CByteBuffer out;
    EXPECT_FALSE(reader.Extract(reader.Find(c.lookUp), out));
    EXPECT_FALSE(ReadZipEntry(archive, c.lookUp, out));
  }
}

TEST(ZipArchive, UnicodeNamesAreFoundByTheirAnsiNames) {
  CByteBuffer archive = MakeArchive({{"plain.txt", "ascii", ""}, {u8"中文名.txt", "中文", ""}});
  SetFlagInBoth(archive, 0, kUtf8NameFlag);
  SetFlagInBoth(archive, 1, kUtf8NameFlag);
  CZipReader reader;
  ASSERT_TRUE(reader.Open(archive));
  std::string name;
  ASSERT_TRUE(reader.GetEntry(1, &name, nullptr));
  EXPECT_EQ("中文名.txt", name);
  EXPECT_EQ(0, reader.Find("PLAIN.txt"));
  CByteBuffer out;
  ASSERT_TRUE(ReadZipEntry(archive, "中文名.txt", out));
  EXPECT_EQ("中文", Text(out));
}

// Every entry is reached directly: 4,096 extractions and 64 look-ups walking from the first entry
// each time took about a minute; done right they take well under a second.
TEST(ZipArchive, ManyEntriesAreReachedDirectlyUpToTheCap) {
  CZipReader reader;
  EXPECT_FALSE(reader.Open(ManyEntries(kMaxZipEntries + 1)));
  CByteBuffer archive = ManyEntries(kMaxZipEntries);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(reader.Open(archive));
  ASSERT_EQ(kMaxZipEntries, reader.Count());
  CByteBuffer out;
  for (int i = 0; i < kMaxZipEntries; ++i) {
    ASSERT_TRUE(reader.Extract(i, out));
    ASSERT_EQ(std::to_string(i), Text(out));
  }
  for (int i = kMaxZipEntries - 1; i >= 0; i -= 64) ASSERT_EQ(i, reader.Find(ManyName(i).c_str()));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}
