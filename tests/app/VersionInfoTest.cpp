#include <gtest/gtest.h>

#include <string>

#include "BuildConfig.h"
#include "TestSupport.h"
#include "app/VersionInfo.h"

namespace {
std::string LauncherPath() { return ExeDirectory() + "\\velmor.exe"; }
}  // namespace

TEST(VersionInfo, ReadsTheLaunchersChineseStringTable) {
  CVersionInfo info(LauncherPath().c_str());
  ASSERT_TRUE(info.Load());
  const CVersionStringTable* table = info.FindStringTable(2052, 1200);
  ASSERT_NE(nullptr, table);
  EXPECT_STREQ("沐岚星", table->Get(EVersionString::ProductName));
  EXPECT_STREQ("Velmor", table->Get(EVersionString::InternalName));
  EXPECT_STREQ("沐岚星", table->Get(EVersionString::CompanyName));
  EXPECT_STREQ("velmor.exe", table->Get(EVersionString::OriginalFileName));
  EXPECT_STREQ("", table->Get(EVersionString::SpecialBuild));  // absent strings read as empty
  EXPECT_EQ(nullptr, info.FindStringTable(1033, 1200));
  EXPECT_EQ(1u, info.StringTables().size());
}

TEST(VersionInfo, SplitsTheVersionsIntoFourParts) {
  CVersionInfo info(LauncherPath().c_str());
  ASSERT_TRUE(info.Load());
  WORD product[4], file[4];
  info.GetProductVersion(product);
  info.GetFileVersion(file);
  EXPECT_EQ(BuildConfig::kVersionMajor, product[0]);
  EXPECT_EQ(BuildConfig::kVersionMinor, product[1]);
  EXPECT_EQ(BuildConfig::kVersionPatch, product[2]);
  EXPECT_EQ(0, product[3]);
  EXPECT_EQ(0, memcmp(product, file, sizeof(file)));
}

TEST(VersionInfo, FilesWithoutAResourceFailToLoad) {
  CScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("plain.txt"), "no resources"));
  EXPECT_FALSE(CVersionInfo(dir.File("plain.txt").c_str()).Load());
  EXPECT_FALSE(CVersionInfo(dir.File("missing.exe").c_str()).Load());
}

TEST(VersionInfo, WithoutAPathReadsTheRunningProgram) {
  CVersionInfo own;  // this test program carries the launcher's resources
  ASSERT_TRUE(own.Load());
  ASSERT_NE(nullptr, own.FindStringTable(2052, 1200));
  EXPECT_STREQ("Velmor", own.FindStringTable(2052, 1200)->Get(EVersionString::InternalName));
}
