// What the launcher and a loader library agree on: one undecorated export, two entries, all with
// the WINAPI convention so a library built by any Windows toolchain gets the calls right.
#pragma once

#include <windows.h>

namespace LoaderContract {

constexpr char kQueryInterfaceName[] = "QueryInterface";

// {4792C080-76DE-455D-AF5B-370932D9D5EF}
constexpr GUID kStartEntryId = {0x4792C080, 0x76DE, 0x455D, {0xAF, 0x5B, 0x37, 0x09, 0x32, 0xD9, 0xD5, 0xEF}};
// {D1E674AA-2959-46DD-903F-DA209F1921DC}
constexpr GUID kDataConfigEntryId = {0xD1E674AA, 0x2959, 0x46DD, {0x90, 0x3F, 0xDA, 0x20, 0x9F, 0x19, 0x21, 0xDC}};

// Stores the entry for `iid` in `slot`. Only the low byte of each result is read.
using QueryInterfaceProc = BOOL(WINAPI*)(const GUID* iid, void** slot);
using StartEntryProc = BOOL(WINAPI*)();
using DataConfigEntryProc = BOOL(WINAPI*)(const char* dataDirectory);

// Registered message a second launcher posts to the running workbench's main window.
constexpr char kShowWindowMessageName[] = "get_show_window_msg";

}  // namespace LoaderContract
