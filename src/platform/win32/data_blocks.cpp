// The built-in data on Windows: RCDATA resources of the program's own module, compiled from
// the resource script that the build generates (cmake/embed_data_rc.cmake). A resource stays
// mapped, unchanged, for the life of the module.
#include <windows.h>

#include <string>

#include "platform/data_blocks.h"

namespace {

bool findResource(std::u16string_view name, const unsigned char** data, uint64_t* size) {
    if (name.empty() || name.find(u'\0') != std::u16string_view::npos) return false;
    const std::wstring wide(name.begin(), name.end());  // wchar_t holds UTF-16 units here
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC res = FindResourceW(module, wide.c_str(), RT_RCDATA);
    if (!res) return false;
    const HGLOBAL loaded = LoadResource(module, res);
    if (!loaded) return false;
    const void* bytes = LockResource(loaded);
    const DWORD bytesSize = SizeofResource(module, res);
    if (!bytes || bytesSize == 0) return false;
    *data = static_cast<const unsigned char*>(bytes);
    *size = bytesSize;
    return true;
}

}  // namespace

const DataBlockTable* builtinDataBlocks() {
    static const DataBlockTable table{nullptr, 0, findResource};
    return &table;
}
