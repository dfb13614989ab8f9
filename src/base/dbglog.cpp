#include "base/program.h"

#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <locale.h>

#include "base/static_order.h"
#include "platform/data_blocks.h"
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
    size_t cut = programPath.find_last_of(L'/');
    g_dir = (cut == std::wstring::npos) ? programPath : programPath.substr(0, cut);
}

void openDecodeLog() {
    if (!std::getenv("KESTRUM_TRACE")) return;
    // Only a regular file (or a new one) takes the log: a named pipe there would hold the
    // program in the open until something reads it, and a device is no log.
    makeFolders(g_logDir);
    g_dbg = openRegularFile(g_logDir + L"/_decode.log", FileAccess::write).release();
}

void dbgLog(const char* format, ...) {
    if (!g_dbg) return;
    // %ls goes through the thread's locale; a UTF-8 locale on this thread alone makes
    // names with non-ASCII characters come out whole, whatever the process locale is.
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    locale_t previous = utf8 ? uselocale(utf8) : nullptr;
    va_list ap;
    va_start(ap, format);
    flockfile(g_dbg);
    std::vfprintf(g_dbg, format, ap);
    funlockfile(g_dbg);
    va_end(ap);
    std::fflush(g_dbg);
    if (previous) uselocale(previous);
}
