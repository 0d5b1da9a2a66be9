// SPDX-License-Identifier: GPL-3.0-or-later
#include "upload/answer_kind.h"

#include <algorithm>
#include <cstdio>

#include "protocol/frames.h"

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

void LineMemory::sent(std::string request) {
    requests.push_back(std::move(request));
    if (requests.size() > kRequestsKept) requests.pop_front();
}

bool LineMemory::isOurs(const std::string& frame) const {
    return std::find(requests.begin(), requests.end(), frame) != requests.end();
}

}  // namespace progread
