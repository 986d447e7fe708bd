#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "base/TextFormat.h"
#include "data/Registry.h"
#include "data/UninstallInfo.h"

namespace {

// Reads a string value, or "<absent>".
std::string ReadValue(const std::string& keyName, const char* name) {
  std::string path = std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + keyName;
  char data[512] = {};
  DWORD size = sizeof(data);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) {
    return "<absent>";
  }
  return data;
}

class UninstallInfoTest : public ::testing::Test {
protected:
  void SetUp() override { m_info.keyName = "VelmorTest_" + NewGuidText(); }
  void TearDown() override { m_info.Remove(); }
  CUninstallInfo m_info;
};

}  // namespace

TEST(RegistryPaths, SplitByRootNameIgnoringCase) {
  HKEY root = nullptr;
  EXPECT_STREQ("SOFTWARE\\X", SplitRegistryPath("hkey_local_machine\\SOFTWARE\\X", &root));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, root);
  EXPECT_STREQ("a", SplitRegistryPath("HKEY_CURRENT_USER\\a", &root));
  EXPECT_EQ(HKEY_CURRENT_USER, root);
  EXPECT_EQ(nullptr, SplitRegistryPath("HKEY_LOCAL_MACHINE", &root));
  EXPECT_EQ(nullptr, SplitRegistryPath("\\SOFTWARE", &root));
  EXPECT_EQ(nullptr, SplitRegistryPath("HKLM\\SOFTWARE", &root));
  EXPECT_FALSE(RegCreateKeyPath("HKEY_CURRENT_USER\\"));
  EXPECT_FALSE(RegSetStringValue("HKEY_NOWHERE\\Software", "v", "x"));
  EXPECT_FALSE(RegDeleteSubKey("HKEY_CURRENT_USER\\Software", ""));
}

TEST_F(UninstallInfoTest, WritesExactlyTheNonEmptyValues) {
  m_info.displayName = "沐岚星";
  m_info.uninstallString = "C:\\Program Files\\velmor.exe /u";
  m_info.installDate = "2026-12-08 10:00:00";
  ASSERT_TRUE(m_info.Write());
  EXPECT_EQ("沐岚星", ReadValue(m_info.keyName, "DisplayName"));
  EXPECT_EQ("C:\\Program Files\\velmor.exe /u", ReadValue(m_info.keyName, "UninstallString"));
  for (const char* absent : {"Comments", "Readme", "URLInfoAbout", "URLUpdateInfo", "HelpLink"}) {
    EXPECT_EQ("<absent>", ReadValue(m_info.keyName, absent)) << absent;
  }
  m_info.installDate = "2026-12-09 11:00:00";
  ASSERT_TRUE(m_info.Write());
  EXPECT_EQ("2026-12-09 11:00:00", ReadValue(m_info.keyName, "InstallDate"));
}

TEST_F(UninstallInfoTest, AKeyNameAloneMakesAnEmptyKey) {
  ASSERT_TRUE(m_info.Write());
  HKEY key = nullptr;
  std::string path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + m_info.keyName;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
  DWORD values = 99;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  EXPECT_EQ(0u, values);
  EXPECT_TRUE(m_info.Remove());
  EXPECT_FALSE(m_info.Remove());  // already gone
  CUninstallInfo unnamed;
  EXPECT_FALSE(unnamed.Write());
}
