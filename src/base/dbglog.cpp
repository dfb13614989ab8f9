#include "base/program.h"

#include <cstdarg>
#include <cstdlib>

#include "base/static_order.h"
#include "platform/data_blocks.h"
#include "platform/files.h"
#include "platform/paths.h"

const DataBlockTable* g_hInst = nullptr;
std::wstring g_dir KESTRUM_STATIC(KESTRUM_ORDER_DIR);
std::wstring g_radioDir;
std::wstring g_logDir;
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
    // Only a regular file (or a new one) takes the log: a named pipe there would hold the
    // program in the open until something reads it, and a device is no log.
    makeFolders(g_logDir);
    g_dbg = openRegularFile(g_logDir + kPathSep + L"_decode.log", FileAccess::write).release();
}

void dbgLog(const char* format, ...) {
    if (!g_dbg) return;
    va_list ap;
    va_start(ap, format);
    fileWriteFormatted(g_dbg, format, ap);
    va_end(ap);
    std::fflush(g_dbg);
}
