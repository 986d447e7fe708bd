// The module loader's view of a configuration: one record, plain file names, its packing.
#include <gtest/gtest.h>

#include <string>

#include "LoaderConfigImages.h"
#include "TestSupport.h"
#include "app/ModuleLoader.h"
#include "data/DbContainer.h"
#include "data/ZipArchive.h"

namespace {

CByteBuffer ConfigImage(const std::string& json) { return LoaderConfigImage(json, CModuleLoader::kConfigPassword); }

}  // namespace

TEST(ModuleLoaderConfig, NeedsExactlyOneRecord) {
  CModuleLoader none, one, two;
  EXPECT_FALSE(none.ParseConfig(ConfigImage("[]")));
  EXPECT_EQ(nullptr, none.GetLoaderFile());
  EXPECT_TRUE(one.ParseConfig(ConfigImage("[" + Record() + "]")));
  ASSERT_NE(nullptr, one.GetLoaderFile());
  EXPECT_EQ("loader.dll", one.GetLoaderFile()->file_name);
  EXPECT_FALSE(two.ParseConfig(ConfigImage("[" + Record() + "," + Record() + "]")));
  EXPECT_EQ(2, two.Config().Count());  // the records stay; only the count is wrong
  EXPECT_EQ(nullptr, two.GetLoaderFile());
}

TEST(ModuleLoaderConfig, FileNamesFromTheNetworkMustBePlainNames) {
  for (const char* name : {"..\\\\evil.dll", "sub\\/x.dll", "C:x.dll", "", ".", "..", "a\\u0001.dll", "NUL", "con.dll",
                           "Com1.txt", "LPT9", "aux .dll", "prn.tar.gz", "loader.dll.", "loader.dll "}) {
    CModuleLoader loader;
    EXPECT_FALSE(loader.ParseConfig(ConfigImage("[" + Record(name) + "]"))) << name;
  }
  for (const char* name : {"COM10.dll", "nul1.dll", "console.dll", "lpt0", ".hidden"})
    EXPECT_TRUE(IsPlainFileName(name));
  CModuleLoader chinese;
  EXPECT_TRUE(chinese.ParseConfig(ConfigImage("[" + Record("\\u52a0\\u8f7d.dll") + "]")));
  // A GBK character whose second byte is 0x5C is still one plain character.
  EXPECT_TRUE(IsPlainFileName("\x95\x5c.dll"));
  EXPECT_FALSE(IsPlainFileName("a\\b.dll"));
}

// An https launcher takes no package over plain http, whatever the configuration says.
TEST(ModuleLoaderConfig, HttpsLaunchersTakeHttpsPackagesOnly) {
  const std::string plain = Record();
  std::string secure = plain;
  secure.replace(secure.find("http:"), 5, "https:");
  CModuleLoader off, on;
  on.SetHttps(true);
  EXPECT_TRUE(off.ParseConfig(ConfigImage("[" + plain + "]")));
  EXPECT_FALSE(on.ParseConfig(ConfigImage("[" + plain + "]")));
  EXPECT_TRUE(on.ParseConfig(ConfigImage("[" + secure + "]")));
}

TEST(ModuleLoaderUnpack, OpensTheZipOrContainerTheRecordNames) {
  CScratchDir dir;
  std::string library(40000, 'Z');
  library[5] = '\0';
  CByteBuffer libraryBytes(library.data(), static_cast<int>(library.size()));
  CZipWriter zip;
  ASSERT_TRUE(zip.Create(dir.File("loader.zip").c_str()));
  ASSERT_TRUE(zip.Add("LOADER.DLL", libraryBytes, "pw"));
  ASSERT_TRUE(zip.Close());
  CByteBuffer zipped;
  ASSERT_GT(zipped.ReadFromFile(dir.File("loader.zip").c_str()), 0);

  CModuleLoader zipLoader;
  ASSERT_TRUE(zipLoader.ParseConfig(ConfigImage("[" + Record("loader.dll", "ZIP") + "]")));
  CByteBuffer out;
  ASSERT_TRUE(zipLoader.Unpack(zipped, out));
  EXPECT_EQ(Md5Of(library), Md5Of(std::string(reinterpret_cast<const char*>(out.Data()), out.Length())));

  CDbContainer container;
  ASSERT_TRUE(container.WriteEntry("loader.dll", libraryBytes));
  CByteBuffer packed;
  container.BuildImage("pw", packed);
  CModuleLoader containerLoader;
  ASSERT_TRUE(containerLoader.ParseConfig(ConfigImage("[" + Record("loader.dll", "velmor") + "]")));
  ASSERT_TRUE(containerLoader.Unpack(packed, out));
  EXPECT_EQ(static_cast<int>(library.size()), out.Length());
  EXPECT_FALSE(zipLoader.Unpack(packed, out));  // a container is no zip archive

  CModuleLoader unpackedLoader;
  ASSERT_TRUE(unpackedLoader.ParseConfig(ConfigImage("[" + Record("loader.dll", "") + "]")));
  EXPECT_FALSE(unpackedLoader.Unpack(zipped, out));
}
