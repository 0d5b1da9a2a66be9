// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/checked.h"

namespace progread::testing {

// A fresh directory, removed with everything in it when the test is done.
class TempDir {
public:
    TempDir() {
        // mkdtemp is POSIX only; create_directory fails on a name that is taken, so this is
        // just as safe between concurrent tests.
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate = std::filesystem::temp_directory_path() /
                             ("progread-" + std::to_string(random() % 1000000000));
            if (std::filesystem::create_directory(candidate)) {
                std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::replace);
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("no temporary directory could be created");
    }
    // A copy would remove the directory when it goes, under the original's feet.
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::vector<Byte> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::filesystem::path& p, const std::vector<Byte>& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<Byte> patternBytes(std::size_t n, Byte seed) {
    std::vector<Byte> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<Byte>(seed + i * 31);
    return v;
}

}  // namespace progread::testing
