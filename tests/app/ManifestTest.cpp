// What velmor.exe carries for the system, read back from the built file: its application manifest,
// parsed, and the libraries it imports.
#include <gtest/gtest.h>

#include <windows.h>
#include <initguid.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/ComPtr.h"

namespace {

constexpr WORD kManifestId = 1;     // CREATEPROCESS_MANIFEST_RESOURCE_ID
constexpr WORD kManifestType = 24;  // RT_MANIFEST

struct Element {
  std::string name;  // local name
  std::map<std::string, std::string> attributes;
};

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);  // the manifest is ASCII
  return out;
}

std::string ManifestBytes() {
  std::string exe = ExeDirectory() + "\\velmor.exe";
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "";
  std::string bytes;
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(kManifestId), MAKEINTRESOURCEA(kManifestType));
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  if (loaded) bytes.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, resource));
  FreeLibrary(module);
  return bytes;
}

// Every element in document order; false when the reader finds the text is not well-formed XML.
using CreateReaderProc = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
bool ParseElements(const std::string& bytes, std::vector<Element>& out) {
  HMODULE xmllite = LoadLibraryA("xmllite.dll");  // MinGW ships no import library for it
  void* found = xmllite ? reinterpret_cast<void*>(GetProcAddress(xmllite, "CreateXmlReader")) : nullptr;
  auto create = reinterpret_cast<CreateReaderProc>(found);
  if (!create) return false;
  CComPtr<IStream> stream;
  *stream.Put() = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
  CComPtr<IXmlReader> reader;
  if (!stream || FAILED(create(IID_IXmlReader, reader.PutVoid(), nullptr))) return false;
  if (FAILED(reader->SetInput(stream.Get()))) return false;
  XmlNodeType type;
  HRESULT result;
  while ((result = reader->Read(&type)) == S_OK) {
    if (type != XmlNodeType_Element) continue;
    const wchar_t* name = nullptr;
    reader->GetLocalName(&name, nullptr);
    Element element{Narrow(name), {}};
    for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK; more = reader->MoveToNextAttribute()) {
      const wchar_t* value = nullptr;
      reader->GetLocalName(&name, nullptr);
      reader->GetValue(&value, nullptr);
      element.attributes[Narrow(name)] = Narrow(value);
    }
    out.push_back(element);
  }
  return result == S_FALSE;  // the end of the input, reached without an error
}

}  // namespace

TEST(ProperWindowsProgram, TheExecutableCarriesAnAsInvokerManifestForVistaToWindows11) {
  std::string bytes = ManifestBytes();
  ASSERT_FALSE(bytes.empty()) << "velmor.exe has no manifest resource";
  std::vector<Element> elements;
  ASSERT_TRUE(ParseElements(bytes, elements)) << bytes;
  ASSERT_FALSE(elements.empty());
  EXPECT_EQ("assembly", elements[0].name);

  std::set<std::string> supported, levels, dependencies;
  for (const Element& element : elements) {
    if (element.name == "supportedOS") supported.insert(element.attributes.at("Id"));
    if (element.name == "requestedExecutionLevel") levels.insert(element.attributes.at("level"));
    if (element.name == "assemblyIdentity" && element.attributes.count("publicKeyToken")) {
      dependencies.insert(element.attributes.at("name") + " " + element.attributes.at("version"));
    }
  }
  EXPECT_EQ(std::set<std::string>{"asInvoker"}, levels);
  const std::set<std::string> vistaToEleven = {
      "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};
  EXPECT_EQ(vistaToEleven, supported);
  EXPECT_EQ(std::set<std::string>{"Microsoft.Windows.Common-Controls 6.0.0.0"}, dependencies);
}

namespace {

// The names in the import table of the PE image `image`, read by file offsets, upper-cased.
std::set<std::string> ImportedLibraries(const std::string& image) {
  std::set<std::string> names;
  const BYTE* base = reinterpret_cast<const BYTE*>(image.data());
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
  auto offsetOf = [&](DWORD rva) -> size_t {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& s = sections[i];
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize) {
        return rva - s.VirtualAddress + s.PointerToRawData;
      }
    }
    return 0;
  };
  DWORD importsRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + offsetOf(importsRva)); entry->Name;
       ++entry) {
    std::string name = reinterpret_cast<const char*>(base + offsetOf(entry->Name));
    CharUpperBuffA(&name[0], static_cast<DWORD>(name.size()));
    names.insert(name);
  }
  return names;
}

}  // namespace

// A library that is no KnownDLL is looked for beside the executable first: imported, a planted copy
// would run before any of our code. (Under Wine this is not shown by planting: Wine's own user32
// imports version.dll, so a planted version.dll is loaded whatever we import.)
TEST(ProperWindowsProgram, TheExecutableImportsOnlyKnownDlls) {
  const std::set<std::string> known = {"ADVAPI32.DLL", "GDI32.DLL",   "KERNEL32.DLL", "MSVCRT.DLL", "OLE32.DLL",
                                       "OLEAUT32.DLL", "SHELL32.DLL", "USER32.DLL",   "WS2_32.DLL"};
  std::string image = ReadFileBytes(ExeDirectory() + "\\velmor.exe");
  ASSERT_GT(image.size(), 4096u);
  std::set<std::string> imported = ImportedLibraries(image);
  EXPECT_TRUE(imported.count("KERNEL32.DLL"));  // the table was read
  for (const std::string& name : imported) EXPECT_TRUE(known.count(name)) << name << " is no KnownDLL";
}
