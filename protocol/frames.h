// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The block read request (13 characters) and the block reply (68 characters).

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "protocol/checked.h"

namespace progread {

inline constexpr Byte kStx = 0x02;
inline constexpr Byte kEtx = 0x03;
inline constexpr Byte kNak = 0x15;

inline constexpr std::size_t kRequestLength = 13;
inline constexpr std::size_t kReplyLength = 68;
inline constexpr std::size_t kBlockBytes = 32;
inline constexpr long kBaseAddress = 0x8000;
// The last block of the 32 KiB program memory (address 0xFFE0).
inline constexpr Integer kLastBlockOffset = 32736;

struct ReadRequest {
    std::array<Byte, kRequestLength> chars{};
    Integer frameSum = 0;  // sum of characters 2..11 before it is cut to 8 bits
};

// The request for the 32 bytes at 0x8000 + offset. offset must lie in 0..32736.
ReadRequest BuildReadRequest(Integer offset);

struct BytePair {
    Byte first = 0;
    Byte second = 0;
    bool operator==(const BytePair&) const = default;
};

// Four digit characters -> two bytes (overflow error for a byte above 255).
BytePair DecodeGroup(Byte c1, Byte c2, Byte c3, Byte c4);

// The program ends at the pair 0F 00, recognised only inside one group.
inline bool isEndMarker(BytePair pair) {
    return pair.first == 0x0F && pair.second == 0x00;
}

// Checked sum of the character codes in chars (requests: 2..11, replies: 2..66).
Integer frameSum(std::span<const Byte> chars);

// Why a reply was refused; None when it may be decoded.
enum class ReplyFault { None, Malformed, ChecksumMismatch };

struct ReplyCheck {
    ReplyFault fault = ReplyFault::None;
    std::string detail;  // for the operator, e.g. "67 characters, 68 expected"
    explicit operator bool() const { return fault == ReplyFault::None; }
};

// A whole reply, trimmed: STX, 64 uppercase hex digits, ETX, and two hex digits (either
// case) equal to the low 8 bits of the sum of characters 2..66. Checksum characters that
// are no hex digits are a mismatch, not a malformed reply.
ReplyCheck checkReply(std::string_view reply);

// The reply a controller sends for 32 bytes of memory.
std::string BuildBlockReply(std::span<const Byte, kBlockBytes> data);

}  // namespace progread
