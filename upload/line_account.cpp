// SPDX-License-Identifier: GPL-3.0-or-later
#include "upload/line_account.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
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

std::filesystem::path LineRecordFiles::pathFor(const std::string& port) const {
    // "/dev/ttyUSB0" -> "progread-line-dev_ttyUSB0"; "COM3" -> "progread-line-COM3"
    std::string name;
    for (const char c : port) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '-' || c == '.';
        if (plain) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    return dir_ / ("progread-line-" + name);
}

std::optional<LineRecord> LineRecordFiles::load(const std::string& port) {
    std::ifstream in(pathFor(port));
    std::string magic;
    LineRecord r;
    if (!(in >> magic >> r.newestRequestMs >> r.out >> r.waitMs >> r.lastActivityMs) ||
        magic != "progread-line-1" || r.out < 0 || r.waitMs <= 0) {
        return std::nullopt;
    }
    return r;
}

LineRecordFiles::~LineRecordFiles() {
    if (fd_ >= 0) ::close(fd_);
}

void LineRecordFiles::save(const std::string& port, const LineRecord& r) {
    if (port != openPort_ || fd_ < 0) {
        if (fd_ >= 0) ::close(fd_);
#ifdef _WIN32
        fd_ = ::_wopen(pathFor(port).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY, 0600);
#else
        fd_ = ::open(pathFor(port).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
#endif
        openPort_ = port;
        if (fd_ < 0) return;
    }
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
