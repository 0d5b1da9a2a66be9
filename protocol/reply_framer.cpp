// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/reply_framer.h"

#include "protocol/frames.h"

namespace progread {

void ReplyFramer::feed(std::string_view chars) {
    for (const char c : chars) {
        if (nakHeld_) nakHeld_ = false;  // something followed it: noise
        if (c == static_cast<char>(kStx)) {
            if (!frame_.empty()) ready(std::move(frame_));
            frame_.assign(1, c);
        } else if (!frame_.empty()) {
            frame_ += c;
            if (frame_.size() == kReplyLength) ready(std::move(frame_));
        } else if (c == static_cast<char>(kNak)) {
            nakHeld_ = true;
        }
        // Anything else outside a frame is noise.
    }
}

void ReplyFramer::settle() {
    if (nakHeld_) ready(std::string(1, static_cast<char>(kNak)));
    nakHeld_ = false;
}

void ReplyFramer::ready(std::string answer) {
    readyChars_ += answer.size();
    ready_.push_back(std::move(answer));
    frame_.clear();
    // Nobody reads: keep the newest, as a full input buffer would.
    while (readyChars_ > kCapacity) {
        readyChars_ -= ready_.front().size();
        ready_.pop_front();
    }
}

std::string ReplyFramer::takeReply() {
    if (ready_.empty()) return {};
    std::string answer = std::move(ready_.front());
    ready_.pop_front();
    readyChars_ -= answer.size();
    return answer;
}

std::string ReplyFramer::takeTorn() {
    std::string torn = std::move(frame_);
    frame_.clear();
    return torn;
}

void ReplyFramer::clear() {
    nakHeld_ = false;
    ready_.clear();
    readyChars_ = 0;
    frame_.clear();
}

}  // namespace progread
