// SPDX-License-Identifier: GPL-3.0-or-later
// When requests go: on the tick, or once the line has settled after an answer that came
// after it; never two within 100 ms.

#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

TEST(Pacing, StartThenOneTickSendsTheFirstRequestAndShowsZero) {
    Rig rig;
    rig.controller = [](long, int) { return std::nullopt; };
    rig.upload.Command1_Click();
    EXPECT_TRUE(rig.link.open);
    rig.upload.Timer1_Timer();
    EXPECT_EQ(rig.link.sent, std::string("\x02"
                                         "E018000"
                                         "20\x03"
                                         "D3"));
    EXPECT_EQ(rig.view.progress, std::vector<std::string>{"0"});
}

TEST(Pacing, OnlyAStartedUploadSendsAndOnlyOncePerReply) {
    Rig rig;
    for (int i = 0; i < 20; ++i) rig.upload.Timer1_Timer();
    EXPECT_EQ(rig.link.sent, "") << "ticks before the first start";
    EXPECT_FALSE(rig.link.open) << "the port opens on the start command, not before";

    rig.upload.Command1_Click();
    rig.upload.Command1_Click();
    for (int i = 0; i < 5; ++i) rig.upload.Timer1_Timer();
    EXPECT_EQ(rig.link.sent.size(), 13u) << "two starts and no reply: one request";
}

TEST(Pacing, ProgressShowsTheOffsetJustRequestedAndTicksClearTheReceiveArray) {
    Rig rig;
    rig.controller = [](long, int) { return std::nullopt; };  // answers come by hand
    rig.upload.Command1_Click();
    for (int i = 0; i < 3; ++i) {
        rig.tick();  // sends
        rig.deliver(rig.replyFor(rig.offsets.back()));
        EXPECT_EQ(rig.upload.state().RxBytes(1), kStx) << "the reply is split into RxBytes";
        EXPECT_EQ(rig.upload.state().RxBytes(66), kEtx);
    }
    EXPECT_EQ(rig.view.progress, (std::vector<std::string>{"0", "32", "64"}));
    rig.upload.Timer1_Timer();
    for (long k = 14; k <= 500; ++k) {
        ASSERT_EQ(rig.upload.state().RxBytes(k), 0) << k;
    }
    EXPECT_EQ(rig.upload.state().BlockOffset, 96);
}

// A request goes once nothing has been heard for the settle time, on the tick or, when the
// answer came after it, at once; never two within 100 ms.
TEST(Pacing, AnAnswerAfterATickSendsTheNextRequestOnceTheLineSettlesAndNeverTwoWithin100Ms) {
    struct Row {
        long long latency;
        long long perBlock;  // simulated milliseconds between requests
    } rows[] = {{0, 100},  {19, 100},  {25, 100},  {97, 100},  {98, 100},
                {99, 101}, {100, 102}, {101, 103}, {150, 152}, {430, 432}};
    for (const Row& row : rows) {
        Rig rig;
        rig.memory = distinctMemory(30);
        rig.latency = [&](long, int) { return row.latency; };
        rig.run();
        ASSERT_EQ(rig.upload.step(), Upload::Step::Finished) << row.latency;
        EXPECT_EQ(rig.sink.bytes, rig.cleanImage());
        for (std::size_t i = 1; i < rig.requestTimes.size(); ++i) {
            EXPECT_EQ(rig.requestTimes[i] - rig.requestTimes[i - 1], row.perBlock)
                << "latency " << row.latency << ", request " << i;
        }
    }
}
