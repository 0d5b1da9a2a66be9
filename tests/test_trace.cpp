// SPDX-License-Identifier: GPL-3.0-or-later
// What the upload tells a trace of each request and answer, and the verdict on each answer.

#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

namespace {

using Verdict = LineTrace::Verdict;

struct RecordingTrace : LineTrace {
    int requests = 0;
    std::vector<Verdict> verdicts;
    std::vector<std::string> reasons;
    std::vector<std::string> answers;
    void sent(const std::string& chars) override {
        EXPECT_EQ(chars.size(), kRequestLength);
        ++requests;
    }
    void received(const std::string& chars, Verdict verdict, const std::string& reason) override {
        answers.push_back(chars);
        verdicts.push_back(verdict);
        reasons.push_back(reason);
    }
};

// A reply whose checksum is by a rule of its own: one more than the right one.
std::string otherRule(std::string reply) {
    reply[67] = reply[67] == 'F' ? '0' : reply[67] == '9' ? 'A' : static_cast<char>(reply[67] + 1);
    return reply;
}

}  // namespace

TEST(Trace, EveryAnswerGetsItsVerdict) {
    struct Row {
        const char* what;
        std::function<void(Rig&)> play;
        std::vector<Verdict> verdicts;
        int requests;
        const char* reason;  // in the first refusal's reason, or ""
    };
    const std::vector<Row> rows = {
        {"an answer while nothing runs",
         [](Rig& r) { r.deliver(r.replyFor(0)); },
         {Verdict::Stray},
         0,
         ""},
        {"taken, then another when none is due",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.tick();
             r.deliver(r.replyFor(0));
             r.deliver(r.replyFor(640));
         },
         {Verdict::Accepted, Verdict::OutOfStep},
         1,
         ""},
        {"taken, then the same again: a repeat, also while the next block's request is out",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.tick();
             r.deliver(r.replyFor(0));
             r.deliver(r.replyFor(0));
             r.tick();
             r.deliver(r.replyFor(0));
             r.deliver(r.replyFor(32));
         },
         {Verdict::Accepted, Verdict::Repeat, Verdict::Repeat, Verdict::Accepted},
         2,
         ""},
        {"an answer before the first request, the echo, a lone STX",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.deliver(r.replyFor(640));
             r.tick();
             r.deliver(
                 std::string("\x02"
                             "E018000"
                             "20\x03"
                             "D3"));
             r.deliver("\x02");
             r.deliver(r.replyFor(0));
         },
         {Verdict::BeforeFirstRequest, Verdict::Echo, Verdict::Noise, Verdict::Accepted},
         1,
         ""},
        {"a frame begun and never ended, with nothing out, is noise: the next request goes",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.tick();
             r.deliver(r.replyFor(0));
             r.link.torn =
                 "\x02"
                 "AB";
             r.advance(LineAccount::kFirstWaitMs + 200);
             r.deliver(r.replyFor(32));
         },
         {Verdict::Accepted, Verdict::Noise, Verdict::Accepted},
         2,
         ""},
        {"a NAK is refused and the block asked again",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.tick();
             r.deliver("\x15");
             r.tick();
             r.deliver(r.replyFor(0));
         },
         {Verdict::Refused, Verdict::Accepted},
         2,
         "NAK"},
        {"a short reply, then a good one",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.tick();
             r.deliver(r.replyFor(0).substr(0, 67));
             r.tick();
             r.deliver(r.replyFor(0));
         },
         {Verdict::Refused, Verdict::Accepted},
         2,
         "malformed reply"},
        {"a checksum by another rule, taken on its twin",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.tick();
             r.deliver(otherRule(r.replyFor(0)));
             r.tick();
             r.deliver(otherRule(r.replyFor(0)));
         },
         {Verdict::Refused, Verdict::ConfirmedTwin},
         2,
         "checksum mismatch"},
        {"the second answer to a retried block comes after the block was taken",
         [](Rig& r) {
             r.upload.Command1_Click();
             r.advance(1300);  // the first request's wait runs out: asked again
             r.deliver(r.replyFor(0));
             r.deliver(r.replyFor(0));
             r.advance(LineAccount::kSettleMs);
         },
         // No longer waited for once the block was taken: a repeat.
         {Verdict::Accepted, Verdict::Repeat},
         3,  // block 1 is asked as soon as the line is quiet
         ""},
    };
    for (const Row& row : rows) {
        Rig rig;
        rig.controller = [](long, int) { return std::nullopt; };  // answers come by hand
        RecordingTrace trace;
        rig.upload.setTrace(&trace);
        row.play(rig);
        EXPECT_EQ(trace.verdicts, row.verdicts) << row.what;
        EXPECT_EQ(trace.requests, row.requests) << row.what;
        if (*row.reason) {
            ASSERT_FALSE(trace.reasons.empty()) << row.what;
            EXPECT_NE(trace.reasons[0].find(row.reason), std::string::npos)
                << row.what << ": " << trace.reasons[0];
        }
        for (const std::string& answer : trace.answers) {
            EXPECT_TRUE(static_cast<Byte>(answer[0]) == kStx || answer == "\x15")
                << row.what << ": the answer as it came";
        }
    }
}
