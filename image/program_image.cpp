// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/program_image.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace progread {

namespace {

// The few file operations the image needs, without stdio's buffering (a failed write must
// tell how much reached the file) and without following a link where a file is created.

int createNew(const fs::path& p) {
#ifdef _WIN32
    return ::_wopen(p.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
}

// Never waits: a pipe put in a file's place opens at once, and isRegular() turns it away.
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

ErrorFacts fileFacts(ErrorFacts::Code code, const fs::path& path, ErrorFacts::Action action = {},
                     const std::string& why = {}, const fs::path& to = {}) {
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

// from replaces to in one step.
void replaceFile(DiskCalls& disk, const fs::path& from, const fs::path& to) {
    const std::error_code ec = disk.replace(from, to);
    if (!ec) return;
    const std::string why =
        ec.category() == std::generic_category() ? reason(ec.value()) : ec.message();
    throw Error(ErrorKind::File,
                fileFacts(ErrorFacts::Code::FileFailed, from, ErrorFacts::Action::Rename, why, to),
                "cannot rename " + from.string() + " to " + to.string() + ": " + why);
}

enum class Move { Done, NameTaken };

// Moves from to the new name to; never replaces anything there. keep: to becomes a second
// name of from, which stays (where the system has hard links; else from moves).
Move moveNoReplace(const fs::path& from, const fs::path& to, bool keep) {
    std::string why;
#ifdef _WIN32
    (void)keep;
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Move::Done;
    const DWORD err = ::GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return Move::NameTaken;
    why = std::system_category().message(static_cast<int>(err));
#else
    // rename() would replace; a hard link refuses a taken name. Flags 0: a link is moved as
    // itself, not what it points to.
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0) {
        if (keep || ::unlink(from.c_str()) == 0) return Move::Done;
        why = reason(errno);
        ::unlink(to.c_str());
    } else if (errno == EEXIST) {
        return Move::NameTaken;
    } else if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == EMLINK ||
               errno == ENOSYS) {
        // A file system without hard links: look, then rename.
        struct stat st;
        if (::lstat(to.c_str(), &st) == 0) return Move::NameTaken;
        if (::rename(from.c_str(), to.c_str()) == 0) return Move::Done;
        why = reason(errno);
    } else {
        why = reason(errno);
    }
#endif
    throw Error(ErrorKind::File,
                fileFacts(ErrorFacts::Code::FileFailed, from, ErrorFacts::Action::Move, why, to),
                "cannot move " + from.string() + " to " + to.string() + ": " + why);
}

// Both files hold the same bytes; false when either cannot be read.
bool sameBytes(const fs::path& a, const fs::path& b) {
    std::error_code ec1, ec2;
    if (fs::file_size(a, ec1) != fs::file_size(b, ec2) || ec1 || ec2) return false;
    const int fa = openRead(a);
    const int fb = openRead(b);
    bool same = fa >= 0 && fb >= 0;
    std::vector<Byte> x(1 << 16), y(1 << 16);
    while (same) {
        const long n = readSome(fa, x.data(), x.size());
        if (n <= 0) {
            same = n == 0 && readSome(fb, y.data(), 1) == 0;
            break;
        }
        std::size_t got = 0;
        long m = 0;
        while (got < static_cast<std::size_t>(n) &&
               (m = readSome(fb, y.data() + got, static_cast<std::size_t>(n) - got)) > 0)
            got += static_cast<std::size_t>(m);
        same =
            got == static_cast<std::size_t>(n) && std::equal(x.begin(), x.begin() + n, y.begin());
    }
    if (fa >= 0) closeFile(fa);
    if (fb >= 0) closeFile(fb);
    return same;
}

// The file's own modification time (a link's, not its target's), local: "20240131-235959".
std::string modificationStamp(const fs::path& p) {
    std::tm tm{};
#ifdef _WIN32
    struct _stat64 st;
    const std::time_t t = ::_wstat64(p.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
    ::localtime_s(&tm, &t);
#else
    struct stat st;
    const std::time_t t = ::lstat(p.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
    ::localtime_r(&t, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// 0 when a file can be created in dir, else the system's error code.
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

[[noreturn]] void notAFile(const fs::path& p) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::NotAFile, p),
                "cannot use " + p.string() + ": it is not a file; move it elsewhere");
}

[[noreturn]] void lockError(ErrorFacts::Code code, const fs::path& lock, const std::string& words,
                            long long pid = 0, const std::string& why = {}) {
    ErrorFacts facts = fileFacts(code, lock.parent_path(), {}, why);
    facts.count = static_cast<int>(pid);
    throw Error(ErrorKind::File, facts, lock.string() + words);
}

[[noreturn]] void historyNotAFolder(const fs::path& history) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::HistoryNotAFolder, history),
                history.string() +
                    " is not a folder, so earlier images cannot be kept in it; move or rename it");
}

[[noreturn]] void notATemplate(const fs::path& templ) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::TemplateNotAFile, templ),
                "the template " + templ.string() +
                    " is not a regular file; put a copy of the template file there");
}

[[noreturn]] void notOpen(const fs::path& part) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::ImageNotOpen, part),
                "the image " + part.string() + " is not open");
}

DiskCalls& systemDisk() {
    static DiskCalls calls;
    return calls;
}

}  // namespace

int DiskCalls::syncFile(int fd) {
    errno = 0;
#ifdef _WIN32
    if (::_commit(fd) == 0) return 0;
#else
    if (::fsync(fd) == 0) return 0;
#endif
    return errno ? errno : EIO;
}

std::error_code DiskCalls::replace(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return {static_cast<int>(::GetLastError()), std::system_category()};
#else
    if (::rename(from.c_str(), to.c_str()) == 0) return {};
    return {errno, std::generic_category()};
#endif
}

// Makes the rename itself survive a power cut.
void DiskCalls::syncFolder([[maybe_unused]] const fs::path& dir) {
#ifndef _WIN32
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
#endif
}

bool PrepareReport::headerComplete() const {
    return templateBytes == ProgramImage::kHeaderBytes;
}

bool isWritableDir(const fs::path& dir) {
    return probeDir(dir) == 0;
}

bool processRunning(long long pid) {
#ifdef _WIN32
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
#else
    // 0 and below would ask about process groups.
    return pid <= 0 || pid > INT_MAX || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
#endif
}

void checkLockPath(const fs::path& lock) {
    switch (typeOf(lock)) {
        case fs::file_type::not_found:
        case fs::file_type::regular:
            return;
        case fs::file_type::directory:
            lockError(ErrorFacts::Code::LockIsAFolder, lock,
                      " is a folder, not progread's lock file: remove it");
        default:
            lockError(ErrorFacts::Code::LockNotAFile, lock,
                      " is not a file (a link, pipe or device), so not progread's lock file: "
                      "remove it");
    }
}

void refusedLock(const fs::path& lock, std::optional<LockHolder> holder, bool retry) {
    checkLockPath(lock);  // put there since the first look
    if (retry && typeOf(lock) == fs::file_type::not_found) return;  // its holder just ended
    if (typeOf(lock) != fs::file_type::not_found && (!holder || holder->pid <= 0)) {
        // Empty when a process was stopped between creating and filling it: held by nobody,
        // yet never taken for stale.
        lockError(ErrorFacts::Code::LockUnreadable, lock,
                  " cannot be read as progread's lock file; if no progread uses the folder, "
                  "remove it");
    }
    if (holder && holder->thisMachine && !processRunning(holder->pid)) {
        // Stale, yet still there: it could not be removed.
        std::error_code ec;
        fs::remove(lock, ec);
        if (!ec && retry) return;
        if (ec) {
            lockError(ErrorFacts::Code::LockLeftBehind, lock,
                      " was left by an ended progread (process " + std::to_string(holder->pid) +
                          ") and cannot be removed: " + ec.message(),
                      holder->pid, ec.message());
        }
    }
    const long long pid = holder ? holder->pid : 0;
    ErrorFacts facts = fileFacts(ErrorFacts::Code::FolderInUse, lock.parent_path());
    facts.count = static_cast<int>(pid);
    throw Error(ErrorKind::File, facts,
                "another progread" +
                    (pid ? " (process " + std::to_string(pid) + ")" : std::string()) +
                    " is using the folder " + lock.parent_path().string() +
                    "; close it first, or give this one another folder with --dir");
}

ProgramImage::ProgramImage(fs::path dir) : dir_(std::move(dir)), disk_(&systemDisk()) {}

void ProgramImage::setDiskCalls(DiskCalls* calls) {
    disk_ = calls ? calls : &systemDisk();
}

ProgramImage::~ProgramImage() {
    closeQuietly();
}

void ProgramImage::makeFolder() {
    // An empty path is the working folder.
    if (dir_.empty() || typeOf(dir_) != fs::file_type::not_found) return;
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) fileError(ErrorFacts::Action::CreateFolder, "create the folder", dir_, ec.value());
    notes_.push_back({FileNote::Kind::MadeFolder, dir_});
}

PrepareReport ProgramImage::prepare() {
    close();
    makeFolder();
    if (const int err = probeDir(dir_))
        fileError(ErrorFacts::Action::WriteInFolder, "write in the folder", dir_, err);
    PrepareReport report;
    readTemplate(report);
    checkPlaces();
    return report;
}

void ProgramImage::readTemplate(PrepareReport& report) {
    std::fill(header_.begin(), header_.end(), Byte{0});
    const fs::path templ = templatePath();
    std::error_code ec;
    if (typeOf(templ) == fs::file_type::symlink && !fs::exists(templ, ec)) {
        // Creating the file would write through the link; replacing it would lose where it led.
        throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::TemplateLinkBroken, templ),
                    "the template " + templ.string() +
                        " is a link to a file that is not there; restore the "
                        "file or remove the link");
    }
    // none: it could not be looked at, and opening it says why.
    const fs::file_type type = fs::status(templ, ec).type();
    if (type != fs::file_type::regular && type != fs::file_type::not_found &&
        type != fs::file_type::none)
        notATemplate(templ);
    errno = 0;
    const int fd = openRead(templ);
    if (fd >= 0 && !isRegular(fd)) {
        closeFile(fd);
        notATemplate(templ);  // put there since the look
    }
    if (fd >= 0) {
        std::size_t got = 0;
        long n = 0;
        while (got < header_.size() &&
               (n = readSome(fd, header_.data() + got, header_.size() - got)) > 0) {
            got += static_cast<std::size_t>(n);
        }
        const int err = errno;
        closeFile(fd);
        if (n < 0) fileError(ErrorFacts::Action::ReadTemplate, "read the template", templ, err);
        report.templateBytes = got;
    } else if (errno == ENOENT) {
        // As the programming software does: leave an empty template for the operator to fill.
        errno = 0;
        const int created = createNew(templ);
        if (created < 0 || !closeFile(created))
            fileError(ErrorFacts::Action::CreateTemplate, "create the template", templ, errno);
        report.templateMissing = true;
    } else {
        fileError(ErrorFacts::Action::OpenTemplate, "open the template", templ, errno);
    }
}

void ProgramImage::keepEarlierImage() {
    const fs::path image = imagePath();
    switch (typeOf(image)) {
        case fs::file_type::not_found:
            return;
        case fs::file_type::regular: {
            std::error_code ec;
            if (fs::file_size(image, ec) == 0 && !ec) return;  // nothing to keep
            if (sameBytes(image, partPath())) {
                // The same program again: history keeps programs, not copies.
                notes_.push_back(
                    {FileNote::Kind::SameAsEarlier, image, 0, false, modificationStamp(image)});
                return;
            }
            // A second name in history/; the rename then replaces only the first.
            notes_.push_back({FileNote::Kind::MovedToHistory, moveToHistory(image, ".pmw", true)});
            return;
        }
        case fs::file_type::symlink:
            break;  // the link itself moves; what it points to is not touched
        default:
            notAFile(image);
    }
    notes_.push_back({FileNote::Kind::MovedToHistory, moveToHistory(image, ".pmw")});
}

void ProgramImage::checkPlaces() {
    // Said at once, not once a read has run its whole length: a folder or pipe where the
    // image goes, or no folder to keep the earlier image in.
    const fs::path image = imagePath();
    const fs::file_type type = typeOf(image);
    if (type != fs::file_type::not_found && type != fs::file_type::regular &&
        type != fs::file_type::symlink)
        notAFile(image);
    std::error_code ec;
    const fs::path history = historyPath();
    if (type != fs::file_type::not_found && !fs::is_directory(history, ec) &&
        typeOf(history) != fs::file_type::not_found)
        historyNotAFolder(history);
}

std::string ProgramImage::imageStamp() const {
    std::error_code ec;
    const fs::path image = imagePath();
    if (!fs::is_regular_file(fs::symlink_status(image, ec)) || fs::file_size(image, ec) == 0 || ec)
        return {};
    return modificationStamp(image);
}

fs::path ProgramImage::moveToHistory(const fs::path& file, const std::string& suffix, bool keep) {
    const fs::path history = historyPath();
    std::error_code ec;
    if (!fs::is_directory(history, ec)) {  // a link to a folder will do
        if (typeOf(history) != fs::file_type::not_found) historyNotAFolder(history);
        fs::create_directory(history, ec);
        if (ec)
            fileError(ErrorFacts::Action::CreateFolder, "create the folder", history, ec.value());
    }
    const std::string stamp = modificationStamp(file);
    for (int n = 0; n < 1000; ++n) {
        // Appended, not added up: GCC 12 warns falsely (-Wrestrict) on "-" + to_string(n).
        std::string name = "duqu-";
        name += stamp;
        if (n) {
            name += '-';
            name += std::to_string(n);
        }
        name += suffix;
        const fs::path to = history / name;
        if (moveNoReplace(file, to, keep) == Move::Done) return to;
    }
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::HistoryFull, file, {}, {}, history),
                "cannot move " + file.string() + " into " + history.string() +
                    ": every name for its time is taken");
}

void ProgramImage::replaceInterruptedPart() {
    const fs::path part = partPath();
    switch (typeOf(part)) {
        case fs::file_type::not_found:
            return;
        case fs::file_type::regular: {
            std::error_code ec;
            const std::uintmax_t bytes = fs::file_size(part, ec);
            const bool complete = !ec && endsInTail(part, bytes);
            const std::uintmax_t body = !ec && bytes > kHeaderBytes
                                            ? bytes - kHeaderBytes - (complete ? kTailBytes : 0)
                                            : 0;
            const std::size_t blocks = static_cast<std::size_t>(body / kBlockBytes);
            if (blocks == 0 && !complete) break;  // a header alone: nothing to keep
            // What an earlier read kept (all of it, if only its publishing failed) is kept
            // on, under a name no program takes for an image.
            notes_.push_back(
                {FileNote::Kind::ReplacedPart, moveToHistory(part, ".pmw.part"), blocks, complete});
            return;
        }
        case fs::file_type::symlink:
            break;  // removed as a link; what it points to stays as it is
        default:
            notAFile(part);
    }
    removeFile(part);
}

bool ProgramImage::endsInTail(const fs::path& part, std::uintmax_t bytes) {
    // A read that stopped keeps whole blocks only, so a body of blocks and a tail is the one
    // size a complete read leaves; the bytes then tell the tail from blocks of FF 00.
    if (bytes < kHeaderBytes + kTailBytes || (bytes - kHeaderBytes - kTailBytes) % kBlockBytes)
        return false;
    const int fd = openRead(part);
    if (fd < 0) return false;
    std::vector<Byte> tail(kTailBytes);
    std::size_t got = 0;
    long n = 0;
#ifdef _WIN32
    const bool placed = ::_lseeki64(fd, static_cast<__int64>(bytes - kTailBytes), SEEK_SET) >= 0;
#else
    const bool placed = ::lseek(fd, static_cast<off_t>(bytes - kTailBytes), SEEK_SET) >= 0;
#endif
    while (placed && got < tail.size() &&
           (n = readSome(fd, tail.data() + got, tail.size() - got)) > 0)
        got += static_cast<std::size_t>(n);
    closeFile(fd);
    if (got != tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); i += 2)
        if (tail[i] != 0xFF || tail[i + 1] != 0x00) return false;
    return true;
}

void ProgramImage::restart() {
    closeQuietly();
    partExists_ = false;
    onDisk_ = 0;
    bodyEnd_ = UINTMAX_MAX;
    checkPlaces();
    replaceInterruptedPart();
    errno = 0;
    fd_ = createNew(partPath());
    if (fd_ < 0) fileError(ErrorFacts::Action::Create, "create", partPath(), errno);
    partExists_ = true;
    pending_ = header_;
    flush();
}

void ProgramImage::appendPair(BytePair pair) {
    if (fd_ < 0) notOpen(partPath());
    pending_.push_back(pair.first);
    pending_.push_back(pair.second);
}

void ProgramImage::appendTail() {
    if (fd_ < 0) notOpen(partPath());
    bodyEnd_ = onDisk_ + pending_.size();
    for (std::size_t i = 0; i < kTailValues; ++i) {
        pending_.push_back(0xFF);  // 255 as 16-bit little-endian
        pending_.push_back(0x00);
    }
}

void ProgramImage::flush() {
    if (fd_ < 0) return;
    const std::uintmax_t end = onDisk_ + pending_.size();
    std::uintmax_t upTo = end;
    if (bodyEnd_ == UINTMAX_MAX && end > kHeaderBytes) {
        upTo = kHeaderBytes + (end - kHeaderBytes) / kBlockBytes * kBlockBytes;
    }
    writePending(static_cast<std::size_t>(upTo - onDisk_));
}

void ProgramImage::writePending(std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        errno = 0;
        const long n = writeSome(fd_, pending_.data() + done, count - done);
        if (n <= 0) {
            const int err = n < 0 && errno ? errno : EIO;
            onDisk_ += done;
            // Cut back to whole blocks, no piece of a tail: the count kept is what the file holds.
            if (onDisk_ > kHeaderBytes) {
                const std::uintmax_t body = std::min(onDisk_, bodyEnd_) - kHeaderBytes;
                const std::uintmax_t keep = kHeaderBytes + body / kBlockBytes * kBlockBytes;
                if (keep != onDisk_ && truncateFile(fd_, keep)) onDisk_ = keep;
            }
            pending_.clear();
            fileError(ErrorFacts::Action::WriteTo, "write to", partPath(), err);
        }
        done += static_cast<std::size_t>(n);
    }
    onDisk_ += done;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(done));
}

void ProgramImage::publish() {
    if (fd_ < 0) notOpen(partPath());
    flush();
    // On disk before it has the image's name: a power cut after the rename must not leave a
    // duqu.pmw whose bytes never reached the disk.
    if (const int err = disk_->syncFile(fd_)) {
        closeQuietly();
        fileError(ErrorFacts::Action::WriteTo, "write to", partPath(), err);
    }
    const int fd = fd_;
    fd_ = -1;
    errno = 0;
    if (!closeFile(fd)) fileError(ErrorFacts::Action::Close, "close", partPath(), errno);
    keepEarlierImage();
    replaceFile(*disk_, partPath(), imagePath());
    disk_->syncFolder(dir_);
    partExists_ = false;
}

void ProgramImage::close() {
    if (fd_ < 0) return;
    try {
        flush();
    } catch (const Error&) {
        closeQuietly();
        throw;
    }
    const int fd = fd_;
    fd_ = -1;
    errno = 0;
    if (!closeFile(fd)) fileError(ErrorFacts::Action::Close, "close", partPath(), errno);
}

void ProgramImage::closeQuietly() {
    if (fd_ >= 0) closeFile(fd_);
    fd_ = -1;
    pending_.clear();
}

std::size_t ProgramImage::partBlocks() const {
    if (!partExists_ || onDisk_ <= kHeaderBytes) return 0;
    return static_cast<std::size_t>((std::min(onDisk_, bodyEnd_) - kHeaderBytes) / kBlockBytes);
}

bool ProgramImage::partComplete() const {
    return partExists_ && bodyEnd_ != UINTMAX_MAX && onDisk_ == bodyEnd_ + kTailBytes;
}

std::vector<FileNote> ProgramImage::takeNotes() {
    std::vector<FileNote> notes;
    notes.swap(notes_);
    return notes;
}

}  // namespace progread
