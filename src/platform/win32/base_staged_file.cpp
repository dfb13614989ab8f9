// Staged files on Windows: a temporary file beside the target, FlushFileBuffers, then
// MoveFileExW over the target; a console control handler removes the temporary files of an
// interrupted render (Ctrl+C, Ctrl+Break, the console closing) before the process ends as it
// otherwise would.
//
// Sections: clean-up on interruption, staged files.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/clock.h"
#include "platform/staged_file.h"

namespace {

// ---- Clean-up on interruption ----
// The handler runs on a thread of its own; it reads the armed paths from static storage.

constexpr int kStagedSlots = 4;  // a render stages two files: the WAV and its trace
constexpr size_t kSlotChars = 32768;  // the longest path Windows knows, terminator included

enum SlotState : int { SlotFree, SlotClaimed, SlotArmed };
std::atomic<int> g_slotState[kStagedSlots];
wchar_t g_slotPath[kStagedSlots][kSlotChars];

BOOL WINAPI removeStaged(DWORD) {
    for (int i = 0; i < kStagedSlots; ++i)
        if (g_slotState[i].load() == SlotArmed) DeleteFileW(g_slotPath[i]);
    return FALSE;  // and on to the next handler: by default, the process ends
}

int claimSlot(const std::wstring& path) {
    if (path.size() >= kSlotChars) return -1;
    for (int i = 0; i < kStagedSlots; ++i) {
        int expected = SlotFree;
        if (!g_slotState[i].compare_exchange_strong(expected, SlotClaimed)) continue;
        wmemcpy(g_slotPath[i], path.c_str(), path.size() + 1);
        return i;
    }
    return -1;
}

void freeSlot(int& slot) {
    if (slot >= 0) g_slotState[slot].store(SlotFree);
    slot = -1;
}

uint64_t nextTag(uint64_t& x) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace

struct InterruptCleanup::State {
    bool installed = SetConsoleCtrlHandler(removeStaged, TRUE) != 0;
    ~State() {
        if (installed) SetConsoleCtrlHandler(removeStaged, FALSE);
    }
};

// ---- Staged files ----

struct StagedFile::State {
    bool open(const std::wstring& finalPath, StagedFile::Target kind) {
        if (finalPath.empty() || finalPath.find(L'\0') != std::wstring::npos) return false;
        final_ = finalPath;
        const DWORD attrs = GetFileAttributesW(finalPath.c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return false;
        if (attrs != INVALID_FILE_ATTRIBUTES && !isDiskFile(finalPath)) {
            // A device such as NUL or a pipe: written in place, and never a trace.
            if (kind == StagedFile::Target::trace) return false;
            direct_ = true;
            file_.reset(_wfopen(finalPath.c_str(), L"wb"));
            return bool(file_);
        }
        const size_t sep = finalPath.find_last_of(L"\\/");
        const std::wstring dir = sep == std::wstring::npos ? std::wstring(L".") : finalPath.substr(0, sep);
        const std::wstring base = sep == std::wstring::npos ? finalPath : finalPath.substr(sep + 1);
        uint64_t seed = timeSeed();
        for (int attempt = 0; attempt < 16; ++attempt) {
            wchar_t tag[24];
            std::swprintf(tag, 24, L"%012llx", (unsigned long long)(nextTag(seed) >> 16));
            const std::wstring tmp = dir + L"\\." + base + L"." + tag + L".part";
            int slot = claimSlot(tmp);
            const HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                const DWORD err = GetLastError();
                freeSlot(slot);
                if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) continue;
                return false;
            }
            if (slot >= 0) g_slotState[slot].store(SlotArmed);
            temp_ = tmp;
            slot_ = slot;
            const int fd = _open_osfhandle(intptr_t(h), _O_WRONLY | _O_BINARY);
            if (fd < 0) {
                CloseHandle(h);
                discard();
                return false;
            }
            file_.reset(_fdopen(fd, "wb"));
            if (!file_) {
                _close(fd);
                discard();
                return false;
            }
            return true;
        }
        return false;
    }

    FILE* get() const { return file_.get(); }

    bool commit() {
        if (!file_) return false;
        bool ok = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
        // The data must be on the disk before the move makes it visible under the final name.
        if (!direct_ && ok) ok = FlushFileBuffers(HANDLE(_get_osfhandle(_fileno(file_.get())))) != 0;
        ok = (std::fclose(file_.release()) == 0) && ok;
        if (direct_) return ok;
        if (ok) {
            ok = MoveFileExW(temp_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            if (ok) {
                freeSlot(slot_);
                temp_.clear();
            }
        }
        if (!ok) discard();
        return ok;
    }

    ~State() {
        file_.reset();
        if (!temp_.empty()) discard();
    }

private:
    static bool isDiskFile(const std::wstring& path) {
        const HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return true;  // staged; the move will tell
        const bool disk = GetFileType(h) == FILE_TYPE_DISK;
        CloseHandle(h);
        return disk;
    }

    void discard() {
        DeleteFileW(temp_.c_str());
        freeSlot(slot_);
        temp_.clear();
    }

    std::wstring final_, temp_;
    std::unique_ptr<FILE, FileCloser> file_;
    bool direct_ = false;
    int slot_ = -1;
};

InterruptCleanup::InterruptCleanup() : state_(std::make_unique<State>()) {}
InterruptCleanup::~InterruptCleanup() = default;

StagedFile::StagedFile() : state_(std::make_unique<State>()) {}
StagedFile::~StagedFile() = default;

bool StagedFile::open(const std::wstring& finalPath, Target kind) { return state_->open(finalPath, kind); }
FILE* StagedFile::get() const { return state_->get(); }
bool StagedFile::commit() { return state_->commit(); }
