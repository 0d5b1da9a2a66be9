#include "upload/upload.h"

#include <algorithm>
#include <cstdio>

namespace progread {

std::string hexAddress(long address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04lX", address);
    return buf;
}

void LineAccount::requestSent(long offset, long long now) {
    // The one rule everything else rests on: answers carry no address.
    if (!sentAt_.empty() && offset != offset_) {
        throw Error(ErrorKind::Serial, "a request for " + hexAddress(kBaseAddress + offset) +
                                           " would go out while answers for " +
                                           hexAddress(kBaseAddress + offset_) + " are still due");
    }
    sentAt_.push_back(now);
    offset_ = offset;
    lastActivity_ = now;
}

long long LineAccount::answerCame(long long now) {
    const long long took = now - sentAt_.front();
    sentAt_.pop_front();
    lastActivity_ = now;
    waitMs_ = std::max(waitMs_, 2 * took);
    return took;
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
    return step_ == Step::ReadyToSend || step_ == Step::AwaitingReply || step_ == Step::Quieting;
}

void Upload::enter(Step step) {
    step_ = step;
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
    // Answers still out stay counted: the quiet wait settles them if they never come.
    if (running()) {
        ErrorFacts facts;
        facts.code = ErrorFacts::Code::PortChanged;
        facts.subject = portName;
        fail(Error(ErrorKind::Serial, facts,
                   "the port was changed to " + portName + " during the upload"));
    }
}

void Upload::Command1_Click() {
    guarded([&] {
        if (!link_.PortOpen()) link_.openPort();
        // Answers still out from before this start are not forgotten: a second press while a
        // request is out must not take its answer for block 0 (unless it is block 0's).
        if (line_.out() > 0 && line_.quietFor(ticker_.nowMs())) line_.forget(ticker_.nowMs());
        // Answers given up before this start, in this read or an earlier one, may still be
        // taken for this read's blocks.
        firstUnsure_ = line_.mayBeBehind() ? 0 : -1;
        verifying_ = false;
        holdQuiet_ = false;
        finishWhenQuiet_ = false;
        gaveUpInSecondRead_ = false;
        firstRead_.clear();
        if (line_.out() == 0) {
            link_.discardInput();
            line_.resetWait();
        }
        image_.restart();
        s_.BlockOffset = 0;
        s_.UploadCounter = 2;
        attempts_ = 0;
        tickedSinceRequest_ = false;
        candidate_.reset();
        lastRefusal_ = {};
        toldChecksumRule_ = false;
        lastAccepted_ = -1;
        summary_ = {};
        ticker_.setTimerEnabled(true);
        enter(line_.out() > 0 && line_.offset() != s_.BlockOffset ? Step::Quieting
                                                                  : Step::ReadyToSend);
        if (backToBackNow() && step_ == Step::ReadyToSend) {
            sendRequest();
            ticker_.restartPeriod();
        }
    });
}

void Upload::Timer1_Timer() {
    guarded([&] {
        tickedSinceRequest_ = true;
        const long long now = ticker_.nowMs();
        switch (step_) {
            case Step::ReadyToSend:
                s_.SendArmed = true;
                sendRequest();
                break;
            case Step::AwaitingReply:
                if (!line_.quietFor(now)) break;
                lastRefusal_ = {Refusal::Why::NoReply, {}};
                if (attempts_ >= kMaxAttempts) giveUp();
                view_.replyRejected(blockAddress(), lastRefusal_);
                // A torn answer waiting for its missing characters would swallow the next
                // one. It stays counted as out: dropping it only ever makes the tool wait.
                link_.discardInput();
                sendRequest();  // the same block: any answer still out carries its data too
                break;
            case Step::Quieting:
                if (!line_.quietFor(now)) break;
                forgetAnswers();
                holdQuiet_ = false;
                if (finishWhenQuiet_) {
                    finishWhenQuiet_ = false;
                    line_.inStep();
                    finish();
                } else {
                    sendRequest();
                }
                break;
            case Step::Idle:
            case Step::Finished:
            case Step::Stopped:
                break;
        }
    });
    s_.RxBytes.fill(1, 500, 0);
}

void Upload::sendRequest() {
    const ReadRequest request = BuildReadRequest(s_.BlockOffset);
    line_.requestSent(s_.BlockOffset, ticker_.nowMs());
    s_.BlockAddress = static_cast<double>(blockAddress());
    for (std::size_t k = 0; k < kRequestLength; ++k) {
        s_.RxBytes(static_cast<long>(k) + 1) = request.chars[k];
    }
    s_.FrameSum = request.frameSum;
    for (long k = 1; k <= static_cast<long>(kRequestLength); ++k) link_.Output(s_.RxBytes(k));
    if (trace_) trace_->sent(std::string(request.chars.begin(), request.chars.end()));
    view_.showProgress(std::to_string(s_.BlockOffset));
    s_.UploadCounter = addChecked(s_.UploadCounter, 1);
    tickedSinceRequest_ = false;
    if (++attempts_ > 1) ++summary_.retries;
    enter(Step::AwaitingReply);
    view_.requestSent(blockAddress(), attempts_);
}

void Upload::forgetAnswers() {
    // Taken as lost on the way. One that still comes later is either seen when none is due
    // (the upload stops) or taken for a later block; then every answer after it is one
    // behind, which the second read of the blocks taken since brings to light.
    if (line_.out() > 0 && verifying_) gaveUpInSecondRead_ = true;
    line_.forget(ticker_.nowMs());
    if (firstUnsure_ < 0 && !verifying_) firstUnsure_ = s_.BlockOffset;
    link_.discardInput();
}

bool Upload::backToBackNow() const {
    // An answer given up as lost that comes after all is taken for a later block. At the
    // designed pace it most likely comes between an answer and the next tick, when none is
    // due, and stops the upload; back to back there is no such moment, and a second lost
    // answer would hide the shift for good. So after a give-up the upload keeps the pace.
    return backToBack_ && firstUnsure_ < 0;
}

void Upload::carryOn() {
    if (line_.out() > 0 && line_.offset() != s_.BlockOffset) {
        enter(Step::Quieting);
    } else if (tickedSinceRequest_ || backToBackNow()) {
        // The answer came after a tick, and waiting for the next one would cost a whole
        // period; or requests go back to back.
        sendRequest();
        ticker_.restartPeriod();
    } else {
        enter(Step::ReadyToSend);
    }
}

void Upload::MSComm1_OnComm() {
    guarded([&] {
        if (link_.CommEvent() != SerialLink::kEvReceive) return;
        answer_ = link_.Input();
        const std::string text(trimSpaces(answer_));
        if (text.empty()) return;
        if (line_.out() == 0) {
            if (!running()) {
                traceAnswer(LineTrace::Verdict::Stray);
                return;  // nothing was asked for: stray data, read and dropped
            }
            traceAnswer(LineTrace::Verdict::OutOfStep);
            ErrorFacts facts;
            facts.code = ErrorFacts::Code::OutOfStep;
            facts.address = lastAccepted_;
            throw Error(
                ErrorKind::Serial, facts,
                "the line is out of step: an answer came when none was due (last block taken: " +
                    (lastAccepted_ < 0 ? std::string("none") : hexAddress(lastAccepted_)) + ")");
        }
        line_.answerCame(ticker_.nowMs());
        if (!running() || line_.offset() != s_.BlockOffset) {
            // An earlier block's answer, or one that comes after the upload ended: dropped.
            traceAnswer(LineTrace::Verdict::EarlierBlock);
            if (step_ == Step::Quieting && line_.out() == 0 && !holdQuiet_) carryOn();
            return;
        }
        takeAnswer(text);
    });
}

void Upload::takeAnswer(const std::string& text) {
    const ReplyCheck check = checkReply(text);
    if (check) {
        candidate_.reset();
        traceAnswer(LineTrace::Verdict::Accepted);
        acceptReply(text);
        return;
    }
    if (check.fault == ReplyFault::ChecksumMismatch) {
        if (candidate_ && *candidate_ == text) {
            candidate_.reset();
            traceAnswer(LineTrace::Verdict::ConfirmedTwin);
            ++summary_.confirmedBlocks;
            if (!toldChecksumRule_) {
                toldChecksumRule_ = true;
                view_.checksumsByAnotherRule();
            }
            acceptReply(text);
            return;
        }
        candidate_ = text;
        // Once the operator knows the controller's rule, a first reply is no news.
        refuse({Refusal::Why::ChecksumMismatch, check.detail}, !toldChecksumRule_);
        return;
    }
    candidate_.reset();
    refuse({Refusal::Why::Malformed, check.detail});
}

void Upload::traceAnswer(LineTrace::Verdict verdict, const std::string& reason) {
    if (trace_) trace_->received(answer_, verdict, reason);
}

void Upload::refuse(const Refusal& refusal, bool tell) {
    lastRefusal_ = refusal;
    traceAnswer(LineTrace::Verdict::Refused, refusal.text());
    if (line_.out() > 0) {
        enter(Step::AwaitingReply);  // another answer for this block is on its way
        if (tell) view_.replyRejected(blockAddress(), refusal);
        return;
    }
    if (attempts_ >= kMaxAttempts) giveUp();
    if (tell) view_.replyRejected(blockAddress(), refusal);
    carryOn();
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
    ErrorFacts facts;
    facts.code = lastRefusal_.why == Refusal::Why::NoReply     ? ErrorFacts::Code::NoReply
                 : lastRefusal_.why == Refusal::Why::Malformed ? ErrorFacts::Code::Malformed
                                                               : ErrorFacts::Code::ChecksumMismatch;
    facts.address = blockAddress();
    facts.count = attempts_;
    facts.reason = lastRefusal_.detail;
    throw Error(ErrorKind::Serial, facts,
                "block " + hexAddress(blockAddress()) + ": " + lastRefusal_.text() + " after " +
                    std::to_string(attempts_) + " requests");
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
    lastAccepted_ = blockAddress();
    if (verifying_) {
        if (checkAgainstFirstRead(block)) return;
    } else {
        for (std::size_t k = 0; k < kBlockBytes; k += 2)
            image_.appendPair({block[k], block[k + 1]});
        firstRead_.insert(firstRead_.end(), block.begin(), block.end());
        ++summary_.blocks;
        summary_.programBytes += j;
        image_.flush();
        if (ended) {
            if (firstUnsure_ < 0 && !verifyAll_) {
                finish();
                return;
            }
            // Read the doubtful blocks again; the image is finished once they agree.
            verifying_ = true;
            markerOffset_ = s_.BlockOffset;
            s_.BlockOffset = static_cast<Integer>(verifyAll_ ? 0 : firstUnsure_);
            attempts_ = 0;
            lastRefusal_ = {};
            view_.verifying(blockAddress(), kBaseAddress + markerOffset_, firstUnsure_ >= 0);
            if (firstUnsure_ < 0) {
                carryOn();
            } else {
                // If an answer given up came after all, every answer since is one behind and
                // one is still on its way: it must meet an empty account (out of step), not
                // the second read's first request.
                holdQuiet_ = true;
                enter(Step::Quieting);
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
    s_.BlockOffset = addChecked(s_.BlockOffset, static_cast<Integer>(kBlockBytes));
    attempts_ = 0;
    lastRefusal_ = {};
    carryOn();
}

bool Upload::checkAgainstFirstRead(const std::array<Byte, kBlockBytes>& block) {
    const auto at = firstRead_.begin() + s_.BlockOffset;
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
    if (s_.BlockOffset != markerOffset_) return false;
    if (gaveUpInSecondRead_) {
        // The same again for answers given up during the second read.
        holdQuiet_ = true;
        finishWhenQuiet_ = true;
        enter(Step::Quieting);
        return true;
    }
    line_.inStep();
    finish();
    return true;
}

}  // namespace progread
