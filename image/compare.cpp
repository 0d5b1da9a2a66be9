// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/compare.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "image/program_image.h"
#include "protocol/frames.h"

namespace progread {

static_assert(kLargestImageBytes == ProgramImage::kHeaderBytes + kLastBlockOffset + kBlockBytes +
                                        ProgramImage::kTailBytes);

std::optional<std::vector<Byte>> programOf(const std::vector<Byte>& image, NotAnImage* why) {
    constexpr std::size_t header = ProgramImage::kHeaderBytes;
    constexpr std::size_t tail = ProgramImage::kTailBytes;
    auto fail = [&](NotAnImage reason) -> std::optional<std::vector<Byte>> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (image.size() < header + kBlockBytes + tail) return fail(NotAnImage::TooShort);
    if (image.size() > kLargestImageBytes) return fail(NotAnImage::TooLong);
    if ((image.size() - header - tail) % kBlockBytes != 0) return fail(NotAnImage::NotWholeBlocks);
    for (std::size_t i = image.size() - tail; i < image.size(); i += 2) {
        if (image[i] != 0xFF || image[i + 1] != 0x00) return fail(NotAnImage::NoTail);
    }
    return std::vector<Byte>(image.begin() + static_cast<long>(header),
                             image.end() - static_cast<long>(tail));
}

std::optional<std::vector<Byte>> programOfFile(const std::filesystem::path& path, NotAnImage* why) {
    auto fail = [&](NotAnImage reason) -> std::optional<std::vector<Byte>> {
        if (why) *why = reason;
        return std::nullopt;
    };
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return fail(NotAnImage::Missing);
    if (status.type() != std::filesystem::file_type::regular) return fail(NotAnImage::NotAFile);
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return fail(NotAnImage::Unreadable);
    if (size > kLargestImageBytes) return fail(NotAnImage::TooLong);
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(NotAnImage::Unreadable);
    // One byte more than an image can hold: a file that grew since is still seen as too long.
    std::vector<Byte> bytes(kLargestImageBytes + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) return fail(NotAnImage::Unreadable);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return programOf(bytes, why);
}

ProgramDiff compareWith(const std::vector<Byte>& program, const std::vector<Byte>& other) {
    ProgramDiff diff;
    diff.blocks = static_cast<long>(program.size() / kBlockBytes);
    diff.otherBlocks = static_cast<long>(other.size() / kBlockBytes);
    const std::size_t longest = std::max(program.size(), other.size());
    for (std::size_t block = 0; block < longest; block += kBlockBytes) {
        bool differs = false;
        for (std::size_t i = block; i < block + kBlockBytes; ++i) {
            const int ours = i < program.size() ? program[i] : -1;
            const int theirs = i < other.size() ? other[i] : -1;
            if (ours == theirs) continue;
            if (diff.firstAddress < 0) {
                diff.firstAddress = kBaseAddress + static_cast<long>(i);
                diff.value = ours;
                diff.otherValue = theirs;
            }
            differs = true;
        }
        if (differs) ++diff.differing;
    }
    return diff;
}

std::string stampOfKeptImage(const std::filesystem::path& kept) {
    const std::string name = kept.filename().string();
    // duqu-YYYYMMDD-HHMMSS
    if (name.size() < 20 || name.compare(0, 5, "duqu-") != 0 || name[13] != '-') return {};
    const std::string stamp = name.substr(5, 15);
    for (std::size_t i = 0; i < stamp.size(); ++i) {
        if (i != 8 && !std::isdigit(static_cast<unsigned char>(stamp[i]))) return {};
    }
    return stamp;
}

}  // namespace progread
