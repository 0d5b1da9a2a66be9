// SPDX-License-Identifier: GPL-3.0-or-later
// The upload's steps: every step against every event, on simulated time.

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
    static const char* const names[] = {
        "Idle",         "ReadyToSend",     "Settling", "AwaitingReply", "QuietThenNext",
        "QuietThenAsk", "QuietThenFinish", "Finished", "Stopped"};
    return names[static_cast<int>(s)];
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

void until(Rig& r, const std::function<bool()>& what) {
    for (int i = 0; i < 600 && !what(); ++i) r.tick();
}

// Block 32, the last, asked again after its wait ran out, then its answer: the other one may
// still come, so block 32 is read a second time once the line is quiet.
void lastBlockInDoubt(Rig& r) {
    const int asked = r.requests;
    until(r, [&] { return r.requests > asked + 1; });
    r.deliver(r.replyFor(32));
}

const StepSetup kSetups[] = {
    {Step::Idle, [](Rig&) {}},
    // Block 0 taken; block 32 goes on the next tick.
    {Step::ReadyToSend, readBlockZero},
    // Block 32 is due, but a character came just now.
    {Step::Settling,
     [](Rig& r) {
         readBlockZero(r);
         r.ticker.now = r.ticker.nextTick;
         r.upload.charsHeard();
         r.tick();
     }},
    {Step::AwaitingReply,
     [](Rig& r) {
         readBlockZero(r);
         r.tick();
     }},
    // Block 32 asked, then a new start: block 0 waits for block 32's answer.
    {Step::QuietThenNext,
     [](Rig& r) {
         readBlockZero(r);
         r.tick();
         r.upload.Command1_Click();
     }},
    {Step::QuietThenAsk,
     [](Rig& r) {
         r.putEndMarker(32 + 8);
         readBlockZero(r);
         lastBlockInDoubt(r);
     }},
    // And the same again in the second read.
    {Step::QuietThenFinish,
     [](Rig& r) {
         r.putEndMarker(32 + 8);
         readBlockZero(r);
         lastBlockInDoubt(r);
         lastBlockInDoubt(r);
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

enum class Event {
    Start,
    Tick,
    Wake,
    GoodReply,
    BadReply,
    StrayReply,
    Repeat,
    Echo,
    Nak,
    PortLost
};
const char* const kEventNames[] = {"start",
                                   "tick",
                                   "wake-up",
                                   "good reply",
                                   "bad reply",
                                   "stray reply",
                                   "the answer taken last, again",
                                   "echo of the request",
                                   "NAK",
                                   "port lost"};

void happen(Rig& rig, Event event) {
    const long answering = rig.upload.state().BlockOffset;
    switch (event) {
        case Event::Start:
            return rig.upload.Command1_Click();
        case Event::Tick:
            return rig.tick();
        case Event::Wake:
            return rig.upload.wake();
        case Event::GoodReply:
            return rig.deliver(rig.replyFor(std::max(0L, rig.upload.line().offset())));
        case Event::BadReply:
            return rig.deliver(rig.replyFor(answering).substr(0, 60) + "xxxxxxxx");
        case Event::StrayReply:
            return rig.deliver(rig.replyFor(640));
        case Event::Repeat:
            return rig.deliver(rig.replyFor(0));
        case Event::Echo: {
            // Of the request sent last.
            const ReadRequest r = BuildReadRequest(
                static_cast<Integer>(rig.offsets.empty() ? answering : rig.offsets.back()));
            return rig.deliver(std::string(r.chars.begin(), r.chars.end()));
        }
        case Event::Nak:
            return rig.deliver("\x15");
        case Event::PortLost:
            return rig.upload.fail(Error(ErrorKind::Serial, "the port went away"));
    }
}

}  // namespace

// Every step against every event: the step after it, and whether a request went out (s) or
// bytes reached the image (w). "Stray" is a whole, well-formed reply while no answer is out;
// "repeat" is block 0's reply again.
TEST(UploadSteps, EveryStepAgainstEveryEvent) {
    struct Cell {
        Step to;
        const char* effect = "";
    };
    using S = Step;
    struct Row {
        Step from;
        Cell cells[10];  // start, tick, wake, good, bad, stray, repeat, echo, NAK, port lost
    } rows[] = {
        // clang-format off
        {S::Idle, {{S::ReadyToSend}, {S::Idle}, {S::Idle}, {S::Idle}, {S::Idle}, {S::Idle},
                   {S::Idle}, {S::Idle}, {S::Idle}, {S::Idle}}},
        // No answer is out: a reply or a NAK is out of step.
        {S::ReadyToSend, {{S::ReadyToSend}, {S::AwaitingReply, "s"}, {S::ReadyToSend},
                          {S::ReadyToSend}, {S::Stopped}, {S::Stopped}, {S::ReadyToSend},
                          {S::ReadyToSend}, {S::Stopped}, {S::Stopped}}},
        // The wake-up comes before the line has settled.
        {S::Settling, {{S::ReadyToSend}, {S::AwaitingReply, "s"}, {S::Settling}, {S::Settling},
                       {S::Stopped}, {S::Stopped}, {S::Settling}, {S::Settling}, {S::Stopped},
                       {S::Stopped}}},
        // Block 0's reply again while block 32's is awaited: this block's equal bytes, or a
        // copy; asked again, which settles it. Any other reply is taken: replies carry no
        // address.
        {S::AwaitingReply, {{S::QuietThenNext}, {S::AwaitingReply}, {S::AwaitingReply},
                            {S::ReadyToSend, "w"}, {S::ReadyToSend}, {S::ReadyToSend, "w"},
                            {S::ReadyToSend}, {S::AwaitingReply}, {S::ReadyToSend},
                            {S::Stopped}}},
        // Block 32's answer, whatever it is, frees block 0's request.
        {S::QuietThenNext, {{S::QuietThenNext}, {S::QuietThenNext}, {S::QuietThenNext},
                            {S::ReadyToSend}, {S::ReadyToSend}, {S::ReadyToSend},
                            {S::QuietThenNext}, {S::QuietThenNext}, {S::ReadyToSend},
                            {S::Stopped}}},
        // Nothing is out: an answer other than a copy of the last is out of step, which is
        // what the quiet is for.
        {S::QuietThenAsk, {{S::ReadyToSend}, {S::QuietThenAsk}, {S::QuietThenAsk},
                           {S::QuietThenAsk}, {S::Stopped}, {S::Stopped}, {S::Stopped},
                           {S::QuietThenAsk}, {S::Stopped}, {S::Stopped}}},
        {S::QuietThenFinish, {{S::ReadyToSend}, {S::QuietThenFinish}, {S::QuietThenFinish},
                              {S::QuietThenFinish}, {S::Stopped}, {S::Stopped}, {S::Stopped},
                              {S::QuietThenFinish}, {S::Stopped}, {S::Stopped}}},
        {S::Finished, {{S::ReadyToSend}, {S::Finished}, {S::Finished}, {S::Finished},
                       {S::Finished}, {S::Finished}, {S::Finished}, {S::Finished}, {S::Finished},
                       {S::Finished}}},
        // Block 32's answer is still out after the stop: a start waits for it.
        {S::Stopped, {{S::QuietThenNext}, {S::Stopped}, {S::Stopped}, {S::Stopped}, {S::Stopped},
                      {S::Stopped}, {S::Stopped}, {S::Stopped}, {S::Stopped}, {S::Stopped}}},
        // clang-format on
    };
    for (const Row& row : rows) {
        for (int e = 0; e < 10; ++e) {
            const Event event = static_cast<Event>(e);
            const Cell& cell = row.cells[e];
            const std::string what = std::string(name(row.from)) + " + " + kEventNames[e];
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
            happen(rig, event);
            rig.settle();
            const bool wrote = rig.sink.restarts == restarts && rig.sink.bytes.size() > bytes;
            std::string effect = rig.requests > requests ? "s" : "";
            if (wrote) effect += "w";
            EXPECT_EQ(rig.upload.step(), cell.to) << what << " gives " << name(rig.upload.step());
            EXPECT_EQ(effect, cell.effect) << what;
            if (event == Event::StrayReply && cell.to == Step::Stopped &&
                row.from != Step::Stopped) {
                ASSERT_FALSE(rig.view.errors.empty()) << what;
                const std::string msg = rig.view.errors.back().message();
                EXPECT_NE(msg.find("out of step"), std::string::npos) << msg;
                const long last = kBaseAddress + 32L * (rig.upload.summary().blocks - 1);
                EXPECT_NE(msg.find("last block taken: " + hexAddress(last)), std::string::npos)
                    << msg;
            }
        }
    }
}
