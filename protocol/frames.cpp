// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/frames.h"

#include <cstdio>

#include "protocol/hex_codec.h"

namespace progread {

namespace {

bool isUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Either case; -1 for anything else.
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string printable(char c) {
    auto code = static_cast<unsigned char>(c);
    if (code >= 0x20 && code < 0x7F) return std::string("'") + c + "'";
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", code);
    return buf;
}

}  // namespace

ReadRequest BuildReadRequest(Integer offset) {
    if (offset < 0 || offset > kLastBlockOffset ||
        offset % static_cast<Integer>(kBlockBytes) != 0) {
        throw Error(ErrorKind::Overflow,
                    "block offset " + std::to_string(offset) + " lies outside program memory");
    }
    ReadRequest r;
    auto& c = r.chars;
    const long address = kBaseAddress + offset;
    c[0] = kStx;
    c[1] = 'E';
    c[2] = '0';
    c[3] = '1';
    c[4] = digitCode(toByte(address / 4096));
    c[5] = digitCode(toByte((address & 0xF00) / 256));
    c[6] = digitCode(toByte((address & 0xF0) / 16));
    c[7] = digitCode(toByte(address & 0xF));
    c[8] = '2';
    c[9] = '0';
    c[10] = kEtx;
    r.frameSum = frameSum(std::span(c).subspan(1, 10));
    c[11] = digitCode(toByte((r.frameSum & 0xF0) / 16));
    c[12] = digitCode(toByte(r.frameSum & 0xF));
    return r;
}

BytePair DecodeGroup(Byte c1, Byte c2, Byte c3, Byte c4) {
    auto byteOf = [](Byte high, Byte low) {
        return toByte(addChecked(mulChecked(ZHUANS(high), 16), ZHUANS(low)));
    };
    BytePair pair;
    pair.first = byteOf(c1, c2);
    pair.second = byteOf(c3, c4);
    return pair;
}

Integer frameSum(std::span<const Byte> chars) {
    Integer sum = 0;
    for (Byte b : chars) sum = addChecked(sum, b);
    return sum;
}

ReplyCheck checkReply(std::string_view reply) {
    auto malformed = [](std::string detail) {
        return ReplyCheck{ReplyFault::Malformed, std::move(detail)};
    };
    if (reply.size() != kReplyLength) {
        return malformed(std::to_string(reply.size()) + " characters, " +
                         std::to_string(kReplyLength) + " expected");
    }
    if (static_cast<Byte>(reply[0]) != kStx) {
        return malformed("starts with " + printable(reply[0]) + " instead of STX");
    }
    for (std::size_t i = 1; i <= 2 * kBlockBytes; ++i) {
        if (!isUpperHexDigit(reply[i])) {
            return malformed(printable(reply[i]) + " at character " + std::to_string(i + 1) +
                             " is not an uppercase hex digit");
        }
    }
    if (static_cast<Byte>(reply[65]) != kEtx) {
        return malformed(printable(reply[65]) + " at character 66 instead of ETX");
    }
    // The controller forms its checksum characters as it likes: lowercase digits are the same
    // number, and characters that are no digits at all are a rule of its own, which two
    // identical replies confirm.
    const auto* bytes = reinterpret_cast<const Byte*>(reply.data());
    const unsigned expected = static_cast<unsigned>(frameSum(std::span(bytes + 1, 65))) & 0xFF;
    const int high = hexValue(reply[66]);
    const int low = hexValue(reply[67]);
    if (high < 0 || low < 0) {
        return ReplyCheck{ReplyFault::ChecksumMismatch,
                          "checksum characters " + printable(reply[66]) + " " +
                              printable(reply[67]) + " are not hex digits"};
    }
    const unsigned got = static_cast<unsigned>(high * 16 + low);
    if (expected != got) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "checksum %02X, computed %02X", got, expected);
        return ReplyCheck{ReplyFault::ChecksumMismatch, buf};
    }
    return {};
}

std::string BuildBlockReply(std::span<const Byte, kBlockBytes> data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string reply;
    reply.reserve(kReplyLength);
    reply += static_cast<char>(kStx);
    for (Byte b : data) {
        reply += kDigits[b >> 4];
        reply += kDigits[b & 0xF];
    }
    reply += static_cast<char>(kEtx);
    const auto* bytes = reinterpret_cast<const Byte*>(reply.data());
    const unsigned sum = static_cast<unsigned>(frameSum(std::span(bytes + 1, 65))) & 0xFF;
    reply += kDigits[sum >> 4];
    reply += kDigits[sum & 0xF];
    return reply;
}

}  // namespace progread
