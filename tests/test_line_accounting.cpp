// SPDX-License-Identifier: GPL-3.0-or-later
// Which block an answer belongs to: the accounting of answers that are still out, on
// simulated time.

#include <gtest/gtest.h>

#include <tuple>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

namespace {

using Step = Upload::Step;

}  // namespace

// A second (and third) press of 读入 at points all over a block's cycle, against a quick
// and a slow controller: the image is always a clean read, or the upload stops saying why.
TEST(LineAccounting, PressingStartAgainAnywhereInABlocksCycleNeverMixesBlocks) {
    for (long long latency : {0LL, 30LL, 250LL, 800LL}) {
        for (long long firstPressAt : {0LL, 20LL, 50LL, 99LL, 140LL, 420LL}) {
            for (int presses : {2, 3}) {
                for (long long gap : {20LL, 50LL}) {
                    Rig rig;
                    rig.memory = distinctMemory(20);
                    rig.latency = [&](long, int) { return latency; };
                    rig.run(1150);  // a few blocks into the read
                    ASSERT_TRUE(rig.upload.running());
                    rig.advance(firstPressAt);
                    for (int p = 1; p < presses; ++p) {
                        rig.upload.Command1_Click();
                        rig.advance(gap);
                    }
                    rig.upload.Command1_Click();
                    while (rig.upload.running() && rig.ticker.now < 600'000) rig.tick();
                    const std::string what = "latency " + std::to_string(latency) +
                                             " ms, press at +" + std::to_string(firstPressAt) +
                                             " ms, " + std::to_string(presses) + " presses " +
                                             std::to_string(gap) + " ms apart";
                    ASSERT_EQ(rig.upload.step(), Step::Finished)
                        << what << ": "
                        << (rig.view.errors.empty() ? "" : rig.view.errors.back().message());
                    EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << what;
                    // Stray answers after the end are dropped and change nothing.
                    rig.advance(10'000);
                    EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << what;
                }
            }
        }
    }
}

// Late answers: a controller that answers queued requests in turn, each as slowly.
TEST(LineAccounting, LateAnswersAreTakenForTheirOwnBlockOrTheUploadStops) {
    struct Row {
        const char* what;
        std::function<long long(long offset, int k)> latency;
        bool mustFinish;
    } rows[] = {
        {"one answer 1.1 s late", [](long o, int) { return o == 96 ? 1100LL : 20LL; }, true},
        {"one answer 1.5 s late", [](long o, int) { return o == 96 ? 1500LL : 20LL; }, true},
        {"one answer 2.5 s late", [](long o, int) { return o == 96 ? 2500LL : 20LL; }, true},
        {"one answer 2.95 s late", [](long o, int) { return o == 96 ? 2950LL : 20LL; }, false},
        {"one answer 3.5 s late", [](long o, int) { return o == 96 ? 3500LL : 20LL; }, false},
        {"the first answer 1.05 s late", [](long, int k) { return k == 1 ? 1050LL : 20LL; }, true},
        {"every answer 1.5 s late", [](long, int) { return 1500LL; }, true},
        {"every answer 2.5 s late", [](long, int) { return 2500LL; }, true},
        {"every answer 0.99 s late", [](long, int) { return 990LL; }, true},
        {"every other answer 1.2 s late", [](long, int k) { return k % 2 ? 1200LL : 10LL; }, true},
    };
    for (const auto& row : rows) {
        // The late one at several moments of the tick's period.
        for (long long jitter : {0LL, 7LL, 45LL, 93LL}) {
            Rig rig;
            rig.memory = distinctMemory(7);
            rig.latency = [&](long o, int k) { return row.latency(o, k) + jitter; };
            rig.run();
            const std::string what =
                std::string(row.what) + " (+" + std::to_string(jitter) + " ms)";
            if (rig.upload.step() == Step::Finished) {
                EXPECT_EQ(rig.sink.bytes, rig.cleanImage())
                    << what << ": finished with a wrong image";
            } else {
                EXPECT_FALSE(row.mustFinish) << what << ": " << rig.view.errors.back().message();
                ASSERT_EQ(rig.upload.step(), Step::Stopped) << what;
                ASSERT_EQ(rig.view.errors.size(), 1u) << what;
                const std::string msg = rig.view.errors[0].message();
                EXPECT_NE(msg.find("0x80"), std::string::npos)
                    << what << ": names no block: " << msg;
                // Whatever was kept is whole blocks in their places.
                ASSERT_EQ(rig.sink.bytes.size() % 32, 0u) << what;
                EXPECT_TRUE(
                    std::equal(rig.sink.bytes.begin(), rig.sink.bytes.end(), rig.memory.begin()))
                    << what;
            }
            rig.advance(20'000);  // late answers after the end change nothing
            if (rig.upload.step() == Step::Finished) {
                EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << what;
            }
        }
    }
}

TEST(LineAccounting, TheWaitGrowsToTwiceTheSlowestAnswerAndStartsAfreshWhenTheLineIsQuiet) {
    Rig rig;
    rig.memory = distinctMemory(3);
    rig.latency = [](long, int) { return 1500LL; };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Step::Finished);
    EXPECT_GE(rig.upload.line().waitMs(), 3000);
    EXPECT_EQ(rig.upload.summary().retries, 1)
        << "only the first block, before the wait knew better";

    rig.latency = [](long, int) { return 0LL; };
    rig.advance(60'000);
    rig.run();
    EXPECT_EQ(rig.upload.line().waitMs(), LineAccount::kFirstWaitMs);
    EXPECT_EQ(rig.sink.bytes, rig.cleanImage());

    // An answer given up grows the wait too: one 2 s late would otherwise come after it.
    LineAccount gaveUp;
    gaveUp.requestSent(0, 0);
    gaveUp.forget(2000);
    EXPECT_EQ(gaveUp.waitMs(), 4000);
}

TEST(LineAccounting, AnAnswerWhenNoneIsDueStopsTheUploadAndNamesTheLastBlock) {
    // An answer nobody asked for (a repeat of the answer just taken would be dropped).
    Rig rig;
    rig.memory = distinctMemory(5);
    rig.latency = [](long, int) { return 20LL; };
    rig.upload.Command1_Click();
    rig.advanceTo(250);  // blocks 0 and 1 taken, block 2 asked for at 300 ms
    ASSERT_EQ(rig.upload.summary().blocks, 2);
    rig.arrivals.emplace(280, rig.replyFor(640));
    rig.advanceTo(5000);
    ASSERT_EQ(rig.upload.step(), Step::Stopped);
    const std::string msg = rig.view.errors.back().message();
    EXPECT_NE(msg.find("out of step"), std::string::npos) << msg;
    EXPECT_NE(msg.find("0x8020"), std::string::npos) << msg;
    EXPECT_EQ(rig.view.finished, 0);
}

TEST(LineAccounting, AnAnswerGivenUpAsLostThatComesAfterAllIsNeverPartOfAFinishedImage) {
    // The port is lost while block 3's answer is out; a new start waits for it, gives it up
    // after the wait (or at once, when the start comes after the wait), and asks for block
    // 0. The old answer then comes after all and is taken for block 0: every later answer is
    // one block behind. A later answer lost for good would put them back in step where the
    // line cannot see it; the second read of the blocks taken since the give-up must catch
    // it.
    for (long long late : {1300LL, 1800LL, 2600LL}) {
        for (long long usual : {20LL, 150LL}) {
            for (int lostLater : {0, 7, 9, 11}) {
                for (long long startAfter : {50LL, 1100LL}) {
                    Rig rig;
                    rig.memory = distinctMemory(6);
                    rig.latency = [&](long, int k) { return k == 4 ? late : usual; };
                    rig.controller = [&](long offset, int k) -> std::optional<std::string> {
                        if (k == lostLater) return std::nullopt;
                        return rig.replyFor(offset);
                    };
                    rig.upload.Command1_Click();
                    while (rig.requests < 4) rig.tick();  // block 3 is asked for
                    ASSERT_EQ(rig.upload.step(), Step::AwaitingReply);
                    rig.advance(50);
                    rig.upload.fail(Error(ErrorKind::Serial, "the port went away"));
                    rig.advance(startAfter);
                    rig.upload.Command1_Click();
                    EXPECT_EQ(rig.upload.step(),
                              startAfter < 1000 ? Step::QuietThenNext : Step::ReadyToSend);
                    rig.advanceTo(400'000);  // long enough to reach the end of memory
                    const std::string what = std::to_string(late) + " ms late, usual " +
                                             std::to_string(usual) + " ms, request " +
                                             std::to_string(lostLater) + " lost, started again " +
                                             std::to_string(startAfter) + " ms after the stop";
                    if (rig.upload.step() == Step::Finished) {
                        EXPECT_EQ(rig.sink.bytes, rig.cleanImage())
                            << what << ": finished with a shifted image";
                        continue;
                    }
                    ASSERT_EQ(rig.upload.step(), Step::Stopped) << what;
                    EXPECT_EQ(rig.view.finished, 0) << what;
                    const std::string msg = rig.view.errors.back().message();
                    EXPECT_NE(msg.find("0x"), std::string::npos)
                        << what << ": names no block: " << msg;
                }
            }
        }
    }
}

TEST(LineAccounting, BlocksTakenAfterAGiveUpAreReadAgainBeforeTheImageIsFinished) {
    // Request 4 (block 3) is never answered: after the retry's answer, the wait for the lost
    // one runs out and it is given up before block 4 is asked for.
    Rig rig;
    rig.memory = distinctMemory(7);
    rig.latency = [](long, int) { return 20LL; };
    rig.controller = [&](long offset, int k) -> std::optional<std::string> {
        if (k == 4) return std::nullopt;
        return rig.replyFor(offset);
    };
    struct Verifying : RecordingView {
        std::vector<std::tuple<long, long, bool>> calls;
        void verifying(long from, long to, bool lost) override {
            calls.emplace_back(from, to, lost);
        }
    };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Step::Finished) << rig.view.errors.back().message();
    EXPECT_EQ(rig.sink.bytes, rig.cleanImage());
    EXPECT_EQ(rig.upload.summary().verifiedBlocks, 5) << "blocks 3 to 7 read twice";
    EXPECT_EQ(rig.upload.summary().blocks, 8);
    const std::vector<long> second(rig.offsets.end() - 5, rig.offsets.end());
    EXPECT_EQ(second, (std::vector<long>{96, 128, 160, 192, 224}));

    // A controller whose answers change between the two reads is never finished.
    Rig changing;
    changing.memory = distinctMemory(7);
    changing.controller = [&](long offset, int k) -> std::optional<std::string> {
        if (k == 4) return std::nullopt;
        std::string r = changing.replyFor(offset);
        if (k > 9 && offset == 160) {  // in the second read
            std::vector<Byte> other(changing.memory.begin() + offset,
                                    changing.memory.begin() + offset + 32);
            other[5] ^= 0x40;
            r = BuildBlockReply(std::span<const Byte, 32>(other.data(), 32));
        }
        return r;
    };
    changing.run();
    ASSERT_EQ(changing.upload.step(), Step::Stopped);
    EXPECT_NE(changing.view.errors.back().message().find("0x80A0"), std::string::npos)
        << changing.view.errors.back().message();
    EXPECT_EQ(changing.view.finished, 0);
}

TEST(LineAccounting, TheSecondReadWaitsForAQuietLineSoThatALeftoverAnswerIsSeen) {
    // The port is lost while block 3's answer is out; a new start gives it up after the
    // wait, and it then comes after all, taken for block 0: every answer after it is one
    // block behind, and at the marker one answer is still on its way. The block after the
    // marker holds block 3's bytes, so a second read whose first request took that leftover
    // would agree with the first read everywhere. Waiting for a quiet line first, the
    // leftover comes while none is due and stops the read.
    for (std::size_t marker : {6u, 8u}) {
        for (long long late : {1300LL, 1800LL, 2600LL}) {
            for (long long usual : {150LL, 250LL}) {
                Rig rig;
                rig.memory = distinctMemory(marker);
                std::copy_n(rig.memory.begin() + 3 * 32, 32,
                            rig.memory.begin() + static_cast<long>(marker + 1) * 32);
                rig.latency = [&](long, int k) { return k == 4 ? late : usual; };
                rig.upload.Command1_Click();
                while (rig.requests < 4) rig.tick();  // block 3 is asked for
                rig.advance(50);
                rig.upload.fail(Error(ErrorKind::Serial, "the port went away"));
                rig.advance(50);
                rig.upload.Command1_Click();
                rig.advanceTo(400'000);
                const std::string what = "marker in block " + std::to_string(marker) + ", " +
                                         std::to_string(late) + " ms late, usual " +
                                         std::to_string(usual) + " ms";
                if (rig.upload.step() == Step::Finished) {
                    EXPECT_EQ(rig.sink.bytes, rig.cleanImage())
                        << what << ": finished with a wrong image";
                    continue;
                }
                ASSERT_EQ(rig.upload.step(), Step::Stopped) << what;
                EXPECT_EQ(rig.view.finished, 0) << what;
                EXPECT_NE(rig.view.errors.back().message().find("0x"), std::string::npos)
                    << what << ": " << rig.view.errors.back().message();
            }
        }
    }
}

TEST(LineAccounting, AVerifiedReadReadsEveryBlockTwice) {
    Rig rig;
    rig.memory = distinctMemory(5);
    rig.upload.setVerify(true);
    rig.run();
    ASSERT_EQ(rig.upload.step(), Step::Finished);
    EXPECT_EQ(rig.sink.bytes, rig.cleanImage());
    EXPECT_EQ(rig.upload.summary().verifiedBlocks, 6);
    EXPECT_EQ(rig.offsets, (std::vector<long>{0, 32, 64, 96, 128, 160, 0, 32, 64, 96, 128, 160}));
}
