// Process rights: the debug privilege, the elevation test and the elevated relaunch.
#pragma once

bool EnableDebugPrivilege();
bool IsProcessElevated();

// Starts this executable again with `parameters` and waits for it: directly when this process
// already has the rights (or the system has no elevation), else through the shell's "runas".
void RunElevated(const char* parameters);
