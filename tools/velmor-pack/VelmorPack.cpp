// velmor-pack: authors the launcher's loader configuration and containers with the launcher's own
// code, and checks every file it writes by opening it the way the launcher will.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "data/LoaderConfig.h"
#include "app/ModuleLoader.h"
#include "base/AnsiChars.h"
#include "base/FileUtil.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "base/PlatformCrypto.h"
#include "data/DbContainer.h"
#include "data/ZipArchive.h"
#include "tools/velmor-pack/KeyFile.h"
#include "tools/velmor-pack/Release.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  velmor-pack config --file LIBRARY --url URL --pack zip|velmor|none --out CONFIG\n"
    "                     [--password P] [--desc TEXT] [--path TEXT] [--bits N] [--user TEXT]\n"
    "                     [--packed-name NAME] [--sign KEY --serial N (--expires TIME | --valid-days N)]\n"
    "      Packs LIBRARY, computes both MD5s and writes the loader configuration container CONFIG\n"
    "      (e.g. loader.db) and the package beside it, named by its content: LIBRARY's stem, '-',\n"
    "      16 digits of the package's SHA-256, .zip or .vdb (none: LIBRARY's own extension), unless\n"
    "      --packed-name gives a fixed NAME. The record's url is URL's folder (up to its last '/')\n"
    "      followed by that name. P protects the package. CONFIG.release (md5, serial, expires) is\n"
    "      what publish.sh checks.\n"
    "      --sign adds file_sha256, compress_file_sha256, serial (N) and expires (TIME, UTC as\n"
    "      YYYY-MM-DDTHH:MM:SSZ, or N whole days from now) and signs data.txt with KEY (PEM) into\n"
    "      data.sig.\n"
    "  velmor-pack resign CONFIG --sign KEY --serial N (--expires TIME | --valid-days N) [--out NEW]\n"
    "      Signs CONFIG's record (url, names, digests unchanged) anew with that serial and expiry,\n"
    "      into NEW (default: CONFIG itself), after checking it against the package beside CONFIG,\n"
    "      which is copied beside NEW. Republishing an earlier release goes this way.\n"
    "  velmor-pack keygen --out KEY\n"
    "      Writes a new ECDSA P-256 private key (PEM, as openssl reads it) and prints its public\n"
    "      key as 128 hexadecimal digits, the value of VELMOR_CONFIG_PUBLIC_KEY.\n"
    "  velmor-pack verify FILE --public-key HEX\n"
    "      Checks a configuration as a launcher built with that public key does.\n"
    "  velmor-pack show FILE [--password P]\n"
    "      Lists a container's entries and prints the records of its data.txt.\n"
    "  velmor-pack pack --out FILE [--password P] INPUT...\n"
    "      Writes a container holding each INPUT file as an entry named after it.\n"
    "  velmor-pack unpack FILE --dir DIRECTORY [--password P]\n"
    "      Extracts every entry of a container into DIRECTORY.\n"
    "The container password defaults to the loader configuration's; --password \"\" means a\n"
    "plain zip archive.\n";

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr unsigned int kDefaultBits = 32;

struct Arguments {
  std::string command;
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;

  bool Has(const char* name) const { return options.count(name) != 0; }
  std::string Get(const char* name, const char* fallback = "") const {
    auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
  }
};

// A failure the tool reports in one line.
struct Failure {
  int code;
  std::string message;
};

Failure Fail(const std::string& message, int code = kExitFailure) { return {code, message}; }

const Failure kSuccess = {0, ""};

bool ParseArguments(int argc, char** argv, Arguments& out, std::string& error) {
  if (argc < 2) {
    error = "no command given";
    return false;
  }
  out.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      out.positional.push_back(word);
      continue;
    }
    if (i + 1 >= argc) {
      error = "option " + word + " needs a value";
      return false;
    }
    out.options[word.substr(2)] = argv[++i];
  }
  return true;
}

std::string FileNameOf(const std::string& path) {
  size_t cut = AnsiChars::LastSeparator(path);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string DirectoryOf(const std::string& path) {
  size_t cut = AnsiChars::LastSeparator(path);
  return cut == std::string::npos ? "." : path.substr(0, cut);
}

bool ReadWholeFile(const std::string& path, CByteBuffer& out) { return out.ReadFromFile(path.c_str()) > 0; }

bool WriteWholeFile(const std::string& path, const CByteBuffer& bytes) {
  return bytes.WriteToFile(path.c_str(), false) == bytes.Length();
}

Failure PackLibrary(const std::string& packing, const LoaderFile& record, const CByteBuffer& library,
                    CByteBuffer& packed) {
  if (packing == "zip") {
    char zipPath[MAX_PATH];
    if (!MakePrefixedTempFile(kZipTempPrefix, zipPath)) return Fail("cannot create a temporary file");
    CZipWriter zip;
    bool written = zip.Create(zipPath) &&
                   zip.Add(record.file_name.c_str(), library, record.compress_user_password.c_str()) && zip.Close();
    bool read = written && packed.ReadFromFile(zipPath) > 0;
    DeleteFileA(zipPath);
    return read ? kSuccess : Fail("cannot build the zip archive");
  }
  CDbContainer container;
  if (!container.WriteEntry(record.file_name.c_str(), library)) return Fail("cannot build the container");
  container.BuildImage(record.compress_user_password.c_str(), packed);
  return kSuccess;
}

// Opens what was written the way the launcher (built with `publicKey`, or unsigned) does and
// compares it with the library.
Failure VerifyAsLauncher(const std::string& configPath, const std::string& publicKey, const CByteBuffer& library,
                         const CByteBuffer& packed) {
  CByteBuffer configBytes;
  CModuleLoader loader(publicKey.c_str(), 0, CModuleLoader::EFloor::kBuildMinimumOnly);
  if (!ReadWholeFile(configPath, configBytes) || !loader.ParseConfig(configBytes)) {
    return Fail("the written configuration does not load: " + configPath);
  }
  const LoaderFile* record = loader.GetLoaderFile();
  if (!Md5Equal(record->file_check.c_str(), Md5Text(library).c_str())) return Fail("file_check does not match");
  if (!CLoaderConfig::HasCompression(*record)) return kSuccess;
  if (!Md5Equal(record->compress_file_check.c_str(), Md5Text(packed).c_str())) {
    return Fail("compress_file_check does not match");
  }
  CByteBuffer unpacked;
  if (!loader.Unpack(packed, unpacked) || Md5Text(unpacked) != Md5Text(library)) {
    return Fail("the packed file does not give back the library");
  }
  return kSuccess;
}

// The signing key named by --sign, checked by signing and verifying once: a key file whose two
// halves do not belong together is refused here rather than by every launcher.
Failure ReadSigningKey(const std::string& path, CEcdsaP256Key& key, std::string& publicKeyHex) {
  CByteBuffer pem;
  if (!ReadWholeFile(path, pem)) return Fail("cannot read the key: " + path);
  P256KeyPair pair;
  std::string error;
  bool read = ReadPrivateKeyPem(std::string(reinterpret_cast<const char*>(pem.Data()), pem.Length()), pair, error);
  if (!read) return Fail(path + ": " + error);
  bool imported = key.ImportPrivate(pair.publicKey, pair.privateKey);
  publicKeyHex = HexText(pair.publicKey, sizeof(pair.publicKey));
  SecureZeroMemory(&pair, sizeof(pair));
  CByteBuffer probe, signature;
  probe.AppendText("velmor-pack key check");
  if (!imported || !SignEcdsaP256Sha256(key, probe, signature) ||
      !VerifyEcdsaP256Sha256(publicKeyHex, probe, signature)) {
    return Fail(path + ": the platform cannot sign with this key");
  }
  return kSuccess;
}

// The serial and expiry of a signed configuration, as the launcher reads them.
struct Signing {
  std::string serial;
  std::string expires;
};

// A whole number of days from 1 to this: longer is no expiry in practice.
constexpr unsigned long kMaxValidDays = 3650;
constexpr long long kSecondsPerDay = 24 * 60 * 60;

Failure ExpiryFromDays(const std::string& days, std::string& expires) {
  bool digits = !days.empty() && days.size() <= 4 && days.find_first_not_of("0123456789") == std::string::npos;
  unsigned long count = digits ? strtoul(days.c_str(), nullptr, 10) : 0;
  if (count < 1 || count > kMaxValidDays) {
    return Fail("--valid-days must be whole days from 1 to " + std::to_string(kMaxValidDays), kExitUsage);
  }
  expires = UtcTimeText(UtcSecondsNow() + static_cast<long long>(count) * kSecondsPerDay);
  return kSuccess;
}

// --serial and an expiry belong to a signed configuration. Signed, the expiry is required: a
// configuration that never expires could be replayed forever once a launcher has lost its cache.
Failure ReadSigningOptions(const Arguments& args, Signing& out) {
  bool expiry = args.Has("expires") || args.Has("valid-days");
  if (!args.Has("sign")) {
    return args.Has("serial") || expiry ? Fail("--serial, --expires and --valid-days need --sign", kExitUsage)
                                        : kSuccess;
  }
  unsigned long long serial = 0;
  if (!ParseSerial(args.Get("serial"), &serial)) return Fail("--sign needs --serial N (decimal digits)", kExitUsage);
  out.serial = args.Get("serial");
  if (args.Has("expires") == args.Has("valid-days")) {
    return Fail("--sign needs either --expires TIME or --valid-days N", kExitUsage);
  }
  out.expires = args.Get("expires");
  if (args.Has("valid-days")) {
    Failure days = ExpiryFromDays(args.Get("valid-days"), out.expires);
    if (days.code) return days;
  }
  long long expires = 0;
  if (!ParseUtcTime(out.expires, &expires)) return Fail("--expires must read YYYY-MM-DDTHH:MM:SSZ", kExitUsage);
  if (expires <= UtcSecondsNow()) return Fail("--expires " + out.expires + " has passed", kExitUsage);
  return kSuccess;
}

// The key and serial of --sign, or nothing at all when unsigned.
struct Signer {
  Signing signing;
  CEcdsaP256Key key;
  std::string publicKey;

  bool Signs() const { return !publicKey.empty(); }
};

Failure ReadSigner(const Arguments& args, Signer& out) {
  Failure options = ReadSigningOptions(args, out.signing);
  if (options.code || !args.Has("sign")) return options;
  return ReadSigningKey(args.Get("sign"), out.key, out.publicKey);
}

void AddSignedFields(LoaderFile& record, const Signing& signing, const CByteBuffer& library,
                     const CByteBuffer& packed) {
  record.file_sha256 = Sha256Text(library);
  record.compress_file_sha256 = packed.IsEmpty() ? "" : Sha256Text(packed);
  record.serial = signing.serial;
  record.expires = signing.expires;
}

// Writes the configuration, opens it as the launcher will, and leaves its side file for publish.sh.
Failure SaveChecked(const LoaderFile& record, const std::string& path, const std::string& user, const Signer& signer,
                    const CByteBuffer& library, const CByteBuffer& packed) {
  CLoaderConfig config;
  config.Add(record);
  if (!config.Save(path.c_str(), user.c_str(), CModuleLoader::kConfigPassword,
                   signer.Signs() ? &signer.key : nullptr)) {
    return Fail("cannot write " + path);
  }
  Failure verified = VerifyAsLauncher(path, signer.publicKey, library, packed);
  if (verified.code) return verified;
  if (!WriteReleaseFile(path, record.serial, record.expires)) return Fail("cannot write " + path + kReleaseFileSuffix);
  printf("wrote %s (file_check %s)\n", path.c_str(), record.file_check.c_str());
  if (signer.Signs()) {
    printf("signed for public key %s (serial %s, expires %s)\n", signer.publicKey.c_str(), record.serial.c_str(),
           record.expires.c_str());
  }
  return kSuccess;
}

// The record's url names the package in the folder of --url; a query or fragment would make that
// folder ambiguous.
Failure CheckUrl(const std::string& url) {
  if (url.find_first_of("?#") != std::string::npos) {
    return Fail("--url names the package's folder or a file in it, without ? or #", kExitUsage);
  }
  return kSuccess;
}

// The name the download is served under: by its content unless --packed-name fixes one.
std::string DownloadName(const Arguments& args, const std::string& packing, const std::string& libraryName,
                         const CByteBuffer& download) {
  if (args.Has("packed-name")) return args.Get("packed-name");
  if (packing == "none") return ContentName(libraryName, download);
  return ContentName(StemOf(libraryName) + (packing == "zip" ? ".zip" : ".vdb"), download);
}

Failure RunConfig(const Arguments& args) {
  for (const char* required : {"file", "url", "pack", "out"}) {
    if (!args.Has(required)) return Fail(std::string("config needs --") + required, kExitUsage);
  }
  std::string packing = args.Get("pack");
  if (packing != "zip" && packing != "velmor" && packing != "none") {
    return Fail("--pack must be zip, velmor or none", kExitUsage);
  }
  Failure url = CheckUrl(args.Get("url"));
  if (url.code) return url;
  Signer signer;
  Failure signing = ReadSigner(args, signer);
  if (signing.code) return signing;
  CByteBuffer library;
  if (!ReadWholeFile(args.Get("file"), library)) return Fail("cannot read the library: " + args.Get("file"));

  LoaderFile record;
  record.file_name = FileNameOf(args.Get("file"));
  record.file_check = Md5Text(library);
  record.path = args.Get("path");
  record.desc = args.Get("desc");
  record.bits =
      args.Has("bits") ? static_cast<unsigned int>(strtoul(args.Get("bits").c_str(), nullptr, 10)) : kDefaultBits;
  record.compress_user_password = packing == "none" ? "" : args.Get("password");

  // Unpacked, the library itself is the download, kept under its own name by the launcher.
  CByteBuffer packed;
  if (packing != "none") {
    record.compress_type = packing;
    Failure packedResult = PackLibrary(packing, record, library, packed);
    if (packedResult.code) return packedResult;
    record.compress_file_check = Md5Text(packed);
  }
  const CByteBuffer& download = packing == "none" ? library : packed;
  std::string downloadName = DownloadName(args, packing, record.file_name, download);
  record.compress_file_name = packing == "none" ? record.file_name : downloadName;
  record.url = FolderUrlOf(args.Get("url")) + downloadName;
  if (signer.Signs()) AddSignedFields(record, signer.signing, library, packed);
  if (!IsPlainFileName(record.file_name) || !IsPlainFileName(downloadName)) {
    return Fail("file names must be plain names without a directory", kExitUsage);
  }

  std::string downloadPath = DirectoryOf(args.Get("out")) + "\\" + downloadName;
  if (!WriteWholeFile(downloadPath, download)) return Fail("cannot write " + downloadPath);
  printf("wrote %s (%s)\n", downloadPath.c_str(), record.url.c_str());
  return SaveChecked(record, args.Get("out"), args.Get("user"), signer, library, packed);
}

// The file a record downloads, beside its configuration: the package, or unpacked the library
// under the name its url gives it.
std::string DownloadNameOf(const LoaderFile& record) {
  return CLoaderConfig::HasCompression(record) ? record.compress_file_name : FileNameOf(record.url);
}

// The record's digests (MD5, and SHA-256 where it has them) describe `library` and `packed`.
bool DescribesFiles(const LoaderFile& record, const CByteBuffer& library, const CByteBuffer& packed) {
  auto same = [](const std::string& md5, const std::string& sha256, const CByteBuffer& bytes) {
    return Md5Equal(md5.c_str(), Md5Text(bytes).c_str()) && (sha256.empty() || sha256 == Sha256Text(bytes));
  };
  if (!same(record.file_check, record.file_sha256, library)) return false;
  return packed.IsEmpty() || same(record.compress_file_check, record.compress_file_sha256, packed);
}

// Reads the configuration to re-sign and what it downloads: the package and the library in it.
Failure ReadRelease(const std::string& path, LoaderFile& record, std::string& user, CByteBuffer& library,
                    CByteBuffer& packed) {
  CByteBuffer bytes;
  CModuleLoader loader("");  // whatever key signed it: its record is signed anew
  if (!ReadWholeFile(path, bytes) || !loader.ParseConfig(bytes)) return Fail("not a loader configuration: " + path);
  record = *loader.GetLoaderFile();
  CDbContainer container;
  if (container.Open(bytes, CModuleLoader::kConfigPassword)) container.ReadTextEntry(CLoaderConfig::kUserEntry, user);
  std::string name = DownloadNameOf(record);
  if (!IsPlainFileName(name)) return Fail("the record names no package file: " + record.url);
  std::string downloadPath = DirectoryOf(path) + "\\" + name;
  CByteBuffer download;
  if (!ReadWholeFile(downloadPath, download))
    return Fail("resign needs the package beside the configuration: " + downloadPath);
  if (!CLoaderConfig::HasCompression(record)) {
    library = download;
  } else {
    packed = download;
    if (!loader.Unpack(packed, library)) return Fail(downloadPath + " does not unpack with the record's password");
  }
  if (!DescribesFiles(record, library, packed)) return Fail(downloadPath + " is not the file the record describes");
  return kSuccess;
}

// Writes `bytes` to `path` unless the file there holds them already (a release's read-only copy).
bool WriteUnlessSame(const std::string& path, const CByteBuffer& bytes) {
  CByteBuffer existing;
  if (ReadWholeFile(path, existing) && Md5Text(existing) == Md5Text(bytes)) return true;
  return WriteWholeFile(path, bytes);
}

Failure RunResign(const Arguments& args) {
  if (args.positional.size() != 1 || !args.Has("sign")) {
    return Fail("resign needs CONFIG and --sign KEY --serial N with --expires TIME or --valid-days N", kExitUsage);
  }
  Signer signer;
  Failure signing = ReadSigner(args, signer);
  if (signing.code) return signing;
  LoaderFile record;
  std::string user;
  CByteBuffer library, packed;
  Failure read = ReadRelease(args.positional[0], record, user, library, packed);
  if (read.code) return read;
  AddSignedFields(record, signer.signing, library, packed);

  std::string out = args.Get("out", args.positional[0].c_str());
  std::string downloadPath = DirectoryOf(out) + "\\" + DownloadNameOf(record);
  if (!WriteUnlessSame(downloadPath, packed.IsEmpty() ? library : packed)) return Fail("cannot write " + downloadPath);
  return SaveChecked(record, out, user, signer, library, packed);
}

Failure RunKeygen(const Arguments& args) {
  if (!args.Has("out")) return Fail("keygen needs --out KEY", kExitUsage);
  std::string path = args.Get("out");
  // Never over an existing key: configurations signed with it would lose their only signer.
  if (CPath(path.c_str()).IsFile() || CPath(path.c_str()).IsDirectory()) return Fail("refusing to overwrite " + path);
  CEcdsaP256Key key;
  P256KeyPair pair;
  if (!key.Generate() || !key.ExportPublic(pair.publicKey) || !key.ExportPrivate(pair.privateKey)) {
    return Fail("the platform cannot make a P-256 key");
  }
  std::string pem = WritePrivateKeyPem(pair);
  std::string publicKey = HexText(pair.publicKey, sizeof(pair.publicKey));
  SecureZeroMemory(&pair, sizeof(pair));
  CByteBuffer bytes(pem.data(), static_cast<int>(pem.size()));
  SecureZeroMemory(&pem[0], pem.size());
  if (!WriteWholeFile(path, bytes)) return Fail("cannot write " + path);
  printf("%s\n", publicKey.c_str());
  return kSuccess;
}

std::string ContainerPassword(const Arguments& args) { return args.Get("password", CModuleLoader::kConfigPassword); }

Failure OpenContainer(const Arguments& args, CByteBuffer& bytes, CDbContainer& container) {
  if (args.positional.size() != 1) return Fail(args.command + " needs exactly one FILE", kExitUsage);
  if (!ReadWholeFile(args.positional[0], bytes)) return Fail("cannot read " + args.positional[0]);
  if (!container.Open(bytes, ContainerPassword(args).c_str())) {
    return Fail("not a container, or the wrong password: " + args.positional[0]);
  }
  return kSuccess;
}

void PrintRecord(const LoaderFile& file) {
  printf("  file_name: %s\n  file_check: %s\n  url: %s\n  path: %s\n  desc: %s\n  bits: %u\n", file.file_name.c_str(),
         file.file_check.c_str(), file.url.c_str(), file.path.c_str(), file.desc.c_str(), file.bits);
  printf("  compress_file_name: %s\n  compress_type: %s\n  compress_user_password: %s\n  compress_file_check: %s\n",
         file.compress_file_name.c_str(), file.compress_type.c_str(), file.compress_user_password.c_str(),
         file.compress_file_check.c_str());
  const std::pair<const char*, const std::string*> signedFields[] = {
      {"file_sha256", &file.file_sha256},
      {"compress_file_sha256", &file.compress_file_sha256},
      {"serial", &file.serial},
      {"expires", &file.expires}};
  for (const auto& field : signedFields) {
    if (!field.second->empty()) printf("  %s: %s\n", field.first, field.second->c_str());
  }
}

// Every entry is listed, or the tool fails: a directory it cannot walk is a damaged container.
Failure ListEntries(CZipReader& zip) {
  for (int i = 0; i < zip.Count(); ++i) {
    std::string name;
    unsigned long size = 0;
    if (!zip.GetEntry(i, &name, &size)) return Fail("the archive's directory is damaged at entry " + std::to_string(i));
    printf("entry %s (%lu bytes)\n", name.c_str(), size);
  }
  return kSuccess;
}

Failure RunShow(const Arguments& args) {
  CByteBuffer bytes;
  CDbContainer container;
  Failure opened = OpenContainer(args, bytes, container);
  if (opened.code) return opened;
  CZipReader zip;
  if (!zip.Open(container.Payload())) return Fail("the container holds no readable archive");
  Failure listed = ListEntries(zip);
  if (listed.code) return listed;
  if (zip.Find(CLoaderConfig::kDataEntry) < 0) return kSuccess;  // a package, not a configuration
  CLoaderConfig config;
  if (!config.LoadFromMemory(bytes, ContainerPassword(args).c_str(), nullptr)) {
    // Only a failed load says why: an entry that cannot be read at all, or its content.
    CByteBuffer data;
    if (!container.ReadEntry(CLoaderConfig::kDataEntry, data)) return Fail("data.txt cannot be read");
    return Fail("data.txt is not a valid record list");
  }
  for (int i = 0; i < config.Count(); ++i) {
    printf("record %d:\n", i);
    PrintRecord(*config.At(i));
  }
  return kSuccess;
}

Failure RunPack(const Arguments& args) {
  if (!args.Has("out") || args.positional.empty()) return Fail("pack needs --out and at least one INPUT", kExitUsage);
  CDbContainer container;
  for (const std::string& input : args.positional) {
    CByteBuffer bytes;
    if (!ReadWholeFile(input, bytes)) return Fail("cannot read " + input);
    if (!container.WriteEntry(FileNameOf(input).c_str(), bytes)) return Fail("cannot add " + input);
  }
  if (!container.Save(args.Get("out").c_str(), ContainerPassword(args).c_str())) {
    return Fail("cannot write " + args.Get("out"));
  }
  printf("wrote %s (%d entries)\n", args.Get("out").c_str(), static_cast<int>(args.positional.size()));
  return kSuccess;
}

Failure RunVerify(const Arguments& args) {
  if (args.positional.size() != 1 || !args.Has("public-key")) {
    return Fail("verify needs FILE and --public-key HEX", kExitUsage);
  }
  CByteBuffer bytes;
  if (!ReadWholeFile(args.positional[0], bytes)) return Fail("cannot read " + args.positional[0]);
  CModuleLoader loader(args.Get("public-key").c_str(), 0, CModuleLoader::EFloor::kBuildMinimumOnly);
  if (!loader.ParseConfig(bytes)) {
    return Fail("refused: not signed with that key, its record incomplete or malformed, or expired");
  }
  printf("verified %s (serial %s)\n", args.positional[0].c_str(), loader.GetLoaderFile()->serial.c_str());
  return kSuccess;
}

Failure RunUnpack(const Arguments& args) {
  if (!args.Has("dir")) return Fail("unpack needs --dir", kExitUsage);
  CByteBuffer bytes;
  CDbContainer container;
  Failure opened = OpenContainer(args, bytes, container);
  if (opened.code) return opened;
  CPath directory(args.Get("dir").c_str());
  if (!directory.MakeDirectory()) return Fail("cannot create " + args.Get("dir"));
  CZipReader zip;
  if (!zip.Open(container.Payload())) return Fail("the container holds no readable archive");
  for (int i = 0; i < zip.Count(); ++i) {
    std::string name;
    CByteBuffer bytes;
    CPath target(directory);
    if (!zip.GetEntry(i, &name, nullptr) || !zip.Extract(i, bytes))
      return Fail("cannot read entry " + std::to_string(i));
    if (!IsPlainFileName(name) || !target.Append(name.c_str())) return Fail("refusing entry name " + name);
    if (!WriteWholeFile(target.c_str(), bytes)) return Fail(std::string("cannot write ") + target.c_str());
    printf("%s\n", target.c_str());
  }
  return kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    fputs(kUsage, stdout);
    return 0;
  }
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, args, error)) {
    fprintf(stderr, "velmor-pack: %s (see --help)\n", error.c_str());
    return kExitUsage;
  }
  Failure result = args.command == "config"   ? RunConfig(args)
                   : args.command == "resign" ? RunResign(args)
                   : args.command == "show"   ? RunShow(args)
                   : args.command == "pack"   ? RunPack(args)
                   : args.command == "unpack" ? RunUnpack(args)
                   : args.command == "keygen" ? RunKeygen(args)
                   : args.command == "verify" ? RunVerify(args)
                                              : Fail("unknown command " + args.command, kExitUsage);
  if (result.code) fprintf(stderr, "velmor-pack: %s\n", result.message.c_str());
  return result.code;
}
