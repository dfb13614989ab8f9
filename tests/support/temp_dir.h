// The tests' one temporary folder: a fresh empty folder under the system's temporary folder
// (or a given one), removed with its contents when the object goes.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

class TempDir {
public:
    TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}
    // Under `parent` instead, e.g. where another user can reach it.
    explicit TempDir(const std::string& parent) {
#ifdef _WIN32
        // No mkdtemp: a new folder named from the clock and a counter, taken only when it
        // did not exist before.
        static unsigned serial = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string p = parent + "/kestrum-test-" +
                                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                                  std::to_string(++serial);
            std::error_code ec;
            if (std::filesystem::create_directory(p, ec)) {
                path_ = p;
                break;
            }
        }
#else
        std::string tmpl = parent + "/kestrum-test-XXXXXX";
        const char* made = mkdtemp(tmpl.data());
        path_ = made ? made : "";
#endif
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // A folder below this one, made with its parents; its path.
    std::string folder(const std::string& tail) const {
        std::filesystem::create_directories(path_ + tail);
        return path_ + tail;
    }
    // Entries directly inside the folder.
    size_t entries() const {
        return size_t(std::distance(std::filesystem::directory_iterator(path_), std::filesystem::directory_iterator()));
    }

private:
    std::string path_;
};
