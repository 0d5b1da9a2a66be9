// SPDX-License-Identifier: GPL-3.0-or-later
// Back to back (--fast): the next request follows the answer at once instead of waiting for a
// tick; the account of answers still out, the waits and the retries stay as they are. On
// simulated time, as in test_line.cpp.

#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

namespace {

using Step = Upload::Step;

std::string lastError(const Rig& rig) {
    return rig.view.errors.empty() ? std::string() : rig.view.errors.back().message();
}

}  // namespace

TEST(BackToBack, EachRequestFollowsTheAnswerBeforeItAtOnce) {
    // Latency is from request to the answer's arrival; the next request follows once the
    // line has settled. The first goes out with the start.
    for (long long latency : {0LL, 7LL, 19LL, 99LL, 100LL, 150LL, 430LL}) {
        Rig rig;
        rig.upload.setBackToBack(true);
        rig.memory = distinctMemory(30);
        rig.latency = [&](long, int) { return latency; };
        rig.advance(37);  // a start in the middle of the timer's period
        rig.run();
        ASSERT_EQ(rig.upload.step(), Step::Finished) << latency << ": " << lastError(rig);
        EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << latency;
        ASSERT_EQ(rig.requestTimes.size(), 31u) << latency;
        EXPECT_EQ(rig.requestTimes.front(), 37) << latency;
        for (std::size_t i = 1; i < rig.requestTimes.size(); ++i) {
            EXPECT_EQ(rig.requestTimes[i] - rig.requestTimes[i - 1],
                      latency + LineAccount::kSettleMs)
                << "latency " << latency << ", request " << i;
        }
        EXPECT_EQ(rig.upload.summary().retries, 0) << latency;
    }
}

TEST(BackToBack, RetriesAndWaitsAreThoseOfTheDesignedPace) {
    struct Row {
        const char* what;
        std::function<std::optional<std::string>(Rig&, long offset, int k)> controller;
        std::vector<long> offsets;     // the requests, in order
        std::vector<long long> times;  // when each went out
        Step end;
    } rows[] = {
        // A refused answer is an answer: the same block is asked again at once.
        {"a malformed answer",
         [](Rig& r, long o, int k) -> std::optional<std::string> {
             return k == 2 ? r.replyFor(o).substr(0, 60) + "zzzzzzzz" : r.replyFor(o);
         },
         {0, 32, 32, 64},
         {0, 12, 24, 36},
         Step::Finished},
        // No answer: the same block once the line has been quiet for the whole wait, on a
        // tick. Its answer taken, the lost one is no longer waited for (it would repeat it),
        // and the upload keeps the designed pace; the blocks from there are read a second
        // time, once the line has been quiet for the wait, which has grown to twice the
        // 1010 ms counted from the lost request.
        {"a lost answer",
         [](Rig& r, long o, int k) -> std::optional<std::string> {
             if (k == 2) return std::nullopt;
             return r.replyFor(o);
         },
         {0, 32, 32, 64, 96, 32, 64, 96},
         {0, 12, 1012, 1112, 1212, 3312, 3412, 3512},
         Step::Finished},
        {"a block never answered",
         [](Rig& r, long o, int) -> std::optional<std::string> {
             if (o == 32) return std::nullopt;
             return r.replyFor(o);
         },
         {0, 32, 32, 32},
         {0, 12, 1012, 2012},
         Step::Stopped},
    };
    for (const Row& row : rows) {
        Rig rig;
        rig.upload.setBackToBack(true);
        rig.memory = distinctMemory(*std::max_element(row.offsets.begin(), row.offsets.end()) / 32);
        rig.latency = [](long, int) { return 10LL; };
        rig.controller = [&](long o, int k) { return row.controller(rig, o, k); };
        rig.run();
        EXPECT_EQ(rig.upload.step(), row.end) << row.what << ": " << lastError(rig);
        EXPECT_EQ(rig.offsets, row.offsets) << row.what;
        EXPECT_EQ(rig.requestTimes, row.times) << row.what;
        if (row.end == Step::Finished) {
            EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << row.what;
        } else {
            EXPECT_NE(lastError(rig).find("0x8020"), std::string::npos) << lastError(rig);
        }
    }
}

// The accounting tests of test_line.cpp, back to back: late answers, lost answers and second
// presses of 读入 never mix blocks; the upload finishes with a clean image or stops saying why.
// (A late answer given up as lost and then a lost one cancel out where the line cannot see:
// that holds at the designed pace too, and is left out here.)
TEST(BackToBack, LateAndLostAnswersAndRestartsNeverMixBlocks) {
    struct Row {
        const char* what;
        std::function<long long(long, int)> latency;
        bool drops;       // every 7th request goes unanswered
        bool mustFinish;  // nothing comes later than the wait
    } rows[] = {
        {"quick", [](long, int) { return 0LL; }, true, true},
        {"20 ms", [](long, int) { return 20LL; }, true, true},
        {"one answer 1.1 s late", [](long o, int) { return o == 96 ? 1100LL : 20LL; }, false,
         false},
        {"one answer 2.5 s late", [](long o, int) { return o == 96 ? 2500LL : 20LL; }, false,
         false},
        {"one answer 3.5 s late", [](long o, int) { return o == 96 ? 3500LL : 20LL; }, false,
         false},
        {"every other answer 1.2 s late", [](long, int k) { return k % 2 ? 1200LL : 10LL; }, false,
         false},
        {"every third answer 1.3 s late", [](long, int k) { return k % 3 == 0 ? 1300LL : 15LL; },
         false, false},
    };
    for (const Row& row : rows) {
        for (long long pressAt : {-1LL, 0LL, 5LL, 60LL, 1500LL}) {
            Rig rig;
            rig.upload.setBackToBack(true);
            rig.memory = distinctMemory(9);
            rig.latency = row.latency;
            rig.controller = [&](long offset, int k) -> std::optional<std::string> {
                if (row.drops && k % 7 == 0) return std::nullopt;
                return rig.replyFor(offset);
            };
            rig.upload.Command1_Click();
            if (pressAt >= 0) {
                rig.advanceTo(200);  // some blocks into the read
                rig.advance(pressAt);
                rig.upload.Command1_Click();
            }
            rig.advanceTo(600'000);
            const std::string what =
                std::string(row.what) + (pressAt < 0
                                             ? std::string(", one press")
                                             : ", pressed again at +" + std::to_string(pressAt));
            if (rig.upload.step() == Step::Finished) {
                EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << what;
            } else {
                // Blocks taken between a late answer and the stop may be one behind: the
                // line cannot tell; what matters is that the read is not called complete.
                EXPECT_FALSE(row.mustFinish) << what << ": " << lastError(rig);
                ASSERT_EQ(rig.upload.step(), Step::Stopped) << what;
                const std::string msg = lastError(rig);
                EXPECT_EQ(msg.find("would go out while answers"), std::string::npos)
                    << what << ": " << msg;
                EXPECT_NE(msg.find("0x8"), std::string::npos)
                    << what << ": names no block: " << msg;
                EXPECT_EQ(rig.view.finished, 0) << what;
            }
        }
    }
}
