#include <gtest/gtest.h>

#include <string>

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

}  // namespace

TEST(ZipArchive, WrittenEntriesReadBackInOrderAndIgnoringCase) {
  CByteBuffer archive = MakeArchive({{"First.TXT", "one", ""}, {"目录.txt", "二", ""}, {"empty", "", ""}});
  CZipReader reader;
  ASSERT_TRUE(reader.Open(archive));
  ASSERT_EQ(3, reader.Count());
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
  EXPECT_FALSE(reader.Extract(3, out));
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
  // Make the central directory claim 3 GiB uncompressed.
  int central = archive.Find("PK\x01\x02", 4, 0);
  ASSERT_GT(central, 0);
  const BYTE claimed[4] = {0x00, 0x00, 0x00, 0xC0};
  memcpy(archive.Data() + central + 24, claimed, sizeof(claimed));
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
