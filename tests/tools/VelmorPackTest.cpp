#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "app/ModuleLoader.h"
#include "base/ByteBuffer.h"
#include "base/Md5.h"
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

// Opens the written files the way the launcher does and checks they give back the library.
void ExpectUsableByTheLauncher(const CScratchDir& dir, const std::string& library, const char* packedName,
                               const char* packing) {
  CByteBuffer configBytes, packed, original, unpacked;
  ASSERT_GT(configBytes.ReadFromFile(dir.File("loader.db").c_str()), 0);
  ASSERT_GT(packed.ReadFromFile(dir.File(packedName).c_str()), 0);
  ASSERT_GT(original.ReadFromFile(library.c_str()), 0);
  CModuleLoader loader;
  ASSERT_TRUE(loader.ParseConfig(configBytes));
  const LoaderFile* record = loader.GetLoaderFile();
  EXPECT_EQ("loader.dll", record->file_name);
  EXPECT_EQ(packedName, record->compress_file_name);
  EXPECT_EQ(packing, record->compress_type);
  EXPECT_EQ("pack-pw", record->compress_user_password);
  EXPECT_EQ("客服工作台加载器", record->desc);
  EXPECT_TRUE(Md5Equal(record->file_check.c_str(), Md5Text(original).c_str()));
  EXPECT_TRUE(Md5Equal(record->compress_file_check.c_str(), Md5Text(packed).c_str()));
  ASSERT_TRUE(loader.Unpack(packed, unpacked));
  EXPECT_EQ(Md5Text(original), Md5Text(unpacked));
}

// One command turns a library into a configuration plus its packed form.
void PackAndCheck(const char* packing, const char* packedName) {
  CScratchDir dir;
  std::string library = SampleLibrary(dir);
  ASSERT_EQ(0u, Pack("config --file \"" + library + "\" --url http://config.velmor.example/" + packedName + " --pack " +
                     packing + " --password pack-pw --desc 客服工作台加载器 --out \"" + dir.File("loader.db") + "\""));
  ExpectUsableByTheLauncher(dir, library, packedName, packing);
}

}  // namespace

TEST(VelmorPack, ZipPackingGivesAConfigurationAndAProtectedArchive) { PackAndCheck("zip", "loader.zip"); }

TEST(VelmorPack, ContainerPackingGivesAConfigurationAndAContainer) { PackAndCheck("velmor", "loader.vdb"); }

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
