#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "base/ByteBuffer.h"
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

namespace {

std::string g_seenTarget, g_target;
DWORD g_seenPartialBytes = 0;

void RecordTornState(const char* partialPath) {
  WIN32_FILE_ATTRIBUTE_DATA partial = {};
  if (GetFileAttributesExA(partialPath, GetFileExInfoStandard, &partial)) g_seenPartialBytes = partial.nFileSizeLow;
  g_seenTarget = ReadFileBytes(g_target);
}

}  // namespace

TEST(ReplaceFileAtomically, TheFileIsTheOldOneOrTheNewOneNeverPartOfOne) {
  CScratchDir dir;
  g_target = dir.File("loader_config.db");
  const std::string partial = PartialFileOf(g_target.c_str());
  EXPECT_EQ(g_target + ".partial", partial);
  ASSERT_TRUE(WriteFileBytes(g_target, "old"));
  ASSERT_TRUE(WriteFileBytes(partial, "left by a write that never finished"));

  // Mid-write the new bytes are half in the partial file and the file itself is untouched.
  SetPartialWriteHook(RecordTornState);
  bool replaced = ReplaceFileAtomically(g_target.c_str(), CByteBuffer("new bytes", 9));
  SetPartialWriteHook(nullptr);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(4u, g_seenPartialBytes);  // "new " of "new bytes"
  EXPECT_EQ("old", g_seenTarget);
  EXPECT_EQ("new bytes", ReadFileBytes(g_target));
  EXPECT_FALSE(FileExists(partial));

  // A file that cannot be replaced (held without delete sharing) stays whole, with nothing beside.
  {
    CFileHandle holder(
        CreateFileA(g_target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(ReplaceFileAtomically(g_target.c_str(), CByteBuffer("other", 5)));
  }
  EXPECT_EQ("new bytes", ReadFileBytes(g_target));
  EXPECT_FALSE(FileExists(partial));

  ASSERT_TRUE(WriteFileBytes(partial, "torn"));
  RemovePartialFile(g_target.c_str());
  EXPECT_FALSE(FileExists(partial));
  std::string longest = dir.Path() + "\\" + std::string(MAX_PATH - 1 - dir.Path().size() - 1, 'n');
  EXPECT_TRUE(PartialFileOf(longest.c_str()).empty());  // no path over the limit, never a cut one
  EXPECT_FALSE(ReplaceFileAtomically(longest.c_str(), CByteBuffer("x", 1)));
}
