// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/file_ops.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace progread::files {

int createNew(const fs::path& p) {
#ifdef _WIN32
    return ::_wopen(p.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
}

int openRead(const fs::path& p) {
#ifdef _WIN32
    return ::_wopen(p.c_str(), _O_RDONLY | _O_BINARY);
#else
    return ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
}

bool isRegular(int fd) {
#ifdef _WIN32
    struct _stat64 st;
    return ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
#endif
}

long readSome(int fd, Byte* data, std::size_t count) {
#ifdef _WIN32
    return ::_read(fd, data, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
#else
    ssize_t n;
    do n = ::read(fd, data, count);
    while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
#endif
}

long writeSome(int fd, const Byte* data, std::size_t count) {
#ifdef _WIN32
    return ::_write(fd, data, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
#else
    ssize_t n;
    do n = ::write(fd, data, count);
    while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
#endif
}

bool truncateFile(int fd, std::uintmax_t size) {
#ifdef _WIN32
    return ::_chsize_s(fd, static_cast<__int64>(size)) == 0;
#else
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
#endif
}

bool closeFile(int fd) {
#ifdef _WIN32
    return ::_close(fd) == 0;
#else
    return ::close(fd) == 0;
#endif
}

std::string reason(int err) {
    return err ? std::strerror(err) : "unknown reason";
}

ErrorFacts fileFacts(ErrorFacts::Code code, const fs::path& path, ErrorFacts::Action action,
                     const std::string& why, const fs::path& to) {
    ErrorFacts facts;
    facts.code = code;
    facts.action = action;
    facts.subject = path.string();
    facts.reason = why;
    facts.other = to.string();
    return facts;
}

[[noreturn]] void fileError(ErrorFacts::Action action, const std::string& words,
                            const fs::path& path, int err) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::FileFailed, path, action, reason(err)),
                "cannot " + words + " " + path.string() + ": " + reason(err));
}

int probeDir(const fs::path& dir) {
#ifdef _WIN32
    const long pid = ::_getpid();
#else
    const long pid = ::getpid();
#endif
    int err = 0;
    for (int n = 0; n < 3; ++n) {
        std::string name = ".progread-probe-";
        name += std::to_string(pid);
        name += '-';
        name += std::to_string(n);
        const fs::path probe = dir / name;
        errno = 0;
        const int fd = createNew(probe);
        if (fd >= 0) {
            closeFile(fd);
            std::error_code ec;
            fs::remove(probe, ec);
            return 0;
        }
        err = errno ? errno : EACCES;
        if (err != EEXIST) break;
    }
    return err;
}

fs::file_type typeOf(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    if (ec && st.type() != fs::file_type::not_found)
        fileError(ErrorFacts::Action::LookAt, "look at", p, ec.value());
    return st.type();
}

void removeFile(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
    if (ec) fileError(ErrorFacts::Action::Remove, "remove", p, ec.value());
}

}  // namespace progread::files
