// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Cuts the characters arriving from the port into answers, however the line chunks them.
// An answer is a reply (68 characters from an STX), a NAK standing alone, or a piece of a
// reply that the next STX cut short: hex digits never include STX, so a frame starts afresh
// at every STX. A NAK is held until the line settles (settle()); any character after it
// makes it noise.
// Anything else outside a frame (noise, the tail of a reply that was given up on) is
// dropped. Whether an answer is a good reply is checkReply's job, what it answers the
// upload's.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace progread {

class ReplyFramer {
public:
    static constexpr std::size_t kCapacity = 1024;  // the port's input buffer

    void feed(std::string_view chars);
    // Nothing followed a NAK for the settle time: it is an answer.
    void settle();
    bool nakHeld() const { return nakHeld_; }
    bool hasReply() const { return !ready_.empty(); }
    // The next whole answer.
    std::string takeReply();
    // The frame still waiting for characters (an answer cut short by a quiet line), or "".
    std::string takeTorn();
    const std::string& frame() const { return frame_; }
    void clear();
    // Characters held: whole answers and the frame being collected.
    std::size_t pending() const { return readyChars_ + frame_.size(); }

private:
    void ready(std::string answer);

    std::deque<std::string> ready_;
    std::size_t readyChars_ = 0;
    std::string frame_;  // from an STX on, shorter than a reply
    bool nakHeld_ = false;
};

}  // namespace progread
