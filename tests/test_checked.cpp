// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "error_kind.h"
#include "protocol/checked.h"

using namespace progread;
using progread::testing::kindOf;

TEST(Checked, ArithmeticRaisesOverflowInsteadOfWrapping) {
    EXPECT_EQ(addChecked(32736, 31), 32767);
    EXPECT_EQ(kindOf([] { addChecked(32736, 32); }), ErrorKind::Overflow);
    EXPECT_EQ(kindOf([] { addChecked(-32768, -1); }), ErrorKind::Overflow);
    EXPECT_EQ(mulChecked(16, 15), 240);
    EXPECT_EQ(kindOf([] { mulChecked(256, 128); }), ErrorKind::Overflow);
    EXPECT_EQ(toByte(255), 255);
    EXPECT_EQ(kindOf([] { toByte(256); }), ErrorKind::Overflow);
    EXPECT_EQ(kindOf([] { toByte(-1); }), ErrorKind::Overflow);
}

TEST(Checked, TextToIntegerFollowsTheDecimalRules) {
    struct Row {
        const char* text;
        long value;
    } rows[] = {{"1", 1},   {"  7 ", 7}, {"-3", -3},       {"+12", 12},        {"2.5", 2},
                {"3.5", 4}, {"2.51", 3}, {"32767", 32767}, {"-32768", -32768}, {"0.4", 0}};
    for (const auto& r : rows) EXPECT_EQ(textToInteger(r.text), r.value) << r.text;

    for (const char* bad : {"", "   ", "abc", "1a", "1.2.3", "-", ".", "0x10"}) {
        EXPECT_EQ(kindOf([&] { textToInteger(bad); }), ErrorKind::TypeMismatch) << bad;
    }
    for (const char* big : {"32768", "-32769", "99999999999999"}) {
        EXPECT_EQ(kindOf([&] { textToInteger(big); }), ErrorKind::Overflow) << big;
    }
    EXPECT_EQ(kindOf([] { textToByte("256"); }), ErrorKind::Overflow);
}

TEST(Checked, FixedArrayChecksBothBounds) {
    FixedArray<500> a;
    a(0) = 1;
    a(500) = 2;
    EXPECT_EQ(a(500), 2);
    EXPECT_EQ(kindOf([&] { a(501) = 0; }), ErrorKind::SubscriptOutOfRange);
    EXPECT_EQ(kindOf([&] { (void)a(-1); }), ErrorKind::SubscriptOutOfRange);
}
