#include "image/program_image.h"

#include <algorithm>
#include <cerrno>
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

int openRead(const fs::path& p) {
#ifdef _WIN32
    return ::_wopen(p.c_str(), _O_RDONLY | _O_BINARY);
#else
    return ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
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

bool syncFile(int fd) {
#ifdef _WIN32
    return ::_commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
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
void replaceFile(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return;
    const std::string why = std::system_category().message(static_cast<int>(::GetLastError()));
#else
    if (::rename(from.c_str(), to.c_str()) == 0) return;
    const std::string why = reason(errno);
#endif
    throw Error(ErrorKind::File,
                fileFacts(ErrorFacts::Code::FileFailed, from, ErrorFacts::Action::Rename, why, to),
                "cannot rename " + from.string() + " to " + to.string() + ": " + why);
}

enum class Move { Done, NameTaken };

// Moves from to the new name to; never replaces anything there.
Move moveNoReplace(const fs::path& from, const fs::path& to) {
    std::string why;
#ifdef _WIN32
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Move::Done;
    const DWORD err = ::GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return Move::NameTaken;
    why = std::system_category().message(static_cast<int>(err));
#else
    // rename() would replace; a hard link refuses a taken name. Flags 0: a link is moved as
    // itself, not what it points to.
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0) {
        if (::unlink(from.c_str()) == 0) return Move::Done;
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

// Makes a rename itself survive a power cut. Some file systems refuse; the data are safe anyway.
void syncDir([[maybe_unused]] const fs::path& dir) {
#ifndef _WIN32
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
#endif
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
        const fs::path probe =
            dir / (".progread-probe-" + std::to_string(pid) + "-" + std::to_string(n));
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

[[noreturn]] void notOpen(const fs::path& part) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::ImageNotOpen, part),
                "the image " + part.string() + " is not open");
}

}  // namespace

bool PrepareReport::headerComplete() const {
    return templateBytes == ProgramImage::kHeaderBytes;
}

bool isWritableDir(const fs::path& dir) {
    return probeDir(dir) == 0;
}

ProgramImage::ProgramImage(fs::path dir) : dir_(std::move(dir)) {}

ProgramImage::~ProgramImage() {
    closeQuietly();
}

PrepareReport ProgramImage::prepare() {
    close();
    if (const int err = probeDir(dir_))
        fileError(ErrorFacts::Action::WriteInFolder, "write in the folder", dir_, err);
    PrepareReport report;
    readTemplate(report);
    moveEarlierImageAside(false);
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
    errno = 0;
    const int fd = openRead(templ);
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

void ProgramImage::moveEarlierImageAside(bool removeEmpty) {
    const fs::path image = imagePath();
    switch (typeOf(image)) {
        case fs::file_type::not_found:
            return;
        case fs::file_type::regular: {
            std::error_code ec;
            if (fs::file_size(image, ec) == 0 && !ec) {
                // Nothing to keep; before a read, an empty duqu.pmw would pass for its result.
                if (removeEmpty) removeFile(image);
                return;
            }
            break;
        }
        case fs::file_type::symlink:
            break;  // the link itself moves; what it points to is not touched
        default:
            notAFile(image);
    }
    notes_.push_back({FileNote::Kind::MovedToHistory, moveToHistory(image, ".pmw"), 0});
}

fs::path ProgramImage::moveToHistory(const fs::path& file, const std::string& suffix) {
    const fs::path history = historyPath();
    std::error_code ec;
    fs::create_directory(history, ec);
    if (ec) fileError(ErrorFacts::Action::CreateFolder, "create the folder", history, ec.value());
    if (!fs::is_directory(history, ec)) notAFile(history);
    const std::string stamp = modificationStamp(file);
    for (int n = 0; n < 1000; ++n) {
        const fs::path to =
            history / ("duqu-" + stamp + (n ? "-" + std::to_string(n) : std::string()) + suffix);
        if (moveNoReplace(file, to) == Move::Done) return to;
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
            const std::size_t blocks =
                !ec && bytes > kHeaderBytes ? (bytes - kHeaderBytes) / kBlockBytes : 0;
            if (blocks == 0) break;  // a header alone: nothing to keep
            // What an earlier read kept (all of it, if only its publishing failed) is kept
            // on, under a name no program takes for an image.
            notes_.push_back(
                {FileNote::Kind::ReplacedPart, moveToHistory(part, ".pmw.part"), blocks});
            return;
        }
        case fs::file_type::symlink:
            break;  // removed as a link; what it points to stays as it is
        default:
            notAFile(part);
    }
    removeFile(part);
}

void ProgramImage::restart() {
    closeQuietly();
    partExists_ = false;
    onDisk_ = 0;
    bodyEnd_ = UINTMAX_MAX;
    moveEarlierImageAside(true);
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
    errno = 0;
    if (!syncFile(fd_)) {
        const int err = errno;
        closeQuietly();
        fileError(ErrorFacts::Action::WriteTo, "write to", partPath(), err);
    }
    const int fd = fd_;
    fd_ = -1;
    errno = 0;
    if (!closeFile(fd)) fileError(ErrorFacts::Action::Close, "close", partPath(), errno);
    // Nothing is there unless another program put it there during the read: keep it too.
    moveEarlierImageAside(true);
    replaceFile(partPath(), imagePath());
    syncDir(dir_);
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
