#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/ModuleLoader.h"
#include "base/ByteBuffer.h"
#include "base/Md5.h"
#include "base/PlatformCrypto.h"
#include "data/DbContainer.h"

namespace {

unsigned long Pack(const std::string& arguments) {
  return RunProgram("\"" + ExeDirectory() + "\\velmor-pack.exe\" " + arguments);
}

// A stand-in library: any binary will do, and one of our own programs is at hand.
std::string SampleLibrary(const CScratchDir& dir) {
  std::string path = dir.File("loader.dll");
  EXPECT_TRUE(CopyFileA((ExeDirectory() + "\\velmor.exe").c_str(), path.c_str(), FALSE));
  return path;
}

std::string ConfigCommand(const std::string& library, const char* packing, const std::string& url,
                          const std::string& out) {
  return "config --file \"" + library + "\" --url " + url + " --pack " + packing +
         " --password pack-pw --desc 客服工作台加载器 --out \"" + out + "\"";
}

// The record of the configuration written into `dir`, read the way the launcher reads it.
LoaderFile WrittenRecord(const CScratchDir& dir) {
  CByteBuffer configBytes;
  CModuleLoader loader;
  EXPECT_GT(configBytes.ReadFromFile(dir.File("loader.db").c_str()), 0);
  EXPECT_TRUE(loader.ParseConfig(configBytes));
  return loader.GetLoaderFile() ? *loader.GetLoaderFile() : LoaderFile();
}

// What a package is called when named by its content: loader-<16 digits of its SHA-256>.<extension>.
std::string ContentNameOf(const std::string& path, const char* extension) {
  CByteBuffer bytes;
  EXPECT_GT(bytes.ReadFromFile(path.c_str()), 0);
  return "loader-" + Sha256Text(bytes).substr(0, 16) + extension;
}

// Opens the written files the way the launcher does and checks they give back the library.
void ExpectUsableByTheLauncher(const CScratchDir& dir, const std::string& library, const char* packing) {
  CByteBuffer configBytes, packed, original, unpacked;
  ASSERT_GT(configBytes.ReadFromFile(dir.File("loader.db").c_str()), 0);
  ASSERT_GT(original.ReadFromFile(library.c_str()), 0);
  CModuleLoader loader;
  ASSERT_TRUE(loader.ParseConfig(configBytes));
  const LoaderFile* record = loader.GetLoaderFile();
  ASSERT_GT(packed.ReadFromFile(dir.File(record->compress_file_name).c_str()), 0);
  EXPECT_EQ("loader.dll", record->file_name);
  EXPECT_EQ(packing, record->compress_type);
  EXPECT_EQ("pack-pw", record->compress_user_password);
  EXPECT_EQ("客服工作台加载器", record->desc);
  EXPECT_TRUE(Md5Equal(record->file_check.c_str(), Md5Text(original).c_str()));
  EXPECT_TRUE(Md5Equal(record->compress_file_check.c_str(), Md5Text(packed).c_str()));
  ASSERT_TRUE(loader.Unpack(packed, unpacked));
  EXPECT_EQ(Md5Text(original), Md5Text(unpacked));
}

// One command turns a library into a configuration plus its package, named by its content and
// served from the folder of --url.
void PackAndCheck(const char* packing, const char* extension, const std::string& url) {
  CScratchDir dir;
  std::string library = SampleLibrary(dir);
  ASSERT_EQ(0u, Pack(ConfigCommand(library, packing, url, dir.File("loader.db"))));
  ExpectUsableByTheLauncher(dir, library, packing);
  LoaderFile record = WrittenRecord(dir);
  std::string name = ContentNameOf(dir.File(record.compress_file_name), extension);
  EXPECT_EQ(name, record.compress_file_name);
  EXPECT_EQ("http://config.velmor.example/" + name, record.url);
}

}  // namespace

TEST(VelmorPack, ZipPackingGivesAConfigurationAndAProtectedArchive) {
  PackAndCheck("zip", ".zip", "http://config.velmor.example/loader.zip");
}

TEST(VelmorPack, ContainerPackingGivesAConfigurationAndAContainer) {
  PackAndCheck("velmor", ".vdb", "http://config.velmor.example/");
}

// A changed package always gets a new URL, so no configuration can be paired with another
// release's package; a fixed --packed-name stays what it says.
TEST(VelmorPack, PackagesAreNamedAfterTheirContentUnlessANameIsFixed) {
  CScratchDir dir;
  std::string library = SampleLibrary(dir);
  std::string next = dir.File("next\\loader.dll");  // the same name, other bytes
  ASSERT_TRUE(CreateDirectoryA(dir.File("next").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(next, ReadFileBytes(library) + std::string(64, '\x5a')));
  const std::string site = "http://config.velmor.example/";
  struct Case {
    const char* name;
    std::string library, packing, url, extra;
    std::string folder;                 // of the record's url
    std::string compressName, urlName;  // empty: the content name of what was written
  };
  const Case cases[] = {
      {"zip", library, "zip", site + "loader.zip", "", site, "", ""},
      {"another library", next, "zip", site + "loader.zip", "", site, "", ""},
      {"a fixed name", library, "zip", site + "x/old.zip", " --packed-name loader.zip", site + "x/", "loader.zip",
       "loader.zip"},
      {"unpacked, from a host's root", library, "none", "http://config.velmor.example", "", site, "loader.dll", ""},
  };
  std::vector<std::string> urls;
  for (const Case& c : cases) {
    CScratchDir out;
    ASSERT_EQ(0u, Pack(ConfigCommand(c.library, c.packing.c_str(), c.url, out.File("loader.db")) + c.extra)) << c.name;
    LoaderFile record = WrittenRecord(out);
    std::string urlName = record.url.substr(record.url.find_last_of('/') + 1);
    std::string contentName = ContentNameOf(out.File(urlName), c.packing == "none" ? ".dll" : ".zip");
    EXPECT_EQ(c.folder + urlName, record.url) << c.name;
    EXPECT_EQ(c.urlName.empty() ? contentName : c.urlName, urlName) << c.name;
    EXPECT_EQ(c.compressName.empty() ? contentName : c.compressName, record.compress_file_name) << c.name;
    if (c.packing == "none") {
      EXPECT_EQ(ReadFileBytes(c.library), ReadFileBytes(out.File(urlName))) << c.name;
    }
    urls.push_back(record.url);
  }
  EXPECT_NE(urls[0], urls[1]);
}

TEST(VelmorPack, ContainersPackAndUnpackToTheSameBytes) {
  CScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("a.txt"), "alpha"));
  ASSERT_TRUE(WriteFileBytes(dir.File("数据.bin"), std::string("\0\1\2", 3)));
  ASSERT_EQ(0u, Pack("pack --password box --out \"" + dir.File("box.db") + "\" \"" + dir.File("a.txt") + "\" \"" +
                     dir.File("数据.bin") + "\""));
  EXPECT_EQ(1u, Pack("unpack \"" + dir.File("box.db") + "\" --dir \"" + dir.File("out") + "\""));  // wrong password
  ASSERT_EQ(0u, Pack("unpack \"" + dir.File("box.db") + "\" --password box --dir \"" + dir.File("out") + "\""));
  EXPECT_EQ("alpha", ReadFileBytes(dir.File("out\\a.txt")));
  EXPECT_EQ(std::string("\0\1\2", 3), ReadFileBytes(dir.File("out\\数据.bin")));
  EXPECT_EQ(0u, Pack("show \"" + dir.File("box.db") + "\" --password box"));
}

TEST(VelmorPack, BadRequestsFailWithTheirOwnCodes) {
  CScratchDir dir;
  EXPECT_EQ(0u, Pack("--help"));
  EXPECT_EQ(2u, Pack(""));
  EXPECT_EQ(2u, Pack("frobnicate"));
  EXPECT_EQ(2u, Pack("config --file x.dll --url u --out o.db"));  // no --pack
  EXPECT_EQ(2u, Pack("config --file x.dll --url u --pack rar --out o.db"));
  EXPECT_EQ(2u, Pack("config --file x.dll --url http://h/get?f=l.zip --pack zip --out o.db"));
  EXPECT_EQ(1u, Pack("config --file \"" + dir.File("missing.dll") + "\" --url u --pack zip --out \"" +
                     dir.File("o.db") + "\""));
  EXPECT_EQ(1u, Pack("show \"" + dir.File("missing.db") + "\""));
  EXPECT_FALSE(FileExists(dir.File("o.db")));
}

// show reads what it lists, or fails: damage inside the archive (the container's digest still
// matches) is a failure with exit code 1, never an empty success.
TEST(VelmorPack, ShowFailsWhenItCannotReadWhatItLists) {
  CDbContainer container;
  ASSERT_TRUE(container.WriteTextEntry("readme.txt", "not a configuration"));
  ASSERT_TRUE(container.WriteTextEntry("data.txt", ("/*" + std::string(300, 'c') + "*/[]").c_str()));
  const std::string zip(reinterpret_cast<const char*>(container.Payload().Data()), container.Payload().Length());
  // data.txt was written last, so it comes first: its data follows the first local header.
  size_t dataAt = 30 + 8 + static_cast<unsigned char>(zip[28]);
  size_t dataCentral = zip.find("PK\x01\x02");
  size_t readmeCentral = zip.find("PK\x01\x02", dataCentral + 1);
  struct Case {
    const char* name;
    size_t at;
    unsigned long exitCode;
  };
  const Case cases[] = {
      {"sound", std::string::npos, 0},
      {"data.txt's bytes damaged", dataAt + 20, 1},
      {"data.txt's checksum wrong", dataCentral + 16, 1},
      {"a directory entry's signature broken", readmeCentral + 2, 1},
  };
  CScratchDir dir;
  for (const Case& c : cases) {
    std::string damaged = zip;
    if (c.at != std::string::npos) damaged[c.at] ^= 0x5A;
    CDbContainer wrapped;
    ASSERT_TRUE(wrapped.Open(CByteBuffer(damaged.data(), static_cast<int>(damaged.size())), ""));
    CByteBuffer image;
    ASSERT_TRUE(wrapped.BuildImage(CModuleLoader::kConfigPassword, image));
    ASSERT_EQ(image.Length(), image.WriteToFile(dir.File("damaged.db").c_str(), false));
    EXPECT_EQ(c.exitCode, Pack("show \"" + dir.File("damaged.db") + "\"")) << c.name;
  }
}

TEST(VelmorPack, UnpackRefusesEntriesNamedAfterDevices) {
  CScratchDir dir;
  for (const char* device : {"NUL", "com1.txt", "Aux .log", "name."}) {
    CDbContainer container;
    ASSERT_TRUE(container.WriteTextEntry(device, "swallowed"));
    ASSERT_TRUE(container.Save(dir.File("devices.db").c_str(), "box"));
    EXPECT_EQ(1u, Pack("unpack \"" + dir.File("devices.db") + "\" --password box --dir \"" + dir.File("out") + "\""))
        << device;
  }
}
