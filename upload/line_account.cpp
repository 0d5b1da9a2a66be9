#include "upload/line_account.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

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

void LineRecordFiles::save(const std::string& port, const LineRecord& r) {
    // Replaced whole by a rename: a reader never sees half a record.
    const std::filesystem::path path = pathFor(port);
    std::filesystem::path temp = path;
    temp += ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << "progread-line-1 " << r.newestRequestMs << ' ' << r.out << ' ' << r.waitMs << ' '
            << r.lastActivityMs << '\n';
        if (!out.flush()) return;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
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
