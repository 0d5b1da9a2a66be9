// SPDX-License-Identifier: GPL-3.0-or-later
// What an answer is, from what the upload knows when it comes; what is no answer changes
// nothing.

#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

// What an answer is, from what the upload knows when it comes.
TEST(AnswerKinds, EachAnswerIsNamedFromWhatTheUploadKnows) {
    const std::string request =
        "\x02"
        "E018020"
        "20\x03"
        "D5";
    const ReadRequest zero = BuildReadRequest(0);
    const std::string blockZero(zero.chars.begin(), zero.chars.end());
    const std::deque<std::string> requests = {blockZero, request};
    const std::string taken = BuildBlockReply(std::array<Byte, 32>{1, 2, 3});
    const std::string other = BuildBlockReply(std::array<Byte, 32>{4, 5, 6});
    AnswerContext reading;  // block 32 asked once, block 0 taken
    reading.running = true;
    reading.askedYet = true;
    reading.requests = &requests;
    reading.lastAnswer = taken;
    reading.blockBefore = taken;
    reading.trusted = true;
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
        {"an earlier request echoed late", reading, blockZero, AnswerKind::Echo},
        {"the echo after a stop", with([](AnswerContext& c) { c.running = false; }), request,
         AnswerKind::Echo},
        {"the block before's answer again", reading, taken, AnswerKind::EqualToBlockBefore},
        {"a refused answer again", with([](AnswerContext& c) { c.blockBefore = {}; }), taken,
         AnswerKind::Repeat},
        {"the block before's answer again, on a line that sent copies",
         with([](AnswerContext& c) { c.trusted = false; }), taken, AnswerKind::Repeat},
        {"the same bytes, asked on a quiet line",
         with([](AnswerContext& c) { c.askedOnQuietLine = true; }), taken, AnswerKind::ThisBlock},
        {"the same bytes, asked again after them",
         with([](AnswerContext& c) { c.askedAgain = true; }), taken, AnswerKind::ThisBlock},
        {"complete too soon after the one request out",
         with([](AnswerContext& c) { c.tooSoon = true; }), other, AnswerKind::Leftover},
        {"complete soon after a retry: the first request's", with([](AnswerContext& c) {
             c.tooSoon = true;
             c.out = 2;
         }),
         other, AnswerKind::ThisBlock},
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
             c.requests = nullptr;
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

// Data before the first start, and notifications that are no reception: nothing is taken.
TEST(AnswerKinds, StrayDataAndOtherNotificationsChangeNothing) {
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
