#include <gtest/gtest.h>

#include <string>

#include "LoaderConfigImages.h"
#include "TestSupport.h"
#include "data/DbContainer.h"
#include "data/LoaderConfig.h"

namespace {

// Any password: the reader takes the one it is given.
const char kPassword[] = "loader-config-test";

CByteBuffer ConfigImage(const std::string& json, const char* user = nullptr) {
  return LoaderConfigImage(json, kPassword, user);
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
