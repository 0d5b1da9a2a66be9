// SPDX-License-Identifier: GPL-3.0-or-later
// The request and reply layouts, the group decoder and the whole-reply check.

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <string>
#include <vector>

#include "error_kind.h"
#include "frame_samples.h"
#include "protocol/frames.h"
#include "protocol/hex_codec.h"

using namespace progread;
using namespace progread::testing;

TEST(Frames, WorkedRequestsComeOutByteForByte) {
    struct Row {
        Integer offset;
        std::vector<int> expected;
    } rows[] = {
        {0, {0x02, 0x45, 0x30, 0x31, 0x38, 0x30, 0x30, 0x30, 0x32, 0x30, 0x03, 0x44, 0x33}},
        {32, {0x02, 0x45, 0x30, 0x31, 0x38, 0x30, 0x32, 0x30, 0x32, 0x30, 0x03, 0x44, 0x35}},
        {64, {0x02, 0x45, 0x30, 0x31, 0x38, 0x30, 0x34, 0x30, 0x32, 0x30, 0x03, 0x44, 0x37}},
        {32736, {0x02, 0x45, 0x30, 0x31, 0x46, 0x46, 0x45, 0x30, 0x32, 0x30, 0x03, 0x30, 0x43}},
    };
    for (const auto& r : rows) {
        ReadRequest req = BuildReadRequest(r.offset);
        std::vector<int> got(req.chars.begin(), req.chars.end());
        EXPECT_EQ(got, r.expected) << "offset " << r.offset;
        auto digit = [](int c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
        EXPECT_EQ(req.frameSum & 0xFF, digit(r.expected[11]) * 16 + digit(r.expected[12]));
    }
    EXPECT_EQ(kindOf([] { BuildReadRequest(32768 - 16); }), ErrorKind::Overflow);
    EXPECT_EQ(kindOf([] { BuildReadRequest(-32); }), ErrorKind::Overflow);
}

TEST(Frames, DecodeGroupAndTheEndMarker) {
    auto decode = [](const char* g) {
        return DecodeGroup(static_cast<Byte>(g[0]), static_cast<Byte>(g[1]),
                           static_cast<Byte>(g[2]), static_cast<Byte>(g[3]));
    };
    EXPECT_EQ(decode("12AB"), (BytePair{0x12, 0xAB}));
    EXPECT_TRUE(isEndMarker(decode("0F00")));
    EXPECT_FALSE(isEndMarker(decode("000F")));
    EXPECT_FALSE(isEndMarker(decode("0f00")));  // lowercase decodes as 0
    EXPECT_EQ(decode("0f00"), (BytePair{0x00, 0x00}));
    EXPECT_EQ(decode("?F00"), (BytePair{0xFF, 0x00}));
    EXPECT_EQ(kindOf([&] { decode("@000"); }), ErrorKind::Overflow);
    EXPECT_EQ(kindOf([&] { decode("F@00"); }), ErrorKind::Overflow);
    EXPECT_EQ(kindOf([&] {
                  decode(
                      "00\x03"
                      "0");
              }),
              ErrorKind::Overflow);
}

TEST(Frames, ReplyLayoutAndChecksumAgreeWithAHandBuiltReply) {
    // 32 bytes 00..1F: digits sum to 16*('0'+'1') + ... computed by hand below.
    std::array<Byte, 32> data{};
    for (std::size_t i = 0; i < 32; ++i) data[i] = static_cast<Byte>(i);
    std::string expected = "\x02";
    unsigned sum = 0;
    const char* hex = "0123456789ABCDEF";
    for (int i = 0; i < 32; ++i) {
        for (char c : {hex[i >> 4], hex[i & 15]}) {
            expected += c;
            sum += static_cast<unsigned char>(c);
        }
    }
    expected += '\x03';
    sum += 3;
    expected += hex[(sum >> 4) & 15];
    expected += hex[sum & 15];
    EXPECT_EQ(BuildBlockReply(data), expected);
    EXPECT_TRUE(checkReply(expected));
}

TEST(Frames, CheckReplyRejectsEveryMalformedShape) {
    const std::string good = BuildBlockReply(block(0x3C));
    ASSERT_TRUE(checkReply(good));

    auto with = [&](std::size_t pos, char c) {
        std::string r = good;
        r[pos] = c;
        return r;
    };
    struct Row {
        const char* what;
        std::string reply;
        ReplyFault fault;
    } rows[] = {
        {"one short", good.substr(0, 67), ReplyFault::Malformed},
        {"one long", good + "0", ReplyFault::Malformed},
        {"empty", "", ReplyFault::Malformed},
        {"lone NAK", bytes({0x15}), ReplyFault::Malformed},
        {"no STX", with(0, '0'), ReplyFault::Malformed},
        {"lowercase digit", with(5, 'a'), ReplyFault::Malformed},
        // Only 0-9 and A-F are data, whatever the checksum says.
        {"a G among the data", with(9, 'G'), ReplyFault::Malformed},
        {"a G as the last data digit", with(64, 'G'), ReplyFault::Malformed},
        {"parity-error ?", with(20, '?'), ReplyFault::Malformed},
        {"colon", with(64, ':'), ReplyFault::Malformed},
        {"no ETX", with(65, '0'), ReplyFault::Malformed},
        // The checksum's form is the controller's: no hex digit at all is a rule of its own.
        {"checksum not a digit", with(67, 'G'), ReplyFault::ChecksumMismatch},
        {"checksum a control character", with(66, '\x03'), ReplyFault::ChecksumMismatch},
        {"lowercase checksum of another value", with(67, good[67] == 'A' ? 'b' : 'a'),
         ReplyFault::ChecksumMismatch},
        {"wrong checksum", with(67, good[67] == '0' ? '1' : '0'), ReplyFault::ChecksumMismatch},
        {"data digit changed", with(2, good[2] == '0' ? '1' : '0'), ReplyFault::ChecksumMismatch},
    };
    for (const auto& r : rows) {
        ReplyCheck check = checkReply(r.reply);
        EXPECT_EQ(check.fault, r.fault) << r.what;
        EXPECT_FALSE(check.detail.empty()) << r.what;
    }
    EXPECT_EQ(trimSpaces("  " + good + " "), good);

    // A correct checksum written in lowercase is the same number.
    std::string lower = BuildBlockReply(block(0x5A));
    for (std::size_t i = 66; i < 68; ++i) lower[i] = static_cast<char>(std::tolower(lower[i]));
    ASSERT_NE(lower, BuildBlockReply(block(0x5A))) << "the sample needs a letter in its checksum";
    EXPECT_TRUE(checkReply(lower)) << checkReply(lower).detail;
}

// What the port hands the upload, however the characters were chunked: replies, NAKs, and
