// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small tmpfs of its own, for running out of space or writing on a read-only folder.
// Mounting needs root (or the right capability); tests skip where it cannot be had.

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace progread::testing {

class SmallTmpfs {
public:
    static constexpr std::size_t kPage = 4096;

    explicit SmallTmpfs(std::size_t pages) : options_("size=" + std::to_string(pages * kPage)) {
        mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options_.c_str()) == 0;
        if (!mounted_) why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    }
    ~SmallTmpfs() {
        if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

    bool remountReadOnly() {
        return ::mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                       options_.c_str()) == 0;
    }

    // Fills the file system with a file of its own, then frees exactly `pages` pages of it.
    bool leaveFree(std::size_t pages) {
        const std::string filler = (dir_ / ".filler").string();
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return false;
        const std::vector<char> page(kPage, 'x');
        std::size_t size = 0;
        while (::write(fd, page.data(), kPage) == static_cast<ssize_t>(kPage)) size += kPage;
        const bool ok = errno == ENOSPC && size >= pages * kPage &&
                        ::ftruncate(fd, static_cast<off_t>(size - pages * kPage)) == 0;
        ::close(fd);
        return ok;
    }

private:
    TempDir dir_;
    std::string options_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace progread::testing
