#pragma once

// One upload: the start command, the 100 ms tick that sends the next request, and the
// handling of each reply up to the end marker. Every error raised in a handler stops the
// upload and goes to the view; the program itself always keeps running.

#include <string>

#include "image/image_sink.h"
#include "protocol/frames.h"
#include "upload/links.h"

namespace progread {

struct UploadState {
    FixedArray<578> RxBytes;     // the request being sent, then the reply being decoded
    FixedArray<500> PairBytes;   // pairs decoded from the current reply
    bool ReplyDone = false;      // a reply was handled (or an upload just started): send next
    bool SendArmed = false;      // a tick saw ReplyDone; the next request may go
    Integer FrameSum = 0;        // checksum sum of the last request
    Integer BlockOffset = 0;     // offset of the block to request (again, after a retry)
    Integer UploadCounter = 0;   // 0 before the first start, 2 at a start, +1 per request
    double BlockAddress = 0;     // 0x8000 + BlockOffset of the last request
    int BlockAttempts = 0;       // requests sent for the current block
    int TicksWaiting = 0;        // ticks since the last request
    int DrainTicks = 0;          // after a restart: ticks left for the old request's answer
};

class Upload {
public:
    static constexpr int kMaxAttempts = 3;
    static constexpr int kReplyTimeoutTicks = 10;  // 1 s at 100 ms a tick

    enum class Phase { Idle, Running, Finished, Stopped };

    Upload(SerialLink& link, Ticker& ticker, ImageSink& image, UploadView& view);

    void Command1_Click();
    void Timer1_Timer();
    void MSComm1_OnComm();
    // An error from outside the handlers (the port went away): stop as any handler would.
    void fail(const Error& error);

    Phase phase() const { return phase_; }
    const UploadState& state() const { return s_; }
    const UploadSummary& summary() const { return summary_; }

private:
    template <class Handler>
    void guarded(Handler&& handler);
    bool awaitingReply() const;
    long blockAddress() const { return kBaseAddress + s_.BlockOffset; }
    void sendRequest();
    void acceptReply(std::string_view reply);
    void rejectAttempt(const std::string& reason);

    SerialLink& link_;
    Ticker& ticker_;
    ImageSink& image_;
    UploadView& view_;
    UploadState s_;
    Phase phase_ = Phase::Idle;
    UploadSummary summary_;
};

// "0x8020"
std::string hexAddress(long address);

}  // namespace progread
