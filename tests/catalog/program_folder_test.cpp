// The program folder taken from the program's own path: everything before the last "/",
// "." when the path is unknown.
#include <gtest/gtest.h>

#include <string>

#include "base/program.h"
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
    for (const Case& c : cases) {
        g_dir = L"unchanged";
        programFolderFrom(c.path);
        EXPECT_EQ(g_dir, c.folder) << wideToUtf8(c.path);
    }
    g_dir = saved;
}

}  // namespace
