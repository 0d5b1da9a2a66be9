// SPDX-License-Identifier: GPL-3.0-or-later
// What the upload does with an answer: names it, drops what is no answer to the request
// out, checks the rest, and takes or refuses it.
#include <climits>

#include "upload/upload.h"

namespace progread {

AnswerContext Upload::answerContext(const std::string& text, bool fresh) const {
    AnswerContext c;
    c.running = running();
    c.askedYet = pass_.asked;
    c.requests = &memory_.requests;
    c.lastAnswer = memory_.lastAnswer;
    if (pass_.lastTakenOffset >= 0 &&
        pass_.lastTakenOffset + static_cast<long>(kBlockBytes) == s_.BlockOffset)
        c.blockBefore = pass_.lastTaken;
    if (try_.twin) c.twin = *try_.twin;
    c.out = line_.out();
    c.outForThisBlock = line_.offset() == s_.BlockOffset;
    c.askedOnQuietLine = try_.askedOnQuietLine;
    c.trusted = !line_.mayBeBehind() && !line_.copiesSeen();
    c.askedAgain = try_.recheck == Recheck::Asked && c.trusted;
    c.tooSoon = fresh && text.size() == kReplyLength &&
                ticker_.nowMs() - line_.newestRequest() < link_.shortestReplyMs();
    return c;
}

void Upload::handleAnswer(const std::string& answer, bool fresh) {
    memory_.handling = answer;
    const long long now = ticker_.nowMs();
    if (fresh) line_.heard(now);
    const std::string text(trimSpaces(answer));
    try_.charsHeard -= static_cast<long>(answer.size());
    if (text.empty()) return;
    const AnswerContext context = answerContext(text, fresh);
    const AnswerKind kind = classifyAnswer(context, text);
    if (kind != AnswerKind::ThisBlock) {
        dropAnswer(kind, context, text);
        return;
    }
    // Another reply after the one held as equal: that one was a copy after all.
    if (!try_.heldEqual.empty() && text != try_.heldEqual) line_.copySeen();
    // Refused or not, it is an answer: it is no longer out.
    memory_.lastAnswer = text;
    line_.answerCame(now);
    takeAnswer(text);
}

// Whatever is no answer to the request out: traced and dropped, counted where it was owed.
void Upload::dropAnswer(AnswerKind kind, const AnswerContext& context, const std::string& text) {
    switch (kind) {
        case AnswerKind::Noise:
            traceAnswer(LineTrace::Verdict::Noise);
            return;
        case AnswerKind::Echo:
            traceAnswer(LineTrace::Verdict::Echo);
            return;
        case AnswerKind::Stray:
            memory_.lastAnswer = text;  // its twin may follow
            traceAnswer(LineTrace::Verdict::Stray);
            return;
        case AnswerKind::Repeat:
            if (context.running) line_.copySeen();
            // The malformed reply again: the controller answers, and is still refused.
            if (context.running && try_.malformed == text) try_.answeredSinceRequest = true;
            traceAnswer(LineTrace::Verdict::Repeat);
            return;
        case AnswerKind::EqualToBlockBefore:
            holdEqual(text);
            return;
        case AnswerKind::Leftover:
            pass_.earlierReadsAnswers = true;
            traceAnswer(LineTrace::Verdict::EarlierBlock,
                        "complete sooner than its characters take after the request");
            return;
        case AnswerKind::OutOfStep:
            traceAnswer(LineTrace::Verdict::OutOfStep);
            outOfStep();
        case AnswerKind::BeforeFirstRequest:
        case AnswerKind::EarlierBlock:
            owedElsewhere(kind, context.running, text);
            return;
        case AnswerKind::ThisBlock:
            return;
    }
}

// An answer owed to an earlier block, or to an earlier read.
void Upload::owedElsewhere(AnswerKind kind, bool running, const std::string& text) {
    if (running) pass_.earlierReadsAnswers = true;
    // A copy of it may follow, to be dropped as a repeat. But where this read is to be read a
    // second time anyway, an answer counted before its first request is no copy, and this
    // read's own block may well bring the same bytes (a search asks for block 0 too): a wrong
    // take would meet the second read.
    if (kind == AnswerKind::BeforeFirstRequest && line_.out() > 0 && line_.mayBeBehind())
        memory_.lastAnswer.clear();
    else
        memory_.lastAnswer = text;
    if (line_.out() > 0) line_.answerCame(ticker_.nowMs());
    traceAnswer(kind == AnswerKind::EarlierBlock ? LineTrace::Verdict::EarlierBlock
                                                 : LineTrace::Verdict::BeforeFirstRequest);
    if (step_ == Step::QuietThenNext && line_.out() == 0) carryOn(try_.tickPassed);
}

void Upload::holdEqual(const std::string& text) {
    // Held as no answer; the request asked again, once the line settles and a tick has
    // passed, brings this block's bytes whichever it was.
    traceAnswer(LineTrace::Verdict::Repeat, "the block before's reply again: asking again");
    if (step_ != Step::AwaitingReply || try_.recheck != Recheck::None) return;  // asked already
    try_.recheck = Recheck::Due;
    try_.heldEqual = text;
    carryOn(try_.tickPassed);
}

void Upload::outOfStep() {
    ErrorFacts facts;
    facts.code = ErrorFacts::Code::OutOfStep;
    facts.address = pass_.lastAccepted;
    throw Error(
        ErrorKind::Serial, facts,
        "the line is out of step: an answer came when none was due (last block taken: " +
            (pass_.lastAccepted < 0 ? std::string("none") : hexAddress(pass_.lastAccepted)) + ")");
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
    if (trace_) trace_->received(memory_.handling, verdict, reason);
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

}  // namespace progread
