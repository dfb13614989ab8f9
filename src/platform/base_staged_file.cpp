// Staged files on POSIX: a temporary file beside the target, fsync, rename; signal handlers
// that remove the temporary files of an interrupted write.
//
// Sections: clean-up on interruption, staged files.
#include "platform/staged_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/paths.h"

namespace {

// One xorshift64 step: the temporary name's tag.
uint64_t nextTag(uint64_t& x) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
}

// ---- Clean-up on interruption ----
// While a render stages files, SIGINT, SIGTERM and SIGHUP remove the temporary files before
// they end the process as they otherwise would: the handler unlinks the paths armed here,
// restores the default action and raises the signal again, so the exit status still names
// it. The paths live in static storage because the handler may only use async-signal-safe
// calls. A signal the process ignores, or one that has a handler of its own, is left alone.

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kStagedSlots = 4;  // a render stages two files: the WAV and its trace

enum SlotState : int { SlotFree, SlotClaimed, SlotArmed };
std::atomic<int> g_slotState[kStagedSlots];
char g_slotPath[kStagedSlots][PATH_MAX];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slot states");

extern "C" void removeStagedAndRaise(int sig) {
    for (int i = 0; i < kStagedSlots; ++i)
        if (g_slotState[i].load() == SlotArmed) ::unlink(g_slotPath[i]);
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    // Blocked while the handler runs: delivered, with its default action, once it returns.
    raise(sig);
}

}  // namespace

// The handler for the life of one render; the earlier dispositions come back afterwards.
struct InterruptCleanup::State {
    State() {
        for (size_t i = 0; i < std::size(kCleanupSignals); ++i) {
            struct sigaction old{};
            if (sigaction(kCleanupSignals[i], nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
                (old.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction sa{};
            sa.sa_handler = removeStagedAndRaise;
            sigemptyset(&sa.sa_mask);
            for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
            installed_[i] = sigaction(kCleanupSignals[i], &sa, &saved_[i]) == 0;
        }
    }
    ~State() {
        for (size_t i = 0; i < std::size(kCleanupSignals); ++i)
            if (installed_[i]) sigaction(kCleanupSignals[i], &saved_[i], nullptr);
    }

    struct sigaction saved_[std::size(kCleanupSignals)]{};
    bool installed_[std::size(kCleanupSignals)]{};
};

namespace {

// Holds off the clean-up signals on this thread while a staged file and its slot change
// together (created and armed, renamed or removed and freed).
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kCleanupSignals) sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};

// A slot holding `path`, claimed but not armed; -1 when none is free or the path is too long
// (the file is then staged without the clean-up).
int claimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kStagedSlots; ++i) {
        int expected = SlotFree;
        if (!g_slotState[i].compare_exchange_strong(expected, SlotClaimed)) continue;
        std::memcpy(g_slotPath[i], path.c_str(), path.size() + 1);
        return i;
    }
    return -1;
}

void freeSlot(int& slot) {
    if (slot >= 0) g_slotState[slot].store(SlotFree);
    slot = -1;
}

// ---- Staged files ----

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

// A file written under a temporary name beside its final path and moved into place by
// commit(); destroying it uncommitted removes the temporary file. Paths that are not
// regular files (devices, FIFOs) are written directly.
struct StagedFile::State {
    bool open(const std::string& finalPath) {
        final_ = finalPath;
        struct stat st{};
        std::string target = finalPath;
        if (lstat(finalPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            // Replace the file a link points to, not the link.
            char* real = realpath(finalPath.c_str(), nullptr);
            if (real) {
                target = real;
                std::free(real);
            }
        }
        const bool exists = stat(target.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) return false;
            direct_ = true;
            file_.reset(std::fopen(target.c_str(), "wb"));
            return bool(file_);
        }
        final_ = target;
        size_t slash = target.find_last_of('/');
        std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
        if (slash == 0) dir = "/";
        std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        uint64_t seed = timeSeed();
        // The temporary name says whose it is; when that would be longer than the folder
        // allows a name to be, a short one does (the final name itself may well fit).
        bool shortName = false;
        for (int attempt = 0; attempt < 16; ++attempt) {
            char tag[24];
            std::snprintf(tag, sizeof tag, "%012llx", (unsigned long long)(nextTag(seed) >> 16));
            std::string tmp = shortName ? dir + "/.kestrum-" + tag : dir + "/." + base + "." + tag + ".part";
            int slot = claimSlot(tmp);
            int fd, err;
            {
                SignalsHeld held;
                fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
                err = errno;
                if (fd >= 0 && slot >= 0) g_slotState[slot].store(SlotArmed);
            }
            if (fd < 0) {
                freeSlot(slot);
                if (err == EEXIST) continue;
                if (err == ENAMETOOLONG && !shortName) {
                    shortName = true;
                    continue;
                }
                return false;
            }
            temp_ = tmp;
            slot_ = slot;
            // A file that replaces another keeps its permissions, as writing it in place would;
            // best effort (a file owned by someone else may refuse).
            if (exists) (void)fchmod(fd, st.st_mode & 0777);
            file_.reset(fdopen(fd, "wb"));
            if (!file_) {
                ::close(fd);
                discard();
                return false;
            }
            return true;
        }
        return false;
    }

    FILE* get() const { return file_.get(); }

    // Flushes, closes and moves the file into place. False on any write or close error.
    bool commit() {
        if (!file_) return false;
        bool ok = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
        if (!direct_ && ok) ok = fsyncIfRegular(fileno(file_.get()));
        ok = (std::fclose(file_.release()) == 0) && ok;
        if (direct_) return ok;
        if (ok) {
            SignalsHeld held;
            ok = std::rename(temp_.c_str(), final_.c_str()) == 0;
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

    // Removes the temporary file and forgets it.
    void discard() {
        {
            SignalsHeld held;
            ::unlink(temp_.c_str());
            freeSlot(slot_);
        }
        temp_.clear();
    }

    // The data must be on the disk before the rename makes it visible under the final name.
    static bool fsyncIfRegular(int fd) { return ::fsync(fd) == 0 || errno == EINVAL; }

    std::string final_, temp_;
    File file_;
    bool direct_ = false;
    int slot_ = -1;  // the clean-up slot naming temp_, -1 for none
};


InterruptCleanup::InterruptCleanup() : state_(std::make_unique<State>()) {}
InterruptCleanup::~InterruptCleanup() = default;

StagedFile::StagedFile() : state_(std::make_unique<State>()) {}
StagedFile::~StagedFile() = default;

bool StagedFile::open(const std::wstring& finalPath) {
    if (finalPath.find(L'\0') != std::wstring::npos) return false;
    return state_->open(wideToUtf8(finalPath));
}
FILE* StagedFile::get() const { return state_->get(); }
bool StagedFile::commit() { return state_->commit(); }
