// The table that the generated assembler file defines (kestrum_block_entries, kestrum_block_count).
#include "platform/data_blocks.h"

extern "C" {
extern const DataBlock kestrum_block_entries[];
extern const uint64_t kestrum_block_count;
}

const DataBlockTable* builtinDataBlocks() {
    static const DataBlockTable table{kestrum_block_entries, kestrum_block_count};
    return &table;
}
