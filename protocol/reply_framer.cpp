#include "protocol/reply_framer.h"

#include "protocol/frames.h"

namespace progread {

void ReplyFramer::feed(std::string_view chars) {
    buffer_.append(chars);
    dropToStx();
    if (buffer_.size() > kCapacity) {
        buffer_.erase(0, buffer_.size() - kCapacity);
        dropToStx();
    }
}

bool ReplyFramer::hasReply() const {
    return buffer_.size() >= kReplyLength;
}

std::string ReplyFramer::takeReply() {
    std::string reply = buffer_.substr(0, kReplyLength);
    buffer_.erase(0, reply.size());
    dropToStx();
    return reply;
}

void ReplyFramer::dropToStx() {
    auto stx = buffer_.find(static_cast<char>(kStx));
    buffer_.erase(0, stx == std::string::npos ? buffer_.size() : stx);
}

}  // namespace progread
