#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

#include "TestSupport.h"
#include "base/Path.h"
#include "data/Shortcuts.h"
#include "data/SpecialFolders.h"

namespace {

class ShortcutsTest : public ::testing::Test {
protected:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }
  CScratchDir m_dir;
};

}  // namespace

TEST_F(ShortcutsTest, WritesOnlyWhatIsSetAndDerivesTheWorkingDirectory) {
  CShellLink link;
  link.target = "C:\\Program Files\\X\\x.exe";
  ASSERT_TRUE(link.Save(m_dir.File("plain.lnk").c_str()));
  ShortcutFields fields;
  ASSERT_TRUE(ReadShortcut(m_dir.File("plain.lnk"), fields));
  EXPECT_EQ("C:\\Program Files\\X\\x.exe", fields.target);
  EXPECT_EQ("C:\\Program Files\\X\\", fields.workingDirectory);
  EXPECT_EQ("", fields.description);
  EXPECT_EQ("", fields.arguments);
  EXPECT_EQ(SW_SHOW, fields.showCommand);
  EXPECT_EQ(link.target, fields.iconPath);
  EXPECT_EQ(0, fields.iconIndex);

  link.description = "说明";
  link.arguments = "/u";
  link.showCommand = SW_HIDE;
  link.iconIndex = 1;
  ASSERT_TRUE(link.Save(m_dir.File("plain.lnk").c_str()));  // replaces the file
  ASSERT_TRUE(ReadShortcut(m_dir.File("plain.lnk"), fields));
  EXPECT_EQ("说明", fields.description);
  EXPECT_EQ("/u", fields.arguments);
  EXPECT_EQ(SW_HIDE, fields.showCommand);
  EXPECT_EQ(1, fields.iconIndex);
}

TEST_F(ShortcutsTest, CreateAndDeleteInAFolder) {
  ASSERT_TRUE(CreateShortcut(m_dir.Path().c_str(), "沐岚星", "", "desc", 0, 0));
  ShortcutFields fields;
  ASSERT_TRUE(ReadShortcut(m_dir.File("沐岚星.lnk"), fields));
  EXPECT_EQ(ExeDirectory() + "\\data_tests.exe", fields.target);  // empty target: this program
  EXPECT_TRUE(DeleteShortcut(m_dir.Path().c_str(), "沐岚星"));
  EXPECT_FALSE(FileExists(m_dir.File("沐岚星.lnk")));
  EXPECT_FALSE(DeleteShortcut(m_dir.Path().c_str(), "沐岚星"));
  EXPECT_FALSE(CreateShortcut("", "x", "", "", 0, 0));
}

TEST_F(ShortcutsTest, ProgramGroupHoldsTheProductAndUninstallShortcuts) {
  const char* name = "VelmorGroupTest";
  CPath programs;
  ASSERT_TRUE(GetSpecialFolder(ESpecialFolder::Programs, programs));
  std::string group = std::string(programs.c_str()) + "\\" + name;
  ASSERT_TRUE(CreateProgramGroup(name));
  ShortcutFields product, uninstall;
  ASSERT_TRUE(ReadShortcut(group + "\\" + name + ".lnk", product));
  ASSERT_TRUE(ReadShortcut(group + "\\卸载" + name + ".lnk", uninstall));
  EXPECT_EQ(name, product.description);
  EXPECT_EQ(SW_SHOW, product.showCommand);
  EXPECT_EQ("/u", uninstall.arguments);
  EXPECT_EQ(name, uninstall.description);
  EXPECT_EQ(SW_HIDE, uninstall.showCommand);
  EXPECT_EQ(1, uninstall.iconIndex);
  EXPECT_EQ(product.target, uninstall.target);

  ASSERT_TRUE(WriteFileBytes(group + "\\extra.txt", "placed by the user"));
  EXPECT_TRUE(RemoveProgramGroup(name));
  EXPECT_FALSE(DirectoryExists(group));
  EXPECT_TRUE(programs.IsDirectory());
  EXPECT_TRUE(RemoveProgramGroup(name));  // nothing left: still fine
}
