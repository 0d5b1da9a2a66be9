// SPDX-License-Identifier: GPL-3.0-or-later
// A reply taken: its block into the image (first read) or checked against it (second read),
// then the next block, the second read, or the finished image.
#include "upload/upload.h"

namespace progread {

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
    if (line_.out() > 0 && try_.recheck == Recheck::Asked && try_.attempts == 1)
        line_.blockTaken(true);
    // A retry's answer still out would repeat this one: the next block need not wait for it
    // (a lost answer then costs one wait, not two), but the blocks from here on are read a
    // second time, as after any give-up.
    if (line_.out() > 0 && line_.offset() == s_.BlockOffset) {
        pass_.doubt(s_.BlockOffset);
        line_.blockTaken();
    }
    if (pass_.second()) {
        if (checkAgainstFirstRead(block)) return;
    } else {
        for (std::size_t k = 0; k < kBlockBytes; k += 2)
            image_.appendPair({block[k], block[k + 1]});
        pass_.firstRead.insert(pass_.firstRead.end(), block.begin(), block.end());
        ++summary_.blocks;
        summary_.programBytes += j;
        image_.flush();
        if (ended) {
            endOfFirstRead();
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

// The block with the end marker was taken: the image is finished, or the doubtful blocks
// are read again and the image finished once they agree.
void Upload::endOfFirstRead() {
    const bool lost = pass_.pass == Pass::FirstInDoubt;
    if (!lost && !verifyAll_) {
        finish();
        return;
    }
    // Only answers owed to an earlier read made the doubt when this one lost none.
    summary_.earlierReadsAnswers = lost && pass_.earlierReadsAnswers && summary_.retries == 0;
    pass_.markerOffset = s_.BlockOffset;
    s_.BlockOffset = static_cast<Integer>(verifyAll_ ? 0 : pass_.doubtFrom);
    pass_.pass = lost ? Pass::Reread : Pass::Verify;
    newTry();
    view_.verifying(blockAddress(), kBaseAddress + pass_.markerOffset, lost);
    if (lost) {
        // If an answer given up came after all, every answer since is one behind and one is
        // still on its way: it must meet an empty account (out of step), not the second
        // read's first request.
        enter(Step::QuietThenAsk);
    } else {
        carryOn(try_.tickPassed);
    }
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
    if (pass_.pass == Pass::SecondInDoubt) {
        // The same again for answers given up during the second read.
        enter(Step::QuietThenFinish);
        return true;
    }
    line_.inStep();
    finish();
    return true;
}

void Upload::finish() {
    ticker_.setTimerEnabled(false);
    image_.appendTail();
    image_.flush();
    image_.publish();
    enter(Step::Finished);
    view_.uploadFinished(summary_);
}

}  // namespace progread
