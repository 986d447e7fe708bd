#include "LoaderConfigImages.h"

#include <gtest/gtest.h>

#include "data/AcceptedSerial.h"
#include "data/Registry.h"
#include "data/DbContainer.h"
#include "data/LoaderConfig.h"

std::string Record(const std::string& fileName, const std::string& packing, const std::string& bits,
                   const std::string& desc) {
  return "{\"file_name\":\"" + fileName +
         "\",\"file_check\":\"ABCDEF0123456789ABCDEF0123456789\",\"url\":\"http:\\/\\/config.velmor.example\\/l.zip\","
         "\"path\":\"\"" +
         desc + ",\"bits\":" + bits + ",\"compress_file_name\":\"loader.zip\",\"compress_type\":\"" + packing +
         "\",\"compress_user_password\":\"pw\",\"compress_file_check\":\"00\"}";
}

CByteBuffer LoaderConfigImage(const std::string& json, const char* password, const char* user) {
  CDbContainer container;
  EXPECT_TRUE(container.WriteTextEntry(CLoaderConfig::kDataEntry, json.c_str()));
  if (user) {
    EXPECT_TRUE(container.WriteTextEntry(CLoaderConfig::kUserEntry, user));
  }
  CByteBuffer image;
  EXPECT_TRUE(container.BuildImage(password, image));
  return image;
}

void ForgetAcceptedSerial() {
  HKEY root;
  const char* subKey = SplitRegistryPath(AcceptedSerial::kKeyPath, &root);
  RegDeleteKeyValueA(root, subKey, AcceptedSerial::kValueName);
}
