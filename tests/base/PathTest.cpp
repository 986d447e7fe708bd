#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/AnsiChars.h"
#include "base/Path.h"

TEST(Path, StoresNoTrailingBackslashes) {
  EXPECT_STREQ("C:\\data", CPath("C:\\data\\\\").c_str());
  EXPECT_STREQ("C:", CPath("C:\\").c_str());
  EXPECT_TRUE(CPath("\\\\").IsEmpty());
  // "\x95\x5c" is one GBK character whose second byte looks like a backslash.
  EXPECT_STREQ("C:\\\x95\x5c", CPath("C:\\\x95\x5c\\").c_str());
}

TEST(Path, AppendJoinsWithOneBackslash) {
  CPath path("C:");
  EXPECT_STREQ("C:\\x", path.Append("x"));
  EXPECT_STREQ("C:\\x\\y", path.Append("y\\"));
  CPath empty;
  EXPECT_EQ(nullptr, empty.Append("x"));
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(Path, NeverTruncatesALongPath) {
  std::string longest = "C:\\" + std::string(256, 'a');  // 259 characters
  CPath path(longest.c_str());
  EXPECT_EQ(longest, path.c_str());
  EXPECT_EQ(nullptr, path.Append("b"));
  EXPECT_EQ(longest, path.c_str());

  EXPECT_FALSE(path.Set((longest + "b").c_str()));
  EXPECT_TRUE(path.IsEmpty());
}

TEST(Path, TellsFilesFromDirectories) {
  CScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("file.txt"), "x"));
  CPath folder(dir.Path().c_str());
  EXPECT_TRUE(folder.IsDirectory());
  EXPECT_FALSE(folder.IsFile());
  EXPECT_TRUE(folder.HasChildFile("file.txt"));
  EXPECT_FALSE(folder.HasChildFile("missing.txt"));
  EXPECT_TRUE(CPath(dir.File("file.txt").c_str()).IsFile());
  EXPECT_FALSE(CPath(dir.File("file.txt").c_str()).HasChildFile("x"));
  EXPECT_FALSE(CPath().IsFile());
  EXPECT_FALSE(CPath().IsDirectory());
}

TEST(Path, MakeDirectoryCreatesEveryMissingLevel) {
  CScratchDir dir;
  CPath deep((dir.Path() + "\\a\\b\\数据\\d").c_str());
  EXPECT_TRUE(deep.MakeDirectory());
  EXPECT_TRUE(deep.IsDirectory());
  EXPECT_TRUE(deep.MakeDirectory());  // already there

  CPath file((dir.Path() + "\\e\\f\\cfg.db").c_str());
  EXPECT_TRUE(file.CreateParentDirectory());
  EXPECT_TRUE(DirectoryExists(dir.Path() + "\\e\\f"));
  EXPECT_FALSE(file.IsFile());

  ASSERT_TRUE(WriteFileBytes(dir.File("blocker"), "x"));
  EXPECT_FALSE(CPath((dir.Path() + "\\blocker\\sub").c_str()).MakeDirectory());
}

TEST(Path, CreateEmptyFileKeepsExistingContent) {
  CScratchDir dir;
  CPath marker(dir.File("setup.ini").c_str());
  EXPECT_TRUE(marker.CreateEmptyFile());
  EXPECT_TRUE(marker.IsFile());
  ASSERT_TRUE(WriteFileBytes(marker.c_str(), "keep me"));
  EXPECT_TRUE(marker.CreateEmptyFile());
  EXPECT_EQ("keep me", ReadFileBytes(marker.c_str()));
}

TEST(Path, DeleteTreeRemovesEverythingBelow) {
  CScratchDir dir;
  CPath root((dir.Path() + "\\tree").c_str());
  ASSERT_TRUE(CPath((dir.Path() + "\\tree\\a\\b").c_str()).MakeDirectory());
  ASSERT_TRUE(WriteFileBytes(dir.Path() + "\\tree\\top.txt", "1"));
  ASSERT_TRUE(WriteFileBytes(dir.Path() + "\\tree\\a\\b\\deep.txt", "2"));
  ASSERT_TRUE(WriteFileBytes(dir.Path() + "\\tree\\a\\中文.txt", "3"));
  EXPECT_TRUE(root.DeleteTree());
  EXPECT_FALSE(DirectoryExists(root.c_str()));
  EXPECT_FALSE(root.DeleteTree());  // nothing left to delete

  CPath single(dir.File("single.txt").c_str());
  ASSERT_TRUE(WriteFileBytes(single.c_str(), "x"));
  EXPECT_TRUE(single.DeleteTree());
  EXPECT_FALSE(single.IsFile());
}

TEST(Path, DeleteTreeStopsAtAnUndeletableFile) {
  CScratchDir dir;
  CPath root((dir.Path() + "\\tree").c_str());
  ASSERT_TRUE(CPath((dir.Path() + "\\tree\\sub").c_str()).MakeDirectory());
  std::string locked = dir.Path() + "\\tree\\sub\\locked.txt";
  ASSERT_TRUE(WriteFileBytes(locked, "x"));
  {
    // Open without delete sharing: nobody may delete it while we hold it.
    CFileHandle holder(CreateFileA(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(root.DeleteTree());
    EXPECT_TRUE(DirectoryExists(root.c_str()));
    EXPECT_TRUE(FileExists(locked));
  }
  EXPECT_TRUE(root.DeleteTree());
}

TEST(Path, EnumerationReplacesTheTextWithEachName) {
  CScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("one.txt"), "1"));
  ASSERT_TRUE(WriteFileBytes(dir.File("two.txt"), "2"));
  CPath walker(dir.Path().c_str());
  std::string names;
  for (bool found = walker.FindFirst("*.txt"); found; found = walker.FindNext())
    names += std::string(walker.c_str()) + ";";
  EXPECT_TRUE(names == "one.txt;two.txt;" || names == "two.txt;one.txt;") << names;

  CPath dots(dir.Path().c_str());
  ASSERT_TRUE(dots.FindFirst("*.*"));
  int dotEntries = 0;
  do {
    if (dots.IsDotEntry()) ++dotEntries;
  } while (dots.FindNext());
  EXPECT_EQ(2, dotEntries);
}

TEST(Path, ExecutableAndSpecialFolders) {
  CPath exe, directory, documents;
  ASSERT_TRUE(exe.SetToExePath());
  ASSERT_TRUE(directory.SetToExeDirectory());
  EXPECT_TRUE(exe.IsFile());
  EXPECT_TRUE(directory.IsDirectory());
  EXPECT_EQ(std::string(directory.c_str()) + "\\base_tests.exe", exe.c_str());
  EXPECT_TRUE(documents.SetToSpecialFolder(CSIDL_PERSONAL));
  EXPECT_TRUE(documents.IsDirectory());
  EXPECT_FALSE(documents.SetToSpecialFolder(0x7ff0));
  EXPECT_TRUE(documents.IsEmpty());
}

// "乗" and "運" are 81 5C and DF 5C in GBK, "丄" 81 41: trail bytes that look like a backslash or a
// capital letter.
TEST(AnsiChars, PathsSplitAndNamesFoldByCharacter) {
  const size_t none = std::string::npos;
  const struct {
    const char* path;
    size_t lastSeparator;
    std::vector<std::string> parts;
  } paths[] = {
      {"乗", none, {"乗"}},
      {"C:\\乗\\運", 5, {"C:", "乗", "運"}},
      {"运\\..\\運.dll", 5, {"运", "..", "運.dll"}},
      {"dir/乗乗", 3, {"dir", "乗乗"}},
      {"\\", 0, {"", ""}},
      {"", none, {""}},
  };
  for (const auto& c : paths) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.lastSeparator, AnsiChars::LastSeparator(c.path));
    EXPECT_EQ(c.parts, AnsiChars::PathParts(c.path));
  }
  EXPECT_EQ("abc丄.dll", AnsiChars::AsciiLower("ABC丄.DLL"));
  EXPECT_NE(AnsiChars::AsciiLower("乤"), AnsiChars::AsciiLower("丄"));
  const char lone[] = {'\x81', 0};  // a lead byte at the end stands alone
  EXPECT_EQ(lone + 1, AnsiChars::Next(lone));
}
