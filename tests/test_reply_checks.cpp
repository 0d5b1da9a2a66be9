// SPDX-License-Identifier: GPL-3.0-or-later
// Replies that are refused, asked for again, and the stop after three; a controller whose
// checksums follow a rule of its own.

#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

namespace {

using Step = Upload::Step;

}  // namespace

TEST(ReplyChecks, EachRejectedReplyWritesNothingAndTheBlockIsAskedForAgain) {
    struct Row {
        const char* what;
        std::function<std::string(std::string)> spoil;
        const char* reason;
    } rows[] = {
        {"short", [](std::string r) { return r.substr(0, 67); }, "malformed"},
        {"long", [](std::string r) { return r + "0"; }, "malformed"},
        {"lowercase digit", [](std::string r) { return setChar(r, 3, 'a'); }, "malformed"},
        {"parity ?", [](std::string r) { return setChar(r, 40, '?'); }, "malformed"},
        {"wrong checksum",
         [](std::string r) { return setChar(r, 67, r.at(67) == 'F' ? 'E' : 'F'); }, "checksum"},
    };
    for (const auto& row : rows) {
        Rig rig;
        rig.putEndMarker(32 + 4);
        rig.memory[3] = 0xAB;  // so that the lowercase row really changes a digit
        rig.controller = [&](long offset, int k) -> std::optional<std::string> {
            std::string good = rig.replyFor(offset);
            return k == 2 ? row.spoil(good) : good;  // spoil the reply for block 0x8020
        };
        rig.run();
        EXPECT_EQ(rig.upload.step(), Upload::Step::Finished) << row.what;
        EXPECT_EQ(rig.offsets, (std::vector<long>{0, 32, 32})) << row.what;
        EXPECT_EQ(rig.sink.bytes, concat(memorySlice(rig.memory, 0, 64), tail())) << row.what;
        ASSERT_EQ(rig.view.rejections.size(), 1u) << row.what;
        EXPECT_NE(rig.view.rejections[0].find(row.reason), std::string::npos)
            << rig.view.rejections[0];
        EXPECT_EQ(rig.upload.summary().retries, 1);
    }
}

TEST(ReplyChecks, ThreeFailuresStopWithTheBlockAddressAndReason) {
    struct Row {
        const char* what;
        std::function<std::optional<std::string>(std::string)> answer;
        const char* reason;
    } rows[] = {
        {"no reply", [](std::string) { return std::nullopt; }, "no reply"},
        {"malformed", [](std::string r) { return r.substr(1); }, "malformed reply"},
        // A different wrong checksum each time: no two replies agree, so none is taken.
        {"checksum",
         [](std::string r) -> std::optional<std::string> {
             return setChar(r, 66, r.at(66) == '0' ? '1' : '0');
         },
         "checksum mismatch"},
    };
    for (const auto& row : rows) {
        Rig rig;
        rig.controller = [&](long offset, int k) -> std::optional<std::string> {
            std::string good = rig.replyFor(offset);
            if (offset != 64) return good;
            auto answer = row.answer(good);
            if (answer && answer->size() == 68)
                answer = setChar(*answer, 67, "0123456789ABCDEF"[k % 16]);
            return answer;
        };
        rig.run();
        EXPECT_EQ(rig.upload.step(), Upload::Step::Stopped) << row.what;
        EXPECT_EQ(rig.offsets, (std::vector<long>{0, 32, 64, 64, 64})) << row.what;
        ASSERT_EQ(rig.view.errors.size(), 1u) << row.what;
        const std::string msg = rig.view.errors[0].message();
        EXPECT_NE(msg.find("0x8040"), std::string::npos) << msg;
        EXPECT_NE(msg.find(row.reason), std::string::npos) << msg;
        EXPECT_EQ(rig.sink.bytes, memorySlice(rig.memory, 0, 64)) << "blocks before it are kept";
        EXPECT_FALSE(rig.ticker.enabled);
        const auto sent = rig.link.sent;
        for (int i = 0; i < 20; ++i) rig.tick();
        EXPECT_EQ(rig.offsets.size(), 5u) << "nothing is sent after a stop";
    }
}

TEST(ReplyChecks, ASilentControllerIsAskedAgainAtTheFirstTickAfterTheWait) {
    Rig rig;
    rig.putEndMarker(0);
    rig.controller = [&](long offset, int k) -> std::optional<std::string> {
        if (k == 1) return std::nullopt;
        return rig.replyFor(offset);
    };
    rig.upload.Command1_Click();
    rig.tick();  // request 1
    const long long first = rig.ticker.now;
    rig.advanceTo(first + LineAccount::kFirstWaitMs - 1);
    EXPECT_EQ(rig.requests, 1) << "not before the wait is up";
    rig.tick();
    EXPECT_EQ(rig.requests, 2);
    EXPECT_EQ(rig.requestTimes[1] - first, LineAccount::kFirstWaitMs);
    rig.advance(10'000);  // the lost answer may still come: block 0 is read a second time
    EXPECT_EQ(rig.upload.step(), Upload::Step::Finished);
    EXPECT_EQ(rig.sink.bytes, rig.cleanImage());
    ASSERT_EQ(rig.view.rejections.size(), 1u);
    EXPECT_EQ(rig.view.rejections[0], "no reply");
}

TEST(ReplyChecks, AControllerWithItsOwnChecksumRuleIsReadByTwoAgreeingReplies) {
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

// Only 0-9 and A-F are data. A reply with anything else among its data digits is malformed,
// whatever its checksum: never a checksum by another rule, so never confirmed by a twin and
// decoded (a G would be read as 0).
TEST(ReplyChecks, ADataDigitThatIsNoHexDigitIsMalformedEvenWhenTheSameReplyComesAgain) {
    struct Row {
        const char* what;
        char digit;
        bool checksumOverIt;  // the checksum agrees with the spoiled digits, or not
    } rows[] = {
        {"a G, the checksum over it", 'G', true},
        {"a G, the checksum of the true reply", 'G', false},
        {"a colon, the checksum over it", ':', true},
        {"a lowercase digit, the checksum over it", 'b', true},
    };
    for (const Row& row : rows) {
        Rig rig;
        rig.controller = [&](long offset, int) -> std::optional<std::string> {
            std::string reply = rig.replyFor(offset);
            if (offset != 64) return reply;
            reply = setChar(reply, 9, row.digit);
            if (row.checksumOverIt) {
                unsigned sum = 0;
                for (std::size_t i = 1; i <= 65; ++i) sum += static_cast<unsigned char>(reply[i]);
                reply = setChar(reply, 66, "0123456789ABCDEF"[(sum >> 4) & 0xF]);
                reply = setChar(reply, 67, "0123456789ABCDEF"[sum & 0xF]);
            }
            return reply;
        };
        rig.run();
        EXPECT_EQ(rig.upload.step(), Upload::Step::Stopped) << row.what;
        EXPECT_EQ(rig.offsets, (std::vector<long>{0, 32, 64, 64, 64})) << row.what;
        ASSERT_EQ(rig.view.errors.size(), 1u) << row.what;
        EXPECT_NE(rig.view.errors[0].message().find("malformed reply"), std::string::npos)
            << row.what << ": " << rig.view.errors[0].message();
        // The same reply again, dropped as a repeat, is still an answer: never "no reply".
        for (const std::string& r : rig.view.rejections)
            EXPECT_EQ(r.find("no reply"), std::string::npos) << row.what;
        EXPECT_EQ(rig.view.toldChecksumRule, 0) << row.what;
        EXPECT_EQ(rig.sink.bytes, memorySlice(rig.memory, 0, 64)) << row.what;
    }
}
