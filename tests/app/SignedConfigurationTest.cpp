// Signed configurations through the reader and the module loader: "data.sig" over the exact bytes
// of "data.txt", the signed fields, the serial against the cached configuration, the expiry, and
// the SHA-256 checks beside the MD5 ones. Every hostile form is refused when signed and changes
// nothing when unsigned.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "TestSigningKey.h"
#include "LoaderConfigImages.h"
#include "TestSupport.h"
#include "data/LoaderConfig.h"
#include "app/LoaderInstaller.h"
#include "app/ModuleLoader.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "base/PlatformCrypto.h"
#include "data/AcceptedSerial.h"
#include "data/DataPaths.h"
#include "data/DbContainer.h"
#include "data/Registry.h"

namespace {

const char* const kPassword = CModuleLoader::kConfigPassword;
const char kLibrary[] = "the loader library's bytes";
const char kPackage[] = "the package's bytes";

const CEcdsaP256Key& TestKey() {
  static CEcdsaP256Key key;
  static bool imported = false;
  if (!imported) {
    uint8_t publicKey[kEcdsaP256PublicBytes], privateKey[kEcdsaP256PrivateBytes];
    imported = ParseHexExact(TestSigningKey::kPublicHex, publicKey, sizeof(publicKey)) &&
               ParseHexExact(TestSigningKey::kPrivateHex, privateKey, sizeof(privateKey)) &&
               key.ImportPrivate(publicKey, privateKey);
  }
  EXPECT_TRUE(imported);
  return key;
}

CByteBuffer BytesOf(const std::string& text) { return CByteBuffer(text.data(), static_cast<int>(text.size())); }

const char kFarFuture[] = "2999-01-01T00:00:00Z";

LoaderFile SignedRecord(const std::string& serial = "5", const std::string& expires = kFarFuture) {
  LoaderFile file;
  file.file_name = "loader.dll";
  file.file_check = Md5Of(kLibrary);
  file.url = "http://config.velmor.example/loader.zip";
  file.bits = 32;
  file.compress_file_name = "loader.zip";
  file.compress_type = "zip";
  file.compress_user_password = "pw";
  file.compress_file_check = Md5Of(kPackage);
  file.file_sha256 = Sha256Text(BytesOf(kLibrary));
  file.compress_file_sha256 = Sha256Text(BytesOf(kPackage));
  file.serial = serial;
  file.expires = expires;
  return file;
}

std::string JsonOf(const LoaderFile& file) {
  CLoaderConfig config;
  config.Add(file);
  return SerializeLoaderFiles(config);
}

CByteBuffer SignatureOf(const std::string& bytes, const CEcdsaP256Key& key = TestKey()) {
  CByteBuffer signature;
  EXPECT_TRUE(SignEcdsaP256Sha256(key, BytesOf(bytes), signature));
  return signature;
}

// A container as the launcher receives it: "data.txt" holds `data` byte for byte and, when given,
// "data.sig" holds `signature`.
CByteBuffer Image(const std::string& data, const CByteBuffer* signature) {
  CDbContainer container;
  EXPECT_TRUE(container.WriteEntry(CLoaderConfig::kDataEntry, BytesOf(data)));
  if (signature) {
    EXPECT_TRUE(container.WriteEntry(CLoaderConfig::kSignatureEntry, *signature));
  }
  CByteBuffer image;
  container.BuildImage(kPassword, image);
  return image;
}

CByteBuffer SignedImage(const std::string& data) {
  CByteBuffer signature = SignatureOf(data);
  return Image(data, &signature);
}

bool LoadsSigned(const CByteBuffer& image) {
  CLoaderConfig config;
  config.RequireSignature(TestSigningKey::kPublicHex);
  return config.LoadFromMemory(image, kPassword, nullptr);
}

bool LoadsUnsigned(const CByteBuffer& image) {
  CLoaderConfig config;
  return config.LoadFromMemory(image, kPassword, nullptr) && config.Count() == 1;
}

// The record's JSON with the value of `key` replaced by `raw` JSON (or the member removed when
// `raw` is null).
std::string WithMember(const LoaderFile& file, const std::string& key, const char* raw) {
  std::string json = JsonOf(file);
  std::string name = "\"" + key + "\":";
  size_t at = json.find(name);
  if (at == std::string::npos) {
    if (raw) json.insert(1 + json.find('{'), name + raw + ",");
    return json;
  }
  size_t end = json[at + name.size()] == '"' ? json.find('"', at + name.size() + 1) + 1 : json.find_first_of(",}", at);
  if (raw) return json.replace(at + name.size(), end - at - name.size(), raw);
  if (json[end] == ',') ++end;
  return json.erase(at, end - at);
}

}  // namespace

TEST(SignedConfiguration, ASignedRecordLoadsWithItsFieldsAndAnUnsignedReaderIgnoresTheSignature) {
  LoaderFile file = SignedRecord("42", "2099-12-31T23:59:59Z");
  CByteBuffer image = SignedImage(JsonOf(file));
  CLoaderConfig config;
  config.RequireSignature(TestSigningKey::kPublicHex);
  ASSERT_TRUE(config.LoadFromMemory(image, kPassword, nullptr));
  ASSERT_EQ(1, config.Count());
  EXPECT_EQ(file.file_sha256, config.At(0)->file_sha256);
  EXPECT_EQ(file.compress_file_sha256, config.At(0)->compress_file_sha256);
  EXPECT_EQ("42", config.At(0)->serial);
  EXPECT_EQ("2099-12-31T23:59:59Z", config.At(0)->expires);
  EXPECT_TRUE(LoadsUnsigned(image));

  // Saved with a signer, the same record reads back signed; without new fields nothing new is written.
  CScratchDir scratch;
  ASSERT_TRUE(config.Save(scratch.File("signed.db").c_str(), "", kPassword, &TestKey()));
  CLoaderConfig reread;
  reread.RequireSignature(TestSigningKey::kPublicHex);
  EXPECT_TRUE(reread.LoadFromFile(scratch.File("signed.db").c_str(), kPassword, nullptr));
  LoaderFile plain = file;
  plain.file_sha256 = plain.compress_file_sha256 = plain.serial = plain.expires = "";
  for (const char* key : {"sha256", "serial", "expires"}) EXPECT_EQ(std::string::npos, JsonOf(plain).find(key)) << key;
}

TEST(SignedConfiguration, TheSignatureMustVerifyOverTheExactBytesOfDataTxt) {
  const std::string json = JsonOf(SignedRecord());
  CByteBuffer good = SignatureOf(json);
  CEcdsaP256Key otherKey;
  ASSERT_TRUE(otherKey.Generate());
  CByteBuffer byOther = SignatureOf(json, otherKey);
  CByteBuffer shorter(good.Data(), good.Length() - 1), longer(good.Data(), good.Length());
  longer.AppendByte(0);
  CByteBuffer zeros = BytesOf(std::string(64, '\0')), flipped(good.Data(), good.Length());
  flipped.Data()[10] ^= 1;
  std::string altered = json;
  altered.replace(altered.find("loader.zip"), 10, "loader.vdb");
  const struct {
    const char* name;
    std::string data;
    const CByteBuffer* signature;
  } cases[] = {
      {"no data.sig", json, nullptr},
      {"63 bytes", json, &shorter},
      {"65 bytes", json, &longer},
      {"zeros", json, &zeros},
      {"one bit flipped", json, &flipped},
      {"another key", json, &byOther},
      {"data.txt altered after signing", altered, &good},
      {"data.txt without its newline", json.substr(0, json.size() - 1), &good},
      // A reader stops at a zero byte; the signature covers every byte the entry holds.
      {"bytes after a zero byte", json + std::string(1, '\0') + "hidden", &good},
  };
  EXPECT_TRUE(LoadsSigned(Image(json, &good)));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CByteBuffer image = Image(c.data, c.signature);
    EXPECT_FALSE(LoadsSigned(image));
    EXPECT_TRUE(LoadsUnsigned(image));
  }
}

TEST(SignedConfiguration, MalformedOrMissingSignedFieldsAreRefusedOnlyWhenSigned) {
  LoaderFile unpacked = SignedRecord();
  unpacked.compress_type = unpacked.compress_file_sha256 = "";
  const struct {
    const char* name;
    std::string json;
    bool signedLoads;
  } cases[] = {
      {"complete", JsonOf(SignedRecord()), true},
      {"no serial, no expiry", JsonOf(SignedRecord("", "")), true},
      {"largest serial", JsonOf(SignedRecord("18446744073709551615")), true},
      {"leading zeros", JsonOf(SignedRecord("007")), true},
      {"no packing, no package digest", JsonOf(unpacked), true},
      {"no file_sha256", WithMember(SignedRecord(), "file_sha256", nullptr), false},
      {"upper-case file_sha256",
       WithMember(SignedRecord(), "file_sha256", ("\"" + std::string(64, 'A') + "\"").c_str()), false},
      {"63 digits", WithMember(SignedRecord(), "file_sha256", ("\"" + std::string(63, 'a') + "\"").c_str()), false},
      {"not hexadecimal", WithMember(SignedRecord(), "file_sha256", ("\"" + std::string(64, 'g') + "\"").c_str()),
       false},
      {"file_sha256 null", WithMember(SignedRecord(), "file_sha256", "null"), false},
      {"zip without compress_file_sha256", WithMember(SignedRecord(), "compress_file_sha256", nullptr), false},
      {"compress_file_sha256 malformed", WithMember(unpacked, "compress_file_sha256", "\"00\""), false},
      {"serial -1", JsonOf(SignedRecord("-1")), false},
      {"serial +1", JsonOf(SignedRecord("+1")), false},
      {"serial with a space", JsonOf(SignedRecord(" 1")), false},
      {"serial with a trailing space", JsonOf(SignedRecord("1 ")), false},
      {"serial past 2^64 - 1", JsonOf(SignedRecord("18446744073709551616")), false},
      {"serial 1e3", JsonOf(SignedRecord("1e3")), false},
      {"serial 0x10", JsonOf(SignedRecord("0x10")), false},
      {"serial as a number", WithMember(SignedRecord(), "serial", "5"), false},
      {"expires without Z", JsonOf(SignedRecord("5", "2099-01-01T00:00:00")), false},
      {"expires with a space", JsonOf(SignedRecord("5", "2099-01-01 00:00:00Z")), false},
      {"expires lower-case", JsonOf(SignedRecord("5", "2099-01-01t00:00:00z")), false},
      {"expires short month", JsonOf(SignedRecord("5", "2099-1-01T00:00:00Z")), false},
      {"expires 30 February", JsonOf(SignedRecord("5", "2099-02-30T00:00:00Z")), false},
      {"expires hour 24", JsonOf(SignedRecord("5", "2099-01-01T24:00:00Z")), false},
      {"expires with an offset", JsonOf(SignedRecord("5", "2099-01-01T00:00:00+08:00")), false},
      {"expires as an array", WithMember(SignedRecord(), "expires", "[]"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CByteBuffer image = SignedImage(c.json);
    EXPECT_EQ(c.signedLoads, LoadsSigned(image)) << c.json;
    EXPECT_TRUE(LoadsUnsigned(image)) << c.json;
  }
}

// Bit flips, truncations and inserted bytes anywhere in the archive of a signed container, which is
// then wrapped again with the well-known password, as anyone on the path can: a variant that still
// loads signed must hand out exactly the signed text.
TEST(SignedConfiguration, MutatedSignedArchivesLoadOnlyWithTheSignedTextIntact) {
  constexpr int kVariants = 600;
  const std::string json = JsonOf(SignedRecord());
  CDbContainer signedContainer;
  ASSERT_TRUE(signedContainer.Open(SignedImage(json), kPassword));
  const std::string archive = Text(signedContainer.Payload());
  std::mt19937 random(20261209);
  int loaded = 0;
  for (int i = 0; i < kVariants; ++i) {
    std::string variant = archive;
    size_t at = random() % variant.size();
    switch (i % 3) {
      case 0: variant[at] = static_cast<char>(variant[at] ^ (1 << (random() % 8))); break;
      case 1: variant.resize(at); break;
      default: variant.insert(at, 1, static_cast<char>(random())); break;
    }
    CDbContainer wrapper;
    wrapper.Open(BytesOf(variant), "");
    CByteBuffer image;
    ASSERT_TRUE(wrapper.BuildImage(kPassword, image));
    CLoaderConfig config;
    config.RequireSignature(TestSigningKey::kPublicHex);
    if (!config.LoadFromMemory(image, kPassword, nullptr)) continue;
    ++loaded;
    std::string data;
    ASSERT_TRUE(wrapper.ReadTextEntry(CLoaderConfig::kDataEntry, data));
    EXPECT_EQ(json, data) << "variant " << i;
    EXPECT_EQ(SignedRecord().file_sha256, config.At(0)->file_sha256);
  }
  printf("%d variants, %d still loading signed (the mutation missed the signed bytes)\n", kVariants, loaded);
  EXPECT_GT(loaded, 0);  // some variants only touch what the signature does not cover
}

TEST(SignedConfiguration, SerialsAndTimesReadExactly) {
  const struct {
    const char* text;
    bool reads;
    unsigned long long value;
  } serials[] = {{"0", true, 0},
                 {"18446744073709551615", true, 18446744073709551615ULL},
                 {"00000000000000000001", true, 1},
                 {"000000000000000000001", false, 0},
                 {"", false, 0},
                 {"18446744073709551620", false, 0},
                 {"99999999999999999999", false, 0},
                 {"1.0", false, 0}};
  for (const auto& c : serials) {
    unsigned long long value = 12345;
    EXPECT_EQ(c.reads, ParseSerial(c.text, &value)) << c.text;
    if (c.reads) {
      EXPECT_EQ(c.value, value) << c.text;
    }
  }
  // The values are Python's calendar.timegm of the same dates.
  const struct {
    const char* text;
    bool reads;
    long long seconds;
  } times[] = {{"1970-01-01T00:00:00Z", true, 0},
               {"2000-02-29T12:34:56Z", true, 951827696},
               {"2038-01-19T03:14:08Z", true, 2147483648LL},
               {"2100-03-01T00:00:00Z", true, 4107542400LL},
               {"9999-12-31T23:59:59Z", true, 253402300799LL},
               {"1969-12-31T23:59:59Z", false, 0},
               {"2100-02-29T00:00:00Z", false, 0},
               {"2001-02-29T00:00:00Z", false, 0},
               {"2000-04-31T00:00:00Z", false, 0},
               {"2000-00-10T00:00:00Z", false, 0},
               {"2000-13-10T00:00:00Z", false, 0},
               {"2000-01-00T00:00:00Z", false, 0},
               {"2000-01-01T00:60:00Z", false, 0},
               {"2000-01-01T00:00:60Z", false, 0},
               {"2000-01-01T00:00:00ZZ", false, 0},
               {"+2000-01-01T00:00:00Z", false, 0},
               {"2000-01-01T00:00:0-Z", false, 0}};
  for (const auto& c : times) {
    long long seconds = -1;
    EXPECT_EQ(c.reads, ParseUtcTime(c.text, &seconds)) << c.text;
    if (c.reads) {
      EXPECT_EQ(c.seconds, seconds) << c.text;
    }
  }
}

// The module loader with a data root of its own: the cached configuration sets the lowest serial,
// the clock the expiry, and the digests decide which files count.
class SignedModuleLoader : public ::testing::Test {
protected:
  void SetUp() override {
    SetDataRoot(m_root.Path().c_str());
    ASSERT_TRUE(CPath(LoaderDir().c_str()).MakeDirectory());
    ForgetAcceptedSerial();
  }
  void TearDown() override {
    SetDataRoot("");
    ForgetAcceptedSerial();
  }

  std::string LoaderDir() const { return m_root.File("cache\\loader"); }
  void Cache(const CByteBuffer& image) {
    ASSERT_EQ(image.Length(), image.WriteToFile((LoaderDir() + "\\loader_config.db").c_str(), false));
  }

  CScratchDir m_root;
};

TEST_F(SignedModuleLoader, NoSerialBelowTheCachedOneAndNoPastExpiryIsAccepted) {
  CModuleLoader loader(TestSigningKey::kPublicHex);
  EXPECT_TRUE(loader.IsSigned());
  EXPECT_TRUE(loader.ParseConfig(SignedImage(JsonOf(SignedRecord("3")))));  // no cache: any serial
  Cache(SignedImage(JsonOf(SignedRecord("5"))));
  for (const char* serial : {"4", "0", "5", "6", "1000"}) {
    bool accepted = std::string(serial) != "4" && std::string(serial) != "0";
    EXPECT_EQ(accepted, loader.ParseConfig(SignedImage(JsonOf(SignedRecord(serial))))) << serial;
  }
  EXPECT_FALSE(loader.ParseConfig(SignedImage(JsonOf(SignedRecord("")))));  // none counts as 0

  // A cache that does not verify (altered on disk, or unsigned) sets no minimum.
  LoaderFile higher = SignedRecord("9");
  Cache(Image(JsonOf(higher), nullptr));
  EXPECT_TRUE(loader.ParseConfig(SignedImage(JsonOf(SignedRecord("1")))));

  EXPECT_FALSE(loader.ParseConfig(SignedImage(JsonOf(SignedRecord("5", "")))));  // good for ever: no
  EXPECT_FALSE(loader.ParseConfig(SignedImage(JsonOf(SignedRecord("5", "2001-01-01T00:00:00Z")))));
  EXPECT_FALSE(loader.ParseConfig(SignedImage(JsonOf(SignedRecord("5", "1970-01-01T00:00:00Z")))));
  EXPECT_TRUE(loader.ParseConfig(SignedImage(JsonOf(SignedRecord("5", "2999-01-01T00:00:00Z")))));
  EXPECT_FALSE(loader.ParseConfig(Image(JsonOf(SignedRecord("5")), nullptr)));

  CModuleLoader unsignedLoader("");
  EXPECT_FALSE(unsignedLoader.IsSigned());
  EXPECT_TRUE(unsignedLoader.ParseConfig(SignedImage(JsonOf(SignedRecord("0", "2001-01-01T00:00:00Z")))));
}

// The floor is the highest of the build's minimum, the serial this user accepted before (kept in
// the registry, so a lost cache does not lower it) and the cached configuration's.
TEST_F(SignedModuleLoader, TheSerialFloorIsTheBuildMinimumTheRegistryOrTheCacheWhicheverIsHighest) {
  const struct {
    unsigned long long minSerial;
    const char* registry;  // null: no value
    const char* cached;    // null: no cache
    const char* offered;
    bool taken;
  } cases[] = {
      {0, nullptr, nullptr, "1", true}, {10, nullptr, nullptr, "9", false}, {10, nullptr, nullptr, "10", true},
      {0, "7", nullptr, "6", false},    {0, "7", nullptr, "7", true},       {0, "7", "9", "8", false},
      {0, "9", "7", "8", false},        {12, "9", "7", "11", false},        {0, "not a serial", nullptr, "1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.minSerial << " / " << (c.registry ? c.registry : "-") << " / "
                                    << (c.cached ? c.cached : "-") << ": " << c.offered);
    ForgetAcceptedSerial();
    if (c.registry) {
      ASSERT_TRUE(RegCreateKeyPath(AcceptedSerial::kKeyPath));
      ASSERT_TRUE(RegSetStringValue(AcceptedSerial::kKeyPath, AcceptedSerial::kValueName, c.registry));
    }
    DeleteFileA((LoaderDir() + "\\loader_config.db").c_str());
    if (c.cached) Cache(SignedImage(JsonOf(SignedRecord(c.cached))));
    CModuleLoader loader(TestSigningKey::kPublicHex, c.minSerial);
    EXPECT_EQ(c.taken, loader.ParseConfig(SignedImage(JsonOf(SignedRecord(c.offered)))));
    // A tool that checks a configuration for a fresh install ignores this user's state.
    CModuleLoader tool(TestSigningKey::kPublicHex, c.minSerial, CModuleLoader::EFloor::kBuildMinimumOnly);
    EXPECT_EQ(std::stoull(c.offered) >= c.minSerial, tool.ParseConfig(SignedImage(JsonOf(SignedRecord(c.offered)))));
  }
  EXPECT_TRUE(AcceptedSerial::Raise(8));
  EXPECT_TRUE(AcceptedSerial::Raise(3));  // never lowered
  EXPECT_EQ(8u, AcceptedSerial::Read());
}

// What a start asks of its configuration, the offline start's and the flow's parse of the cached
// copy included, decodes each image once: a newer one costs itself and the cache's floor.
TEST_F(SignedModuleLoader, AStartDecodesEachConfigurationImageOnce) {
  CByteBuffer cachedImage = SignedImage(JsonOf(SignedRecord("5")));
  CByteBuffer newerImage = SignedImage(JsonOf(SignedRecord("6")));
  Cache(cachedImage);
  CModuleLoader loader(TestSigningKey::kPublicHex);
  long before = CConfigPolicy::DecodesSoFar();
  CByteBuffer cached;
  ASSERT_TRUE(loader.ReadCachedConfig(cached));
  for (int asked = 0; asked < 3; ++asked) ASSERT_TRUE(loader.ParseConfig(cached));
  EXPECT_EQ(1, CConfigPolicy::DecodesSoFar() - before);
  for (int asked = 0; asked < 3; ++asked) ASSERT_TRUE(loader.ParseConfig(newerImage));
  EXPECT_EQ(3, CConfigPolicy::DecodesSoFar() - before);
  EXPECT_EQ("6", loader.GetLoaderFile()->serial);
}

TEST_F(SignedModuleLoader, AFileMatchingItsMd5ButNotItsSha256NeverCounts) {
  LoaderFile file = SignedRecord();
  ASSERT_TRUE(WriteFileBytes(LoaderDir() + "\\loader.dll", kLibrary));
  ASSERT_TRUE(WriteFileBytes(LoaderDir() + "\\loader.zip", kPackage));
  LoaderFile wrongSha = file;
  wrongSha.file_sha256 = wrongSha.compress_file_sha256 = Sha256Text(BytesOf("something else"));
  LoaderFile malformedSha = file;
  malformedSha.file_sha256 = malformedSha.compress_file_sha256 = "not a digest";
  for (const char* key : {TestSigningKey::kPublicHex, ""}) {
    SCOPED_TRACE(*key ? "signed" : "unsigned");
    CModuleLoader loader(key);
    CByteBuffer out;
    EXPECT_TRUE(loader.CheckInstalled(file, out));
    EXPECT_TRUE(loader.CheckPacked(file, out));
    EXPECT_FALSE(loader.CheckInstalled(wrongSha, out));
    EXPECT_FALSE(loader.CheckPacked(wrongSha, out));
    // Unsigned, a malformed digest is carried and never interpreted, as before the field existed.
    EXPECT_EQ(!*key, loader.CheckInstalled(malformedSha, out));
  }
}

// From its check to its load the library is held: it can be neither rewritten, replaced nor deleted.
TEST_F(SignedModuleLoader, AHeldLibraryCannotChangeBetweenTheCheckAndTheLoad) {
  const LoaderFile file = SignedRecord();
  const std::string path = LoaderDir() + "\\loader.dll", other = LoaderDir() + "\\other.dll";
  ASSERT_TRUE(WriteFileBytes(path, kLibrary));
  ASSERT_TRUE(WriteFileBytes(other, "a library the record does not name"));
  CLoaderInstaller installer(true);
  CFileHandle held;
  ASSERT_EQ(CLoaderInstaller::EHold::kHeld, installer.HoldLibrary(file, path, held));
  EXPECT_FALSE(WriteFileBytes(path, "swapped"));
  EXPECT_FALSE(MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(kLibrary, ReadFileBytes(path));  // others may still read it
  held.Reset();
  ASSERT_TRUE(MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(CLoaderInstaller::EHold::kMismatch, installer.HoldLibrary(file, path, held));
  EXPECT_EQ(CLoaderInstaller::EHold::kHeld, CLoaderInstaller(false).HoldLibrary(file, path, held));
  held.Reset();
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_EQ(CLoaderInstaller::EHold::kUnopened, installer.HoldLibrary(file, path, held));
}

TEST_F(SignedModuleLoader, SignedTheUnpackedAndTheLoadedLibraryMustMatchTheRecord) {
  CDbContainer package;
  ASSERT_TRUE(package.WriteEntry("loader.dll", BytesOf("a library the record does not name")));
  CByteBuffer packed;
  package.BuildImage("pw", packed);
  LoaderFile file = SignedRecord();
  file.compress_type = "velmor";
  file.compress_file_check = Md5Text(packed);
  file.compress_file_sha256 = Sha256Text(packed);

  CModuleLoader signedLoader(TestSigningKey::kPublicHex), unsignedLoader("");
  ASSERT_TRUE(signedLoader.ParseConfig(SignedImage(JsonOf(file))));
  ASSERT_TRUE(unsignedLoader.ParseConfig(SignedImage(JsonOf(file))));
  CByteBuffer out;
  EXPECT_FALSE(signedLoader.Unpack(packed, out));
  EXPECT_TRUE(unsignedLoader.Unpack(packed, out));  // as before: the package's digests vouch for it

  // The file on disk is read again right before loading: one that changed is never loaded.
  ASSERT_TRUE(WriteFileBytes(LoaderDir() + "\\loader.dll", "not the library the record names"));
  EXPECT_FALSE(signedLoader.LoadModule(BytesOf(kLibrary)));
  EXPECT_EQ("加载器校验失败！", signedLoader.GetLastErrorText());
  EXPECT_FALSE(unsignedLoader.LoadModule(BytesOf(kLibrary)));
  EXPECT_NE("加载器校验失败！", unsignedLoader.GetLastErrorText());
}
