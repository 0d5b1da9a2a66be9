// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For the tests and the soak: the user's folders out of reach. Qt's settings (the last good
// port), data, cache and runtime folders (the line's records per port) go into a folder of
// this process's own, which the programs it starts (progread, progread-sim) inherit through
// the environment. The user's own settings are never read or written, and no run depends on
// what an earlier one left. Set before QApplication is made; removed at the end.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace progread::testing {

class OwnUserDirs {
public:
    OwnUserDirs() {
        char root[] = "/tmp/progread-user-XXXXXX";
        if (!::mkdtemp(root)) return;
        root_ = root;
        const std::pair<const char*, const char*> dirs[] = {{"XDG_CONFIG_HOME", "config"},
                                                            {"XDG_DATA_HOME", "data"},
                                                            {"XDG_CACHE_HOME", "cache"},
                                                            {"XDG_STATE_HOME", "state"},
                                                            {"XDG_RUNTIME_DIR", "run"}};
        for (const auto& [variable, name] : dirs) {
            const std::filesystem::path dir = root_ / name;
            std::error_code ec;
            std::filesystem::create_directory(dir, ec);
            // Qt takes a runtime folder only when nobody else may enter it.
            std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
            ::setenv(variable, dir.c_str(), 1);
        }
        // The line's records too: pseudo-terminals are reused, by tests side by side.
        ::setenv("PROGREAD_LINE_DIR", (root_ / "run").c_str(), 1);
    }
    ~OwnUserDirs() {
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }
    OwnUserDirs(const OwnUserDirs&) = delete;
    OwnUserDirs& operator=(const OwnUserDirs&) = delete;

    // Empty when no folder could be made.
    const std::filesystem::path& root() const { return root_; }
    // path lies in this process's own folders.
    bool holds(const std::string& path) const {
        return !root_.empty() && path.rfind(root_.string() + "/", 0) == 0;
    }

private:
    std::filesystem::path root_;
};

}  // namespace progread::testing
