// Finding a station's recording: the built-in block first, else <g_dir>/radio/<file>.
// Shared by the length probe (station.cpp) and the clip decoder (decoder.cpp); not used
// outside src/catalog.
//
// Any thread may call these; they only read g_hInst and g_dir. openRecording allocates
// (the path) and, for a folder file, owns the open stream until the source is destroyed.
#pragma once

#include <cstdint>
#include <string>

#include "base/file_handle.h"

// Opens a regular file for reading ("rb"). Null when it cannot be opened, when the path
// holds a zero character, or when it names something that is not a regular file (a folder
// opens fine on Linux but every read fails; a pipe or device could block or never end).
// Never waits: a named pipe without a writer is refused at once, not waited on.
FileHandle openRegularFile(const std::wstring& path);

struct RecordingSource {
    const unsigned char* block = nullptr;  // built-in bytes, or null for a folder file
    FileHandle file;                       // the open folder file, or null for a block
    int64_t size = 0;                      // bytes in the whole recording; -1 if unknown
};

// The recording of a station's `file`. False when there is no block and the folder file
// cannot be opened. A folder file's size is its end position; the stream is left at the end.
bool openRecording(const std::wstring& file, RecordingSource& src);
