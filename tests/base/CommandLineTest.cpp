#include <gtest/gtest.h>

#include "base/CommandLine.h"

TEST(CommandLine, SplitsLikeTheShellAndKeepsTheProgramPath) {
  CCommandLine line(L"\"C:\\Program Files\\velmor.exe\" /config /desktop \"two words\"");
  ASSERT_EQ(4, line.Count());
  EXPECT_STREQ("C:\\Program Files\\velmor.exe", line.At(0));
  EXPECT_STREQ("/config", line.At(1));
  EXPECT_STREQ("two words", line.At(3));
  EXPECT_STREQ("", line.At(line.Count()));
  EXPECT_STREQ("", line.At(-1));
}

TEST(CommandLine, MatchesWholeArgumentsIgnoringCase) {
  CCommandLine line(L"velmor.exe /u /CONFIGX /Reboot");
  EXPECT_TRUE(line.Has("/U"));
  EXPECT_TRUE(line.Has("/reboot"));
  EXPECT_FALSE(line.Has("/config"));    // "/CONFIGX" is another switch
  EXPECT_TRUE(line.Has("VELMOR.EXE"));  // the program path is an argument too
  EXPECT_EQ(2, line.IndexOf("/configx"));
  EXPECT_EQ(-1, line.IndexOf(nullptr));
}

TEST(CommandLine, ConvertsChineseArgumentsToTheAnsiCodePage) {
  CCommandLine line(L"velmor.exe 沐岚星");
  ASSERT_EQ(2, line.Count());
  EXPECT_STREQ("沐岚星", line.At(1));
}

TEST(CommandLine, ReadsThisProcessesCommandLine) {
  CCommandLine line;
  ASSERT_GE(line.Count(), 1);
  EXPECT_NE(nullptr, strstr(line.At(0), "base_tests"));
}
