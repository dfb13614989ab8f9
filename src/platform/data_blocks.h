// Built-in data blocks: the station list and recordings compiled into the program.
//
// The build embeds every list and recording of data/ as a named, read-only block: on Linux
// in a table of the program (cmake/embed_data.cmake), on Windows as RCDATA resources of the
// module (cmake/embed_data_rc.cmake), which the table's lookup function finds by name.
// Blocks live as long as the program and are never copied or written. Lookup is a linear
// scan of a small table, or the system's resource lookup; any thread may call it.
#pragma once

#include <cstdint>
#include <string_view>

struct DataBlock {
    const char16_t* name;       // zero-terminated UTF-16 block name, e.g. u"R_STATIONS_TXT"
    const unsigned char* data;  // first byte of the block
    uint64_t size;              // bytes
};

struct DataBlockTable {
    const DataBlock* blocks;
    uint64_t count;
    // When set, names are looked up here instead of in blocks (the module's resources on
    // Windows); same contract as dataBlockFind.
    bool (*lookup)(std::u16string_view name, const unsigned char** data, uint64_t* size) = nullptr;
};

// The table of the running program (defined by the kestrum_data library).
const DataBlockTable* builtinDataBlocks();

// Finds a block by exact name. True only when found with a non-null pointer and a
// non-zero size; *data and *size are left untouched otherwise. A null table finds nothing.
bool dataBlockFind(const DataBlockTable* table, std::u16string_view name,
                   const unsigned char** data, uint64_t* size);
