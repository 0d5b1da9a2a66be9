// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/program_image.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "image/file_ops.h"
#include "image/history.h"

namespace fs = std::filesystem;

namespace progread {

using namespace files;

namespace {

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

[[noreturn]] void notAFile(const fs::path& p) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::NotAFile, p),
                "cannot use " + p.string() + ": it is not a file; move it elsewhere");
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
            notes_.push_back({FileNote::Kind::MovedToHistory,
                              moveToHistory(historyPath(), image, ".pmw", true)});
            return;
        }
        case fs::file_type::symlink:
            break;  // the link itself moves; what it points to is not touched
        default:
            notAFile(image);
    }
    notes_.push_back({FileNote::Kind::MovedToHistory, moveToHistory(historyPath(), image, ".pmw")});
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
            notes_.push_back({FileNote::Kind::ReplacedPart,
                              moveToHistory(historyPath(), part, ".pmw.part"), blocks, complete});
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
