// Small file services shared by the whole launcher.
#pragma once

#include <string>

// CPath::DeleteTree going on past what it cannot delete, for clean-ups that report nothing.
void DeleteTreeBestEffort(const char* path);

// Creates a new, unique, empty file in the temporary directory and gives its full path
// (out holds MAX_PATH bytes). The caller deletes the file.
bool MakeTempFileName(char* out);

// Like MakeTempFileName, but the file's name starts with the whole `prefix` (the system's
// naming keeps only three characters of a prefix).
bool MakePrefixedTempFile(const char* prefix, char* out);

class CByteBuffer;

// Replaces the file at `path` with `bytes` so that a crash or a power cut mid-write leaves the old
// file or the new one, never part of one: the bytes go to PartialFileOf(path) in the same folder,
// are flushed to the disk, and that file is moved over the old one. False unless every byte landed.
bool ReplaceFileAtomically(const char* path, const CByteBuffer& bytes);
// Where ReplaceFileAtomically writes before the move: "<path>.partial"; empty when over the limit.
std::string PartialFileOf(const char* path);
// Deletes the partial file a write that never finished left beside `path`, if any.
void RemovePartialFile(const char* path);

// For tests that end a process in the middle of a write: called with the partial file's path once
// part of the bytes are written, before the rest (null: no hook, as in the product).
using PartialWriteHook = void (*)(const char* partialPath);
void SetPartialWriteHook(PartialWriteHook hook);
