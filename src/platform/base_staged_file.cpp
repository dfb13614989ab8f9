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

// ---- Where a path leads ----
// A render must leave the same files written as opening its path for writing would. These
// find the file the path finally names, so that the staged copy is made beside that file
// and not beside a link to it.

// Folder part and last name of a path: "a/b" gives "a" and "b", "b" gives "." and "b", "/b"
// gives "/" and "b"; a path ending in "/" has an empty name.
struct PathParts {
    std::string dir, name;
};
PathParts splitPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {std::string(1, '.'), path};
    return {slash == 0 ? std::string(1, '/') : path.substr(0, slash), path.substr(slash + 1)};
}

// Whether the system refuses to follow a link found in a folder: with protected links on (as
// most systems have them), a link in a world-writable sticky folder such as /tmp is followed
// only for its owner or the folder's, so that nobody can aim someone else's render at a file
// of that person's choosing.
bool linkRefused(const struct stat& link, const struct stat& dir) {
    static const bool protectedLinks = [] {
        int on = 1;  // assumed on where the setting cannot be read
        if (FILE* f = std::fopen("/proc/sys/fs/protected_symlinks", "r")) {
            if (std::fscanf(f, "%d", &on) != 1) on = 1;
            std::fclose(f);
        }
        return on != 0;
    }();
    if (!protectedLinks || link.st_uid == geteuid()) return false;
    if ((dir.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return false;
    return link.st_uid != dir.st_uid;
}

// The file `path` finally names, its symbolic links followed as opening it would follow them
// (at most 40). That file may be missing: a dangling link names the file opening it would
// create. False, with errno set, on a loop or a link that cannot be read or followed.
bool followLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0;; ++hops) {
        struct stat st{};
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        if (hops == 40) {
            errno = ELOOP;
            return false;
        }
        const std::string dir = splitPath(target).dir;
        struct stat dirSt{};
        if (stat(dir.c_str(), &dirSt) != 0) return false;
        if (linkRefused(st, dirSt)) {
            errno = EACCES;
            return false;
        }
        std::string to(size_t(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t got = readlink(target.c_str(), to.data(), to.size());
        if (got < 0) return false;
        if (got == 0) {
            errno = ENOENT;
            return false;
        }
        to.resize(size_t(got));
        target = to[0] == '/' ? to : dir + "/" + to;
    }
}

// ---- Staged files ----

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

struct StagedFile::State {
    // False when the path cannot be written; then nothing has been changed.
    bool open(const std::string& path, StagedFile::Target kind) {
        if (path.empty()) return false;
        if (!followLinks(path, final_)) return false;
        struct stat st{};
        if (stat(final_.c_str(), &st) != 0) return errno == ENOENT && openNew();
        if (S_ISDIR(st.st_mode)) return false;
        if (!S_ISREG(st.st_mode)) {
            if (kind == StagedFile::Target::trace) return false;
            // Opening a pipe waits for its reader, as opening the path would.
            direct_ = true;
            file_.reset(std::fopen(path.c_str(), "wb"));
            return bool(file_);
        }
        // Opening the path as a writer would, but without emptying it, decides whether the
        // file may be written, with every rule the system applies (permission bits,
        // read-only mounts, protected links and files in sticky folders); it is emptied only
        // once it is clear that it is written in place.
        const int fd = openRegularDescriptor(path, O_WRONLY | O_CREAT);
        if (fd < 0) return false;
        File existing(fdopen(fd, "wb"));
        if (!existing) {
            ::close(fd);
            return false;
        }
        struct stat opened{};
        if (fstat(fd, &opened) != 0) return false;
        if (opened.st_dev == st.st_dev && opened.st_ino == st.st_ino && renameKeepsTheFile(opened) &&
            createTemp(&opened))
            return true;
        if (ftruncate(fd, 0) != 0) return false;
        direct_ = true;
        file_ = std::move(existing);
        return true;
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

    // A new file at final_: its folder must take a file of that name, as creating it would.
    bool openNew() {
        const auto [dir, name] = splitPath(final_);
        struct stat dirSt{};
        if (name.empty() || stat(dir.c_str(), &dirSt) != 0 || !S_ISDIR(dirSt.st_mode)) return false;
        const long nameMax = pathconf(dir.c_str(), _PC_NAME_MAX);
        if (nameMax > 0 && name.size() > size_t(nameMax)) return false;
        return createTemp(nullptr);
    }

    // Whether renaming a new file over the one at final_ ends as writing into it would: the
    // same file under every name, in a folder where the rename is allowed. The temporary
    // file, if it can be made, takes the owner, group and permission bits.
    bool renameKeepsTheFile(const struct stat& file) const {
        if (file.st_nlink != 1) return false;  // other names would keep the old content
        struct stat dirSt{};
        if (stat(splitPath(final_).dir.c_str(), &dirSt) != 0) return false;
        if (dirSt.st_dev != file.st_dev) return false;  // mounted over a name of its own
        // In a sticky folder only the file's owner or the folder's may replace it.
        const uid_t me = geteuid();
        return !(dirSt.st_mode & S_ISVTX) || file.st_uid == me || dirSt.st_uid == me;
    }

    // Creates the temporary file beside final_. With `replaces`, the file takes its owner,
    // group and permission bits, and false (nothing left behind) means that it cannot.
    bool createTemp(const struct stat* replaces) {
        const auto [dir, base] = splitPath(final_);
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
            file_.reset(fdopen(fd, "wb"));
            if (!file_) ::close(fd);
            if (file_ && replaces && !takeOver(fd, *replaces)) file_.reset();
            if (!file_) {
                discard();
                return false;
            }
            return true;
        }
        return false;
    }

    // The temporary file takes the owner, group and permission bits of the file it replaces,
    // as writing that file in place keeps them. False when the owner or group cannot be given.
    static bool takeOver(int fd, const struct stat& replaces) {
        struct stat mine{};
        if (fstat(fd, &mine) != 0) return false;
        if ((mine.st_uid != replaces.st_uid || mine.st_gid != replaces.st_gid) &&
            fchown(fd, replaces.st_uid, replaces.st_gid) != 0)
            return false;
        return fchmod(fd, replaces.st_mode & 0777) == 0;
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

    std::string final_, temp_;  // the file the path names, and the temporary one beside it
    File file_;
    bool direct_ = false;       // written in place: nothing to rename
    int slot_ = -1;             // the clean-up slot naming temp_, -1 for none
};


InterruptCleanup::InterruptCleanup() : state_(std::make_unique<State>()) {}
InterruptCleanup::~InterruptCleanup() = default;

StagedFile::StagedFile() : state_(std::make_unique<State>()) {}
StagedFile::~StagedFile() = default;

bool StagedFile::open(const std::wstring& finalPath, Target kind) {
    if (finalPath.find(L'\0') != std::wstring::npos) return false;
    return state_->open(wideToUtf8(finalPath), kind);
}
FILE* StagedFile::get() const { return state_->get(); }
bool StagedFile::commit() { return state_->commit(); }
