// Where the program's files go: beside a program whose folder can be written, else in the
// user's own folders, each falling back where the user's folder is unknown.
#include <gtest/gtest.h>

#include <string>

#include "app/folders.h"

TEST(ProgramFolderChoice, BesideAWritableProgramElseTheUsersFolders) {
    const UserFolders user{L"/home/ann", L"/home/ann/Music", L"/home/ann/.local/state", L"/home/ann/.local/share"};
    const UserFolders noMusic{L"/home/ann", L"", L"/st", L"/da"};
    const UserFolders nothing{};
    struct Case {
        const char* name;
        std::wstring path, dir;
        bool writable, radioBeside;
        UserFolders user;
        ProgramFolders out;
    };
    const Case cases[] = {
        {"build tree", L"/src/build/kestrum", L"/src/build", true, false, user,
         {L"/src/build/radio", L"/src/build", L"/src/build/"}},
        {"writable with radio", L"/opt/k/kestrum", L"/opt/k", true, true, user, {L"/opt/k/radio", L"/opt/k", L"/opt/k/"}},
        {"path unknown", L"", L".", true, false, user, {L"./radio", L".", L""}},
        {"installed", L"/usr/bin/kestrum", L"/usr/bin", false, false, user,
         {L"/home/ann/.local/share/kestrum/radio", L"/home/ann/.local/state/kestrum", L"/home/ann/Music/"}},
        {"installed, radio beside", L"/opt/k/kestrum", L"/opt/k", false, true, user,
         {L"/opt/k/radio", L"/home/ann/.local/state/kestrum", L"/home/ann/Music/"}},
        {"installed, no music folder", L"/usr/bin/kestrum", L"/usr/bin", false, false, noMusic,
         {L"/da/kestrum/radio", L"/st/kestrum", L"/home/ann/"}},
        {"installed, nothing known", L"/usr/bin/kestrum", L"/usr/bin", false, false, nothing,
         {L"/usr/bin/radio", L"/usr/bin", L"/usr/bin/"}},
    };
    for (const Case& c : cases) {
        const ProgramFolders f = chooseFolders(c.path, c.dir, c.writable, c.radioBeside, c.user);
        EXPECT_EQ(f.radio, c.out.radio) << c.name;
        EXPECT_EQ(f.logDir, c.out.logDir) << c.name;
        EXPECT_EQ(f.renderDir, c.out.renderDir) << c.name;
    }
}
