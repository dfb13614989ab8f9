#include "app/program.h"

#include <cstdarg>
#include <cstdlib>

#include "app/static_order.h"
#include "platform/data_blocks.h"
#include "platform/files.h"

const DataBlockTable* g_hInst = nullptr;
std::wstring g_dir KESTRUM_STATIC(KESTRUM_ORDER_DIR);
FILE* g_dbg = nullptr;

void programFolderFrom(const std::wstring& programPath) {
    if (programPath.empty()) {
        g_dir = L".";
        return;
    }
    size_t cut = programPath.find_last_of(kPathSep);
    g_dir = (cut == std::wstring::npos) ? programPath : programPath.substr(0, cut);
}

void openDecodeLog() {
    if (!std::getenv("KESTRUM_TRACE")) return;
    g_dbg = fileOpenWrite(g_dir + kPathSep + L"_decode.log");
}

void dbgLog(const char* format, ...) {
    if (!g_dbg) return;
    va_list ap;
    va_start(ap, format);
    fileWriteFormatted(g_dbg, format, ap);
    va_end(ap);
    std::fflush(g_dbg);
}
