// Program-wide values set once at start-up on the main thread, before any other thread
// exists, and only read afterwards; and the decode log writer.
#pragma once

#include <cstdio>
#include <string>

struct DataBlockTable;

// The built-in data of the running program; null means no built-in block is found
// (tests leave it null to exercise the radio folder).
extern const DataBlockTable* g_hInst;
// The program's folder without a trailing "/", or "." when the program path is unknown.
extern std::wstring g_dir;
// The radio folder (station list and recordings) without a trailing "/": <g_dir>/radio, or
// the user's data folder's kestrum/radio for an installed program (app/folders.h).
extern std::wstring g_radioDir;
// The decode log's folder without a trailing "/": g_dir, or the user's state folder's
// kestrum for an installed program (app/folders.h).
extern std::wstring g_logDir;
// The decode log "_decode.log" in g_logDir, or null when tracing is off.
extern FILE* g_dbg;

// Start-up steps before the mode choice: the folder from the program path and, when
// KESTRUM_TRACE is defined, the decode log in g_logDir (the folder made when missing).
// Argument: the program path ("" if unknown).
void programFolderFrom(const std::wstring& programPath);
void openDecodeLog();

// printf-style line to the decode log; nothing while g_dbg is null. %ls arguments are
// written as UTF-8. Each call writes its whole message under the stream lock, then flushes.
// Any thread may call it.
void dbgLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
