#include "upload/upload.h"

#include <cstdio>

namespace progread {

std::string hexAddress(long address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04lX", address);
    return buf;
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

void Upload::fail(const Error& error) {
    const bool wasRunning = phase_ == Phase::Running;
    if (wasRunning) phase_ = Phase::Stopped;
    s_.ReplyDone = false;
    s_.SendArmed = false;
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

void Upload::Command1_Click() {
    guarded([&] {
        if (!link_.PortOpen()) link_.openPort();
        // A restart while a request is out: its answer would pass for block 0's. Hold the
        // first request until that answer has come and gone, or could no longer come.
        const int drain = awaitingReply() ? kReplyTimeoutTicks - s_.TicksWaiting : 0;
        link_.discardInput();
        image_.restart();
        s_.BlockOffset = 0;
        s_.UploadCounter = 2;
        s_.BlockAttempts = 0;
        s_.TicksWaiting = 0;
        s_.DrainTicks = drain;
        summary_ = {};
        phase_ = Phase::Running;
        ticker_.setTimerEnabled(true);
        s_.ReplyDone = true;
        s_.SendArmed = false;
    });
}

bool Upload::awaitingReply() const {
    return phase_ == Phase::Running && !s_.ReplyDone && !s_.SendArmed && s_.UploadCounter >= 3;
}

void Upload::Timer1_Timer() {
    guarded([&] {
        if (s_.DrainTicks > 0) {
            --s_.DrainTicks;
            s_.RxBytes.fill(1, 500, 0);
            return;
        }
        if (s_.ReplyDone) {
            s_.ReplyDone = false;
            s_.SendArmed = true;
        }
        if (phase_ == Phase::Running && s_.UploadCounter >= 2 && s_.SendArmed && !s_.ReplyDone) {
            sendRequest();
        } else if (awaitingReply() && ++s_.TicksWaiting >= kReplyTimeoutTicks) {
            rejectAttempt("no reply");
        }
        s_.RxBytes.fill(1, 500, 0);
    });
}

void Upload::sendRequest() {
    const ReadRequest request = BuildReadRequest(s_.BlockOffset);
    s_.BlockAddress = static_cast<double>(blockAddress());
    for (std::size_t k = 0; k < kRequestLength; ++k) {
        s_.RxBytes(static_cast<long>(k) + 1) = request.chars[k];
    }
    s_.FrameSum = request.frameSum;
    for (long k = 1; k <= static_cast<long>(kRequestLength); ++k) link_.Output(s_.RxBytes(k));
    view_.showProgress(std::to_string(s_.BlockOffset));
    s_.ReplyDone = false;
    s_.UploadCounter = addChecked(s_.UploadCounter, 1);
    s_.SendArmed = false;
    s_.TicksWaiting = 0;
    if (++s_.BlockAttempts > 1) ++summary_.retries;
    view_.requestSent(blockAddress(), s_.BlockAttempts);
}

void Upload::MSComm1_OnComm() {
    guarded([&] {
        if (link_.CommEvent() != SerialLink::kEvReceive) return;
        const std::string text(trimSpaces(link_.Input()));
        if (s_.DrainTicks > 0) {
            s_.DrainTicks = 0;  // the answer to the request before the restart
            return;
        }
        // Nothing was asked for: a stray or late reply is read and dropped.
        if (!awaitingReply()) return;
        if (ReplyCheck check = checkReply(text); !check) {
            const char* kind =
                check.fault == ReplyFault::ChecksumMismatch ? "checksum mismatch" : "malformed reply";
            rejectAttempt(std::string(kind) + " (" + check.detail + ")");
            return;
        }
        acceptReply(text);
    });
}

void Upload::rejectAttempt(const std::string& reason) {
    link_.discardInput();
    if (s_.BlockAttempts >= kMaxAttempts) {
        throw Error(ErrorKind::Serial, "block " + hexAddress(blockAddress()) + ": " + reason +
                                           " after " + std::to_string(s_.BlockAttempts) +
                                           " requests");
    }
    view_.replyRejected(blockAddress(), reason);
    s_.ReplyDone = true;  // the next tick asks for the same block again
}

void Upload::acceptReply(std::string_view reply) {
    const long n = static_cast<long>(reply.size());
    for (long i = 1; i <= n; ++i) s_.RxBytes(i) = static_cast<Byte>(reply[static_cast<std::size_t>(i - 1)]);
    bool ended = false;
    long j = 0;
    for (long i = 2; i <= n - 3; i += 4) {
        const BytePair pair =
            DecodeGroup(s_.RxBytes(i), s_.RxBytes(i + 1), s_.RxBytes(i + 2), s_.RxBytes(i + 3));
        s_.PairBytes(j) = pair.first;
        s_.PairBytes(j + 1) = pair.second;
        // Groups after the marker are written too: the programming software expects them.
        ended = ended || isEndMarker(pair);
        image_.appendPair(pair);
        j += 2;
    }
    ++summary_.blocks;
    summary_.programBytes += j;
    if (ended) {
        s_.ReplyDone = false;
        s_.SendArmed = false;
        ticker_.setTimerEnabled(false);
        image_.appendTail();
        image_.flush();
        phase_ = Phase::Finished;
        view_.uploadFinished(summary_);
        return;
    }
    image_.flush();
    if (s_.BlockOffset == kLastBlockOffset) {
        throw Error(ErrorKind::Overflow, "end of program memory (" + hexAddress(blockAddress()) +
                                             ") reached without an end marker");
    }
    s_.BlockOffset = addChecked(s_.BlockOffset, static_cast<Integer>(kBlockBytes));
    s_.BlockAttempts = 0;
    s_.ReplyDone = true;
}

}  // namespace progread
