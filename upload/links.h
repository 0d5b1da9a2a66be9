// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What an upload needs from the world around it. The window implements these with Qt,
// the tests with fakes.

#include <string>

#include "protocol/checked.h"

namespace progread {

class SerialLink {
public:
    static constexpr int kEvReceive = 2;  // CommEvent after a whole reply arrived

    virtual ~SerialLink() = default;
    virtual bool PortOpen() const = 0;
    // Opens the port with its line settings; raises a Serial error naming the port and why.
    virtual void openPort() = 0;
    // Queues one character for transmission, in call order.
    virtual void Output(Byte ch) = 0;
    virtual int CommEvent() const = 0;
    // The waiting answer (at most one), removed from the input: a reply, a NAK, or a piece
    // of a reply that the next STX cut short.
    virtual std::string Input() = 0;
    // The frame still waiting for its missing characters, removed from the input: once the
    // wait for an answer has run out, it is what the controller answered.
    virtual std::string takeTorn() = 0;
    // That frame, left in the input: an answer may be on its way in bursts.
    virtual std::string pendingFrame() const = 0;
    virtual void discardInput() = 0;
    virtual std::string portName() const = 0;
    // How long a whole reply takes on the wire (68 characters at 9600 7E1): one complete
    // sooner after a request was on its way before it. 0 where the line has no such pace (a
    // pseudo-terminal, a port whose kind is unknown).
    virtual long long shortestReplyMs() const { return 0; }
};

// Timer1, which ticks every 100 ms while enabled, and the clock the upload measures the line
// by.
class Ticker {
public:
    virtual ~Ticker() = default;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual bool timerEnabled() const = 0;
    // The next tick comes a whole period from now (a request just went out between ticks).
    virtual void restartPeriod() = 0;
    // Call Upload::wake() once at ms (on nowMs's clock), or at once if that has passed. A
    // later call replaces an earlier one.
    virtual void wakeAt(long long ms) = 0;
    // Milliseconds on a clock that never goes back, the same for every process (the line's
    // record per port compares times across processes).
    virtual long long nowMs() const = 0;
};

struct UploadSummary {
    int blocks = 0;           // replies accepted
    long programBytes = 0;    // decoded bytes written behind the header
    int retries = 0;          // requests sent again
    int confirmedBlocks = 0;  // taken on two identical replies, their checksums by another rule
    int verifiedBlocks = 0;   // read a second time and found the same
    // The second read was made because answers owed to an earlier read on this port came
    // (and were dropped), not because this read lost any.
    bool earlierReadsAnswers = false;
};

// Why a reply was refused, for the view to word.
struct Refusal {
    enum class Why { NoReply, Malformed, ChecksumMismatch, Nak };
    Why why = Why::NoReply;
    std::string detail;  // English, e.g. "67 characters, 68 expected"; empty for no reply
    // "malformed reply (67 characters, 68 expected)"
    std::string text() const {
        switch (why) {
            case Why::NoReply:
                return "no reply";
            case Why::Malformed:
                return "malformed reply (" + detail + ")";
            case Why::ChecksumMismatch:
                return "checksum mismatch (" + detail + ")";
            case Why::Nak:
                return "refused by the controller (NAK)";
        }
        return detail;
    }
};

// Every request and answer as it went over the line, for a trace the operator asked for.
class LineTrace {
public:
    enum class Verdict {
        Accepted,       // taken into the image (or agreed with the first read)
        ConfirmedTwin,  // checksum by another rule, taken because it repeats the reply before
        Refused,        // checked and refused; the reason says why
        EarlierBlock,   // an answer for a block asked earlier, or after the upload ended: dropped
        Stray,          // nothing was asked for: dropped
        OutOfStep,      // came when none was due while an upload ran: the upload stops
        BeforeFirstRequest,  // came before this upload's first request: dropped
        Echo,                // our own request, echoed by a half-duplex adapter: dropped
        Repeat,              // the answer taken last, sent again: dropped
        Noise,               // a piece of a frame that no answer can be (a lone STX): dropped
    };
    virtual ~LineTrace() = default;
    virtual void sent(const std::string& chars) = 0;
    virtual void received(const std::string& chars, Verdict verdict, const std::string& reason) = 0;
};

// What the operator is shown.
class UploadView {
public:
    virtual ~UploadView() = default;
    // Text2, "程序步": the offset of the block just requested.
    virtual void showProgress(const std::string& text) = 0;
    virtual void requestSent(long /*address*/, int /*attempt*/) {}
    virtual void replyRejected(long /*address*/, const Refusal& /*refusal*/) {}
    // Once an upload: the controller forms its reply checksums by a rule of its own, so each
    // block is taken only when a second reply repeats the first.
    virtual void checksumsByAnotherRule() {}
    // The blocks from..to (addresses) are read a second time before the image is finished:
    // because answers were given up as lost on the way (lostAnswers), or because a verified
    // read was asked for.
    virtual void verifying(long /*from*/, long /*to*/, bool /*lostAnswers*/) {}
    // The answer to the block at address has been awaited for waitedMs, longer than
    // kLongWaitMs; told about once a second while the wait lasts.
    static constexpr long long kLongWaitMs = 2000;
    virtual void waitingForAnswer(long /*address*/, long long /*waitedMs*/) {}
    virtual void uploadFinished(const UploadSummary&) {}
    // The record of answers still owed on this port cannot be kept anywhere (why: the file
    // and the system's words): told once.
    virtual void lineRecordTrouble(const std::string& /*why*/) {}
    // wasRunning is false when the error came while no upload ran (a start that failed,
    // a port lost while idle).
    virtual void uploadStopped(const Error& error, bool wasRunning) = 0;
};

}  // namespace progread
