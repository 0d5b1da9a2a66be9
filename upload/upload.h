// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One upload: the start command, the 100 ms tick that sends the next request, and the
// handling of each answer up to the end marker. Every error raised in a handler stops the
// upload and goes to the view; the program itself always keeps running.
//
// Replies carry no address, so which block an answer belongs to is a matter of keeping
// count (LineAccount): a request for another block goes out only once every answer still
// out has come, or the line has been quiet for as long as an answer may take. What is not
// an answer to the request out is named and dropped (classifyAnswer).

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "image/image_sink.h"
#include "protocol/frames.h"
#include "upload/answer_kind.h"
#include "upload/line_account.h"
#include "upload/links.h"

namespace progread {

// The record the window keeps for an upload.
struct UploadState {
    FixedArray<578> RxBytes;    // the request being sent, then the reply being decoded
    FixedArray<500> PairBytes;  // pairs decoded from the current reply
    // Fields of the documented record; the step says the same, and nothing reads these.
    bool ReplyDone = false;     // ready to send: a reply was handled or the upload just started
    bool SendArmed = false;     // a tick found the upload ready to send
    Integer FrameSum = 0;       // checksum sum of the last request
    Integer BlockOffset = 0;    // offset of the block being read (asked for again after a retry)
    Integer UploadCounter = 0;  // 0 before the first start, 2 at a start, +1 per request
    double BlockAddress = 0;    // 0x8000 + BlockOffset of the last request
};

class Upload {
public:
    static constexpr int kMaxAttempts = 3;
    static constexpr long long kTickMs = 100;  // Timer1's period
    // Characters heard for a block that made no answer, beyond which a block with no reply is
    // a busy line rather than a silent controller.
    static constexpr long kBusyLineChars = 16;

    enum class Step {
        Idle,           // never started
        ReadyToSend,    // the next tick sends the request for BlockOffset
        Settling,       // the request is due: it goes once nothing has been heard for a moment
        AwaitingReply,  // requests for BlockOffset are out
        // Answers that are no concern of this block may still come; then:
        QuietThenNext,    // the request goes once every answer out has come, or the line was
                          // quiet for the wait
        QuietThenAsk,     // the request goes only once the line was quiet for the whole wait
        QuietThenFinish,  // the image is finished once the line was quiet for the whole wait
        Finished,         // the end marker came; the image is complete
        Stopped,          // an error ended the upload
    };
    // Answer: the port has an answer to be read (MSComm1_OnComm).
    enum class Event { Start, Tick, Wake, Answer };

    Upload(SerialLink& link, Ticker& ticker, ImageSink& image, UploadView& view);

    void Command1_Click() { dispatch(Event::Start); }
    void Timer1_Timer();
    void MSComm1_OnComm() {
        if (link_.CommEvent() == SerialLink::kEvReceive) dispatch(Event::Answer);
    }
    // The wake-up the upload asked the ticker for (Ticker::wakeAt).
    void wake() { dispatch(Event::Wake); }
    // Characters came from the port (before any of them makes a whole answer).
    void charsHeard(int count = 1) {
        line_.heard(ticker_.nowMs());
        try_.charsHeard += count;
    }
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
    // Where the line's record per port is kept between processes; null for nowhere.
    void setLineRecords(LineRecordStore* store) { records_ = store; }

    Step step() const { return step_; }
    bool running() const;
    const UploadState& state() const { return s_; }
    const UploadSummary& summary() const { return summary_; }
    const LineAccount& line() const { return line_; }

private:
    // A reply equal to the block before's is held, and the block asked once more.
    enum class Recheck {
        None,
        Due,    // the next request asks again, not counted as a retry
        Asked,  // and went out: its answer is taken, whatever it is
    };
    // One block's requests and answers; replaced for each block.
    struct BlockTry {
        bool tickPassed = false;  // since the last request (of this block or the one before)
        int attempts = 0;         // requests sent for it
        Refusal lastRefusal;
        std::optional<std::string> twin;  // well formed, checksum by another rule: needs a twin
        std::optional<std::string> malformed;  // the last reply refused as malformed
        // Since the last request an answer came and was refused, or the malformed reply came
        // again (dropped as a repeat): a wait that runs out then is no "no reply".
        bool answeredSinceRequest = false;
        bool askedOnQuietLine = false;
        Recheck recheck = Recheck::None;
        std::string heldEqual;  // the reply held as EqualToBlockBefore
        long long firstAskedMs = -1;
        long charsHeard = 0;  // since the first request, less those of the answers that came
    };
    // Which read of the program runs, and whether its answers can all be trusted.
    enum class Pass {
        First,          // every answer so far came to its own request
        FirstInDoubt,   // answers were given up: the blocks from doubtFrom on are read again
        Verify,         // every block read again (setVerify), the first read having lost none
        Reread,         // the blocks from doubtFrom read again, to the marker's
        SecondInDoubt,  // answers were given up in the second read too: it ends on a quiet line
    };
    // One start's read; replaced at each start.
    struct ReadPass {
        Pass pass = Pass::First;
        long doubtFrom = 0;     // the first block read after answers were given up
        long markerOffset = 0;  // the block that held the end marker
        bool asked = false;     // a request went out
        std::vector<Byte> firstRead;
        long lastAccepted = -1;  // address of the block taken last
        bool toldChecksumRule = false;
        bool earlierReadsAnswers = false;  // answers owed to an earlier read were dropped
        std::string lastTaken;             // the reply taken last, for the block before
        long lastTakenOffset = -1;

        bool second() const { return pass >= Pass::Verify; }
        // Answers given up, or still out for a block already taken: from here on the
        // upload may be one behind, which a second read brings to light.
        void doubt(long offset);
    };

    void dispatch(Event event);
    template <class Handler>
    void guarded(Handler&& handler);
    void start();
    long blockAddress() const { return kBaseAddress + s_.BlockOffset; }
    void enter(Step step);
    bool quieting() const;
    void onTick(Event event);
    void sendRequest();
    // The request is due now: it goes once the line has settled (onTick: this is a tick).
    void sendWhenSettled(bool onTick);
    // A frame begun before the request is due: an answer still coming, held for; or what
    // came of it. Returns false when the request must not go now.
    bool takePendingFrame(long long now);
    // After an answer was taken or refused: the next request now, on the next tick, or once
    // the line is quiet.
    void carryOn(bool tickPassed);
    bool backToBackNow() const;
    void waitRanOut(long long now);
    // The longest wait has passed, whatever the line did meanwhile: since the newest request
    // while awaiting its answer, since the quieting began while quieting.
    bool overdue(long long now) const;
    void handleAnswer(const std::string& answer, bool fresh);
    AnswerContext answerContext(const std::string& text, bool fresh) const;
    void dropAnswer(AnswerKind kind, const AnswerContext& context, const std::string& text);
    void owedElsewhere(AnswerKind kind, bool running, const std::string& text);
    void holdEqual(const std::string& text);
    [[noreturn]] void outOfStep();
    void takeAnswer(const std::string& text);
    void acceptReply(std::string_view reply);
    void endOfFirstRead();
    void nextBlock(Integer offset);
    void newTry();
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
    long long stepSince_ = 0;
    long long dueSince_ = 0;  // when the request now Settling fell due
    UploadSummary summary_;
    LineAccount line_;
    LineMemory memory_;
    BlockTry try_;
    ReadPass pass_;
    bool backToBack_ = false;
    bool verifyAll_ = false;
    LineTrace* trace_ = nullptr;
    LineRecordStore* records_ = nullptr;
};

}  // namespace progread
