// SPDX-License-Identifier: GPL-3.0-or-later
#include "upload/line_account.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cctype>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include "protocol/error.h"
#include "protocol/frames.h"

namespace progread {

namespace {

std::string hex(long offset) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%04lX", kBaseAddress + offset);
    return buf;
}

}  // namespace

namespace {

// Letters, digits, '-' and '.' as they are; every run of anything else one '_'.
std::string plainName(const std::string& text) {
    std::string name;
    for (const char c : text) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '-' || c == '.';
        if (plain) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    return name;
}

std::string userTag() {
#ifdef _WIN32
    return "w";
#else
    return std::to_string(::geteuid());
#endif
}

constexpr std::size_t kRecordMax = 128;  // a record is 86 characters

// A record as it lies in path: never through a link, never waiting on a pipe, never more
// than a record's few bytes.
std::optional<LineRecord> readRecord(const std::filesystem::path& path) {
#ifdef _WIN32
    const int fd = ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY);
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
#endif
    if (fd < 0) return std::nullopt;
    char text[kRecordMax + 1] = {};
    long n = -1;
#ifdef _WIN32
    struct _stat64 st;
    if (::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG && st.st_size <= 256)
        n = ::_read(fd, text, kRecordMax);
    ::_close(fd);
#else
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 256)
        n = ::read(fd, text, kRecordMax);
    ::close(fd);
#endif
    if (n <= 0) return std::nullopt;
    LineRecord r;
    char magic[32] = {};
    if (std::sscanf(text, "%31s %lld %d %lld %lld", magic, &r.newestRequestMs, &r.out, &r.waitMs,
                    &r.lastActivityMs) != 5 ||
        std::string(magic) != "progread-line-1" || r.out < 0 || r.waitMs <= 0) {
        return std::nullopt;
    }
    return r;
}

}  // namespace

std::string LineRecordFiles::deviceKey(const std::string& port) {
#ifdef _WIN32
    std::string upper = port;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return plainName(upper);
#else
    // Through every link: /dev/serial/by-id/… and /dev/ttyUSB0 are one line.
    struct stat st;
    // Appended, not "c" + …: GCC 12 takes that for an overlapping copy at -O2 (-Wrestrict).
    if (::stat(port.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
        return std::string("c")
            .append(std::to_string(major(st.st_rdev)))
            .append("-")
            .append(std::to_string(minor(st.st_rdev)));
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(port, ec);
    return plainName(ec ? port : canonical.string());
#endif
}

std::filesystem::path LineRecordFiles::pathFor(const std::filesystem::path& dir,
                                               const std::string& port) const {
    return dir / ("progread-line-" + deviceKey(port) + "." + userTag());
}

std::optional<LineRecord> LineRecordFiles::load(const std::string& port) {
    // Every user's record of the device: another user's read may still be owed answers.
    const std::string prefix = "progread-line-" + deviceKey(port) + ".";
    std::optional<LineRecord> newest;
    for (const std::filesystem::path& dir : dirs_) {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.compare(0, prefix.size(), prefix) != 0) continue;
            const std::optional<LineRecord> r = readRecord(it->path());
            if (r && (!newest || r->lastActivityMs > newest->lastActivityMs)) newest = r;
        }
    }
    return newest;
}

LineRecordFiles::~LineRecordFiles() {
    if (fd_ >= 0) ::close(fd_);
}

void LineRecordFiles::openFor(const std::string& port) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    openPort_ = port;
    std::string why;
    for (const std::filesystem::path& dir : dirs_) {
        const std::filesystem::path path = pathFor(dir, port);
#ifdef _WIN32
        fd_ = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd_ >= 0) return;
#else
        // Readable by all, so that every user's progread honours it; written only by its own.
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        struct stat st;
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            ::fchmod(fd_, 0644);
            return;
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
            errno = EEXIST;
        }
#endif
        if (why.empty()) why = path.string() + ": " + std::strerror(errno);
    }
    if (trouble_ && !told_) trouble_(why);
    told_ = true;
}

void LineRecordFiles::save(const std::string& port, const LineRecord& r) {
    if (port != openPort_) openFor(port);
    if (fd_ < 0) return;
    // One length always, written at the start in one call: a reader sees the old record or
    // the new one (and rejects anything else).
    char line[96];
    const int n = std::snprintf(line, sizeof line, "progread-line-1 %020lld %06d %012lld %020lld\n",
                                r.newestRequestMs, r.out, r.waitMs, r.lastActivityMs);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof line) return;
#ifdef _WIN32
    ::_lseek(fd_, 0, SEEK_SET);
    [[maybe_unused]] const int written = ::_write(fd_, line, static_cast<unsigned>(n));
#else
    [[maybe_unused]] const ssize_t written = ::pwrite(fd_, line, static_cast<std::size_t>(n), 0);
#endif
}

bool LineAccount::attach(LineRecordStore* store, const std::string& port, long long now) {
    const bool ours = attached_ && port == port_;
    store_ = store;
    port_ = port;
    attached_ = true;
    if (ours) return false;  // this process keeps the account of its own port
    // Another port: what is out on the old one is no concern of this one.
    sentAt_.clear();
    offset_ = -1;
    waitMs_ = kFirstWaitMs;
    mayBeBehind_ = false;
    copiesSeen_ = false;
    slowestAnswerMs_ = 0;
    const std::optional<LineRecord> record = store ? store->load(port) : std::nullopt;
    // No answer is awaited longer than kMaxWaitMs; a record twice as old speaks of a line
    // long settled.
    if (!record || record->out == 0 || now - record->lastActivityMs >= 2 * kMaxWaitMs ||
        now < record->lastActivityMs) {
        return false;
    }
    // Another process asked, and its answers may still come: for no block of ours. What
    // came while nobody listened is gone, so the quiet wait counts from now.
    sentAt_.assign(static_cast<std::size_t>(std::min(record->out, 64)), record->newestRequestMs);
    newestRequest_ = record->newestRequestMs;
    waitMs_ = std::clamp(record->waitMs, kFirstWaitMs, kMaxWaitMs);
    lastActivity_ = now;
    mayBeBehind_ = true;
    save();
    return true;
}

void LineAccount::requestSent(long offset, long long now) {
    if (!sentAt_.empty() && offset != offset_) {
        throw Error(ErrorKind::Serial,
                    "a request for " + hex(offset) + " would go out while answers for " +
                        (offset_ < 0 ? std::string("another process's requests") : hex(offset_)) +
                        " are still due");
    }
    sentAt_.push_back(now);
    offset_ = offset;
    newestRequest_ = now;
    lastActivity_ = now;
    save();
}

void LineAccount::heard(long long now) {
    lastHeard_ = now;
    lastActivity_ = std::max(lastActivity_, now);
}

long long LineAccount::answerCame(long long now) {
    const long long took = now - sentAt_.front();
    sentAt_.pop_front();
    slowestAnswerMs_ = std::max(slowestAnswerMs_, took);
    grow(2 * took);
    save();
    return took;
}

void LineAccount::forget(long long now) {
    if (!sentAt_.empty()) {
        mayBeBehind_ = true;
        grow(2 * (now - sentAt_.front()));
    }
    sentAt_.clear();
    save();
}

void LineAccount::grow(long long ms) {
    waitMs_ = std::min(kMaxWaitMs, std::max(waitMs_, ms));
}

void LineAccount::save() {
    if (!store_) return;
    store_->save(port_, {newestRequest_, out(), waitMs_, lastActivity_});
}

}  // namespace progread
