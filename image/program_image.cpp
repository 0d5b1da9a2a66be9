#include "image/program_image.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "image/portable_file.h"

namespace progread {

namespace {

[[noreturn]] void fileError(const std::string& action, const std::filesystem::path& path) {
    const int err = errno;
    std::string why = err ? std::strerror(err) : "unknown reason";
    throw Error(ErrorKind::File, "cannot " + action + " " + path.string() + ": " + why);
}

}  // namespace

bool PrepareReport::headerComplete() const {
    return templateBytes == ProgramImage::kHeaderBytes;
}

ProgramImage::ProgramImage(std::filesystem::path dir) : dir_(std::move(dir)) {}

ProgramImage::~ProgramImage() {
    if (file_) std::fclose(file_);
}

PrepareReport ProgramImage::prepare() {
    close();
    PrepareReport report;
    header_.fill(0);
    const auto templ = templatePath();
    errno = 0;
    if (std::FILE* t = openFile(templ, "rb")) {
        report.templateBytes = std::fread(header_.data(), 1, header_.size(), t);
        const bool failed = std::ferror(t);
        std::fclose(t);
        if (failed) fileError("read the template", templ);
    } else if (errno == ENOENT) {
        // As the programming software does: leave an empty template for the operator to fill.
        report.templateMissing = true;
        std::FILE* created = openFile(templ, "wb");
        if (!created || std::fclose(created) != 0) fileError("create the template", templ);
    } else {
        fileError("open the template", templ);
    }
    openWithHeader();
    return report;
}

void ProgramImage::openWithHeader() {
    if (file_) std::fclose(file_);
    size_ = 0;
    errno = 0;
    file_ = openFile(imagePath(), "wb");
    if (!file_) fileError("create the image", imagePath());
    write(header_.data(), header_.size());
    flush();
}

void ProgramImage::write(const void* data, std::size_t count) {
    if (!file_) {
        errno = 0;
        throw Error(ErrorKind::File, "the image " + imagePath().string() + " is not open");
    }
    errno = 0;
    if (std::fwrite(data, 1, count, file_) != count) fileError("write to the image", imagePath());
    size_ += count;
}

void ProgramImage::appendPair(BytePair pair) {
    const Byte bytes[2] = {pair.first, pair.second};
    write(bytes, 2);
}

void ProgramImage::appendTail() {
    std::array<Byte, kTailBytes> tail{};
    for (std::size_t i = 0; i < kTailBytes; i += 2) tail[i] = 0xFF;  // 255 as 16-bit LE
    write(tail.data(), tail.size());
}

void ProgramImage::restart() { openWithHeader(); }

void ProgramImage::flush() {
    errno = 0;
    if (file_ && std::fflush(file_) != 0) fileError("write to the image", imagePath());
}

void ProgramImage::close() {
    if (!file_) return;
    std::FILE* f = file_;
    file_ = nullptr;
    errno = 0;
    if (std::fclose(f) != 0) fileError("close the image", imagePath());
}

}  // namespace progread
