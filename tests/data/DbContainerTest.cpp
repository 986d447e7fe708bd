#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/Path.h"
#include "data/DbContainer.h"
#include "data/ZipArchive.h"

namespace {

const char kPassword[] = "5c0e9d27a4f1b83e6d92c7a0b4e5f816";

std::vector<std::string> EntryNames(const CDbContainer& container) {
  CZipReader reader;
  std::vector<std::string> names;
  if (!reader.Open(container.Payload())) return names;
  for (int i = 0; i < reader.Count(); ++i) {
    std::string name;
    reader.GetEntry(i, &name, nullptr);
    names.push_back(name);
  }
  return names;
}

CDbContainer Sample() {
  CDbContainer container;
  EXPECT_TRUE(container.WriteTextEntry("data.txt", "[]"));
  EXPECT_TRUE(container.WriteTextEntry("user.txt", "客服01"));
  return container;
}

CByteBuffer Image(const CDbContainer& container, const char* password) {
  CByteBuffer image;
  EXPECT_TRUE(container.BuildImage(password, image));
  return image;
}

int CountTempFiles(const char* prefix) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  CPath walker(temp);
  int count = 0;
  for (bool found = walker.FindFirst((std::string(prefix) + "*").c_str()); found; found = walker.FindNext()) ++count;
  return count;
}

std::string TestDataFile(const char* name) { return std::string(VELMOR_TEST_DATA_DIR) + "\\" + name; }

void ProgressRecorder(int done, int total, void* user) {
  static_cast<std::vector<std::pair<int, int>>*>(user)->emplace_back(done, total);
}

}  // namespace

TEST(ContainerCodec, SubstitutesByteForByteAndBack) {
  std::string original;
  for (int i = 0; i < 512; ++i) original += static_cast<char>(i);
  std::string data = original;
  CodecParams params = {28, "ab",   reinterpret_cast<BYTE*>(&data[0]), static_cast<int>(data.size()), nullptr,
                        0,  nullptr};
  EXPECT_EQ(512, EncodeBuffer(&params));
  EXPECT_NE(original, data);
  // Password "ab": j=0 swaps T[0],T[97]; j=1 swaps T[1],T[98]; ... so byte 0 becomes 97.
  EXPECT_EQ(97, static_cast<BYTE>(data[0]));
  EXPECT_EQ(512, DecodeBuffer(&params));
  EXPECT_EQ(original, data);
}

TEST(ContainerCodec, RefusesUnusableParameterBlocks) {
  std::string data = "unchanged";
  CodecParams params = {28, "", reinterpret_cast<BYTE*>(&data[0]), 9, nullptr, 0, nullptr};
  EXPECT_EQ(0, EncodeBuffer(&params));
  params.password = "pw";
  params.size = 24;
  EXPECT_EQ(0, DecodeBuffer(&params));
  EXPECT_EQ(0, EncodeBuffer(nullptr));
  EXPECT_EQ("unchanged", data);
}

TEST(ContainerCodec, ReportsProgressEveryStepAndAtTheEnd) {
  std::string data(250, 'x');
  std::vector<std::pair<int, int>> calls;
  CodecParams params = {28, "pw", reinterpret_cast<BYTE*>(&data[0]), 250, ProgressRecorder, 100, &calls};
  EncodeBuffer(&params);
  std::vector<std::pair<int, int>> expected = {{100, 250}, {200, 250}, {250, 250}};
  EXPECT_EQ(expected, calls);

  calls.clear();
  params.step = 0;  // 250 / 10000 and 250 / 100 are too small or 2: every 2 bytes
  DecodeBuffer(&params);
  EXPECT_EQ(126u, calls.size());
  EXPECT_EQ(std::make_pair(2, 250), calls.front());
}

TEST(ContainerFormat, SavedContainersOpenToTheSamePayload) {
  CScratchDir dir;
  CDbContainer written = Sample();
  ASSERT_TRUE(written.Save(dir.File("loader.db").c_str(), kPassword));
  CByteBuffer file;
  ASSERT_GT(file.ReadFromFile(dir.File("loader.db").c_str()), 46);
  EXPECT_EQ("velmor db file", Text(file).substr(0, 14));
  CDbContainer opened;
  ASSERT_TRUE(opened.Open(file, kPassword));
  EXPECT_EQ(Text(written.Payload()), Text(opened.Payload()));
  std::string user;
  ASSERT_TRUE(opened.ReadTextEntry("USER.TXT", user));
  EXPECT_EQ("客服01", user);
}

TEST(ContainerFormat, MagicIsComparedIgnoringCase) {
  CByteBuffer image = Image(Sample(), kPassword);
  memcpy(image.Data(), "VELMOR DB FILE", 14);
  CDbContainer container;
  EXPECT_TRUE(container.Open(image, kPassword));
}

TEST(ContainerFormat, RefusedImagesKeepTheOldPayload) {
  CDbContainer container = Sample();
  std::string before = Text(container.Payload());
  CByteBuffer good = Image(container, kPassword);

  CByteBuffer wrongMagic = good;
  wrongMagic.MakeUnique();
  wrongMagic.Data()[3] = 'X';
  CByteBuffer flipped = good;
  flipped.MakeUnique();
  flipped.Data()[good.Length() - 10] ^= 1;
  CByteBuffer truncated(good.Data(), good.Length() - 1);
  CByteBuffer empty = Image(CDbContainer(), kPassword);
  ASSERT_EQ(46, empty.Length());

  CDbContainer other;
  EXPECT_TRUE(other.WriteTextEntry("other.txt", "other"));
  for (const CByteBuffer& image : {wrongMagic, flipped, truncated, empty, CByteBuffer(good.Data(), 14)}) {
    CDbContainer target = other;
    EXPECT_FALSE(target.Open(image, kPassword));
    EXPECT_EQ(Text(other.Payload()), Text(target.Payload()));
  }
  CDbContainer target = other;
  EXPECT_FALSE(target.Open(good, "wrong password"));
  EXPECT_EQ(Text(other.Payload()), Text(target.Payload()));
  EXPECT_EQ(before, Text(container.Payload()));
}

TEST(ContainerFormat, AnEmptyPasswordMeansAPlainArchive) {
  CDbContainer container = Sample();
  CByteBuffer plain = Image(container, "");
  EXPECT_EQ(Text(container.Payload()), Text(plain));
  CDbContainer opened;
  EXPECT_TRUE(opened.Open(CByteBuffer(), ""));  // anything goes, even nothing
  EXPECT_TRUE(opened.Open(plain, nullptr));
  std::string data;
  EXPECT_TRUE(opened.ReadTextEntry("data.txt", data));
  EXPECT_EQ("[]", data);
}

TEST(ContainerEntries, EmptyAndMissingEntriesCannotBeRead) {
  CDbContainer container;
  CByteBuffer out;
  EXPECT_FALSE(container.ReadEntry("data.txt", out));
  ASSERT_TRUE(container.WriteEntry("empty.txt", CByteBuffer()));
  EXPECT_FALSE(container.ReadEntry("empty.txt", out));
  EXPECT_FALSE(container.ReadEntry("absent.txt", out));
}

TEST(ContainerEntries, TextEntriesStopAtTheFirstZeroByte) {
  CDbContainer container;
  ASSERT_TRUE(container.WriteEntry("t.txt", Bytes(std::string("abc\0def", 7))));
  std::string text;
  ASSERT_TRUE(container.ReadTextEntry("t.txt", text));
  EXPECT_EQ("abc", text);
}

TEST(ContainerEntries, WritingPutsTheNewEntryFirstAndReplacesIgnoringCase) {
  CDbContainer container;
  ASSERT_TRUE(container.WriteTextEntry("a.txt", "1"));
  ASSERT_TRUE(container.WriteTextEntry("b.txt", "2"));
  ASSERT_TRUE(container.WriteTextEntry("c.txt", "3"));
  EXPECT_EQ((std::vector<std::string>{"c.txt", "b.txt", "a.txt"}), EntryNames(container));
  ASSERT_TRUE(container.WriteTextEntry("A.TXT", "one"));
  EXPECT_EQ((std::vector<std::string>{"A.TXT", "c.txt", "b.txt"}), EntryNames(container));
  std::string text;
  ASSERT_TRUE(container.ReadTextEntry("a.txt", text));
  EXPECT_EQ("one", text);
}

TEST(ContainerEntries, IdenticalContentLeavesThePayloadAlone) {
  CDbContainer container = Sample();
  std::string before = Text(container.Payload());
  ASSERT_TRUE(container.WriteTextEntry("DATA.txt", "[]"));
  EXPECT_EQ(before, Text(container.Payload()));
}

TEST(ContainerEntries, RebuildsLeaveNoTemporaryFiles) {
  int before = CountTempFiles(kZipTempPrefix);
  CDbContainer container = Sample();
  ASSERT_TRUE(container.WriteTextEntry("more.txt", "more"));
  EXPECT_FALSE(container.WriteEntry(std::string(2000, 'n').c_str(), Bytes("refused name")));
  EXPECT_EQ(before, CountTempFiles(kZipTempPrefix));
}

TEST(ContainerGolden, OpensTheContainerWrittenByTheIndependentScript) {
  CByteBuffer image;
  ASSERT_GT(image.ReadFromFile(TestDataFile("loader_golden.db").c_str()), 0);
  CDbContainer container;
  ASSERT_TRUE(container.Open(image, kPassword));
  std::string user;
  ASSERT_TRUE(container.ReadTextEntry("user.txt", user));
  EXPECT_EQ("客服01", user);
  CByteBuffer blob;
  ASSERT_TRUE(container.ReadEntry("blob.bin", blob));
  ASSERT_EQ(1024, blob.Length());
  EXPECT_EQ(255, blob.Data()[255]);
  EXPECT_EQ(0, blob.Data()[256]);
}
