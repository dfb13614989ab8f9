// Puts program globals back as they were: each global handed to save() gets its value of
// that moment back when the guard goes, the last saved first.
#pragma once

#include <functional>
#include <vector>

class SavedGlobals {
public:
    SavedGlobals() = default;
    ~SavedGlobals() {
        for (auto it = restore_.rbegin(); it != restore_.rend(); ++it) (*it)();
    }
    SavedGlobals(const SavedGlobals&) = delete;
    SavedGlobals& operator=(const SavedGlobals&) = delete;

    template <typename... T>
    void save(T&... globals) {
        (restore_.push_back([&globals, value = globals] { globals = value; }), ...);
    }

private:
    std::vector<std::function<void()>> restore_;
};
