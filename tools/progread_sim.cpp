// SPDX-License-Identifier: GPL-3.0-or-later
// progread-sim: a controller on a pseudo-terminal, for the tests, the demo, and for trying
// the tool without hardware. It answers block read requests from 32 KiB of program memory
// and can be told to misbehave the way a factory cable does.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/frames.h"
#include "protocol/hex_codec.h"
#include "tools/sample_program.h"
#include "tools/sim_options.h"

using namespace progread;
using namespace progread::sim;

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) {
    gStop = 1;
}

using Clock = std::chrono::steady_clock;

void pause(long micros) {
    if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

bool writeNow(int fd, const char* data, std::size_t size) {
    for (std::size_t sent = 0; sent < size;) {
        ssize_t w = ::write(fd, data + sent, size - sent);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pause(1000);
                continue;
            }
            return false;
        }
        sent += static_cast<std::size_t>(w);
    }
    return true;
}

// Sends data as the line would carry it from `start` on: at a set character time one
// character at a time, each once its last bit would have arrived. The times are deadlines on
// a clock, so that a late wake-up is made up by the next character instead of adding up.
bool writeAll(int fd, const std::string& data, const Options& o, Clock::time_point start) {
    const std::size_t piece = o.chunk > 0 ? static_cast<std::size_t>(o.chunk) : data.size();
    const auto charTime = std::chrono::microseconds(o.charUs);
    Clock::time_point due = start;
    for (std::size_t pos = 0; pos < data.size(); pos += piece) {
        if (pos > 0) due += std::chrono::milliseconds(o.chunkGapMs);
        const std::size_t end = std::min(data.size(), pos + piece);
        if (o.charUs == 0) {
            std::this_thread::sleep_until(due);
            if (!writeNow(fd, data.data() + pos, end - pos)) return false;
            continue;
        }
        for (std::size_t i = pos; i < end; ++i) {
            due += charTime;
            std::this_thread::sleep_until(due);
            if (!writeNow(fd, data.data() + i, 1)) return false;
        }
    }
    return true;
}

// The memory offset the request asks for, or -1 when the request is not one we answer.
long requestedOffset(const std::string& r) {
    auto hex = [&](std::size_t i) -> int {
        char c = r[i];
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (r.size() != kRequestLength || static_cast<Byte>(r[0]) != kStx ||
        r.compare(1, 3, "E01") != 0 || r.compare(8, 2, "20") != 0 ||
        static_cast<Byte>(r[10]) != kEtx) {
        return -1;
    }
    long address = 0;
    for (std::size_t i = 4; i < 8; ++i) {
        if (hex(i) < 0) return -1;
        address = address * 16 + hex(i);
    }
    if (hex(11) < 0 || hex(12) < 0) return -1;
    const auto* bytes = reinterpret_cast<const Byte*>(r.data());
    long sum = frameSum(std::span(bytes + 1, 10)) & 0xFF;
    if (sum != hex(11) * 16 + hex(12)) return -1;
    long offset = address - kBaseAddress;
    if (offset < 0 ||
        offset + static_cast<long>(kBlockBytes) > static_cast<long>(kProgramMemoryBytes))
        return -1;
    return offset;
}

std::string replyFor(const Options& o, long offset, long k) {
    std::span<const Byte, kBlockBytes> block(o.memory.data() + offset, kBlockBytes);
    std::string reply = BuildBlockReply(block);
    if (o.otherChecksum) {
        const auto* bytes = reinterpret_cast<const Byte*>(reply.data());
        const unsigned sum = static_cast<unsigned>(frameSum(std::span(bytes + 1, 64))) & 0xFF;
        reply[66] = static_cast<char>(digitCode(static_cast<Byte>(sum >> 4)));
        reply[67] = static_cast<char>(digitCode(static_cast<Byte>(sum & 0xF)));
    }
    if (o.corruptDigit.has(k)) reply[9] = reply[9] == '0' ? '1' : '0';
    if (o.badChecksum.has(k)) reply[67] = reply[67] == '0' ? '1' : '0';
    if (o.lowercaseChecksum) {
        for (std::size_t i = 66; i < 68; ++i) {
            if (reply[i] >= 'A' && reply[i] <= 'F')
                reply[i] = static_cast<char>(reply[i] - 'A' + 'a');
        }
    }
    if (o.parity.has(k)) reply[13] = '\0';
    if (o.lowercase.has(k)) {
        // The first digit that has a lowercase form.
        for (std::size_t i = 1; i < 65; ++i) {
            if (reply[i] >= 'A' && reply[i] <= 'F') {
                reply[i] = static_cast<char>(reply[i] - 'A' + 'a');
                break;
            }
            if (i == 64) reply[1] = 'a';  // all digits: a lowercase one where none can be
        }
    }
    if (o.shortReply.has(k)) reply.pop_back();
    // Neither STX nor NAK: each of those means something to the port.
    if (o.noise.has(k)) reply = std::string("\x7F#?\x11 ", 5) + reply;
    if (o.nakNoise.has(k)) reply = std::string("\x15\0 ", 3) + reply;
    return reply;
}

// The controller's end of the line: it reads requests as they come and answers each, with
// the faults it was told to show.
class Controller {
public:
    Controller(Options& o, int master)
        : o_(o), master_(master), random_(static_cast<std::mt19937::result_type>(o.seed)) {}

    // Waits a little for characters and answers whatever requests they complete. False once
    // the line is to be closed (--close-after) or cannot be written.
    bool serve() {
        if (o_.chatterMs > 0 && Clock::now() >= nextChatter_) {
            if (!writeAll(master_, "A", o_, Clock::now())) return false;
            nextChatter_ = Clock::now() + std::chrono::milliseconds(o_.chatterMs);
        }
        pollfd p{master_, POLLIN, 0};
        const int ready =
            ::poll(&p, 1, o_.chatterMs > 0 ? static_cast<int>(std::min(o_.chatterMs, 200L)) : 200);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) return true;
        char buf[512];
        const ssize_t got = ::read(master_, buf, sizeof buf);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
        if (got < 0) {
            // EIO: nobody holds the slave side; cannot happen while we hold it, but never spin.
            pause(50000);
            return true;
        }
        if (pending_.empty()) pendingSince_ = Clock::now();
        const std::string chars(buf, static_cast<std::size_t>(got));
        // The adapter hears its own sending: every character goes back as it comes.
        if (o_.echo && !writeAll(master_, chars, o_, Clock::now())) return false;
        pending_ += chars;
        return takeRequests();
    }

private:
    bool takeRequests() {
        while (!pending_.empty()) {
            const auto stx = pending_.find(static_cast<char>(kStx));
            if (stx != 0) {
                pending_.erase(0, stx == std::string::npos ? pending_.size() : stx);
                continue;
            }
            if (pending_.size() < kRequestLength) break;
            const long offset = requestedOffset(pending_.substr(0, kRequestLength));
            // The tool hands the port a whole request at once; on the wire its last character
            // comes 13 character times after the first. A request that waited here while a
            // reply went out has come meanwhile: the line is full duplex.
            const auto requestTime =
                static_cast<long>(kRequestLength) * std::chrono::microseconds(o_.charUs);
            const Clock::time_point received = std::max(Clock::now(), pendingSince_ + requestTime);
            pendingSince_ = received;
            if (offset < 0) {
                if (o_.verbose) std::fprintf(stderr, "progread-sim: bad request, NAK\n");
                pending_.erase(0, 1);  // resynchronise on the next STX
                writeAll(master_, std::string(1, static_cast<char>(kNak)), o_, received);
                continue;
            }
            pending_.erase(0, kRequestLength);
            if (!answer(++requests_, offset, received)) return false;
        }
        return true;
    }

    // --random-faults: request k gets one fault drawn from the list, or comes 1.3 s late.
    void drawFault(long k) {
        if (o_.randomPermille <= 0 || static_cast<long>(random_() % 1000) >= o_.randomPermille)
            return;
        Picks* faults[] = {&o_.drop,   &o_.corruptDigit, &o_.badChecksum, &o_.shortReply, &o_.noise,
                           &o_.parity, &o_.lowercase,    &o_.glue,        &o_.nak,        nullptr};
        const auto pick = random_() % std::size(faults);
        if (faults[pick]) {
            faults[pick]->ks.insert(k);
        } else {
            o_.lateMs[k] = 1300;
        }
        if (o_.verbose) std::fprintf(stderr, "progread-sim: fault %lu on request %ld\n", pick, k);
    }

    // Request k for offset, received at `received`: false once the line is to be closed.
    bool answer(long k, long offset, Clock::time_point received) {
        drawFault(k);
        if (o_.verbose)
            std::fprintf(stderr, "progread-sim: request %ld for 0x%04lX\n", k,
                         offset + kBaseAddress);
        if (o_.drop.has(k) || (o_.silentAfter >= 0 && k > o_.silentAfter)) return true;
        const auto late = o_.lateMs.find(k);
        const auto latency =
            std::chrono::milliseconds(late != o_.lateMs.end() ? late->second : o_.latencyMs);
        if (o_.changeAfter > 0 && k == o_.changeAfter) o_.memory[0] ^= 0x01;
        const bool refuse = o_.nak.has(k);
        const std::string reply = refuse ? std::string() : replyFor(o_, offset, k);
        if (!refuse && o_.glue.has(k)) {
            held_ += reply;
            return true;
        }
        // A refusal stands alone, instead of the reply.
        std::string out = held_ + (refuse ? std::string(1, static_cast<char>(kNak)) : reply);
        std::string after;  // what waits for --twice-gap-ms: the copy and all behind it
        if (!refuse && o_.twice.has(k)) (o_.twiceGapMs > 0 ? after : out) += reply;
        if (!refuse && o_.trailingStx.has(k))
            (after.empty() ? out : after) += static_cast<char>(kStx);
        if (!writeAll(master_, out, o_, received + latency)) return false;
        held_.clear();
        const auto gap = std::chrono::milliseconds(o_.twiceGapMs);
        if (!after.empty() && !writeAll(master_, after, o_, Clock::now() + gap)) return false;
        if (!refuse && o_.strayAfter.has(k) &&
            !writeAll(master_, reply, o_, Clock::now() + std::chrono::milliseconds(30)))
            return false;
        if (o_.closeAfter > 0 && k >= o_.closeAfter) {
            // A hangup throws away what the other side has not read yet: wait until it
            // asks again (so it has the reply) or half a second has passed.
            pollfd next{master_, POLLIN, 0};
            ::poll(&next, 1, 500);
            if (o_.verbose) std::fprintf(stderr, "progread-sim: closing the line\n");
            return false;
        }
        return true;
    }

    Options& o_;
    const int master_;
    std::string pending_;
    std::string held_;  // replies held back to be glued to the next one
    std::mt19937 random_;
    Clock::time_point pendingSince_;  // when the first character in pending_ was read
    Clock::time_point nextChatter_{};
    long requests_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options o = parseOptions(argc, argv);
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "progread-sim: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // Raw, so that ETX is not an interrupt and nothing is echoed. The slave stays open here
    // too: the line survives the tool closing and reopening the port.
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    // Held by the slave side until the tool opens the port (which clears its input).
    for (long n = 0; n < o.strayBefore; ++n)
        writeAll(master, replyFor(o, static_cast<long>(n % 8) * 32, 0), o, Clock::now());
    std::printf("%s\n", name);
    std::fflush(stdout);

    Controller controller(o, master);
    while (!gStop && controller.serve()) {
    }
    ::close(master);
    ::close(slave);
    return 0;
}
