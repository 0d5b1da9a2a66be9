#pragma once

// One upload: the start command, the 100 ms tick that sends the next request, and the
// handling of each reply up to the end marker. Every error raised in a handler stops the
// upload and goes to the view; the program itself always keeps running.
//
// Replies carry no address, so which block an answer belongs to is a matter of keeping
// count (LineAccount): a request for another block goes out only once every answer still
// out has come, or the line has been quiet for as long as an answer may take.

#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "image/image_sink.h"
#include "protocol/frames.h"
#include "upload/links.h"

namespace progread {

// The record the window keeps for an upload.
struct UploadState {
    FixedArray<578> RxBytes;    // the request being sent, then the reply being decoded
    FixedArray<500> PairBytes;  // pairs decoded from the current reply
    // Kept as the record always had them; the step says the same, and nothing reads these.
    bool ReplyDone = false;     // ready to send: a reply was handled or the upload just started
    bool SendArmed = false;     // a tick found the upload ready to send
    Integer FrameSum = 0;       // checksum sum of the last request
    Integer BlockOffset = 0;    // offset of the block being read (asked for again after a retry)
    Integer UploadCounter = 0;  // 0 before the first start, 2 at a start, +1 per request
    double BlockAddress = 0;    // 0x8000 + BlockOffset of the last request
};

// The requests whose answers are still on their way. They are all for one block: a request
// for another block waits until this account is empty.
class LineAccount {
public:
    static constexpr long long kFirstWaitMs = 1000;

    int out() const { return static_cast<int>(sentAt_.size()); }
    long offset() const { return offset_; }
    long long waitMs() const { return waitMs_; }
    bool quietFor(long long now) const { return now - lastActivity_ >= waitMs_; }

    void requestSent(long offset, long long now);
    // An answer came; it belongs to offset(). Returns how long it took, counted from the
    // oldest request still out (a controller answers queued requests in turn).
    long long answerCame(long long now);
    // Nothing came for the whole wait: those answers are taken as lost. If one comes after
    // all, every answer after it is one behind: the line may be behind until a read has
    // been checked by a second one (inStep).
    // An answer given up is at least as slow as its age: the wait grows to twice that, so
    // that another one still on its way meets the quiet wait before the next give-up.
    void forget(long long now) {
        if (!sentAt_.empty()) {
            mayBeBehind_ = true;
            waitMs_ = std::max(waitMs_, 2 * (now - sentAt_.front()));
        }
        sentAt_.clear();
    }
    bool mayBeBehind() const { return mayBeBehind_; }
    void inStep() { mayBeBehind_ = false; }
    void resetWait() { waitMs_ = kFirstWaitMs; }

private:
    std::deque<long long> sentAt_;
    long offset_ = -1;
    long long lastActivity_ = 0;  // the newest request or the latest answer
    long long waitMs_ = kFirstWaitMs;
    bool mayBeBehind_ = false;
};

class Upload {
public:
    static constexpr int kMaxAttempts = 3;

    enum class Step {
        Idle,           // never started
        ReadyToSend,    // the next tick sends the request for BlockOffset
        AwaitingReply,  // requests for BlockOffset are out
        Quieting,       // answers for an earlier block are still out; the next block waits
        Finished,       // the end marker came; the image is complete
        Stopped,        // an error ended the upload
    };

    Upload(SerialLink& link, Ticker& ticker, ImageSink& image, UploadView& view);

    void Command1_Click();
    void Timer1_Timer();
    void MSComm1_OnComm();
    // An error from outside the handlers (the port went away): stop as any handler would.
    void fail(const Error& error);
    // The operator chose another port; an upload on the old one cannot go on.
    void portChanged(const std::string& portName);
    // For a controller known to take requests back to back: the next request goes out as
    // soon as an answer is handled (and at a start), not on a tick, until an answer is given
    // up as lost in the upload. The waits, retries and the account of answers still out stay
    // as they are.
    void setBackToBack(bool on) { backToBack_ = on; }
    // Every read is checked by a second one before its image is finished.
    void setVerify(bool on) { verifyAll_ = on; }
    bool verify() const { return verifyAll_; }
    // Told of every request and answer; null for none.
    void setTrace(LineTrace* trace) { trace_ = trace; }

    Step step() const { return step_; }
    bool running() const;
    const UploadState& state() const { return s_; }
    const UploadSummary& summary() const { return summary_; }
    const LineAccount& line() const { return line_; }

private:
    template <class Handler>
    void guarded(Handler&& handler);
    long blockAddress() const { return kBaseAddress + s_.BlockOffset; }
    void enter(Step step);
    void sendRequest();
    // After a reply was taken or refused: the next request now, on the next tick, or once
    // the line is quiet.
    void carryOn();
    bool backToBackNow() const;
    void takeAnswer(const std::string& text);
    void acceptReply(std::string_view reply);
    void finish();
    void forgetAnswers();
    bool checkAgainstFirstRead(const std::array<Byte, kBlockBytes>& block);
    void refuse(const Refusal& refusal, bool tell = true);
    void traceAnswer(LineTrace::Verdict verdict, const std::string& reason = {});
    [[noreturn]] void giveUp();

    SerialLink& link_;
    Ticker& ticker_;
    ImageSink& image_;
    UploadView& view_;
    UploadState s_;
    Step step_ = Step::Idle;
    UploadSummary summary_;
    LineAccount line_;
    int attempts_ = 0;                      // requests sent for BlockOffset
    bool tickedSinceRequest_ = false;       // a tick passed while the answer was awaited
    bool backToBack_ = false;               // requests do not wait for a tick
    std::optional<std::string> candidate_;  // well formed, checksum by another rule: needs a twin
    Refusal lastRefusal_;
    bool toldChecksumRule_ = false;
    long lastAccepted_ = -1;  // address of the block taken last
    // Answers were given up as lost in this upload. One of them may still come and be taken
    // for a later block, and a later lost answer would hide that: so the blocks read from
    // then on are read a second time, and must agree, before the image is finished.
    long firstUnsure_ = -1;  // offset of the first block read after a give-up
    bool verifyAll_ = false;
    bool verifying_ = false;       // the second read runs
    long markerOffset_ = 0;        // the block that held the end marker
    std::vector<Byte> firstRead_;  // the blocks as the first read took them
    bool gaveUpInSecondRead_ = false;
    // Quieting lasts until the line has been quiet for the whole wait, even with no answer
    // out; then the image is finished (finishWhenQuiet_) or the next request goes.
    bool holdQuiet_ = false;
    bool finishWhenQuiet_ = false;
    LineTrace* trace_ = nullptr;
    std::string answer_;  // the answer being handled, as it came
};

// "0x8020"
std::string hexAddress(long address);

}  // namespace progread
