#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

namespace {

std::vector<Byte> tail() {
    std::vector<Byte> t;
    for (int k = 0; k < 513; ++k) {
        t.push_back(0xFF);
        t.push_back(0x00);
    }
    return t;
}

std::vector<Byte> concat(std::vector<Byte> a, const std::vector<Byte>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Byte> memorySlice(const std::vector<Byte>& m, std::size_t from, std::size_t count) {
    return {m.begin() + static_cast<long>(from), m.begin() + static_cast<long>(from + count)};
}

// Replaces one character; at() keeps GCC's overflow analysis quiet about the copies.
std::string setChar(std::string r, std::size_t pos, char c) {
    r.at(pos) = c;
    return r;
}

}  // namespace

TEST(RequestPacing, StartThenOneTickSendsTheFirstRequestAndShowsZero) {
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

TEST(RequestPacing, OnlyAStartedUploadSendsAndOnlyOncePerReply) {
    Rig rig;
    for (int i = 0; i < 20; ++i) rig.upload.Timer1_Timer();
    EXPECT_EQ(rig.link.sent, "") << "ticks before the first start";
    EXPECT_FALSE(rig.link.open) << "the port opens on the start command, not before";

    rig.upload.Command1_Click();
    rig.upload.Command1_Click();
    for (int i = 0; i < 5; ++i) rig.upload.Timer1_Timer();
    EXPECT_EQ(rig.link.sent.size(), 13u) << "two starts and no reply: one request";
}

TEST(RequestPacing, ProgressShowsTheOffsetJustRequestedAndTicksClearTheReceiveArray) {
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

TEST(ReplyHandling, StrayDataAndOtherNotificationsChangeNothing) {
    Rig rig;
    rig.deliver(rig.replyFor(0));  // before the first start
    EXPECT_TRUE(rig.sink.bytes.empty());
    EXPECT_TRUE(rig.link.inbox.empty()) << "stray data is read, not left waiting";

    rig.controller = [](long, int) { return std::nullopt; };
    rig.upload.Command1_Click();
    rig.tick();
    for (int kind : {1, 3, 4, 5, 1004}) rig.deliver(rig.replyFor(0), kind);
    EXPECT_TRUE(rig.sink.bytes.empty());
    EXPECT_EQ(rig.link.inbox.size(), 5u) << "only a receive notification reads input";
    EXPECT_TRUE(rig.view.rejections.empty());
    EXPECT_EQ(rig.upload.step(), Upload::Step::AwaitingReply);
}

TEST(ErrorPolicy, AFailedOpenIsReportedAndALaterStartWorks) {
    Rig rig;
    rig.putEndMarker(0);
    rig.link.openError = Error(ErrorKind::Serial, "cannot open /dev/ttyS0: no such device");
    rig.upload.Command1_Click();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0].kind(), ErrorKind::Serial);
    EXPECT_FALSE(rig.upload.running());
    for (int i = 0; i < 5; ++i) rig.tick();
    EXPECT_EQ(rig.requests, 0);

    rig.link.openError.reset();
    rig.run();
    EXPECT_EQ(rig.upload.step(), Upload::Step::Finished);
}

TEST(ErrorPolicy, AFailedWriteOrALostPortStopsTheUpload) {
    Rig rig;
    rig.sink.failWrites = true;
    rig.run();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0].kind(), ErrorKind::File);
    EXPECT_EQ(rig.upload.step(), Upload::Step::Stopped);
    EXPECT_FALSE(rig.ticker.enabled);

    Rig lost;
    lost.controller = [](long, int) { return std::nullopt; };
    lost.upload.Command1_Click();
    lost.tick();
    const int flushes = lost.sink.flushes;
    lost.upload.fail(Error(ErrorKind::Serial, "fake went away"));
    EXPECT_EQ(lost.upload.step(), Upload::Step::Stopped);
    EXPECT_GT(lost.sink.flushes, flushes) << "what was received is flushed";
    for (int i = 0; i < 30; ++i) lost.upload.Timer1_Timer();
    EXPECT_EQ(lost.requests, 1);
}
