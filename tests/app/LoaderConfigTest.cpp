#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "app/LoaderConfig.h"
#include "app/ModuleLoader.h"
#include "data/DbContainer.h"
#include "data/ZipArchive.h"

namespace {

const char* const kPassword = CModuleLoader::kConfigPassword;

// One record in the JSON form the configuration server sends; `extra` lands inside the object.
std::string Record(const std::string& fileName = "loader.dll", const std::string& packing = "zip",
                   const std::string& bits = "\"32\"",
                   const std::string& desc = ",\"desc\":\"\\u52a0\\u8f7d\\u5668\"") {
  return "{\"file_name\":\"" + fileName +
         "\",\"file_check\":\"ABCDEF0123456789ABCDEF0123456789\",\"url\":\"http:\\/\\/config.velmor.example\\/l.zip\","
         "\"path\":\"\"" +
         desc + ",\"bits\":" + bits + ",\"compress_file_name\":\"loader.zip\",\"compress_type\":\"" + packing +
         "\",\"compress_user_password\":\"pw\",\"compress_file_check\":\"00\"}";
}

CByteBuffer ConfigImage(const std::string& json, const char* user = nullptr, const char* password = kPassword) {
  CDbContainer container;
  EXPECT_TRUE(container.WriteTextEntry(CLoaderConfig::kDataEntry, json.c_str()));
  if (user) {
    EXPECT_TRUE(container.WriteTextEntry(CLoaderConfig::kUserEntry, user));
  }
  CByteBuffer image;
  container.BuildImage(password, image);
  return image;
}

bool Loads(const std::string& json, CLoaderConfig& config) {
  return config.LoadFromMemory(ConfigImage(json), kPassword, nullptr);
}

}  // namespace

TEST(LoaderConfig, ReadsAllTenFieldsOfARecord) {
  CLoaderConfig config;
  ASSERT_TRUE(Loads("[" + Record() + "]", config));
  ASSERT_EQ(1, config.Count());
  const LoaderFile& file = *config.At(0);
  EXPECT_EQ("loader.dll", file.file_name);
  EXPECT_EQ("ABCDEF0123456789ABCDEF0123456789", file.file_check);
  EXPECT_EQ("http://config.velmor.example/l.zip", file.url);
  EXPECT_EQ("加载器", file.desc);  // UTF-8 in the document, GBK in the record
  EXPECT_EQ(32u, file.bits);
  EXPECT_EQ("loader.zip", file.compress_file_name);
  EXPECT_EQ("pw", file.compress_user_password);
  EXPECT_EQ(nullptr, config.At(1));
  EXPECT_EQ(nullptr, config.At(-1));
}

TEST(LoaderConfig, EveryKeyMustBeAString) {
  CLoaderConfig config;
  EXPECT_FALSE(Loads("[" + Record("loader.dll", "zip", "32") + "]", config));  // bits as a number
  EXPECT_EQ(0, config.Count());
  EXPECT_FALSE(Loads("[" + Record("loader.dll", "zip", "\"32\"", "") + "]", config));  // no desc
  EXPECT_FALSE(Loads("[" + Record() + ",\"not an object\"]", config));
  EXPECT_EQ(0, config.Count());
}

TEST(LoaderConfig, TheDocumentMustBeAnArray) {
  CLoaderConfig config;
  EXPECT_TRUE(Loads("[]", config));
  EXPECT_TRUE(Loads("null", config));
  EXPECT_TRUE(Loads("// issued for testing\n[ /* the one file */ " + Record() + "]", config));
  EXPECT_EQ(1, config.Count());
  EXPECT_FALSE(Loads(Record(), config));
  EXPECT_FALSE(Loads("[{", config));
  // Deep nesting must fail cleanly rather than exhaust the stack.
  EXPECT_FALSE(Loads(std::string(100000, '[') + std::string(100000, ']'), config));
  EXPECT_FALSE(config.LoadFromMemory(ConfigImage("[]"), "another password", nullptr));
  CDbContainer noData;
  CByteBuffer image;
  EXPECT_TRUE(noData.WriteTextEntry("other.txt", "x"));
  noData.BuildImage(kPassword, image);
  EXPECT_FALSE(config.LoadFromMemory(image, kPassword, nullptr));
}

TEST(LoaderConfig, ChecksTheUserOnlyWhenAskedTo) {
  CLoaderConfig config;
  CByteBuffer withUser = ConfigImage("[]", "Agent01");
  EXPECT_TRUE(config.LoadFromMemory(withUser, kPassword, "agent01"));
  EXPECT_FALSE(config.LoadFromMemory(withUser, kPassword, "agent02"));
  EXPECT_TRUE(config.LoadFromMemory(withUser, kPassword, ""));
  EXPECT_FALSE(config.LoadFromMemory(ConfigImage("[]"), kPassword, "agent01"));
}

TEST(LoaderConfig, PackingNamesIgnoreCase) {
  LoaderFile file;
  file.compress_type = "ZIP";
  EXPECT_TRUE(CLoaderConfig::HasCompression(file));
  EXPECT_TRUE(CLoaderConfig::IsZip(file));
  EXPECT_FALSE(CLoaderConfig::IsContainer(file));
  file.compress_type = "Velmor";
  EXPECT_TRUE(CLoaderConfig::IsContainer(file));
  file.compress_type = "";
  EXPECT_FALSE(CLoaderConfig::HasCompression(file));
  EXPECT_FALSE(CLoaderConfig::IsZip(file));
}

TEST(LoaderConfig, SavesPureAsciiJsonThatLoadsBack) {
  CScratchDir dir;
  LoaderFile file;
  file.file_name = "加载器.dll";
  file.url = "http://config.velmor.example/a.zip";
  file.desc = "说明 \"quoted\"";
  file.bits = 64;
  CLoaderConfig config;
  config.Add(file);
  std::string json = SerializeLoaderFiles(config);
  EXPECT_EQ(
      "[{\"bits\":\"64\",\"compress_file_check\":\"\",\"compress_file_name\":\"\",\"compress_type\":\"\","
      "\"compress_user_password\":\"\",\"desc\":\"\\u8bf4\\u660e \\\"quoted\\\"\",\"file_check\":\"\","
      "\"file_name\":\"\\u52a0\\u8f7d\\u5668.dll\",\"path\":\"\",\"url\":\"http:\\/\\/config.velmor.example\\/"
      "a.zip\"}]\n",
      json);

  std::string path = dir.File("loader_config.db");
  ASSERT_TRUE(config.Save(path.c_str(), "agent", kPassword));
  CLoaderConfig loaded;
  ASSERT_TRUE(loaded.LoadFromFile(path.c_str(), kPassword, "AGENT"));
  ASSERT_EQ(1, loaded.Count());
  EXPECT_EQ(file.file_name, loaded.At(0)->file_name);
  EXPECT_EQ(file.desc, loaded.At(0)->desc);
  EXPECT_EQ(64u, loaded.At(0)->bits);
  EXPECT_FALSE(config.Save("", nullptr, kPassword));
  ASSERT_TRUE(WriteFileBytes(dir.File("empty.db"), ""));
  EXPECT_FALSE(loaded.LoadFromFile(dir.File("empty.db").c_str(), kPassword, nullptr));
  EXPECT_EQ(0, loaded.Count());
}

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

// Two readers of one document must never read two different record lists.
TEST(LoaderConfig, DataTextIsStrictJsonWithinTheRulesOfTheFormat) {
  struct Case {
    const char* name;
    std::string json;
    bool loads;
  };
  std::string one = "[" + Record() + "]";
  std::string duplicate = Record();
  duplicate.insert(1, "\"file_name\":\"other.dll\",");
  const Case cases[] = {
      {"comments", "/* issued */ " + one + " // for testing\n", true},
      {"a bits text that is no number, carried as it is", "[" + Record("loader.dll", "zip", "\"x32\"") + "]", true},
      {"trailing text after the root", one + " garbage", false},
      {"two roots", one + one, false},
      {"a duplicate key", "[" + duplicate + "]", false},
      {"invalid UTF-8 in a string", "[" + Record("loader.dll", "zip", "\"32\"", ",\"desc\":\"\xC0\xAF\"") + "]", false},
      {"GBK bytes, not UTF-8", "[" + Record("loader.dll", "zip", "\"32\"", ",\"desc\":\"\xD6\xD0\"") + "]", false},
  };
  for (const Case& c : cases) {
    CLoaderConfig config;
    EXPECT_EQ(c.loads, Loads(c.json, config)) << c.name;
  }
}

TEST(LoaderConfig, ADataTextPastFourMebibytesIsRefusedBeforeParsing) {
  for (size_t extra : {0u, 1u}) {
    std::string json = "[" + Record() + "]";
    json.insert(json.size() - 1, CLoaderConfig::kMaxDataBytes - json.size() + extra, ' ');
    CLoaderConfig config;
    EXPECT_EQ(extra == 0, Loads(json, config)) << json.size();
  }
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
