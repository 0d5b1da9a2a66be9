// SPDX-License-Identifier: GPL-3.0-or-later
// Whole reads on simulated time: the blocks in order, the marker, the end of memory, a start
// again.

#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

TEST(WholeUpload, EndMarkerInTheFifthGroupWritesTheWholeBlockThenTheTail) {
    Rig rig;
    rig.putEndMarker(16);
    rig.memory[30] = 0x0F;  // groups after the marker are written as they are
    rig.run();
    EXPECT_EQ(rig.upload.step(), Upload::Step::Finished);
    EXPECT_FALSE(rig.ticker.enabled);
    EXPECT_EQ(rig.sink.bytes, concat(memorySlice(rig.memory, 0, 32), tail()));
    EXPECT_EQ(rig.view.finished, 1);
    EXPECT_EQ(rig.offsets, std::vector<long>{0});
}

TEST(WholeUpload, ManyBlocksArriveInOrderAndTheUploadStopsAtTheMarkerBlock) {
    Rig rig;
    for (std::size_t i = 0; i < rig.memory.size(); ++i)
        rig.memory[i] = static_cast<Byte>(i * 13 + i / 256);
    for (std::size_t i = 0; i + 1 < rig.memory.size(); i += 2) {
        if (rig.memory[i] == 0x0F && rig.memory[i + 1] == 0x00) rig.memory[i + 1] = 1;
    }
    rig.putEndMarker(7 * 32 + 30);  // last group of block 7
    rig.run();
    EXPECT_EQ(rig.sink.bytes, concat(memorySlice(rig.memory, 0, 8 * 32), tail()));
    EXPECT_EQ(rig.view.progress.back(), "224");
    EXPECT_EQ(rig.upload.summary().blocks, 8);

    // Whatever arrives afterwards is read and dropped.
    const auto before = rig.sink.bytes;
    for (int i = 0; i < 30; ++i) rig.tick();
    rig.deliver(rig.replyFor(0));
    rig.deliver("\x02");
    EXPECT_EQ(rig.sink.bytes, before);
    EXPECT_TRUE(rig.link.inbox.empty());
}

TEST(WholeUpload, EndOfMemoryWithoutMarkerStopsAfterTheLastBlockIsWritten) {
    Rig rig;  // 0x11 everywhere: no end marker
    rig.run();
    EXPECT_EQ(rig.upload.step(), Upload::Step::Stopped);
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_NE(rig.view.errors[0].message().find("0xFFE0"), std::string::npos);
    EXPECT_NE(rig.view.errors[0].message().find("without an end marker"), std::string::npos);
    EXPECT_EQ(rig.offsets.size(), 1024u);
    EXPECT_EQ(rig.view.progress.back(), "32736");
    EXPECT_EQ(rig.sink.bytes, rig.memory) << "every block kept, no tail";
    EXPECT_FALSE(rig.ticker.enabled);
}

TEST(WholeUpload, ASecondStartRewritesTheImageAndStartsAtZero) {
    Rig rig;
    rig.putEndMarker(40);
    rig.run();
    const auto first = rig.sink.bytes;
    rig.run();
    EXPECT_EQ(rig.sink.restarts, 2);
    EXPECT_EQ(rig.sink.bytes, first);
    EXPECT_EQ(rig.offsets, (std::vector<long>{0, 32, 0, 32}));
}

// A start after a read that gave up is a fresh start: the block's requests are counted
// anew (one lost answer costs a retry, not the read), and answers long overdue are given up
// at once, so that the wait starts again at one second.
TEST(WholeUpload, AStartAfterAGiveUpCountsAfreshAndWaitsOneSecond) {
    Rig rig;
    rig.memory = distinctMemory(4);
    int lost = 0;  // requests 3 to 5 (block 2, three times), then the new read's first
    rig.controller = [&](long offset, int k) -> std::optional<std::string> {
        if ((k >= 3 && k <= 5) || k == 6) {
            ++lost;
            return std::nullopt;
        }
        return rig.replyFor(offset);
    };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Stopped);
    ASSERT_EQ(rig.requests, 5);
    rig.advance(20'000);  // the three answers are long overdue

    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Finished) << rig.view.errors.back().message();
    EXPECT_EQ(rig.sink.bytes, rig.cleanImage());
    EXPECT_EQ(lost, 4);
    EXPECT_EQ(rig.offsets[5], 0) << "the new read's first request";
    EXPECT_EQ(rig.offsets[6], 0) << "asked again";
    EXPECT_EQ(rig.requestTimes[6] - rig.requestTimes[5], LineAccount::kFirstWaitMs);
}
