#include "platform/data_blocks.h"

bool dataBlockFind(const DataBlockTable* table, std::u16string_view name,
                   const unsigned char** data, uint64_t* size) {
    if (!table) return false;
    if (table->lookup) return table->lookup(name, data, size);
    if (!table->blocks) return false;
    for (uint64_t i = 0; i < table->count; ++i) {
        const DataBlock& b = table->blocks[i];
        if (b.name && name == std::u16string_view(b.name)) {
            if (!b.data || b.size == 0) return false;
            *data = b.data;
            *size = b.size;
            return true;
        }
    }
    return false;
}
