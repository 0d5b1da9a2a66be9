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
        // The block before's reply while this block's is awaited: this block's equal bytes,
        // or a copy; asked again on the next tick, which settles it.
        {Step::AwaitingReply, Event::Repeat, Step::ReadyToSend, false, false},
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
