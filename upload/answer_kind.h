// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Replies carry no address: what an answer that came is follows from what the upload knows
// when it comes. A pure function, so that every case is a row of a table.

#include <deque>
#include <string>
#include <string_view>

namespace progread {

enum class AnswerKind {
    Noise,               // a lone STX: no answer can be that
    Echo,                // a request of ours, echoed back by a half-duplex adapter
    Stray,               // no upload runs and none is out
    BeforeFirstRequest,  // this upload has asked nothing yet: never taken
    Repeat,              // the answer before, again: not an answer to the request out
    EqualToBlockBefore,  // the reply taken for the block before, again, while this block's
                         // request is out: a repeat, or this block's equal bytes; one request
                         // asked again settles which
    Leftover,      // on a real port, complete sooner than its characters take after the request
                   // out: on its way before it was asked, so owed to an earlier read
    OutOfStep,     // an upload runs and none is out: the line has lost count
    EarlierBlock,  // owed to a request for an earlier block (or another process)
    ThisBlock,     // the answer to the block being read: checked, then taken or refused
};

struct AnswerContext {
    bool running = false;
    bool askedYet = false;                              // this upload sent a request
    const std::deque<std::string>* requests = nullptr;  // the last few sent, as sent
    std::string_view lastAnswer;                        // the answer that came last (in any upload)
    std::string_view blockBefore;   // the reply taken for the block before this one, if any
    std::string_view twin;          // this block's reply refused for its checksum, if any
    int out = 0;                    // answers still out
    bool outForThisBlock = false;   // and they are for the block being read
    bool askedOnQuietLine = false;  // a request for this block went out on a quiet line
    bool askedAgain = false;        // this block was asked again after EqualToBlockBefore
    bool trusted = false;  // the line is in step and has never sent an answer twice: a reply
                           // equal to the block before is settled by asking again
    bool tooSoon = false;  // a real port, and the reply was complete sooner than its characters
                           // take after the newest request went out
};

AnswerKind classifyAnswer(const AnswerContext& context, std::string_view text);

// What the line sent and heard, whatever upload it came in: an echo or a repeat may come
// after a start.
struct LineMemory {
    static constexpr std::size_t kRequestsKept = 4;
    std::deque<std::string> requests;  // the last few sent, newest last, as sent
    std::string lastAnswer;            // the answer that came before the one being handled
    std::string handling;              // the answer being handled, as it came

    void sent(std::string request);
    bool isOurs(const std::string& frame) const;
};

// "0x8020"
std::string hexAddress(long address);

}  // namespace progread
