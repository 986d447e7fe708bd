// Small file services shared by the whole launcher.
#pragma once

// Deletes a file, or a directory with everything below it, as far as it can; reports nothing.
void DeleteTreeBestEffort(const char* path);

// Creates a new, unique, empty file in the temporary directory and gives its full path
// (out holds MAX_PATH bytes). The caller deletes the file.
bool MakeTempFileName(char* out);

// Like MakeTempFileName, but the file's name starts with the whole `prefix` (the system's
// naming keeps only three characters of a prefix).
bool MakePrefixedTempFile(const char* prefix, char* out);
