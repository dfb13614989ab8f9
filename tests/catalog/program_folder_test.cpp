// The program folder taken from the program's own path: everything before the last separator
// ("/", or "\" on Windows), "." when the path is unknown.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/program.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

TEST(ProgramFolderRule, IsThePathBeforeTheLastSlash) {
    struct Case {
        std::wstring path;
        std::wstring folder;
    };
    const Case cases[] = {
        {L"", L"."},                          // /proc/self/exe unreadable
        {L"kestrum", L"kestrum"},             // no "/": the path is kept whole
        {L"/kestrum", L""},                   // the root: radio/ is then looked up as "/radio"
        {L"/a/b/kestrum", L"/a/b"},
        {L"bin/kestrum", L"bin"},
        {L"/opt/caf\u00E9 radio/kestrum", L"/opt/caf\u00E9 radio"},
    };
    const std::wstring saved = g_dir;
    // The cases are written with "/"; the system's own separator stands in for it.
    auto native = [](std::wstring p) {
        std::replace(p.begin(), p.end(), L'/', kPathSep);
        return p;
    };
    for (const Case& c : cases) {
        g_dir = L"unchanged";
        programFolderFrom(native(c.path));
        EXPECT_EQ(g_dir, native(c.folder)) << wideToUtf8(c.path);
    }
    g_dir = saved;
}

}  // namespace
