// SPDX-License-Identifier: GPL-3.0-or-later
// The upload's steps: the start, the tick, the wake-up and the answer, and what each does
// in each step. What an answer is and what is done with it: upload_answers.cpp.
#include "upload/upload.h"

namespace progread {

Upload::Upload(SerialLink& link, Ticker& ticker, ImageSink& image, UploadView& view)
    : link_(link), ticker_(ticker), image_(image), view_(view) {}

template <class Handler>
void Upload::guarded(Handler&& handler) {
    try {
        handler();
    } catch (const Error& error) {
        fail(error);
    }
}

bool Upload::running() const {
    switch (step_) {
        case Step::ReadyToSend:
        case Step::Settling:
        case Step::AwaitingReply:
        case Step::QuietThenNext:
        case Step::QuietThenAsk:
        case Step::QuietThenFinish:
            return true;
        case Step::Idle:
        case Step::Finished:
        case Step::Stopped:
            return false;
    }
    return false;
}

bool Upload::quieting() const {
    return step_ == Step::QuietThenNext || step_ == Step::QuietThenAsk ||
           step_ == Step::QuietThenFinish;
}

void Upload::enter(Step step) {
    step_ = step;
    stepSince_ = ticker_.nowMs();
    s_.ReplyDone = step == Step::ReadyToSend;
    if (step != Step::ReadyToSend) s_.SendArmed = false;
}

void Upload::fail(const Error& error) {
    const bool wasRunning = running();
    if (wasRunning) enter(Step::Stopped);
    ticker_.setTimerEnabled(false);
    // Keep what was received; a second failure must not hide the first.
    try {
        image_.flush();
    } catch (const Error&) {
    }
    try {
        if (link_.PortOpen()) link_.discardInput();
    } catch (const Error&) {
    }
    view_.uploadStopped(error, wasRunning);
}

void Upload::portChanged(const std::string& portName) {
    if (running()) {
        ErrorFacts facts;
        facts.code = ErrorFacts::Code::PortChanged;
        facts.subject = portName;
        fail(Error(ErrorKind::Serial, facts,
                   "the port was changed to " + portName + " during the upload"));
    }
}

void Upload::Timer1_Timer() {
    dispatch(Event::Tick);
    s_.RxBytes.fill(1, 500, 0);
}

void Upload::dispatch(Event event) {
    guarded([&] {
        switch (event) {
            case Event::Start:
                start();
                return;
            case Event::Answer:
                handleAnswer(link_.Input(), true);
                // A request held back while the answer came goes once the line settles.
                if (step_ == Step::Settling) ticker_.wakeAt(line_.settledAt());
                return;
            case Event::Tick:
                try_.tickPassed = true;
                onTick(event);
                return;
            case Event::Wake:
                onTick(event);
                return;
        }
    });
}

// A tick, or the wake-up asked for: whatever time alone moves on.
void Upload::onTick(Event event) {
    const long long now = ticker_.nowMs();
    const bool tick = event == Event::Tick;
    switch (step_) {
        case Step::ReadyToSend:
            if (!tick) return;
            s_.SendArmed = true;
            sendWhenSettled(true);
            return;
        case Step::Settling:
            sendWhenSettled(tick);
            return;
        case Step::AwaitingReply:
        case Step::QuietThenNext:
        case Step::QuietThenAsk:
        case Step::QuietThenFinish:
            break;
        case Step::Idle:
        case Step::Finished:
        case Step::Stopped:
            return;
    }
    if (!tick) return;
    // A line that never falls quiet (another device, another speed) does not hold the wait
    // open: the longest wait counts from the request, or from the start of the quieting.
    if (!line_.quietFor(now) && !overdue(now)) {
        const long long waited = now - stepSince_;
        if (waited > UploadView::kLongWaitMs && waited / 1000 > (waited - kTickMs) / 1000)
            view_.waitingForAnswer(blockAddress(), waited);
        return;
    }
    if (step_ == Step::AwaitingReply) {
        waitRanOut(now);
        return;
    }
    const bool finishing = step_ == Step::QuietThenFinish;
    forgetAnswers();
    if (finishing) {
        line_.inStep();
        finish();
    } else {
        sendWhenSettled(true);
    }
}

void Upload::start() {
    if (!link_.PortOpen()) link_.openPort();
    const long long now = ticker_.nowMs();
    // Answers still out from before this start are not forgotten: a second press while a
    // request is out must not take its answer for block 0. Nor are another process's.
    const bool leftByAnother = line_.attach(records_, link_.portName(), now);
    const bool outBefore = leftByAnother || line_.out() > 0;  // owed to an earlier read
    if (!leftByAnother && line_.out() > 0 && line_.quietFor(now)) line_.forget(now);
    pass_ = ReadPass{};
    pass_.earlierReadsAnswers = outBefore;
    // Answers given up before this start, in this read or an earlier one, may still be
    // taken for this read's blocks.
    if (line_.mayBeBehind()) pass_.doubt(0);
    if (line_.out() == 0) {
        link_.discardInput();
        line_.resetWait();
    }
    image_.restart();
    s_.BlockOffset = 0;
    s_.UploadCounter = 2;
    try_ = BlockTry{};
    summary_ = {};
    ticker_.setTimerEnabled(true);
    if (leftByAnother) {
        enter(Step::QuietThenAsk);
    } else if (line_.out() > 0 && line_.offset() != s_.BlockOffset) {
        enter(Step::QuietThenNext);
    } else {
        enter(Step::ReadyToSend);
        if (backToBackNow()) sendWhenSettled(false);
    }
}

void Upload::sendWhenSettled(bool onTick) {
    const long long now = ticker_.nowMs();
    if (step_ != Step::Settling) dueSince_ = now;
    // Asked again after a reply equal to the block before: once the line has been quiet for
    // as long as an answer has taken, so that the answer to this request is unambiguous.
    const long long quietAt = line_.lastHeard() + line_.slowestAnswerMs() + LineAccount::kSettleMs;
    if (try_.recheck == Recheck::Due && now < quietAt) {
        enter(Step::Settling);
        ticker_.wakeAt(quietAt);
        return;
    }
    // Characters that never stop do not hold a request back for more than a tick.
    const bool heldLong = now - dueSince_ >= kTickMs;
    if (!line_.settled(now) && !heldLong) {
        enter(Step::Settling);
        ticker_.wakeAt(line_.settledAt());
        return;
    }
    if (!takePendingFrame(now)) return;
    sendRequest();
    // Sent between ticks: the next one a whole period from now.
    if (!onTick) ticker_.restartPeriod();
}

bool Upload::takePendingFrame(long long now) {
    // An adapter that hands characters on in bursts leaves gaps inside an answer: a frame
    // begun (not our echo, not a lone STX) is an answer still coming. Its end wakes the
    // upload. A frame that never ends is what came, once the wait runs out; with nothing
    // out it answers nothing, and the next answer must not end it.
    const std::string frame = link_.pendingFrame();
    if (frame.size() <= 1 || memory_.isOurs(frame)) return true;
    if (!line_.quietFor(now) && now - dueSince_ < LineAccount::kMaxWaitMs) {
        enter(Step::Settling);
        return false;
    }
    if (line_.out() == 0) {
        memory_.handling = link_.takeTorn();
        traceAnswer(LineTrace::Verdict::Noise);
        return true;
    }
    handleAnswer(link_.takeTorn(), false);
    return step_ == Step::Settling || step_ == Step::ReadyToSend;
}

void Upload::sendRequest() {
    const long long now = ticker_.nowMs();
    const ReadRequest request = BuildReadRequest(s_.BlockOffset);
    if (line_.quietFor(now)) try_.askedOnQuietLine = true;
    line_.requestSent(s_.BlockOffset, now);
    s_.BlockAddress = static_cast<double>(blockAddress());
    for (std::size_t k = 0; k < kRequestLength; ++k) {
        s_.RxBytes(static_cast<long>(k) + 1) = request.chars[k];
    }
    s_.FrameSum = request.frameSum;
    for (long k = 1; k <= static_cast<long>(kRequestLength); ++k) link_.Output(s_.RxBytes(k));
    memory_.sent({request.chars.begin(), request.chars.end()});
    pass_.asked = true;
    if (trace_) trace_->sent(memory_.requests.back());
    view_.showProgress(std::to_string(s_.BlockOffset));
    s_.UploadCounter = addChecked(s_.UploadCounter, 1);
    try_.tickPassed = false;
    try_.answeredSinceRequest = false;
    if (try_.firstAskedMs < 0) try_.firstAskedMs = now;
    if (try_.recheck == Recheck::Due) {
        try_.recheck = Recheck::Asked;  // not a retry: nothing was refused or lost
    } else if (++try_.attempts > 1) {
        ++summary_.retries;
    }
    enter(Step::AwaitingReply);
    view_.requestSent(blockAddress(), try_.attempts);
}

bool Upload::overdue(long long now) const {
    const long long since = step_ == Step::AwaitingReply ? line_.newestRequest() : stepSince_;
    return now - since >= LineAccount::kMaxWaitMs;
}

void Upload::waitRanOut(long long now) {
    // What came of an answer cut short is what the controller answered.
    const std::string torn = link_.takeTorn();
    if (!torn.empty()) {
        handleAnswer(torn, false);
        if (step_ != Step::AwaitingReply || (!line_.quietFor(now) && !overdue(now))) return;
    }
    // A controller whose answers were refused is answering, not silent.
    if (!try_.answeredSinceRequest) try_.lastRefusal = {Refusal::Why::NoReply, {}};
    if (try_.attempts >= kMaxAttempts) giveUp();
    view_.replyRejected(blockAddress(), try_.lastRefusal);
    // The same block: any answer still out carries its data too.
    sendRequest();
}

void Upload::ReadPass::doubt(long offset) {
    if (pass == Pass::First) {
        pass = Pass::FirstInDoubt;
        doubtFrom = offset;
    } else if (pass == Pass::Verify || pass == Pass::Reread) {
        pass = Pass::SecondInDoubt;
    }
}

void Upload::forgetAnswers() {
    // Taken as lost on the way. One that still comes later is either seen when none is due
    // (the upload stops) or taken for a later block; then every answer after it is one
    // behind, which the second read of the blocks taken since brings to light.
    if (line_.out() > 0 || !pass_.second()) pass_.doubt(s_.BlockOffset);
    line_.forget(ticker_.nowMs());
    link_.discardInput();
}

bool Upload::backToBackNow() const {
    // An answer given up as lost that comes after all is taken for a later block. At the
    // designed pace it most likely comes between an answer and the next tick, when none is
    // due, and stops the upload; back to back there is no such moment, and a second lost
    // answer would hide the shift for good. So after a give-up the upload keeps the pace.
    return backToBack_ && (pass_.pass == Pass::First || pass_.pass == Pass::Verify);
}

void Upload::carryOn(bool tickPassed) {
    if (line_.out() > 0 && line_.offset() != s_.BlockOffset) {
        enter(Step::QuietThenNext);
    } else if (tickPassed || backToBackNow()) {
        // The answer came after a tick, and waiting for the next one would cost a whole
        // period; or requests go back to back.
        sendWhenSettled(false);
    } else {
        enter(Step::ReadyToSend);
    }
}

}  // namespace progread
