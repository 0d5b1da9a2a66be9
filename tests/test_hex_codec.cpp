// SPDX-License-Identifier: GPL-3.0-or-later
// The digit codec: what the controller's hex digits are worth, kept with its odd rows.

#include <gtest/gtest.h>

#include <string>

#include "error_kind.h"
#include "protocol/hex_codec.h"

using namespace progread;
using progread::testing::kindOf;

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
