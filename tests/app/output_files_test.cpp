// What the real program does to the files it writes: a render's target ends as opening the
// path for writing would have left it (links, permissions, owners, several names), a target
// that cannot be written fails before anything is rendered, and a named pipe where the decode
// log or a trace goes is left alone instead of holding the program in the open.
//
// Cases that depend on permissions run the program as nobody through setpriv (root ignores
// permission bits), so the program is copied under /tmp, which nobody can reach.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

namespace fs = std::filesystem;

constexpr long kOneSecondWav = 44 + 96000;
constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr const char* kTimeout = "/usr/bin/timeout";

uid_t nobodyUid() {
    const passwd* pw = getpwnam("nobody");
    return pw ? pw->pw_uid : uid_t(-1);
}
gid_t nogroupGid() {
    const group* gr = getgrnam("nogroup");
    return gr ? gr->gr_gid : gid_t(-1);
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& text, mode_t mode, uid_t uid = 0, gid_t gid = 0) {
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_EQ(chown(path.c_str(), uid, gid), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

struct stat statOf(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) st.st_ino = 0;
    return st;
}

bool isLinkTo(const std::string& path, const std::string& to) {
    std::error_code ec;
    return fs::is_symlink(path, ec) && fs::read_symlink(path, ec).string() == to;
}

// A one-second render: a whole WAV file of the right length.
bool holdsRender(const std::string& path) {
    const std::string c = contentOf(path);
    return long(c.size()) == kOneSecondWav && c.compare(0, 4, "RIFF") == 0;
}

// Temporary files a render left anywhere below `dir`.
std::vector<std::string> leftovers(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.ends_with(".part") || name.starts_with(".kestrum-")) found.push_back(e.path().string());
    }
    return found;
}

// A copy of the program in a folder of its own that anyone may reach and write, so that its
// decode log (beside it) can be written whoever runs it and is this test's alone.
struct ProgramCopy {
    ProgramCopy() : bin("/tmp") {
        chmod(bin.path().c_str(), 0777);
        fs::copy_file(KESTRUM_EXE, exe());
    }
    std::string exe() const { return bin.file("kestrum"); }
    std::string log() const { return bin.file("_decode.log"); }
    TempDir bin;
};

enum class User { root, nobody };

ProgramRun runAs(User user, const ProgramCopy& program, const std::vector<std::string>& args,
                 const std::string& cwd) {
    if (user == User::root) return runProgramAt(program.exe(), args, cwd, {"KESTRUM_TRACE=1"});
    std::vector<std::string> all = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program.exe()};
    all.insert(all.end(), args.begin(), args.end());
    return runProgramAt(kSetpriv, all, cwd, {"KESTRUM_TRACE=1"});
}

// ---- Render targets ----

struct TargetCase {
    const char* what;
    User user;
    // Makes the files in `dir` (as root) and returns the path to render to, relative to dir.
    std::function<std::string(const std::string& dir)> setUp;
    int exitCode;
    // What must hold afterwards; `before` is the target file's identity before the render.
    std::function<void(const std::string& dir, const struct stat& before)> check;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.what; }

class RenderTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(RenderTarget, EndsAsOpeningThePathForWriting) {
    const TargetCase& c = GetParam();
    ASSERT_EQ(geteuid(), 0u) << "the cases give files to other users";
    ASSERT_EQ(access(kSetpriv, X_OK), 0);
    ASSERT_NE(nobodyUid(), uid_t(-1));
    ASSERT_NE(nogroupGid(), gid_t(-1));
    ProgramCopy program;
    TempDir dir("/tmp");
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const std::string target = c.setUp(dir.path());
    const struct stat before = statOf(dir.file(target));

    ProgramRun run = runAs(c.user, program, {"--render", target, "1"}, dir.path());
    ASSERT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.stderrText;
    if (c.exitCode != 0) {
        // Refused before any rendering: the first block would have decoded a clip into the
        // log, which the program could write.
        EXPECT_EQ(fileSize(program.log()), 0) << "the render started before it failed";
        EXPECT_EQ(fileSize(dir.file(target + ".csv")), -1) << "no trace for a render that failed";
    }
    c.check(dir.path(), before);
    EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
}

const uid_t kNobody = nobodyUid();
const gid_t kNogroup = nogroupGid();

INSTANTIATE_TEST_SUITE_P(
    Table, RenderTarget,
    ::testing::Values(
        TargetCase{"NewFile", User::nobody, [](const std::string&) { return std::string("new.wav"); }, 0,
                   [](const std::string& d, const struct stat&) {
                       EXPECT_TRUE(holdsRender(d + "/new.wav"));
                       EXPECT_GT(fileSize(d + "/new.wav.csv"), 0);
                   }},
        TargetCase{"ReadOnlyFile", User::nobody,
                   [](const std::string& d) {
                       writeFile(d + "/ro.wav", "earlier", 0444, kNobody, kNogroup);
                       return std::string("ro.wav");
                   },
                   2,
                   [](const std::string& d, const struct stat&) {
                       EXPECT_TRUE(contentOf(d + "/ro.wav") == "earlier") << "the file was changed";
                       EXPECT_EQ(statOf(d + "/ro.wav").st_mode & 07777, 0444u);
                   }},
        TargetCase{"WritableFileInAFolderThatIsNot", User::nobody,
                   [](const std::string& d) {
                       fs::create_directory(d + "/shut");
                       writeFile(d + "/shut/w.wav", "earlier", 0666);
                       chmod((d + "/shut").c_str(), 0555);
                       return std::string("shut/w.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat& before) {
                       EXPECT_TRUE(holdsRender(d + "/shut/w.wav"));
                       EXPECT_EQ(statOf(d + "/shut/w.wav").st_ino, before.st_ino) << "written in place";
                   }},
        TargetCase{"SomeoneElsesFileInAStickyFolder", User::nobody,
                   [](const std::string& d) {
                       fs::create_directory(d + "/sticky");
                       chmod((d + "/sticky").c_str(), 01777);
                       writeFile(d + "/sticky/o.wav", "earlier", 0666);
                       return std::string("sticky/o.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat& before) {
                       const struct stat after = statOf(d + "/sticky/o.wav");
                       EXPECT_TRUE(holdsRender(d + "/sticky/o.wav"));
                       EXPECT_EQ(after.st_ino, before.st_ino);
                       EXPECT_EQ(after.st_uid, 0u) << "the owner stays";
                   }},
        TargetCase{"SeveralNames", User::root,
                   [](const std::string& d) {
                       writeFile(d + "/a.wav", "earlier", 0640, kNobody, kNogroup);
                       fs::create_hard_link(d + "/a.wav", d + "/b.wav");
                       return std::string("a.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat& before) {
                       const struct stat a = statOf(d + "/a.wav"), b = statOf(d + "/b.wav");
                       EXPECT_TRUE(holdsRender(d + "/b.wav")) << "every name sees the render";
                       EXPECT_EQ(a.st_ino, before.st_ino);
                       EXPECT_EQ(b.st_ino, before.st_ino);
                       EXPECT_EQ(a.st_nlink, 2u);
                       EXPECT_EQ(a.st_uid, kNobody);
                       EXPECT_EQ(a.st_gid, kNogroup);
                   }},
        TargetCase{"SomeoneElsesFile", User::root,
                   [](const std::string& d) {
                       writeFile(d + "/o.wav", "earlier", 0640, kNobody, kNogroup);
                       return std::string("o.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat&) {
                       const struct stat st = statOf(d + "/o.wav");
                       EXPECT_TRUE(holdsRender(d + "/o.wav"));
                       EXPECT_EQ(st.st_uid, kNobody);
                       EXPECT_EQ(st.st_gid, kNogroup);
                       EXPECT_EQ(st.st_mode & 07777, 0640u);
                   }},
        TargetCase{"OwnFileOfAGroupTheUserIsNotIn", User::nobody,
                   [](const std::string& d) {
                       writeFile(d + "/g.wav", "earlier", 0664, kNobody, 0);
                       return std::string("g.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat&) {
                       EXPECT_TRUE(holdsRender(d + "/g.wav"));
                       EXPECT_EQ(statOf(d + "/g.wav").st_gid, 0u) << "the group stays";
                   }},
        TargetCase{"SymbolicLink", User::nobody,
                   [](const std::string& d) {
                       writeFile(d + "/real.wav", "earlier", 0644, kNobody, kNogroup);
                       fs::create_symlink("real.wav", d + "/link.wav");
                       return std::string("link.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat&) {
                       EXPECT_TRUE(isLinkTo(d + "/link.wav", "real.wav"));
                       EXPECT_TRUE(holdsRender(d + "/real.wav"));
                   }},
        TargetCase{"ChainOfRelativeLinksAcrossFolders", User::nobody,
                   [](const std::string& d) {
                       fs::create_directory(d + "/sub");
                       chmod((d + "/sub").c_str(), 0777);
                       writeFile(d + "/real.wav", "earlier", 0644, kNobody, kNogroup);
                       fs::create_symlink("sub/hop.wav", d + "/link.wav");
                       fs::create_symlink("../real.wav", d + "/sub/hop.wav");
                       return std::string("link.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat&) {
                       EXPECT_TRUE(isLinkTo(d + "/link.wav", "sub/hop.wav"));
                       EXPECT_TRUE(isLinkTo(d + "/sub/hop.wav", "../real.wav"));
                       EXPECT_TRUE(holdsRender(d + "/real.wav"));
                   }},
        TargetCase{"DanglingLink", User::nobody,
                   [](const std::string& d) {
                       fs::create_symlink("made.wav", d + "/dangling.wav");
                       return std::string("dangling.wav");
                   },
                   0,
                   [](const std::string& d, const struct stat&) {
                       EXPECT_TRUE(isLinkTo(d + "/dangling.wav", "made.wav"));
                       EXPECT_TRUE(holdsRender(d + "/made.wav"));
                   }},
        TargetCase{"DanglingLinkIntoAMissingFolder", User::nobody,
                   [](const std::string& d) {
                       fs::create_symlink("gone/made.wav", d + "/dangling.wav");
                       return std::string("dangling.wav");
                   },
                   2,
                   [](const std::string& d, const struct stat&) {
                       EXPECT_TRUE(isLinkTo(d + "/dangling.wav", "gone/made.wav"));
                       EXPECT_FALSE(fs::exists(d + "/gone"));
                   }},
        TargetCase{"EmptyPath", User::nobody, [](const std::string&) { return std::string(); }, 2,
                   [](const std::string& d, const struct stat&) { EXPECT_TRUE(fs::is_empty(d)); }},
        TargetCase{"Folder", User::nobody,
                   [](const std::string& d) {
                       fs::create_directory(d + "/dir.wav");
                       chmod((d + "/dir.wav").c_str(), 0777);
                       return std::string("dir.wav");
                   },
                   2, [](const std::string& d, const struct stat&) { EXPECT_TRUE(fs::is_empty(d + "/dir.wav")); }}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- Named pipes where the decode log or a trace goes ----

struct PipeCase {
    const char* what;
    std::vector<std::string> args;
    bool atLog;   // the pipe is the decode log beside the program; else the trace out.wav.csv
    bool reader;  // someone holds the pipe open for reading, so opening it would not wait
};

void PrintTo(const PipeCase& c, std::ostream* os) { *os << c.what; }

class PipeInTheWay : public ::testing::TestWithParam<PipeCase> {};

TEST_P(PipeInTheWay, IsLeftAloneAndTheRunEndsAsWithout) {
    const PipeCase& c = GetParam();
    ProgramCopy program;
    TempDir work;
    // What the command does without the trace switch, and so without log or trace.
    ProgramRun plain = runProgramAt(program.exe(), c.args, work.path(), {}, {"KESTRUM_TRACE"});
    ASSERT_EQ(plain.signal, 0);

    const std::string pipe = c.atLog ? program.log() : work.file("out.wav.csv");
    fs::remove(pipe);
    fs::remove(work.file("out.wav"));
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    const int readerFd = c.reader ? open(pipe.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    if (c.reader) {
        ASSERT_GE(readerFd, 0);
    }

    // A program that waits in the open is ended after half a minute and fails the test.
    std::vector<std::string> args = {"30", program.exe()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramRun run = runProgramAt(kTimeout, args, work.path(), {"KESTRUM_TRACE=1"});
    EXPECT_EQ(run.exitCode, plain.exitCode) << "124: it hung";
    if (c.args[0] == "--render") {
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(holdsRender(work.file("out.wav")));
    }
    struct stat st{};
    ASSERT_EQ(lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe stays a pipe";
    if (c.reader) {
        char buf[256];
        EXPECT_LE(read(readerFd, buf, sizeof buf), 0) << "nothing may be written into the pipe";
        close(readerFd);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PipeInTheWay,
                         ::testing::Values(PipeCase{"DecodeLogSmoke", {"--smoke"}, true, false},
                                           PipeCase{"DecodeLogRender", {"--render", "out.wav", "1"}, true, false},
                                           PipeCase{"DecodeLogRenderWithReader", {"--render", "out.wav", "1"}, true, true},
                                           PipeCase{"TraceRender", {"--render", "out.wav", "1"}, false, false},
                                           PipeCase{"TraceRenderWithReader", {"--render", "out.wav", "1"}, false, true}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
