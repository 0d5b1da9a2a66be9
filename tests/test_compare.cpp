// SPDX-License-Identifier: GPL-3.0-or-later
// Two program images compared: the program part alone, block by block.

#include <gtest/gtest.h>

#include "image/compare.h"
#include "image/program_image.h"
#include "temp_dir.h"

using namespace progread;
using namespace progread::testing;

namespace {

std::vector<Byte> imageOf(const std::vector<Byte>& program, Byte headerFill = 0) {
    std::vector<Byte> image(ProgramImage::kHeaderBytes, headerFill);
    for (const Byte b : program) image.push_back(b);  // (insert() trips a false -Warray-bounds)
    for (std::size_t i = 0; i < ProgramImage::kTailValues; ++i) {
        image.push_back(0xFF);
        image.push_back(0x00);
    }
    return image;
}

}  // namespace

TEST(CompareImages, OnlyTheImageLayoutIsAProgram) {
    const std::vector<Byte> program = patternBytes(3 * 32, 4);
    NotAnImage why{};
    ASSERT_TRUE(programOf(imageOf(program, 0x77), &why));
    EXPECT_EQ(*programOf(imageOf(program, 0x77), &why), program) << "the header is not program";

    std::vector<Byte> odd = imageOf(program);
    odd.insert(odd.begin() + 300, 0x01);  // one byte more than whole blocks
    std::vector<Byte> noTail = imageOf(program);
    noTail[noTail.size() - 2] = 0xFE;
    const struct {
        const char* what;
        std::vector<Byte> bytes;
        NotAnImage why;
    } bad[] = {
        {"empty", {}, NotAnImage::TooShort},
        {"a header and the tail, no block", imageOf({}), NotAnImage::TooShort},
        {"not whole blocks", odd, NotAnImage::NotWholeBlocks},
        {"a tail spoiled at its end", noTail, NotAnImage::NoTail},
        {"a block beyond 0xFFFF", imageOf(patternBytes(1025 * 32, 5)), NotAnImage::TooLong},
    };
    ASSERT_TRUE(programOf(imageOf(patternBytes(1024 * 32, 5)), &why)) << "up to 0xFFFF";
    for (const auto& row : bad) {
        why = NotAnImage::Missing;
        EXPECT_FALSE(programOf(row.bytes, &why)) << row.what;
        EXPECT_EQ(why, row.why) << row.what;
    }

    TempDir dir;
    EXPECT_FALSE(programOfFile(dir / "none.pmw", &why));
    EXPECT_EQ(why, NotAnImage::Missing);
    EXPECT_FALSE(programOfFile(dir.path(), &why));
    EXPECT_EQ(why, NotAnImage::NotAFile);
    writeFile(dir / "ok.pmw", imageOf(program));
    EXPECT_EQ(programOfFile(dir / "ok.pmw", &why), program);
}

TEST(CompareImages, CountsTheBlocksThatDifferAndNamesTheFirstByte) {
    const std::vector<Byte> base = patternBytes(6 * 32, 8);
    std::vector<Byte> twoChanged = base;
    twoChanged[2 * 32 + 5] ^= 0x10;
    twoChanged[4 * 32 + 31] ^= 0x01;
    twoChanged[4 * 32 + 30] ^= 0x01;  // two bytes, one block
    std::vector<Byte> longer = base;
    longer.insert(longer.end(), 64, 0x00);
    const std::vector<Byte> shorter(base.begin(), base.begin() + 4 * 32);
    const struct {
        const char* what;
        std::vector<Byte> now;
        long differing, first, blocks, otherBlocks;
        int value, otherValue;
    } rows[] = {
        {"the same", base, 0, -1, 6, 6, -1, -1},
        {"two blocks changed", twoChanged, 2, 0x8000 + 2 * 32 + 5, 6, 6, twoChanged[69], base[69]},
        {"two blocks more", longer, 2, 0x8000 + 6 * 32, 8, 6, 0x00, -1},
        {"two blocks fewer", shorter, 2, 0x8000 + 4 * 32, 4, 6, -1, base[128]},
    };
    for (const auto& row : rows) {
        const ProgramDiff d = compareWith(row.now, base);
        EXPECT_EQ(d.same(), row.differing == 0) << row.what;
        EXPECT_EQ(d.differing, row.differing) << row.what;
        EXPECT_EQ(d.firstAddress, row.first) << row.what;
        EXPECT_EQ(d.blocks, row.blocks) << row.what;
        EXPECT_EQ(d.otherBlocks, row.otherBlocks) << row.what;
        EXPECT_EQ(d.value, row.value) << row.what;
        EXPECT_EQ(d.otherValue, row.otherValue) << row.what;
    }
}

TEST(CompareImages, TheTimeOfAKeptReadComesFromItsName) {
    EXPECT_EQ(stampOfKeptImage("history/duqu-20261206-140312.pmw"), "20261206-140312");
    EXPECT_EQ(stampOfKeptImage("duqu-20261206-140312-2.pmw"), "20261206-140312");
    EXPECT_EQ(stampOfKeptImage("duqu-2026x206-140312.pmw"), "");
    EXPECT_EQ(stampOfKeptImage("mine.pmw"), "");
}
