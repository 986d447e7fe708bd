// A deterministic mutation campaign against the readers that take network bytes: the container,
// the zip reader, the configuration parser and the package unpacking. Every variant must leave
// the process alive, every result under its cap and every call within a bound.
// VELMOR_MUTATION_VARIANTS and VELMOR_MUTATION_SEED select a longer or another run.
#include <gtest/gtest.h>

#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "DeflateForTests.h"
#include "data/LoaderConfig.h"
#include "app/ModuleLoader.h"
#include "data/DbContainer.h"
#include "data/ZipArchive.h"

namespace {

constexpr unsigned long kDefaultVariants = 5000;
constexpr unsigned long kDefaultSeed = 20261209;
// Catches a call that never ends (a loop on hostile bytes), not a slow one: far above what any
// call takes even on a machine busy with other builds; the slowest call is printed as a figure.
constexpr DWORD kCallBoundMs = 60000;
const char kPackagePassword[] = "package-pw";

unsigned long EnvironmentNumber(const char* name, unsigned long fallback) {
  char text[32] = {};
  if (!GetEnvironmentVariableA(name, text, sizeof(text))) return fallback;
  return strtoul(text, nullptr, 10);
}

void PutLe(std::string& out, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>(value >> (8 * i));
}

void AppendLe(std::string& out, uint32_t value, int bytes) {
  out.append(bytes, '\0');
  PutLe(out, out.size() - bytes, value, bytes);
}

// A zip archive written by hand, so that any structure can be made, sound or not.
struct ZipEntry {
  std::string name;
  std::string data;  // as stored: raw deflate when `deflated`
  uint32_t size;     // claimed uncompressed size
  uint32_t crc;
  bool deflated = false;
};

ZipEntry Stored(const std::string& name, const std::string& data) {
  uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  return {name, data, static_cast<uint32_t>(data.size()), crc, false};
}

ZipEntry Deflated(const std::string& name, const std::string& data) {
  ZipEntry entry = Stored(name, data);
  entry.data = RawDeflate(data);
  entry.deflated = true;
  return entry;
}

std::string BuildZip(const std::vector<ZipEntry>& entries) {
  std::string zip, directory;
  for (const ZipEntry& e : entries) {
    uint32_t offset = static_cast<uint32_t>(zip.size());
    auto header = [&e](std::string& out, uint32_t signature, bool central) {
      AppendLe(out, signature, 4);
      if (central) AppendLe(out, 20, 2);  // made by
      AppendLe(out, 20, 2);               // needed
      AppendLe(out, 0, 2);                // flags
      AppendLe(out, e.deflated ? 8 : 0, 2);
      AppendLe(out, 0, 4);  // time and date
      AppendLe(out, e.crc, 4);
      AppendLe(out, static_cast<uint32_t>(e.data.size()), 4);
      AppendLe(out, e.size, 4);
      AppendLe(out, static_cast<uint32_t>(e.name.size()), 2);
      AppendLe(out, 0, 2);  // extra
    };
    header(zip, 0x04034b50, false);
    zip += e.name + e.data;
    header(directory, 0x02014b50, true);
    AppendLe(directory, 0, 2);  // comment
    AppendLe(directory, 0, 2);  // disk
    AppendLe(directory, 0, 2);  // internal attributes
    AppendLe(directory, 0, 4);  // external attributes
    AppendLe(directory, offset, 4);
    directory += e.name;
  }
  uint32_t directoryAt = static_cast<uint32_t>(zip.size());
  zip += directory;
  AppendLe(zip, 0x06054b50, 4);
  AppendLe(zip, 0, 4);
  AppendLe(zip, static_cast<uint32_t>(entries.size()), 2);
  AppendLe(zip, static_cast<uint32_t>(entries.size()), 2);
  AppendLe(zip, static_cast<uint32_t>(directory.size()), 4);
  AppendLe(zip, directoryAt, 4);
  AppendLe(zip, 0, 2);
  return zip;
}

CByteBuffer Buffer(const std::string& bytes) { return CByteBuffer(bytes.data(), static_cast<int>(bytes.size())); }

// The zip payload wrapped as a container with a valid digest: damage then reaches the zip reader.
CByteBuffer ContainerOf(const std::string& zip, const char* password) {
  CDbContainer container;
  container.Open(Buffer(zip), "");
  CByteBuffer image;
  container.BuildImage(password, image);
  return image;
}

std::string Record(const std::string& name, const std::string& desc, const char* packing) {
  return "{\"file_name\":\"" + name +
         "\",\"file_check\":\"0\",\"url\":\"http://config.velmor.example/x\","
         "\"path\":\"\",\"desc\":\"" +
         desc +
         "\",\"bits\":\"32\",\"compress_file_name\":\"loader.pkg\","
         "\"compress_type\":\"" +
         packing + "\",\"compress_user_password\":\"" + kPackagePassword + "\",\"compress_file_check\":\"0\"}";
}

// The offsets of every central directory header of a sound archive built above.
std::vector<size_t> CentralHeaders(const std::string& zip) {
  std::vector<size_t> at;
  for (size_t p = zip.find("PK\x01\x02"); p != std::string::npos; p = zip.find("PK\x01\x02", p + 1)) at.push_back(p);
  return at;
}

class CCampaign {
public:
  explicit CCampaign(unsigned long seed) : m_random(seed) {
    // The records that unpack the packages: made once, the packages vary.
    ParseRecordFor(m_zipRecord, "zip");
    ParseRecordFor(m_containerRecord, "velmor");
  }

  std::mt19937& Random() { return m_random; }
  size_t Below(size_t limit) { return limit ? std::uniform_int_distribution<size_t>(0, limit - 1)(m_random) : 0; }

  // Times one call and checks its bound.
  void Timed(const char* what, const std::function<void()>& call) {
    DWORD started = GetTickCount();
    call();
    DWORD spent = GetTickCount() - started;
    if (spent > m_slowestMs) m_slowestMs = spent;
    EXPECT_LE(spent, kCallBoundMs) << what << " of variant " << m_variant;
  }

  void Feed(unsigned long variant, const CByteBuffer& configImage, const std::string& packageZip,
            const CByteBuffer& packageContainer) {
    m_variant = variant;
    FeedContainer(configImage);
    FeedPackages(packageZip, packageContainer);
  }

  DWORD SlowestMs() const { return m_slowestMs; }

private:
  void FeedContainer(const CByteBuffer& image) {
    Timed("container", [&] {
      CDbContainer container;
      CByteBuffer data;
      if (container.Open(image, CModuleLoader::kConfigPassword) && container.ReadEntry("data.txt", data)) {
        EXPECT_LE(data.Length(), static_cast<int>(kMaxZipEntryBytes));
      }
      FeedZip(container.Payload(), nullptr);
    });
    // One decode: what the reader took stays in the loader even when the policy refuses it.
    Timed("configuration", [&] {
      CModuleLoader loader;
      loader.ParseConfig(image);
      EXPECT_LE(SerializeLoaderFiles(loader.Config()).size(), CLoaderConfig::kMaxDataBytes * 7);  // escapes grow it
    });
  }

  void FeedZip(const CByteBuffer& bytes, const char* password) {
    CZipReader zip;
    if (!zip.Open(bytes)) return;
    EXPECT_LE(zip.Count(), kMaxZipEntries);
    for (int i = 0; i < zip.Count(); ++i) {
      std::string name;
      unsigned long size = 0;
      CByteBuffer out;
      if (!zip.GetEntry(i, &name, &size) || !zip.Extract(i, out, password)) continue;
      EXPECT_EQ(size, static_cast<unsigned long>(out.Length()));
      EXPECT_LE(size, kMaxZipEntryBytes);
    }
  }

  void FeedPackages(const std::string& zip, const CByteBuffer& container) {
    Timed("package zip", [&] { FeedZip(Buffer(zip), kPackagePassword); });
    Timed("unpacking", [&] {
      CByteBuffer out;
      if (m_zipRecord.Unpack(Buffer(zip), out)) {
        EXPECT_LE(out.Length(), static_cast<int>(kMaxZipEntryBytes));
      }
      if (m_containerRecord.Unpack(container, out)) {
        EXPECT_LE(out.Length(), static_cast<int>(kMaxZipEntryBytes));
      }
    });
  }

  static void ParseRecordFor(CModuleLoader& loader, const char* packing) {
    std::string json = "[" + Record("loader.dll", "", packing) + "]";
    ASSERT_TRUE(loader.ParseConfig(ContainerOf(BuildZip({Stored("data.txt", json)}), CModuleLoader::kConfigPassword)));
  }

  std::mt19937 m_random;
  CModuleLoader m_zipRecord;
  CModuleLoader m_containerRecord;
  unsigned long m_variant = 0;
  DWORD m_slowestMs = 0;
};

// Documents that JSON readers have disagreed about or choked on.
std::string HostileJson(CCampaign& campaign) {
  std::string record = Record("loader.dll", "desc", "zip");
  size_t depth = 1 + campaign.Below(200000);
  switch (campaign.Below(10)) {
    case 0: return std::string(depth, '[') + std::string(depth, ']');
    case 1: return "[" + Record("loader.dll", std::string(campaign.Below(5 << 20), 'x'), "zip") + "]";
    case 2: return "[" + record + "] [" + record + "]";
    case 3: return "[" + record + "] trailing";
    case 4: return "[{\"file_name\":\"a.dll\",\"file_name\":\"b.dll\"," + record.substr(1) + "]";
    case 5: return "[" + Record("loader.dll", "\xC0\xAF\xED\xA0\x80", "zip") + "]";
    case 6: return "[" + Record("loader.dll", "\\ud800", "zip") + "]";
    case 7: {
      std::string many = "[";
      for (size_t i = 0, n = campaign.Below(20000); i < n; ++i) many += (i ? "," : "") + record;
      return many + "]";
    }
    case 8: return "[{\"bits\":1e999999," + record.substr(1) + "]";
    default: {
      std::string text = "[" + record + "]";
      text[campaign.Below(text.size())] = static_cast<char>(campaign.Below(256));
      return text;
    }
  }
}

}  // namespace

TEST(HostileConfigurations, AMutationCampaignLeavesEveryReaderBoundedAndAlive) {
  unsigned long variants = EnvironmentNumber("VELMOR_MUTATION_VARIANTS", kDefaultVariants);
  unsigned long seed = EnvironmentNumber("VELMOR_MUTATION_SEED", kDefaultSeed);
  CCampaign campaign(seed);

  std::string library(60000, 'L');
  const std::vector<std::string> configSeeds = {
      BuildZip({Stored("data.txt", "[" + Record("loader.dll", "one", "zip") + "]"), Stored("user.txt", "agent")}),
      BuildZip({Deflated("data.txt", "[" + Record("a.dll", "1", "zip") + "," + Record("b.dll", "2", "velmor") + "]")}),
      BuildZip({Deflated("data.txt", "/* 注释 */[" + Record("\\u52a0\\u8f7d.dll", "\\u5ba2\\u670d", "zip") + "]")}),
  };
  std::string packageZip = BuildZip({Deflated("loader.dll", library)});
  CZipWriter encrypted;  // an entry with a password needs minizip's own writer
  char temp[MAX_PATH], path[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  GetTempFileNameA(temp, "vmz", 0, path);
  ASSERT_TRUE(encrypted.Create(path));
  ASSERT_TRUE(encrypted.Add("loader.dll", Buffer(library), kPackagePassword));
  ASSERT_TRUE(encrypted.Close());
  CByteBuffer encryptedZip;
  encryptedZip.ReadFromFile(path);
  DeleteFileA(path);
  const std::vector<std::string> packageSeeds = {
      packageZip, std::string(reinterpret_cast<const char*>(encryptedZip.Data()), encryptedZip.Length())};
  std::string bomb = std::string(64 << 20, '\0');
  ZipEntry bombEntry = Deflated("loader.dll", bomb);
  bomb.clear();

  std::vector<ZipEntry> crowd;
  for (unsigned i = 0; i <= static_cast<unsigned>(kMaxZipEntries); ++i) crowd.push_back(Stored(std::to_string(i), "x"));

  for (unsigned long variant = 0; variant < variants; ++variant) {
    std::string zip = configSeeds[campaign.Below(configSeeds.size())];
    std::string package = packageSeeds[campaign.Below(packageSeeds.size())];
    std::vector<size_t> central = CentralHeaders(zip);
    size_t header = central[campaign.Below(central.size())];
    switch (variant % 10) {
      case 0:  // bytes flipped anywhere
        for (size_t i = 0, n = 1 + campaign.Below(8); i < n; ++i)
          zip[campaign.Below(zip.size())] ^= 1 + campaign.Below(255);
        for (size_t i = 0, n = 1 + campaign.Below(8); i < n; ++i) package[campaign.Below(package.size())] ^= 0x40;
        break;
      case 1:  // cut short
        zip.resize(campaign.Below(zip.size()));
        package.resize(campaign.Below(package.size()));
        break;
      case 2: {  // sizes claimed past any cap, or just wrong
        const uint32_t claims[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 1u << 30, 3u << 30, 0, 1};
        PutLe(zip, header + 24, claims[campaign.Below(6)], 4);
        PutLe(package, CentralHeaders(package)[0] + 24, claims[campaign.Below(6)], 4);
        break;
      }
      case 3:  // local header offsets that point anywhere
        PutLe(zip, header + 42, static_cast<uint32_t>(campaign.Random()()), 4);
        PutLe(package, CentralHeaders(package)[0] + 42, static_cast<uint32_t>(campaign.Below(package.size())), 4);
        break;
      case 4:  // a wrong checksum
        PutLe(zip, header + 16, static_cast<uint32_t>(campaign.Random()()), 4);
        PutLe(package, CentralHeaders(package)[0] + 16, static_cast<uint32_t>(campaign.Random()()), 4);
        break;
      case 5:  // the same name twice, in another letter case
        zip = BuildZip({Stored("data.txt", "[]"), Stored("DATA.TXT", "[" + Record("loader.dll", "", "zip") + "]")});
        package = BuildZip({Deflated("loader.dll", library), Stored("LOADER.DLL", "MZ")});
        break;
      case 6: {  // many entries; one variant in a hundred right at the cap
        size_t count = variant % 100 == 6 ? crowd.size() - campaign.Below(4) : campaign.Below(64);
        std::vector<ZipEntry> entries(crowd.begin(), crowd.begin() + count);
        entries.push_back(Stored("data.txt", "[]"));
        zip = BuildZip(entries);
        break;
      }
      case 7: {  // a bomb that claims little, or past the cap
        ZipEntry entry = bombEntry;
        const uint32_t claims[] = {100, 1u << 30, 3u << 30};
        entry.size = claims[campaign.Below(3)];
        package = BuildZip({entry});
        zip = BuildZip({entry, Stored("data.txt", "[]")});
        break;
      }
      case 8:  // hostile JSON
        zip = BuildZip({Deflated("data.txt", HostileJson(campaign))});
        break;
      default:  // the container image itself damaged: its digest must catch it
        break;
    }
    CByteBuffer image = ContainerOf(zip, CModuleLoader::kConfigPassword);
    if (variant % 10 == 9) {
      CByteBuffer damaged = image;
      damaged.MakeUnique();
      damaged.Data()[campaign.Below(damaged.Length())] ^= 0x01;
      image = damaged;
    }
    CDbContainer packageContainer;
    packageContainer.Open(Buffer(package), "");
    CByteBuffer packageImage;
    packageContainer.BuildImage(kPackagePassword, packageImage);
    campaign.Feed(variant, image, package, packageImage);
    if (HasFatalFailure()) break;
  }
  printf("mutation campaign: %lu variants, seed %lu, slowest call %lu ms\n", variants, seed,
         static_cast<unsigned long>(campaign.SlowestMs()));
}
