// Small file services shared by the whole launcher.
#pragma once

// CPath::DeleteTree going on past what it cannot delete, for clean-ups that report nothing.
void DeleteTreeBestEffort(const char* path);

// Creates a new, unique, empty file in the temporary directory and gives its full path
// (out holds MAX_PATH bytes). The caller deletes the file.
bool MakeTempFileName(char* out);

// Like MakeTempFileName, but the file's name starts with the whole `prefix` (the system's
// naming keeps only three characters of a prefix).
bool MakePrefixedTempFile(const char* prefix, char* out);
