// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Two program images side by side: whether the programs in them are the same, and if not,
// where and how they differ. The header (taken from the template) and the tail (always the
// same) are not part of the program and are left out.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "protocol/checked.h"

namespace progread {

// Why a file is no program image.
enum class NotAnImage {
    Missing,
    NotAFile,
    Unreadable,
    TooShort,        // shorter than a header, one block and the tail
    NotWholeBlocks,  // what lies between header and tail is no whole number of blocks
    NoTail,          // it does not end in the tail
    TooLong,         // longer than kLargestImageBytes
};

// The longest image there can be: the 256-byte header, the whole 32 KiB of program memory
// (0x8000 to 0xFFFF) and the 1026-byte tail. A longer file is refused without reading it:
// a file picked by mistake may be a gigabyte.
inline constexpr std::size_t kLargestImageBytes = 256 + 32768 + 1026;

// The program part of an image: the whole blocks between the 256-byte header and the tail.
// Nothing, and why, when the bytes are not laid out as an image.
std::optional<std::vector<Byte>> programOf(const std::vector<Byte>& image, NotAnImage* why);

// Reads path and gives its program part; nothing, and why, when it cannot be read or is not
// an image. Only a regular file is opened (a pipe or a device would block or be disturbed),
// and no more than an image can hold is read.
std::optional<std::vector<Byte>> programOfFile(const std::filesystem::path& path, NotAnImage* why);

struct ProgramDiff {
    long blocks = 0;         // blocks in the program read now
    long otherBlocks = 0;    // blocks in the program it is compared with
    long differing = 0;      // blocks that differ, those only one program has among them
    long firstAddress = -1;  // the first byte that differs, as a controller address; -1: same
    int value = -1;          // that byte in the program read now; -1: it has none there
    int otherValue = -1;     // and in the other
    bool same() const { return differing == 0; }
};

ProgramDiff compareWith(const std::vector<Byte>& program, const std::vector<Byte>& other);

// "20261206-140312" out of a kept image's name "duqu-20261206-140312.pmw" (or with a "-1"
// after it): the time of the read that made it; empty when the name has none.
std::string stampOfKeptImage(const std::filesystem::path& kept);

}  // namespace progread
