#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "base/FileUtil.h"
#include "base/Path.h"

TEST(DeleteTreeBestEffort, RemovesWhatItCanAndGoesOn) {
  CScratchDir dir;
  std::string root = dir.Path() + "\\tree";
  ASSERT_TRUE(CPath((root + "\\a").c_str()).MakeDirectory());
  ASSERT_TRUE(CPath((root + "\\b").c_str()).MakeDirectory());
  ASSERT_TRUE(WriteFileBytes(root + "\\a\\locked.txt", "x"));
  ASSERT_TRUE(WriteFileBytes(root + "\\a\\free.txt", "x"));
  ASSERT_TRUE(WriteFileBytes(root + "\\b\\free.txt", "x"));
  {
    CFileHandle holder(CreateFileA((root + "\\a\\locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    DeleteTreeBestEffort((root + "\\").c_str());
    EXPECT_TRUE(FileExists(root + "\\a\\locked.txt"));
    EXPECT_FALSE(FileExists(root + "\\a\\free.txt"));
    EXPECT_FALSE(DirectoryExists(root + "\\b"));
    EXPECT_FALSE(CPath(root.c_str()).DeleteTree(CPath::ETreeFailure::kGoOn));  // the locked file stays
  }
  EXPECT_TRUE(CPath(root.c_str()).DeleteTree(CPath::ETreeFailure::kGoOn));
  EXPECT_FALSE(DirectoryExists(root));

  ASSERT_TRUE(WriteFileBytes(dir.File("lone.txt"), "x"));
  DeleteTreeBestEffort(dir.File("lone.txt").c_str());
  EXPECT_FALSE(FileExists(dir.File("lone.txt")));
  DeleteTreeBestEffort(dir.File("never-existed").c_str());
  DeleteTreeBestEffort(nullptr);
}

TEST(MakeTempFileName, CreatesTwoDistinctEmptyFiles) {
  char first[MAX_PATH], second[MAX_PATH];
  ASSERT_TRUE(MakeTempFileName(first));
  ASSERT_TRUE(MakeTempFileName(second));
  EXPECT_STRNE(first, second);
  EXPECT_TRUE(FileExists(first));
  EXPECT_TRUE(FileExists(second));
  CByteBuffer contents;
  EXPECT_EQ(0, contents.ReadFromFile(first));
  DeleteFileA(first);
  DeleteFileA(second);
}
