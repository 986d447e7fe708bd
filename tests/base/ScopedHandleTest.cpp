#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "base/FileUtil.h"
#include "base/ScopedHandle.h"

namespace {

// An error no close in these cases would ever set.
constexpr DWORD kCallersError = ERROR_BAD_NETPATH;

struct OwnerCase {
  const char* name;
  std::function<void()> closeWithError;  // makes an owner, sets kCallersError, lets the owner close
};

template <typename Owner>
OwnerCase CaseOf(const char* name, std::function<typename Owner::Handle()> open) {
  return {name, [open] {
            Owner owner(open());
            ASSERT_TRUE(owner.IsValid());
            SetLastError(kCallersError);
          }};
}

// A handle value that was closed already: closing it again fails and sets an error of its own.
HANDLE StaleEvent() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(event);
  return event;
}

}  // namespace

// A failure path reports GetLastError after its owners have closed their handles: the closes,
// failing or not, must leave the caller's error as it was.
TEST(ScopedHandle, ClosingKeepsTheCallersLastError) {
  char file[MAX_PATH] = {};
  ASSERT_TRUE(MakeTempFileName(file));
  const OwnerCase cases[] = {
      CaseOf<CKernelHandle>("event", [] { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }),
      CaseOf<CKernelHandle>("stale handle, whose close fails", StaleEvent),
      CaseOf<CFileHandle>("file",
                          [&] {
                            return CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_FLAG_DELETE_ON_CLOSE, nullptr);
                          }),
      CaseOf<CFindHandle>("search",
                          [] {
                            WIN32_FIND_DATAA found;
                            return FindFirstFileA("C:\\windows\\*", &found);
                          }),
      CaseOf<CRegKey>("registry key",
                      [] {
                        HKEY key = nullptr;
                        RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
                        return key;
                      }),
  };
  for (const OwnerCase& item : cases) {
    SCOPED_TRACE(item.name);
    item.closeWithError();
    EXPECT_EQ(kCallersError, GetLastError());
  }
}

TEST(ScopedHandle, ReplacingAndMovingKeepTheCallersLastError) {
  CKernelHandle owner(StaleEvent());
  HANDLE fresh = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetLastError(kCallersError);
  owner.Reset(fresh);
  EXPECT_EQ(kCallersError, GetLastError());

  CKernelHandle other(StaleEvent());
  SetLastError(kCallersError);
  other = std::move(owner);
  EXPECT_EQ(kCallersError, GetLastError());
  EXPECT_TRUE(other.IsValid());
  EXPECT_FALSE(owner.IsValid());
}
