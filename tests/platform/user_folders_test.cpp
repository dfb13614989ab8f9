// The folders the platform finds for the user: user-dirs.dirs lines, the XDG base
// directories with their defaults, the music folder, and folders made on demand.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

// Sets or unsets environment variables for one scope, then puts back what was there.
class EnvScope {
public:
    void set(const char* name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~EnvScope() {
        for (auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

struct TempHome {
    TempHome() {
        char tmpl[] = "/tmp/kestrum_home_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempHome() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};

std::wstring w(const std::string& s) { return utf8ToWide(s); }

}  // namespace

TEST(UserFolders, UserDirLinesAsXdgUserDirsWritesThem) {
    struct Case {
        const char* name;
        std::string text;
        std::wstring home;
        std::wstring out;
    };
    const std::wstring home = L"/home/ann";
    const Case cases[] = {
        {"home relative", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", home, L"/home/ann/Music"},
        {"absolute", "XDG_MUSIC_DIR=\"/srv/music\"\n", home, L"/srv/music"},
        {"the home itself", "XDG_MUSIC_DIR=\"$HOME/\"\n", home, L"/home/ann"},
        {"the home, bare", "XDG_MUSIC_DIR=\"$HOME\"", home, L"/home/ann"},
        {"the written file", "# This file is written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                             "XDG_MUSIC_DIR=\"$HOME/M\xC3\xBAsica\"\nXDG_VIDEOS_DIR=\"$HOME/Videos\"\n",
         home, L"/home/ann/M\u00FAsica"},
        {"the last line wins", "XDG_MUSIC_DIR=\"/a\"\nXDG_MUSIC_DIR=\"/b\"\n", home, L"/b"},
        {"an invalid last line keeps the one before", "XDG_MUSIC_DIR=\"/a\"\nXDG_MUSIC_DIR=\"Music\"\n", home, L"/a"},
        {"indented", "  \tXDG_MUSIC_DIR=\"/m\"\n", home, L"/m"},
        {"escaped quote and backslash", "XDG_MUSIC_DIR=\"$HOME/My \\\"Tunes\\\" \\\\ more\"\n", home,
         L"/home/ann/My \"Tunes\" \\ more"},
        {"trailing slashes", "XDG_MUSIC_DIR=\"/srv/music//\"\n", home, L"/srv/music"},
        {"comment", "# XDG_MUSIC_DIR=\"/m\"\n", home, L""},
        {"relative", "XDG_MUSIC_DIR=\"Music\"\n", home, L""},
        {"another variable", "XDG_MUSIC_DIR=\"$USER/m\"\n", home, L""},
        {"a longer $HOME name", "XDG_MUSIC_DIR=\"$HOMEDIR/m\"\n", home, L""},
        {"unquoted", "XDG_MUSIC_DIR=/m\n", home, L""},
        {"unterminated", "XDG_MUSIC_DIR=\"/m\n", home, L""},
        {"a longer name", "XDG_MUSIC_DIRS=\"/m\"\n", home, L""},
        {"another directory", "XDG_DOWNLOAD_DIR=\"/d\"\n", home, L""},
        {"no home known", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", L"", L""},
        {"empty", "", home, L""},
    };
    for (const Case& c : cases) EXPECT_EQ(userDirFromText(c.text, "XDG_MUSIC_DIR", c.home), c.out) << c.name;
}

TEST(UserFolders, BaseFoldersTakeAbsoluteValuesElseTheHomeDefault) {
    EnvScope env;
    env.set("HOME", "/home/ann");
    struct Case {
        const char* name;
        std::optional<std::string> value;
        std::wstring out;
    };
    const Case cases[] = {
        {"absolute", "/var/state", L"/var/state"},
        {"unset", std::nullopt, L"/home/ann/.local/state"},
        {"empty", "", L"/home/ann/.local/state"},
        {"relative is invalid", "state", L"/home/ann/.local/state"},
    };
    for (const Case& c : cases) {
        env.set("XDG_STATE_HOME", c.value);
        EXPECT_EQ(xdgBaseFolder("XDG_STATE_HOME", L"/.local/state"), c.out) << c.name;
    }
    // Without a usable $HOME, the password database's home for this user.
    env.set("XDG_STATE_HOME", std::nullopt);
    for (const std::optional<std::string>& h : {std::optional<std::string>(), std::optional<std::string>("rel")}) {
        env.set("HOME", h);
        const std::wstring home = homeFolder();
        ASSERT_FALSE(home.empty());
        EXPECT_EQ(home[0], L'/');
        EXPECT_EQ(xdgBaseFolder("XDG_STATE_HOME", L"/.local/state"), home + L"/.local/state");
    }
}

TEST(UserFolders, MusicFolderOnlyWhenItExists) {
    TempHome h;
    EnvScope env;
    env.set("HOME", h.path);
    env.set("XDG_CONFIG_HOME", std::nullopt);
    fs::create_directories(h.path + "/.config");
    fs::create_directories(h.path + "/Tunes");
    const std::string dirs = h.path + "/.config/user-dirs.dirs";

    EXPECT_EQ(userMusicFolder(), L"") << "no user-dirs.dirs";
    std::ofstream(dirs) << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n";
    EXPECT_EQ(userMusicFolder(), w(h.path + "/Tunes"));
    std::ofstream(dirs) << "XDG_MUSIC_DIR=\"$HOME/Gone\"\n";
    EXPECT_EQ(userMusicFolder(), L"") << "a folder that does not exist";
    std::ofstream(h.path + "/Plain") << "x";
    std::ofstream(dirs) << "XDG_MUSIC_DIR=\"$HOME/Plain\"\n";
    EXPECT_EQ(userMusicFolder(), L"") << "a file, not a folder";

    // XDG_CONFIG_HOME moves the file; the one under ~/.config is then not read.
    std::ofstream(dirs) << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n";
    fs::create_directories(h.path + "/cfg");
    env.set("XDG_CONFIG_HOME", h.path + "/cfg");
    EXPECT_EQ(userMusicFolder(), L"");
    std::ofstream(h.path + "/cfg/user-dirs.dirs") << "XDG_MUSIC_DIR=\"" << h.path << "\"\n";
    EXPECT_EQ(userMusicFolder(), w(h.path));

    // A FIFO in the file's place is not read: no writer ever comes, and the answer must.
    fs::remove(h.path + "/cfg/user-dirs.dirs");
    ASSERT_EQ(mkfifo((h.path + "/cfg/user-dirs.dirs").c_str(), 0600), 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(userMusicFolder(), L"");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST(UserFolders, MakeFoldersMakesPrivateParentsAndRefusesAFileInTheWay) {
    TempHome h;
    const std::string deep = h.path + "/state/kestrum/logs";
    ASSERT_TRUE(makeFolders(w(deep)));
    for (const std::string& p : {h.path + "/state", h.path + "/state/kestrum", deep}) {
        struct stat st;
        ASSERT_EQ(stat(p.c_str(), &st), 0) << p;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << p;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << p;
    }
    EXPECT_TRUE(makeFolders(w(deep))) << "an existing folder";
    EXPECT_TRUE(isFolder(w(deep)));
    EXPECT_TRUE(folderWritable(w(deep)));

    std::ofstream(h.path + "/file") << "x";
    EXPECT_FALSE(makeFolders(w(h.path + "/file/below")));
    EXPECT_FALSE(makeFolders(w(h.path + "/file")));
    EXPECT_FALSE(isFolder(w(h.path + "/file")));
    EXPECT_FALSE(folderWritable(w(h.path + "/file")));
    EXPECT_FALSE(makeFolders(L""));
    EXPECT_FALSE(isFolder(w(h.path + "/missing")));
}
