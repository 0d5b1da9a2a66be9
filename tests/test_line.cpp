// Which block an answer belongs to: the upload's steps, and the accounting of answers that
// are still out, on simulated time.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

namespace {

using Step = Upload::Step;

const char* name(Step s) {
    switch (s) {
        case Step::Idle:
            return "Idle";
        case Step::ReadyToSend:
            return "ReadyToSend";
        case Step::Settling:
            return "Settling";
        case Step::AwaitingReply:
            return "AwaitingReply";
        case Step::Quieting:
            return "Quieting";
        case Step::Finished:
            return "Finished";
        case Step::Stopped:
            return "Stopped";
    }
    return "?";
}

// Where the table's rows start. The controller stays silent: answers come by hand.
struct StepSetup {
    Step step;
    std::function<void(Rig&)> reach;
};

void readBlockZero(Rig& r) {
    r.upload.Command1_Click();
    r.tick();
    r.deliver(r.replyFor(0));
}

const StepSetup kSetups[] = {
    {Step::Idle, [](Rig&) {}},
    // Block 0 taken; block 32 goes on the next tick.
    {Step::ReadyToSend, readBlockZero},
    {Step::AwaitingReply,
     [](Rig& r) {
         readBlockZero(r);
         r.tick();
     }},
    // Block 32 asked, then a new start: block 0 waits for block 32's answer.
    {Step::Quieting,
     [](Rig& r) {
         readBlockZero(r);
         r.tick();
         r.upload.Command1_Click();
     }},
    {Step::Finished,
     [](Rig& r) {
         r.putEndMarker(32 + 8);
         readBlockZero(r);
         r.tick();
         r.deliver(r.replyFor(32));
     }},
    {Step::Stopped,
     [](Rig& r) {
         readBlockZero(r);
         r.tick();
         r.upload.fail(Error(ErrorKind::Serial, "the port went away"));
     }},
};

enum class Event { Start, Tick, GoodReply, BadReply, StrayReply, Repeat, Echo, Nak, PortLost };

const char* name(Event e) {
    switch (e) {
        case Event::Start:
            return "start";
        case Event::Tick:
            return "tick";
        case Event::GoodReply:
            return "good reply";
        case Event::BadReply:
            return "bad reply";
        case Event::StrayReply:
            return "stray reply";
        case Event::Repeat:
            return "the answer taken last, again";
        case Event::Echo:
            return "echo of the request";
        case Event::Nak:
            return "NAK";
        case Event::PortLost:
            return "port lost";
    }
    return "?";
}

}  // namespace

// Every step against every event: the step after it, whether a request went out, whether
// bytes reached the image. "Stray" is a whole, well-formed reply while no answer is out.
TEST(UploadSteps, EveryStepAgainstEveryEvent) {
    struct Row {
        Step from;
        Event event;
        Step to;
        bool sends;
        bool writes;
    } rows[] = {
        {Step::Idle, Event::Start, Step::ReadyToSend, false, false},
        {Step::Idle, Event::Tick, Step::Idle, false, false},
        {Step::Idle, Event::StrayReply, Step::Idle, false, false},
        {Step::Idle, Event::PortLost, Step::Idle, false, false},

        {Step::ReadyToSend, Event::Start, Step::ReadyToSend, false, false},
        {Step::ReadyToSend, Event::Tick, Step::AwaitingReply, true, false},
        {Step::ReadyToSend, Event::StrayReply, Step::Stopped, false, false},
        // The same answer again, when none is out: a repeat, dropped.
        {Step::ReadyToSend, Event::Repeat, Step::ReadyToSend, false, false},
        {Step::ReadyToSend, Event::Echo, Step::ReadyToSend, false, false},
        {Step::ReadyToSend, Event::PortLost, Step::Stopped, false, false},

        // The answer for block 32 is out: block 0 must wait for it.
        {Step::AwaitingReply, Event::Start, Step::Quieting, false, false},
        {Step::AwaitingReply, Event::Tick, Step::AwaitingReply, false, false},
        {Step::AwaitingReply, Event::GoodReply, Step::ReadyToSend, false, true},
        {Step::AwaitingReply, Event::BadReply, Step::ReadyToSend, false, false},
        // Block 0's answer again while block 32's is out: not taken for block 32.
        {Step::AwaitingReply, Event::Repeat, Step::AwaitingReply, false, false},
        {Step::AwaitingReply, Event::Echo, Step::AwaitingReply, false, false},
        {Step::AwaitingReply, Event::Nak, Step::ReadyToSend, false, false},
        {Step::AwaitingReply, Event::PortLost, Step::Stopped, false, false},

        // The second answer for block 32 is out while block 64 waits: it is dropped.
        {Step::Quieting, Event::Start, Step::Quieting, false, false},
        {Step::Quieting, Event::Tick, Step::Quieting, false, false},
        {Step::Quieting, Event::GoodReply, Step::ReadyToSend, false, false},
        {Step::Quieting, Event::BadReply, Step::ReadyToSend, false, false},
        {Step::Quieting, Event::PortLost, Step::Stopped, false, false},

        {Step::Finished, Event::Start, Step::ReadyToSend, false, false},
        {Step::Finished, Event::Tick, Step::Finished, false, false},
        {Step::Finished, Event::StrayReply, Step::Finished, false, false},
        {Step::Finished, Event::PortLost, Step::Finished, false, false},

        // The answer for block 32 is still out after the stop.
        {Step::Stopped, Event::Start, Step::Quieting, false, false},
        {Step::Stopped, Event::Tick, Step::Stopped, false, false},
        {Step::Stopped, Event::GoodReply, Step::Stopped, false, false},
        {Step::Stopped, Event::BadReply, Step::Stopped, false, false},
        {Step::Stopped, Event::PortLost, Step::Stopped, false, false},
    };
    for (const Row& row : rows) {
        const std::string what = std::string(name(row.from)) + " + " + name(row.event);
        Rig rig;
        rig.controller = [](long, int) { return std::nullopt; };
        const StepSetup& setup =
            *std::find_if(std::begin(kSetups), std::end(kSetups),
                          [&](const StepSetup& s) { return s.step == row.from; });
        setup.reach(rig);
        ASSERT_EQ(rig.upload.step(), row.from)
            << what << ": the setup reaches " << name(rig.upload.step());
        const std::size_t bytes = rig.sink.bytes.size();
        const int requests = rig.requests;
        const int restarts = rig.sink.restarts;
        const long answering = rig.upload.state().BlockOffset;
        switch (row.event) {
            case Event::Start:
                rig.upload.Command1_Click();
                break;
            case Event::Tick:
                rig.tick();
                break;
            case Event::GoodReply:
                rig.deliver(rig.replyFor(rig.upload.line().offset()));
                break;
            case Event::BadReply:
                rig.deliver(rig.replyFor(answering).substr(0, 60) + "xxxxxxxx");
                break;
            case Event::StrayReply:
                rig.deliver(rig.replyFor(640));
                break;
            case Event::Repeat:
                rig.deliver(rig.replyFor(0));
                break;
            case Event::Echo: {
                // Of the request sent last.
                const ReadRequest r = BuildReadRequest(static_cast<Integer>(rig.offsets.back()));
                rig.deliver(std::string(r.chars.begin(), r.chars.end()));
                break;
            }
            case Event::Nak:
                rig.deliver("\x15");
                break;
            case Event::PortLost:
                rig.upload.fail(Error(ErrorKind::Serial, "the port went away"));
                break;
        }
        rig.settle();
        EXPECT_EQ(rig.upload.step(), row.to) << what << " gives " << name(rig.upload.step());
        EXPECT_EQ(rig.requests > requests, row.sends) << what;
        const bool wrote = rig.sink.restarts == restarts && rig.sink.bytes.size() > bytes;
        EXPECT_EQ(wrote, row.writes) << what;
        if (row.event == Event::StrayReply && row.to == Step::Stopped) {
            ASSERT_FALSE(rig.view.errors.empty()) << what;
            const std::string msg = rig.view.errors.back().message();
            EXPECT_NE(msg.find("out of step"), std::string::npos) << msg;
            const long last = kBaseAddress + 32L * (rig.upload.summary().blocks - 1);
            EXPECT_NE(msg.find("last block taken: " + hexAddress(last)), std::string::npos) << msg;
        }
    }
}

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
    // after the wait, and asks for block 0. The old answer then comes after all and is taken
    // for block 0: every later answer is one block behind. A later answer lost for good
    // would put them back in step where the line cannot see it; the second read of the
    // blocks taken since the give-up must catch it.
    for (long long late : {1300LL, 1800LL, 2600LL}) {
        for (long long usual : {20LL, 150LL}) {
            for (int lostLater : {0, 7, 9, 11}) {
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
                rig.advance(50);
                rig.upload.Command1_Click();
                EXPECT_EQ(rig.upload.step(), Step::Quieting);
                rig.advanceTo(400'000);  // long enough to reach the end of memory
                const std::string what = std::to_string(late) + " ms late, usual " +
                                         std::to_string(usual) + " ms, request " +
                                         std::to_string(lostLater) + " lost";
                if (rig.upload.step() == Step::Finished) {
                    EXPECT_EQ(rig.sink.bytes, rig.cleanImage())
                        << what << ": finished with a shifted image";
                    continue;
                }
                ASSERT_EQ(rig.upload.step(), Step::Stopped) << what;
                EXPECT_EQ(rig.view.finished, 0) << what;
                const std::string msg = rig.view.errors.back().message();
                EXPECT_NE(msg.find("0x"), std::string::npos) << what << ": names no block: " << msg;
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
    // Block 3 is asked three times: its first answer comes 1.5 s late, the second 3.5 s,
    // and that one is given up as lost before block 4; it then comes after all, and every
    // answer after it is one behind. At the marker one answer (block 8's) is still on its
    // way. Block 3 and block 8 hold the same bytes, so a second read whose first request
    // took that leftover would agree everywhere.
    for (long long usual : {150LL, 60LL}) {
        Rig rig;
        rig.memory = distinctMemory(7);
        std::copy_n(rig.memory.begin() + 8 * 32, 32, rig.memory.begin() + 3 * 32);
        rig.latency = [&](long offset, int k) {
            if (offset == 96 && k == 4) return 1500LL;
            if (offset == 96 && k == 5) return 3500LL;
            return usual;
        };
        rig.run();
        if (rig.upload.step() == Step::Finished) {
            EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << usual << ": finished with a wrong image";
        } else {
            EXPECT_EQ(rig.view.finished, 0);
            EXPECT_NE(rig.view.errors.back().message().find("0x"), std::string::npos)
                << rig.view.errors.back().message();
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

TEST(ChecksumRule, AControllerWithItsOwnChecksumRuleIsReadByTwoAgreeingReplies) {
    // The controller leaves ETX out of its sum; everything else is as it should be.
    Rig rig;
    rig.memory = distinctMemory(4);
    auto otherRule = [](const Rig& from, long offset) {
        std::string r = from.replyFor(offset);
        unsigned sum = 0;
        for (std::size_t i = 1; i < 65; ++i) sum += static_cast<unsigned char>(r[i]);
        const char* digits = "0123456789ABCDEF";
        r[66] = digits[(sum >> 4) & 0xF];
        r[67] = digits[sum & 0xF];
        return r;
    };
    rig.controller = [&](long offset, int) -> std::optional<std::string> {
        return otherRule(rig, offset);
    };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Step::Finished) << rig.view.errors.back().message();
    EXPECT_EQ(rig.sink.bytes, rig.cleanImage());
    EXPECT_EQ(rig.requests, 2 * 5) << "two requests a block";
    EXPECT_EQ(rig.view.toldChecksumRule, 1) << "told once";
    EXPECT_EQ(rig.upload.summary().confirmedBlocks, 5);
    EXPECT_EQ(rig.view.rejections.size(), 1u) << "only the first block's first reply is news";

    // Two replies that disagree are never taken; a third that agrees with the second is.
    Rig flaky;
    flaky.memory = distinctMemory(1);
    flaky.controller = [&](long offset, int k) -> std::optional<std::string> {
        std::string r = otherRule(flaky, offset);
        if (k == 1)
            r[20] = r[20] == 'A' ? 'B' : 'A';  // a spoiled digit, checksum still by the rule
        return r;
    };
    flaky.run();
    ASSERT_EQ(flaky.upload.step(), Step::Finished);
    EXPECT_EQ(flaky.sink.bytes, flaky.cleanImage());
    EXPECT_EQ(flaky.offsets, (std::vector<long>{0, 0, 0, 32, 32}));

    // A malformed reply between two agreeing ones breaks the pair.
    Rig broken;
    broken.memory = distinctMemory(1);
    broken.controller = [&](long offset, int k) -> std::optional<std::string> {
        return k == 2 ? std::string("\x02") + "12" : otherRule(broken, offset);
    };
    broken.run();
    EXPECT_EQ(broken.upload.step(), Step::Stopped) << "three requests, no two agreeing in a row";
    EXPECT_TRUE(broken.sink.bytes.empty());
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
        ASSERT_EQ(rig.upload.step(), Step::Finished) << row.latency;
        EXPECT_EQ(rig.sink.bytes, rig.cleanImage());
        for (std::size_t i = 1; i < rig.requestTimes.size(); ++i) {
            EXPECT_EQ(rig.requestTimes[i] - rig.requestTimes[i - 1], row.perBlock)
                << "latency " << row.latency << ", request " << i;
        }
    }
}

// What an answer is, from what the upload knows when it comes.
TEST(AnswerKinds, EachAnswerIsNamedFromWhatTheUploadKnows) {
    const std::string request =
        "\x02"
        "E018020"
        "20\x03"
        "D5";
    const std::string taken = BuildBlockReply(std::array<Byte, 32>{1, 2, 3});
    const std::string other = BuildBlockReply(std::array<Byte, 32>{4, 5, 6});
    AnswerContext reading;  // block 32 asked once, block 0 taken
    reading.running = true;
    reading.askedYet = true;
    reading.lastRequest = request;
    reading.lastAnswer = taken;
    reading.out = 1;
    reading.outForThisBlock = true;
    auto with = [&](auto change) {
        AnswerContext c = reading;
        change(c);
        return c;
    };
    struct Row {
        const char* what;
        AnswerContext context;
        std::string text;
        AnswerKind kind;
    } rows[] = {
        {"this block's answer", reading, other, AnswerKind::ThisBlock},
        {"a NAK for this block", reading, "\x15", AnswerKind::ThisBlock},
        {"a torn answer for this block", reading, other.substr(0, 40), AnswerKind::ThisBlock},
        {"a lone STX", reading, "\x02", AnswerKind::Noise},
        {"our request echoed", reading, request, AnswerKind::Echo},
        {"the echo after a stop", with([](AnswerContext& c) { c.running = false; }), request,
         AnswerKind::Echo},
        {"the block before's answer again", reading, taken, AnswerKind::Repeat},
        {"the same bytes, asked on a quiet line",
         with([](AnswerContext& c) { c.askedOnQuietLine = true; }), taken, AnswerKind::ThisBlock},
        {"the answer just taken again, none out", with([](AnswerContext& c) { c.out = 0; }), taken,
         AnswerKind::Repeat},
        {"the same bytes owed to an earlier block",
         with([](AnswerContext& c) { c.outForThisBlock = false; }), taken,
         AnswerKind::EarlierBlock},
        {"another answer, none out", with([](AnswerContext& c) { c.out = 0; }), other,
         AnswerKind::OutOfStep},
        {"a NAK, none out", with([](AnswerContext& c) { c.out = 0; }), "\x15",
         AnswerKind::OutOfStep},
        {"owed to an earlier block", with([](AnswerContext& c) { c.outForThisBlock = false; }),
         other, AnswerKind::EarlierBlock},
        {"before the first request, none out", with([](AnswerContext& c) {
             c.askedYet = false;
             c.out = 0;
             c.lastRequest = {};
             c.lastAnswer = {};
         }),
         other, AnswerKind::BeforeFirstRequest},
        {"before the first request, another's out", with([](AnswerContext& c) {
             c.askedYet = false;
             c.lastAnswer = {};
         }),
         taken, AnswerKind::BeforeFirstRequest},
        {"nothing runs, none out", with([](AnswerContext& c) {
             c.running = false;
             c.out = 0;
         }),
         other, AnswerKind::Stray},
        {"nothing runs, one out", with([](AnswerContext& c) { c.running = false; }), other,
         AnswerKind::EarlierBlock},
        {"nothing runs, one out, the answer before again",
         with([](AnswerContext& c) { c.running = false; }), taken, AnswerKind::Repeat},
        {"after a new start, the answer before again", with([](AnswerContext& c) {
             c.askedYet = false;
             c.outForThisBlock = false;
         }),
         taken, AnswerKind::Repeat},
        {"this block's reply refused for its checksum, again: its twin",
         with([&](AnswerContext& c) { c.twin = taken; }), taken, AnswerKind::ThisBlock},
        {"a NAK after a NAK is an answer", with([](AnswerContext& c) { c.lastAnswer = "\x15"; }),
         "\x15", AnswerKind::ThisBlock},
    };
    for (const Row& row : rows)
        EXPECT_EQ(classifyAnswer(row.context, row.text), row.kind) << row.what;
}

// Controllers and adapters that say more than the answer, or less: every read ends with the
// exact image, and lost or refused answers cost seconds (simulated time here).
TEST(LineEdges, EchoesRepeatsNaksAndLostAnswersGiveTheExactImageInSeconds) {
    struct Row {
        const char* what;
        long long latency;
        // What reaches the tool for request k (k from 1), given the true reply.
        std::function<std::vector<std::string>(const std::string& request, const std::string& reply,
                                               int k)>
            line;
        long long withinMs;  // the read's simulated time at most
    };
    auto lostAt = [](std::vector<int> ks) {
        return [ks](const std::string&, const std::string& reply, int k) {
            for (int lost : ks) {
                if (k == lost) return std::vector<std::string>{};
            }
            return std::vector<std::string>{reply};
        };
    };
    const Row rows[] = {
        {"four lost answers", 20, lostAt({3, 7, 11, 15}), 30'000},
        // Each block takes half a second here, and the second read of the blocks after the
        // first loss as much again.
        {"four lost answers, slow controller", 400, lostAt({3, 7, 11, 15}), 40'000},
        {"three NAKs", 20,
         [](const std::string&, const std::string& reply, int k) {
             return k == 3 || k == 8 || k == 13 ? std::vector<std::string>{"\x15"}
                                                : std::vector<std::string>{reply};
         },
         5'000},
        {"every answer twice", 200,
         [](const std::string&, const std::string& reply, int) {
             return std::vector<std::string>{reply, reply};
         },
         19 * 400},
        {"one answer twice", 400,
         [](const std::string&, const std::string& reply, int k) {
             return k == 5 ? std::vector<std::string>{reply, reply}
                           : std::vector<std::string>{reply};
         },
         19 * 600},
        {"a half-duplex echo before every answer", 20,
         [](const std::string& request, const std::string& reply, int) {
             return std::vector<std::string>{request, reply};
         },
         19 * 110},
        {"a stray STX after every answer", 20,
         [](const std::string&, const std::string& reply, int) {
             return std::vector<std::string>{reply, "\x02"};
         },
         19 * 110},
    };
    for (const Row& row : rows) {
        for (bool fast : {false, true}) {
            Rig rig;
            rig.memory = distinctMemory(18);  // 19 blocks
            rig.upload.setBackToBack(fast);
            // The controller: each request's answers in turn, latency after the one before.
            rig.controller = [](long, int) { return std::nullopt; };
            std::multimap<long long, std::string>& arrivals = rig.arrivals;
            long long busy = 0;
            int k = 0;
            std::size_t taken = 0;
            const long long start = rig.ticker.now;
            rig.upload.Command1_Click();
            while (rig.upload.running() && rig.ticker.now < start + 120'000) {
                rig.advance(1);
                for (; taken < rig.offsets.size(); ++taken) {
                    const ReadRequest r =
                        BuildReadRequest(static_cast<Integer>(rig.offsets[taken]));
                    const std::string request(r.chars.begin(), r.chars.end());
                    const std::string reply = rig.replyFor(rig.offsets[taken]);
                    long long at = std::max(rig.requestTimes[taken], busy) + row.latency;
                    for (const std::string& piece : row.line(request, reply, ++k)) {
                        arrivals.emplace(at, piece);
                        at += static_cast<long long>(piece.size());  // about 1 ms a character
                    }
                    busy = at;
                }
            }
            const std::string what = std::string(row.what) + (fast ? ", --fast" : "");
            ASSERT_EQ(rig.upload.step(), Step::Finished)
                << what << ": " << (rig.view.errors.empty() ? "" : rig.view.errors[0].message());
            EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << what;
            EXPECT_LE(rig.ticker.now - start, row.withinMs) << what;
        }
    }
}

// A read started right after another process's stopped, while that one's answers are still
// on their way: they are dropped, the line is read only once it is quiet, and the blocks are
// read a second time. Never a wrong image.
TEST(LineEdges, AnswersOwedToAnotherProcessAreNeverTaken) {
    struct MemoryRecords : LineRecordStore {
        std::map<std::string, LineRecord> records;
        std::optional<LineRecord> load(const std::string& port) override {
            auto it = records.find(port);
            return it == records.end() ? std::nullopt : std::optional<LineRecord>(it->second);
        }
        void save(const std::string& port, const LineRecord& r) override { records[port] = r; }
    };
    for (long long stopAt : {250LL, 1000LL, 2500LL, 3100LL}) {
        for (long long gap : {10LL, 300LL, 2000LL}) {
            MemoryRecords records;
            // The first process: a controller that answers in 400 ms, stuck once for 3 s.
            Rig first;
            first.upload.setLineRecords(&records);
            first.memory = distinctMemory(40);
            first.latency = [](long, int k) { return k == 2 ? 3000LL : 400LL; };
            first.upload.Command1_Click();
            first.advance(stopAt);
            first.upload.fail(Error(ErrorKind::Serial, "interrupted (SIGINT)"));
            // The second process, on the same line and clock: the first one's answers still
            // come, in turn.
            Rig second;
            second.upload.setLineRecords(&records);
            second.memory = first.memory;
            second.latency = [](long, int) { return 400LL; };
            second.ticker.now = first.ticker.now + gap;
            second.ticker.nextTick = second.ticker.now + FakeTicker::kPeriodMs;
            for (const auto& [at, answer] : first.arrivals) {
                if (at > second.ticker.now) second.arrivals.emplace(at, answer);
            }
            second.requests = first.requests;  // the controller counts on
            second.controllerBusyUntil = first.controllerBusyUntil;
            second.run();
            const std::string what = "stopped at " + std::to_string(stopAt) + " ms, again " +
                                     std::to_string(gap) + " ms later";
            if (second.upload.step() == Step::Finished) {
                EXPECT_EQ(second.sink.bytes, second.cleanImage()) << what << ": a wrong image";
                continue;
            }
            // An answer later than any wait (the stuck one, when the first process had not
            // yet given it up) looks like the answer to a request of ours; the second read
            // stops such a read.
            EXPECT_GE(stopAt, 1000) << what << ": " << second.view.errors[0].message();
            ASSERT_EQ(second.upload.step(), Step::Stopped) << what;
            EXPECT_EQ(second.view.finished, 0) << what;
        }
    }
}

// The record per port on disk: what one process writes the next one reads, rewritten in
// place many times; anything else is no record.
TEST(LineRecords, WhatOneProcessWritesTheNextReadsAndNothingElse) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("progread-records-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    {
        LineRecordFiles writer(dir);
        for (int k = 0; k < 50; ++k)
            writer.save("/dev/ttyUSB0", {1000LL + k, k % 4, 1500, 2000LL + k});
        writer.save("/dev/ttyUSB0", {123456789012LL, 3, 5000, 123456789999LL});
        writer.save("COM3", {7, 1, 1000, 8});
        LineRecordFiles reader(dir);
        const auto r = reader.load("/dev/ttyUSB0");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->newestRequestMs, 123456789012LL);
        EXPECT_EQ(r->out, 3);
        EXPECT_EQ(r->waitMs, 5000);
        EXPECT_EQ(r->lastActivityMs, 123456789999LL);
        EXPECT_EQ(reader.load("COM3")->out, 1) << "one record a port";
        EXPECT_FALSE(reader.load("/dev/ttyUSB1")) << "no record for a port never used";
        EXPECT_EQ(reader.pathFor("/dev/ttyUSB0").filename(), "progread-line-dev_ttyUSB0");
    }
    for (const char* garbage : {"", "progread-line-1 12 x", "something else 1 2 3 4\n",
                                "progread-line-1 1 -1 1000 1\n"}) {
        std::ofstream(dir / "progread-line-junk") << garbage;
        EXPECT_FALSE(LineRecordFiles(dir).load("junk")) << '"' << garbage << '"';
    }
    std::filesystem::remove_all(dir);
}
