// The one owner of a C stream: a FileHandle closes its FILE when it goes, so no error path
// repeats the close. Any thread; allocates nothing.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;
