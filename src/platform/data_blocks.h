// Built-in data blocks: the station list and recordings compiled into the program.
//
// The build embeds every list and recording of data/ as a named, read-only block
// (cmake/embed_data.cmake). Blocks live as long as the program and are never copied
// or written. Lookup is a linear scan of a small table; any thread may call it.
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
};

// The table of the running program (defined by the kestrum_data library).
const DataBlockTable* builtinDataBlocks();

// Finds a block by exact name. True only when found with a non-null pointer and a
// non-zero size; *data and *size are left untouched otherwise. A null table finds nothing.
bool dataBlockFind(const DataBlockTable* table, std::u16string_view name,
                   const unsigned char** data, uint64_t* size);
