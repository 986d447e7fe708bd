// An account of the loader's calls for unattended checks: when VELMOR_LOADER_TRACE names a file,
// every event appends one line "EVENT thread=ID main_thread=ID data=DIRECTORY".
#pragma once

extern const wchar_t kTraceVariable[];

// `dataDirectory` may be null; the line then ends in an empty "data=".
void TraceCall(const char* event, const char* dataDirectory);
