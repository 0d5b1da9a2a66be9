#pragma once

// Cuts the characters arriving from the port into whole replies, however the line chunks
// them. A reply starts at STX: anything in front of one (noise, a NAK, the tail of a reply
// that was given up on) is dropped. Whether a cut reply is well formed is checkReply's job.

#include <cstddef>
#include <string>
#include <string_view>

namespace progread {

class ReplyFramer {
public:
    static constexpr std::size_t kCapacity = 1024;  // the port's input buffer

    void feed(std::string_view chars);
    bool hasReply() const;
    // The next 68 characters from an STX; the rest stays for the next reply.
    std::string takeReply();
    void clear() { buffer_.clear(); }
    std::size_t pending() const { return buffer_.size(); }

private:
    void dropToStx();

    std::string buffer_;
};

}  // namespace progread
