#include "TestSupport.h"

#include "BuildConfig.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <set>

#include "base/ComPtr.h"
#include "base/FileUtil.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "base/TextFormat.h"

CScratchDir::CScratchDir() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  CPath path(temp);
  path.Append(("velmor_test_" + NewGuidText()).c_str());
  path.MakeDirectory();
  m_path = path.c_str();
}

CScratchDir::~CScratchDir() { DeleteTreeBestEffort(m_path.c_str()); }

CByteBuffer Bytes(const std::string& text) { return CByteBuffer(text.data(), static_cast<int>(text.size())); }

std::string Text(const CByteBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Length());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  return Bytes(bytes).WriteToFile(path.c_str(), false) == static_cast<int>(bytes.size());
}

std::string ReadFileBytes(const std::string& path) {
  CByteBuffer buffer;
  if (buffer.ReadFromFile(path.c_str()) <= 0) return std::string();
  return Text(buffer);
}

bool FileExists(const std::string& path) { return CPath(path.c_str()).IsFile(); }

bool DirectoryExists(const std::string& path) { return CPath(path.c_str()).IsDirectory(); }

std::string ExeDirectory() {
  CPath path;
  path.SetToExeDirectory();
  return path.c_str();
}

unsigned long RunProgram(const std::string& commandLine, unsigned long timeoutMs) {
  return RunProgramAnswering(commandLine, {}, nullptr, timeoutMs);
}

std::string Md5Of(const std::string& bytes) {
  char digest[kMd5HexSize];
  Md5Hex(bytes.data(), bytes.size(), digest);
  return digest;
}

bool ReadShortcut(const std::string& path, ShortcutFields& out) {
  CoInitialize(nullptr);
  CComPtr<IShellLinkA> link;
  CComPtr<IPersistFile> file;
  wchar_t widePath[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH) ||
      FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.PutVoid())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid())) || FAILED(file->Load(widePath, STGM_READ))) {
    return false;
  }
  char text[1024];
  WIN32_FIND_DATAA data;
  out.target = SUCCEEDED(link->GetPath(text, sizeof(text), &data, SLGP_RAWPATH)) ? text : "";
  out.arguments = SUCCEEDED(link->GetArguments(text, sizeof(text))) ? text : "";
  out.description = SUCCEEDED(link->GetDescription(text, sizeof(text))) ? text : "";
  out.workingDirectory = SUCCEEDED(link->GetWorkingDirectory(text, sizeof(text))) ? text : "";
  out.iconPath = SUCCEEDED(link->GetIconLocation(text, sizeof(text), &out.iconIndex)) ? text : "";
  // Wine's link object does not load the show command, so it is read from the file's header.
  constexpr size_t kShowCommandOffset = 0x3c;
  std::string bytes = ReadFileBytes(path);
  if (bytes.size() < kShowCommandOffset + 4) return false;
  memcpy(&out.showCommand, bytes.data() + kShowCommandOffset, 4);
  return true;
}

namespace {

constexpr int kMessageBoxTextId = 0xffff;
constexpr DWORD kDialogPollMs = 100;

struct DialogSearch {
  DWORD processId;  // only this process's boxes: other tests may show theirs at the same time
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[32];
  if (owner == search->processId && IsWindowVisible(window) && GetClassNameA(window, className, sizeof(className)) &&
      strcmp(className, "#32770") == 0) {
    search->found.push_back(window);
  }
  return TRUE;
}

int DefaultButton(HWND dialog) {
  for (int id : {IDOK, IDNO, IDCANCEL}) {
    if (GetDlgItem(dialog, id)) return id;
  }
  return IDCANCEL;
}

void AnswerDialogs(DWORD processId, std::set<HWND>& handled, std::vector<bool>& used,
                   const std::vector<DialogAnswer>& answers, std::vector<DialogSeen>* seen) {
  DialogSearch search = {processId, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  for (HWND dialog : search.found) {
    if (!handled.insert(dialog).second) continue;
    char caption[256] = {}, text[1024] = {};
    GetWindowTextA(dialog, caption, sizeof(caption));
    GetDlgItemTextA(dialog, kMessageBoxTextId, text, sizeof(text));
    int button = DefaultButton(dialog);
    bool answered = false;
    for (size_t i = 0; i < answers.size() && !answered; ++i) {
      if (!used[i] && answers[i].caption == caption) {
        used[i] = answered = true;
        button = answers[i].button;
      }
    }
    if (seen) seen->push_back({caption, text, answered});
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
  }
}

}  // namespace

unsigned long RunProgramAnswering(const std::string& commandLine, const std::vector<DialogAnswer>& answers,
                                  std::vector<DialogSeen>* seen, unsigned long timeoutMs) {
  std::string writable = commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return kNotStarted;
  }
  CKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
  std::set<HWND> handled;
  std::vector<bool> used(answers.size(), false);
  for (DWORD waited = 0; WaitForSingleObject(process.hProcess, kDialogPollMs) == WAIT_TIMEOUT;
       waited += kDialogPollMs) {
    if (waited >= timeoutMs) {
      TerminateProcess(process.hProcess, 1);
      return kTimedOut;
    }
    AnswerDialogs(process.dwProcessId, handled, used, answers, seen);
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
}

CKernelHandle HoldLauncherInstance(bool locked) {
  std::string name = std::string("velmor_app:http://www.") + BuildConfig::kProductDomain;
  // An empty access list grants nothing to anyone; our own handle keeps the rights it was made with.
  SECURITY_DESCRIPTOR descriptor;
  ACL emptyList;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  InitializeAcl(&emptyList, sizeof(emptyList), ACL_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyList, FALSE);
  SECURITY_ATTRIBUTES security = {sizeof(security), &descriptor, FALSE};
  return CKernelHandle(CreateMutexA(locked ? &security : nullptr, FALSE, name.c_str()));
}

namespace {

DWORD WINAPI Parked(void*) { return 0; }  // never resumed

struct WindowSearch {
  DWORD process;
  const char* className;
  const char* caption;  // null: any
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char name[64] = {}, text[256] = {};
  GetClassNameA(window, name, sizeof(name));
  GetWindowTextA(window, text, sizeof(text));
  if (owner != search->process || !IsWindowVisible(window) || strcmp(name, search->className) != 0) return TRUE;
  if (search->caption && strcmp(text, search->caption) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

HWND WaitForWindowOf(DWORD process, const char* className, const char* caption, DWORD ms) {
  WindowSearch search = {process, className, caption, nullptr};
  for (DWORD waited = 0; !search.found && waited <= ms; waited += 50) {
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(50);
  }
  return search.found;
}

// The heaps grow by new segments of about a megabyte; with no room left they could not, so they
// are made to grow first: what is freed stays theirs for later allocations.
void GrowHeapsBeforehand() {
  constexpr int kBlocks = 4096;
  constexpr size_t kBlockBytes = 1024;
  std::vector<std::unique_ptr<char[]>> blocks;
  std::vector<void*> processHeapBlocks;
  for (int i = 0; i < kBlocks; ++i) {
    blocks.emplace_back(new char[kBlockBytes]);
    processHeapBlocks.push_back(HeapAlloc(GetProcessHeap(), 0, kBlockBytes));
  }
  for (void* block : processHeapBlocks) HeapFree(GetProcessHeap(), 0, block);
}

void UseUpRoomForThreads() {
  constexpr SIZE_T kLargest = 512u << 20;
  constexpr SIZE_T kSmallest = 1u << 20;  // half the default stack: smaller holes stay for the heap
  GrowHeapsBeforehand();
  for (SIZE_T size = kLargest; size >= kSmallest; size /= 2) {
    while (HANDLE thread = CreateThread(nullptr, size, Parked, nullptr,
                                        CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)) {
      CloseHandle(thread);
    }
  }
}
