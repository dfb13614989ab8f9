#include "audio/render_wav.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "base/rng.h"
#include "base/sample_rate.h"
#include "catalog/decoder.h"
#include "engine/engine.h"
#include "platform/clock.h"
#include "platform/paths.h"  // openRegularDescriptor, FileHandle

static_assert(std::endian::native == std::endian::little, "the WAV writer stores native little-endian");

namespace {

constexpr int kBlock = 1024;          // samples per render call and per trace line
constexpr size_t kTraceNameMax = 520;  // bytes of the trace file name, terminator included

void put16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
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

// The handler for the life of one render; the earlier dispositions come back afterwards.
class InterruptCleanup {
public:
    InterruptCleanup() {
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
    ~InterruptCleanup() {
        for (size_t i = 0; i < std::size(kCleanupSignals); ++i)
            if (installed_[i]) sigaction(kCleanupSignals[i], &saved_[i], nullptr);
    }
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

private:
    struct sigaction saved_[std::size(kCleanupSignals)]{};
    bool installed_[std::size(kCleanupSignals)]{};
};

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

// What a path may be.
enum class Target {
    output,  // whatever opening for writing accepts: devices and pipes are written in place
    trace,   // a regular file or a new one only: anything else is left alone, never waited on
};

// A file written under a temporary name beside the file its path finally names and moved
// into place by commit(); destroying it uncommitted removes the temporary file. Where
// renaming would give a different outcome than writing the path (a file with several names,
// one owned by someone else, a folder that may not be written), it is written in place, as
// are devices and pipes.
class StagedFile {
public:
    // False when the path cannot be written; then nothing has been changed.
    bool open(const std::string& path, Target kind) {
        if (path.empty()) return false;
        if (!followLinks(path, final_)) return false;
        struct stat st{};
        if (stat(final_.c_str(), &st) != 0) return errno == ENOENT && openNew();
        if (S_ISDIR(st.st_mode)) return false;
        if (!S_ISREG(st.st_mode)) {
            if (kind == Target::trace) return false;
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
        FileHandle existing(fdopen(fd, "wb"));
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

    ~StagedFile() {
        file_.reset();
        if (!temp_.empty()) discard();
    }

private:
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
            std::snprintf(tag, sizeof tag, "%012llx", (unsigned long long)(xorshift64(seed) >> 16));
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
    FileHandle file_;
    bool direct_ = false;       // written in place: nothing to rename
    int slot_ = -1;             // the clean-up slot naming temp_, -1 for none
};

}  // namespace

int16_t sampleToPcm16(float s) {
    if (s > 1.0f) return 32767;
    float c = s < -1.0f ? -1.0f : s;
    if (std::isnan(c)) c = -1.0f;
    return int16_t(std::lrintf(c * 32767.0f));
}

void wavHeader(unsigned char h[44], uint32_t dataBytes) {
    std::memcpy(h + 0, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    put32(h + 16, 16);
    put16(h + 20, 1);          // PCM
    put16(h + 22, 1);          // mono
    put32(h + 24, kSampleRateHz);      // samples per second
    put32(h + 28, kSampleRateHz * 2);  // bytes per second
    put16(h + 32, 2);          // bytes per frame
    put16(h + 34, 16);         // bits per sample
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
}

bool renderWav(const std::wstring& path, int seconds, const Engine& source,
               RenderProgress progress, void* progressCtx) {
    // The output is opened before anything is rendered, so a path that cannot be written
    // fails at once, whatever the length asked for.
    const std::string wavPath = wideToUtf8(path);
    InterruptCleanup cleanup;  // outlives the staged files below
    StagedFile wav;
    if (!wav.open(wavPath, Target::output)) return false;

    auto engine = std::make_unique<Engine>();
    Engine& e = *engine;
    e.syncDecode = true;
    // Clips decode on two threads where there are two cores; the result is the same clip.
    if (std::thread::hardware_concurrency() > 1) e.decodeClip = decodeStationOnTwoThreads;
    e.noise.store(source.noise.load());
    e.sweepMs.store(source.sweepMs.load());
    e.volume.store(source.volume.load());
    e.echoOn.store(source.echoOn.load());
    e.verbOn.store(source.verbOn.load());
    // The live engine's audio thread stores these once per block: take them as they are now.
    e.echoMix.store(source.echoMix.load(std::memory_order_relaxed), std::memory_order_relaxed);
    e.verbMix.store(source.verbMix.load(std::memory_order_relaxed), std::memory_order_relaxed);
    e.running.store(1);

    const int64_t total = int64_t(seconds) * kSampleRateHz;
    const uint32_t dataBytes = uint32_t(total * 2);
    unsigned char header[44];
    wavHeader(header, dataBytes);
    bool ok = std::fwrite(header, 1, sizeof header, wav.get()) == sizeof header;

    // The trace never stops the render: any trouble with it just leaves it out.
    StagedFile trace;
    bool tracing = false;
    if (std::getenv("KESTRUM_TRACE") && wavPath.size() + 4 + 1 <= kTraceNameMax) {
        tracing = trace.open(wavPath + ".csv", Target::trace);
        if (tracing) std::fputs("t,phase,freq,cur,chan,pos,n,ph\n", trace.get());
    }

    float block[kBlock];
    int16_t pcm[kBlock];
    for (int64_t done = 0; done < total && ok;) {
        const int n = int(total - done < kBlock ? total - done : kBlock);
        e.render(block, n);
        for (int i = 0; i < n; ++i) pcm[i] = sampleToPcm16(block[i]);
        ok = std::fwrite(pcm, sizeof(int16_t), size_t(n), wav.get()) == size_t(n);
        if (tracing) {
            const int cur = e.cur;
            const double ph = (cur >= 0 && size_t(cur) < e.clipPhase.size()) ? e.clipPhase[size_t(cur)] : -1.0;
            std::fprintf(trace.get(), "%.3f,%d,%.2f,%d,%d,%d,%d,%.2f\n", double(done) / kSampleRateHz, e.phase,
                         double(e.dialFreq.load(std::memory_order_relaxed)), cur, e.chan, e.chanPos, e.chanLen, ph);
        }
        done += n;
        if (progress) progress(done, total, progressCtx);
    }
    if (!ok || !wav.commit()) return false;  // the trace's temporary file goes with it
    if (tracing) trace.commit();
    return true;
}
