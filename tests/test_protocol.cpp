#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "error_kind.h"
#include "protocol/frames.h"
#include "protocol/hex_codec.h"
#include "protocol/reply_framer.h"

using namespace progread;
using progread::testing::kindOf;

namespace {

std::string bytes(std::initializer_list<int> codes) {
    std::string s;
    for (int c : codes) s += static_cast<char>(c);
    return s;
}

std::array<Byte, 32> block(Byte first) {
    std::array<Byte, 32> b{};
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<Byte>(first + i * 7);
    return b;
}

}  // namespace

TEST(HexCodec, ZhuanGivesTheDecimalCodeOfTheDigit) {
    const char* digits = "0123456789ABCDEF";
    for (int v = 0; v < 16; ++v) {
        const Byte value = static_cast<Byte>(v);
        EXPECT_EQ(ZHUAN(value), std::to_string(static_cast<int>(digits[v]))) << v;
        EXPECT_EQ(digitCode(value), static_cast<Byte>(digits[v])) << v;
    }
    for (int v : {16, 17, 100, 255}) {
        const Byte value = static_cast<Byte>(v);
        EXPECT_EQ(ZHUAN(value), "") << v;
        EXPECT_EQ(kindOf([&] { digitCode(value); }), ErrorKind::TypeMismatch);
    }
}

TEST(HexCodec, ZhuansKeepsItsOddRows) {
    struct Row {
        int ch;
        int value;
    } rows[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'F', 15}, {':', 10}, {'?', 15}, {'@', 16},
                {'a', 0}, {'f', 0}, {'G', 0},  {0x47, 0}, {0x7F, 0}, {0xFF, 0}};
    for (const auto& r : rows) {
        const Byte ch = static_cast<Byte>(r.ch);
        EXPECT_EQ(ZHUANS(ch), r.value) << "char 0x" << std::hex << r.ch;
    }
    for (int ch : {0x00, 0x02, 0x03, int{' '}, int{'/'}}) {
        const Byte c = static_cast<Byte>(ch);
        EXPECT_EQ(kindOf([&] { ZHUANS(c); }), ErrorKind::Overflow) << ch;
    }
}

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
        {"parity-error ?", with(20, '?'), ReplyFault::Malformed},
        {"colon", with(64, ':'), ReplyFault::Malformed},
        {"no ETX", with(65, '0'), ReplyFault::Malformed},
        {"checksum digit lowercase", with(67, 'a'), ReplyFault::Malformed},
        {"wrong checksum", with(67, good[67] == '0' ? '1' : '0'), ReplyFault::ChecksumMismatch},
        {"data digit changed", with(2, good[2] == '0' ? '1' : '0'), ReplyFault::ChecksumMismatch},
    };
    for (const auto& r : rows) {
        ReplyCheck check = checkReply(r.reply);
        EXPECT_EQ(check.fault, r.fault) << r.what;
        EXPECT_FALSE(check.detail.empty()) << r.what;
    }
    EXPECT_EQ(trimSpaces("  " + good + " "), good);
}

TEST(ReplyFramer, DeliversWholeRepliesHoweverTheyArrive) {
    const std::string a = BuildBlockReply(block(1));
    const std::string b = BuildBlockReply(block(2));

    ReplyFramer chunks;
    for (char c : a) {
        EXPECT_FALSE(chunks.hasReply());
        chunks.feed(std::string(1, c));
    }
    ASSERT_TRUE(chunks.hasReply());
    EXPECT_EQ(chunks.takeReply(), a);
    EXPECT_FALSE(chunks.hasReply());

    ReplyFramer glued;
    glued.feed(a + b.substr(0, 30));
    EXPECT_EQ(glued.takeReply(), a);
    EXPECT_FALSE(glued.hasReply());
    glued.feed(b.substr(30));
    EXPECT_EQ(glued.takeReply(), b);

    ReplyFramer noisy;
    noisy.feed(bytes({0x15, 0x7F, '#', ' '}) + a);
    EXPECT_EQ(noisy.takeReply(), a);

    // The tail of an abandoned reply carries no STX and is dropped in front of the next one.
    ReplyFramer stale;
    stale.feed(a.substr(20));
    EXPECT_EQ(stale.pending(), 0u);
    stale.feed(b);
    EXPECT_EQ(stale.takeReply(), b);

    ReplyFramer flood;
    flood.feed(std::string(5000, '\x02'));
    EXPECT_LE(flood.pending(), ReplyFramer::kCapacity);
}
