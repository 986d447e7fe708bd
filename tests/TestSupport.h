// Helpers shared by the tests: scratch folders and files in the test prefix.
#pragma once

#include <string>
#include <vector>

#include "base/ByteBuffer.h"
#include "base/ScopedHandle.h"

// A fresh, empty folder below the temporary directory, deleted with everything in it at the end.
class CScratchDir {
public:
  CScratchDir();
  ~CScratchDir();
  CScratchDir(const CScratchDir&) = delete;
  CScratchDir& operator=(const CScratchDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "\\" + name; }

private:
  std::string m_path;
};

CByteBuffer Bytes(const std::string& text);
std::string Text(const CByteBuffer& buffer);

bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
std::string ExeDirectory();

// Runs a program (command line as the shell would split it) and waits for it; its exit code, or
// kNotStarted / kTimedOut. Message boxes it shows get their default button.
constexpr unsigned long kNotStarted = 0xfffffffe;
constexpr unsigned long kTimedOut = 0xffffffff;
unsigned long RunProgram(const std::string& commandLine, unsigned long timeoutMs = 60000);

std::string Md5Of(const std::string& bytes);

// What a shortcut file says, read back through the shell's link object (COM initialised here)
// and, for the show command, from the file itself.
struct ShortcutFields {
  std::string target;
  std::string arguments;
  std::string description;
  std::string workingDirectory;
  std::string iconPath;
  int iconIndex = -1;
  int showCommand = -1;
};
bool ReadShortcut(const std::string& path, ShortcutFields& out);

// Message boxes of the started process ("#32770" windows), answered while it runs: each box
// takes the first unused answer for its caption; a box without one is answered with its default
// button and still recorded.
struct DialogAnswer {
  std::string caption;
  int button;  // IDYES, IDNO, IDOK...
};
struct DialogSeen {
  std::string caption;
  std::string text;
  bool answered;
};
unsigned long RunProgramAnswering(const std::string& commandLine, const std::vector<DialogAnswer>& answers,
                                  std::vector<DialogSeen>* seen, unsigned long timeoutMs = 60000);

// The running launcher's mark (its single-instance mutex), held by the test: a launcher started
// meanwhile ends at the single-instance rule, after its data directory and first-run steps. A
// locked mark may not be opened by anyone else, as when an elevated copy holds it.
CKernelHandle HoldLauncherInstance(bool locked = false);

// The first visible top-level window of the process with that class (and caption, when given),
// waited for up to `ms`; null when none came.
HWND WaitForWindowOf(DWORD process, const char* className, const char* caption, DWORD ms);

// Fills the address space with the stacks of suspended threads until no new thread finds room
// for the default stack, while small allocations still succeed. It cannot be undone: only for a
// child process that ends after its test.
void UseUpRoomForThreads();
