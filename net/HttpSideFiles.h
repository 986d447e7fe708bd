// Files beside the executable that change how the HTTP client works on this machine: a proxy
// ("<exe>.Proxy": host, CRLF, port) and a debug switch ("<exe>.Debug.Data") under which every
// request and response is also written to "<exe>.DebugData_..." files. Each counts only while
// it exists with the archive attribute, so clearing that attribute switches it off.
#pragma once

#include <string>

#include "base/ByteBuffer.h"

// The proxy the file names; false (outputs untouched) when there is none or it is malformed.
bool ReadProxyFile(std::string* host, int* port);

bool IsHttpDebugOn();
// A new, unused debug file name ("<exe>.DebugData_<counter>_<local time>.dat").
std::string NewDebugFileName();
// Creates or truncates the file and writes the bytes; an empty `name` is first given a new name.
void WriteDebugFile(std::string& name, const CByteBuffer& bytes);
