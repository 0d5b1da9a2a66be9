// SPDX-License-Identifier: GPL-3.0-or-later
#include "upload/upload.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace progread {

std::string hexAddress(long address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04lX", address);
    return buf;
}

AnswerKind classifyAnswer(const AnswerContext& c, std::string_view text) {
    if (text.size() == 1 && static_cast<Byte>(text[0]) == kStx) return AnswerKind::Noise;
    // Any request of ours: a half-duplex adapter's echo of a retry may come after the next
    // block's request went out.
    if (c.requests && std::find(c.requests->begin(), c.requests->end(), text) != c.requests->end())
        return AnswerKind::Echo;
    // The answer before, again: a controller that sends an answer twice. Counted, it would
    // stand for an answer still on its way, which would then be taken for the next block.
    // Only a request asked on a quiet line can bring the same bytes for this block (real
    // programs have such neighbours only rarely), and a reply refused for its checksum is
    // expected again; answers out for an earlier block are counted as such (whatever came
    // twice, the next one the same is a repeat again).
    if (text.size() == kReplyLength && text == c.lastAnswer && text != c.twin) {
        const bool quietAsk =
            c.out > 0 && c.outForThisBlock && (c.askedOnQuietLine || c.askedAgain);
        const bool earlierBlocks = c.running && c.askedYet && c.out > 0 && !c.outForThisBlock;
        if (!quietAsk && !earlierBlocks) {
            // Neighbouring blocks of equal bytes are common enough (erased memory) that waiting
            // a whole wait for each would cost seconds.
            const bool thisBlockOut = c.running && c.askedYet && c.out > 0 && c.outForThisBlock;
            if (thisBlockOut && c.trusted && text == c.blockBefore)
                return AnswerKind::EqualToBlockBefore;
            return AnswerKind::Repeat;
        }
    }
    if (!c.running) return c.out > 0 ? AnswerKind::EarlierBlock : AnswerKind::Stray;
    if (!c.askedYet) return AnswerKind::BeforeFirstRequest;
    if (c.out == 0) return AnswerKind::OutOfStep;
    // With more than one request out for this block, it answers an earlier one of them.
    if (c.tooSoon && c.outForThisBlock && c.out == 1) return AnswerKind::Leftover;
    return c.outForThisBlock ? AnswerKind::ThisBlock : AnswerKind::EarlierBlock;
}

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
        case Step::Quieting:
            return true;
        case Step::Idle:
        case Step::Finished:
        case Step::Stopped:
            return false;
    }
    return false;
}

void Upload::enter(Step step) {
    step_ = step;
    stepSince_ = ticker_.nowMs();
    s_.ReplyDone = step == Step::ReadyToSend;
    if (step != Step::ReadyToSend) s_.SendArmed = false;
}

void Upload::quiet(Then then) {
    then_ = then;
    enter(Step::Quieting);
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

void Upload::MSComm1_OnComm() {
    if (link_.CommEvent() != SerialLink::kEvReceive) return;
    guarded([&] {
        handleAnswer(link_.Input(), true);
        // A request held back while the answer came goes once the line settles.
        if (step_ == Step::Settling) ticker_.wakeAt(line_.settledAt());
    });
}

void Upload::dispatch(Event event) {
    guarded([&] {
        if (event == Event::Start) {
            start();
            return;
        }
        const long long now = ticker_.nowMs();
        if (event == Event::Tick) try_.tickPassed = true;
        switch (step_) {
            case Step::ReadyToSend:
                if (event == Event::Tick) {
                    s_.SendArmed = true;
                    sendWhenSettled(true);
                }
                break;
            case Step::Settling:
                sendWhenSettled(event == Event::Tick);
                break;
            case Step::AwaitingReply:
            case Step::Quieting: {
                if (event != Event::Tick) break;
                // A line that never falls quiet (another device, another speed) does not hold
                // the wait open: the longest wait counts from the request, or from the start
                // of the quieting.
                if (!line_.quietFor(now) && !overdue(now)) {
                    const long long waited = now - stepSince_;
                    if (waited > UploadView::kLongWaitMs &&
                        waited / 1000 > (waited - kTickMs) / 1000)
                        view_.waitingForAnswer(blockAddress(), waited);
                    break;
                }
                if (step_ == Step::AwaitingReply) {
                    waitRanOut(now);
                    break;
                }
                forgetAnswers();
                if (then_ == Then::Finish) {
                    line_.inStep();
                    finish();
                } else {
                    sendWhenSettled(true);
                }
                break;
            }
            case Step::Idle:
            case Step::Finished:
            case Step::Stopped:
                break;
        }
    });
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
    pass_.firstUnsure = line_.mayBeBehind() ? 0 : -1;
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
        quiet(Then::RequestOnQuiet);
    } else if (line_.out() > 0 && line_.offset() != s_.BlockOffset) {
        quiet(Then::NextRequest);
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
    if (try_.askAgain && now < quietAt) {
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
    // An adapter that hands characters on in bursts leaves gaps inside an answer: a frame
    // begun (not our echo, not a lone STX) is an answer still coming. Its end wakes the
    // upload. A frame that never ends is what came, once the wait runs out; with nothing
    // out it answers nothing, and the next answer must not end it.
    const std::string frame = link_.pendingFrame();
    const bool ours = std::find(requests_.begin(), requests_.end(), frame) != requests_.end();
    if (frame.size() > 1 && !ours) {
        if (!line_.quietFor(now) && now - dueSince_ < LineAccount::kMaxWaitMs) {
            enter(Step::Settling);
            return;
        }
        if (line_.out() == 0) {
            answer_ = link_.takeTorn();
            traceAnswer(LineTrace::Verdict::Noise);
        } else {
            handleAnswer(link_.takeTorn(), false);
            if (step_ != Step::Settling && step_ != Step::ReadyToSend) return;
        }
    }
    sendRequest();
    // Sent between ticks: the next one a whole period from now.
    if (!onTick) ticker_.restartPeriod();
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
    requests_.emplace_back(request.chars.begin(), request.chars.end());
    if (requests_.size() > 4) requests_.pop_front();
    pass_.asked = true;
    if (trace_) trace_->sent(requests_.back());
    view_.showProgress(std::to_string(s_.BlockOffset));
    s_.UploadCounter = addChecked(s_.UploadCounter, 1);
    try_.tickPassed = false;
    try_.answeredSinceRequest = false;
    if (try_.firstAskedMs < 0) try_.firstAskedMs = now;
    if (try_.askAgain) {
        // Not a retry: nothing was refused or lost.
        try_.askAgain = false;
        try_.askedAgain = true;
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

void Upload::forgetAnswers() {
    // Taken as lost on the way. One that still comes later is either seen when none is due
    // (the upload stops) or taken for a later block; then every answer after it is one
    // behind, which the second read of the blocks taken since brings to light.
    if (line_.out() > 0 && pass_.second) pass_.gaveUpInSecond = true;
    line_.forget(ticker_.nowMs());
    if (pass_.firstUnsure < 0 && !pass_.second) pass_.firstUnsure = s_.BlockOffset;
    link_.discardInput();
}

bool Upload::backToBackNow() const {
    // An answer given up as lost that comes after all is taken for a later block. At the
    // designed pace it most likely comes between an answer and the next tick, when none is
    // due, and stops the upload; back to back there is no such moment, and a second lost
    // answer would hide the shift for good. So after a give-up the upload keeps the pace.
    return backToBack_ && pass_.firstUnsure < 0;
}

void Upload::carryOn(bool tickPassed) {
    if (line_.out() > 0 && line_.offset() != s_.BlockOffset) {
        quiet(Then::NextRequest);
    } else if (tickPassed || backToBackNow()) {
        // The answer came after a tick, and waiting for the next one would cost a whole
        // period; or requests go back to back.
        sendWhenSettled(false);
    } else {
        enter(Step::ReadyToSend);
    }
}

void Upload::handleAnswer(const std::string& answer, bool fresh) {
    answer_ = answer;
    const long long now = ticker_.nowMs();
    if (fresh) line_.heard(now);
    const std::string text(trimSpaces(answer));
    try_.charsHeard -= static_cast<long>(answer.size());
    if (text.empty()) return;
    AnswerContext context;
    context.running = running();
    context.askedYet = pass_.asked;
    context.requests = &requests_;
    context.lastAnswer = lastAnswer_;
    if (pass_.lastTakenOffset >= 0 &&
        pass_.lastTakenOffset + static_cast<long>(kBlockBytes) == s_.BlockOffset)
        context.blockBefore = pass_.lastTaken;
    if (try_.twin) context.twin = *try_.twin;
    context.out = line_.out();
    context.outForThisBlock = line_.offset() == s_.BlockOffset;
    context.askedOnQuietLine = try_.askedOnQuietLine;
    context.trusted = !line_.mayBeBehind() && !line_.copiesSeen();
    context.askedAgain = try_.askedAgain && context.trusted;
    context.tooSoon = fresh && text.size() == kReplyLength &&
                      now - line_.newestRequest() < link_.shortestReplyMs();
    const AnswerKind kind = classifyAnswer(context, text);
    switch (kind) {
        case AnswerKind::Noise:
            traceAnswer(LineTrace::Verdict::Noise);
            return;
        case AnswerKind::Echo:
            traceAnswer(LineTrace::Verdict::Echo);
            return;
        case AnswerKind::Stray:
            lastAnswer_ = text;  // its twin may follow
            traceAnswer(LineTrace::Verdict::Stray);
            return;
        case AnswerKind::Repeat:
            if (context.running) line_.copySeen();
            if (context.running && try_.malformed == text) try_.answeredSinceRequest = true;
            traceAnswer(LineTrace::Verdict::Repeat);
            return;
        case AnswerKind::EqualToBlockBefore:
            // Held as no answer; the request asked again, once the line settles and a tick
            // has passed, brings this block's bytes whichever it was.
            traceAnswer(LineTrace::Verdict::Repeat, "the block before's reply again: asking again");
            if (step_ != Step::AwaitingReply || try_.askAgain) return;  // asked again already
            try_.askAgain = true;
            try_.heldEqual = text;
            carryOn(try_.tickPassed);
            return;
        case AnswerKind::Leftover:
            pass_.earlierReadsAnswers = true;
            traceAnswer(LineTrace::Verdict::EarlierBlock,
                        "complete sooner than its characters take after the request");
            return;
        case AnswerKind::OutOfStep: {
            traceAnswer(LineTrace::Verdict::OutOfStep);
            ErrorFacts facts;
            facts.code = ErrorFacts::Code::OutOfStep;
            facts.address = pass_.lastAccepted;
            throw Error(ErrorKind::Serial, facts,
                        "the line is out of step: an answer came when none was due (last block "
                        "taken: " +
                            (pass_.lastAccepted < 0 ? std::string("none")
                                                    : hexAddress(pass_.lastAccepted)) +
                            ")");
        }
        case AnswerKind::BeforeFirstRequest:
        case AnswerKind::EarlierBlock:
            if (context.running) pass_.earlierReadsAnswers = true;
            // A copy of it may follow, to be dropped as a repeat. But where this read is to be
            // read a second time anyway, an answer counted before its first request is no
            // copy, and this read's own block may well bring the same bytes (a search asks
            // for block 0 too): a wrong take would meet the second read.
            if (kind == AnswerKind::BeforeFirstRequest && line_.out() > 0 && line_.mayBeBehind())
                lastAnswer_.clear();
            else
                lastAnswer_ = text;
            if (line_.out() > 0) line_.answerCame(now);
            traceAnswer(kind == AnswerKind::EarlierBlock ? LineTrace::Verdict::EarlierBlock
                                                         : LineTrace::Verdict::BeforeFirstRequest);
            if (step_ == Step::Quieting && then_ == Then::NextRequest && line_.out() == 0)
                carryOn(try_.tickPassed);
            return;
        case AnswerKind::ThisBlock:
            // Another reply after the one held as equal: that one was a copy after all.
            if (!try_.heldEqual.empty() && text != try_.heldEqual) line_.copySeen();
            // Refused or not, it is an answer: it is no longer out.
            lastAnswer_ = text;
            line_.answerCame(now);
            takeAnswer(text);
            return;
    }
}

void Upload::takeAnswer(const std::string& text) {
    if (text.size() == 1 && static_cast<Byte>(text[0]) == kNak) {
        try_.twin.reset();
        refuse({Refusal::Why::Nak, {}});
        return;
    }
    const ReplyCheck check = checkReply(text);
    if (check) {
        traceAnswer(LineTrace::Verdict::Accepted);
        acceptReply(text);
        return;
    }
    if (check.fault == ReplyFault::ChecksumMismatch) {
        if (try_.twin && *try_.twin == text) {
            traceAnswer(LineTrace::Verdict::ConfirmedTwin);
            ++summary_.confirmedBlocks;
            if (!pass_.toldChecksumRule) {
                pass_.toldChecksumRule = true;
                view_.checksumsByAnotherRule();
            }
            acceptReply(text);
            return;
        }
        try_.twin = text;
        // Once the operator knows the controller's rule, a first reply is no news.
        refuse({Refusal::Why::ChecksumMismatch, check.detail}, !pass_.toldChecksumRule);
        return;
    }
    try_.twin.reset();
    try_.malformed = text;
    refuse({Refusal::Why::Malformed, check.detail});
}

void Upload::traceAnswer(LineTrace::Verdict verdict, const std::string& reason) {
    if (trace_) trace_->received(answer_, verdict, reason);
}

void Upload::refuse(const Refusal& refusal, bool tell) {
    try_.lastRefusal = refusal;
    try_.answeredSinceRequest = true;
    traceAnswer(LineTrace::Verdict::Refused, refusal.text());
    if (line_.out() > 0) {
        enter(Step::AwaitingReply);  // another answer for this block is on its way
        if (tell) view_.replyRejected(blockAddress(), refusal);
        return;
    }
    if (try_.attempts >= kMaxAttempts) giveUp();
    if (tell) view_.replyRejected(blockAddress(), refusal);
    carryOn(try_.tickPassed);
}

void Upload::finish() {
    ticker_.setTimerEnabled(false);
    image_.appendTail();
    image_.flush();
    image_.publish();
    enter(Step::Finished);
    view_.uploadFinished(summary_);
}

void Upload::giveUp() {
    const Refusal& last = try_.lastRefusal;
    ErrorFacts facts;
    switch (last.why) {
        case Refusal::Why::NoReply:
            facts.code = ErrorFacts::Code::NoReply;
            break;
        case Refusal::Why::Malformed:
            facts.code = ErrorFacts::Code::Malformed;
            break;
        case Refusal::Why::ChecksumMismatch:
            facts.code = ErrorFacts::Code::ChecksumMismatch;
            break;
        case Refusal::Why::Nak:
            facts.code = ErrorFacts::Code::Nak;
            break;
    }
    facts.address = blockAddress();
    facts.count = try_.attempts;
    facts.reason = last.detail;
    // Characters came all along, and none made an answer: not a silent controller.
    const long long since = ticker_.nowMs() - try_.firstAskedMs;
    if (last.why == Refusal::Why::NoReply && try_.charsHeard >= kBusyLineChars) {
        facts.code = ErrorFacts::Code::LineBusy;
        facts.count = static_cast<int>(std::min<long>(try_.charsHeard, INT_MAX));
        facts.reason = std::to_string(since);
        throw Error(ErrorKind::Serial, facts,
                    "the line is busy with characters that are no answers (" +
                        std::to_string(try_.charsHeard) + " characters in " +
                        std::to_string(since / 1000) + " s)");
    }
    throw Error(ErrorKind::Serial, facts,
                "block " + hexAddress(blockAddress()) + ": " + last.text() + " after " +
                    std::to_string(try_.attempts) + " requests");
}

void Upload::acceptReply(std::string_view reply) {
    const long n = static_cast<long>(reply.size());
    for (long i = 1; i <= n; ++i)
        s_.RxBytes(i) = static_cast<Byte>(reply[static_cast<std::size_t>(i - 1)]);
    std::array<Byte, kBlockBytes> block{};
    bool ended = false;
    long j = 0;
    for (long i = 2; i <= n - 3; i += 4) {
        const BytePair pair =
            DecodeGroup(s_.RxBytes(i), s_.RxBytes(i + 1), s_.RxBytes(i + 2), s_.RxBytes(i + 3));
        s_.PairBytes(j) = pair.first;
        s_.PairBytes(j + 1) = pair.second;
        block.at(static_cast<std::size_t>(j)) = pair.first;
        block.at(static_cast<std::size_t>(j + 1)) = pair.second;
        // Groups after the marker are written too: the programming software expects them.
        ended = ended || isEndMarker(pair);
        j += 2;
    }
    pass_.lastAccepted = blockAddress();
    pass_.lastTaken.assign(reply);
    pass_.lastTakenOffset = s_.BlockOffset;
    // Asked again only after the block before's reply came again: an answer still out brings
    // these very bytes, and is dropped as a repeat.
    if (line_.out() > 0 && try_.askedAgain && try_.attempts == 1) line_.blockTaken(true);
    // A retry's answer still out would repeat this one: the next block need not wait for it
    // (a lost answer then costs one wait, not two), but the blocks from here on are read a
    // second time, as after any give-up.
    if (line_.out() > 0 && line_.offset() == s_.BlockOffset) {
        if (pass_.second) pass_.gaveUpInSecond = true;
        if (pass_.firstUnsure < 0 && !pass_.second) pass_.firstUnsure = s_.BlockOffset;
        line_.blockTaken();
    }
    if (pass_.second) {
        if (checkAgainstFirstRead(block)) return;
    } else {
        for (std::size_t k = 0; k < kBlockBytes; k += 2)
            image_.appendPair({block[k], block[k + 1]});
        pass_.firstRead.insert(pass_.firstRead.end(), block.begin(), block.end());
        ++summary_.blocks;
        summary_.programBytes += j;
        image_.flush();
        if (ended) {
            const bool lost = pass_.firstUnsure >= 0;
            if (!lost && !verifyAll_) {
                finish();
                return;
            }
            // Read the doubtful blocks again; the image is finished once they agree.
            pass_.second = true;
            // Only answers owed to an earlier read made the doubt when this one lost none.
            summary_.earlierReadsAnswers =
                lost && pass_.earlierReadsAnswers && summary_.retries == 0;
            pass_.markerOffset = s_.BlockOffset;
            s_.BlockOffset = static_cast<Integer>(verifyAll_ ? 0 : pass_.firstUnsure);
            newTry();
            view_.verifying(blockAddress(), kBaseAddress + pass_.markerOffset, lost);
            if (lost) {
                // If an answer given up came after all, every answer since is one behind and
                // one is still on its way: it must meet an empty account (out of step), not
                // the second read's first request.
                quiet(Then::RequestOnQuiet);
            } else {
                carryOn(try_.tickPassed);
            }
            return;
        }
    }
    if (s_.BlockOffset == kLastBlockOffset) {
        ErrorFacts facts;
        facts.code = ErrorFacts::Code::NoEndMarker;
        facts.address = blockAddress();
        throw Error(ErrorKind::Overflow, facts,
                    "end of program memory (" + hexAddress(blockAddress()) +
                        ") reached without an end marker");
    }
    nextBlock(addChecked(s_.BlockOffset, static_cast<Integer>(kBlockBytes)));
}

void Upload::nextBlock(Integer offset) {
    s_.BlockOffset = offset;
    newTry();
    carryOn(try_.tickPassed);
}

void Upload::newTry() {
    // Whether a tick passed since the last request goes with the line, not the block.
    const bool ticked = try_.tickPassed;
    try_ = BlockTry{};
    try_.tickPassed = ticked;
}

bool Upload::checkAgainstFirstRead(const std::array<Byte, kBlockBytes>& block) {
    const auto at = pass_.firstRead.begin() + s_.BlockOffset;
    if (!std::equal(block.begin(), block.end(), at)) {
        ErrorFacts facts;
        facts.code = ErrorFacts::Code::SecondReadDiffers;
        facts.address = blockAddress();
        throw Error(ErrorKind::Serial, facts,
                    "block " + hexAddress(blockAddress()) +
                        " read a second time differs from the first read; the line may "
                        "have lost track of its answers: read again");
    }
    ++summary_.verifiedBlocks;
    if (s_.BlockOffset != pass_.markerOffset) return false;
    if (pass_.gaveUpInSecond) {
        // The same again for answers given up during the second read.
        quiet(Then::Finish);
        return true;
    }
    line_.inStep();
    finish();
    return true;
}

}  // namespace progread
