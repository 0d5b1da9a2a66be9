// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/upload_script.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "protocol/frames.h"
#include "protocol/reply_framer.h"
#include "upload/upload.h"

namespace progread::fuzz {

namespace {

constexpr long long kPeriodMs = 100;
constexpr long long kAnswerMs = 71;  // 68 characters at 9600 baud, 7E1

class Clock : public Ticker {
public:
    long long now = 0;
    bool enabled = true;
    long long nextTick = kPeriodMs;

    void setTimerEnabled(bool e) override {
        if (e && !enabled) nextTick = now + kPeriodMs;
        enabled = e;
    }
    std::optional<long long> wakeAtMs;
    void wakeAt(long long ms) override { wakeAtMs = ms; }
    bool timerEnabled() const override { return enabled; }
    void restartPeriod() override {
        if (enabled) nextTick = now + kPeriodMs;
    }
    long long nowMs() const override { return now; }
};

// The port as CommPort has it: characters go through a ReplyFramer, one notification a
// whole reply.
class Line : public SerialLink {
public:
    ReplyFramer framer;
    std::string sent;
    std::string lastInput, inputBefore;
    std::string lastRequest;
    bool open = false;

    bool PortOpen() const override { return open; }
    void openPort() override { open = true; }
    void Output(Byte ch) override { sent += static_cast<char>(ch); }
    int CommEvent() const override { return kEvReceive; }
    std::string Input() override {
        std::string answer = framer.hasReply() ? framer.takeReply() : std::string();
        // What the oracle judges a twin against: the answer before, not an echo between.
        const bool echo = !answer.empty() && answer == lastRequest;
        if (!echo && answer != std::string(1, static_cast<char>(kStx))) {
            inputBefore = lastInput;
            lastInput = answer;
        }
        return answer;
    }
    std::string takeTorn() override { return framer.takeTorn(); }
    std::string pendingFrame() const override { return framer.frame(); }
    void discardInput() override { framer.clear(); }
    std::string portName() const override { return "fuzz"; }
};

class Image : public ImageSink {
public:
    std::vector<Byte> bytes;
    int pairs = 0;  // appended since the last look
    int tails = 0;

    void appendPair(BytePair p) override {
        bytes.push_back(p.first);
        bytes.push_back(p.second);
        ++pairs;
    }
    void appendTail() override {
        for (int k = 0; k < 513; ++k) {
            bytes.push_back(0xFF);
            bytes.push_back(0x00);
        }
        ++tails;
    }
    void restart() override { bytes.clear(); }
    void flush() override {}
    void publish() override {}
};

class View : public UploadView {
public:
    std::function<void()> onFinished;
    int stopped = 0;
    void showProgress(const std::string&) override {}
    void uploadFinished(const UploadSummary&) override { onFinished(); }
    void uploadStopped(const Error&, bool) override { ++stopped; }
};

class Script {
public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
        const int markerBlock = more() ? next() % 48 : 3;
        const int markerPair = more() ? next() % 16 : 0;
        memory_.resize(32768);
        for (std::size_t i = 0; i < memory_.size(); ++i) {
            memory_[i] = static_cast<Byte>((i / 32) * 7 + i % 32 + 0x20);
        }
        for (std::size_t i = 0; i + 1 < memory_.size(); i += 2) {
            if (memory_[i] == 0x0F && memory_[i + 1] == 0x00) memory_[i + 1] = 0x01;
        }
        const std::size_t marker = static_cast<std::size_t>(markerBlock * 32 + markerPair * 2);
        memory_[marker] = 0x0F;
        memory_[marker + 1] = 0x00;
        expected_.assign(memory_.begin(), memory_.begin() + (markerBlock + 1) * 32);
        for (int k = 0; k < 513; ++k) {
            expected_.push_back(0xFF);
            expected_.push_back(0x00);
        }
        view_.onFinished = [this] { checkFinished(); };
    }

    ScriptResult run() {
        while (more() && !result_.violation) {
            switch (next() % 12) {
                case 0:
                case 1:
                    if (trace_) std::fprintf(stderr, "%7lld  start\n", clock_.now);
                    call([&] { upload_.Command1_Click(); });
                    break;
                case 2:
                case 3:
                case 4:
                    advanceTo(clock_.now + next() * 10LL);
                    break;
                case 5:
                    // Late answers are faithful: they are still the right ones, in turn.
                    latencyMs_ = next() * 8LL;
                    break;
                case 6:
                    ++dropNext_;  // lost on the line: faithful still
                    break;
                case 7: {
                    const std::size_t pos = next() % kReplyLength;
                    corruptNext_.emplace_back(pos, static_cast<char>(next()));
                    result_.faithful = false;
                    break;
                }
                case 8: {
                    std::string noise;
                    for (int n = next() % 8 + 1; n > 0 && more(); --n)
                        noise += static_cast<char>(next());
                    // Noise without an STX is dropped by the framer, or spoils a single reply.
                    // A NAK is no noise: it is an answer, one the controller did not send.
                    if (noise.find(static_cast<char>(kStx)) != std::string::npos ||
                        noise.find(static_cast<char>(kNak)) != std::string::npos)
                        result_.faithful = false;
                    noisy_ = true;
                    // A duplicate spoiled by noise cannot be told from a spoiled answer: it
                    // would be counted as one.
                    if (twice_) result_.faithful = false;
                    arrivals_.emplace(clock_.now, noise);
                    break;
                }
                case 9: {
                    const int v = next();
                    if (v % 4 == 0) {
                        // As CommPort does: closed at once, then reported.
                        line_.open = false;
                        line_.framer.clear();
                        call([&] { upload_.fail(Error(ErrorKind::Serial, "the port went away")); });
                    } else {
                        chunk_ = static_cast<std::size_t>(v % 68 + 1);
                    }
                    break;
                }
                case 10:
                    // A controller that sends an answer twice, right behind itself: faithful.
                    ++twiceNext_;
                    twice_ = true;
                    if (noisy_) result_.faithful = false;
                    break;
                case 11:
                    // A half-duplex adapter hands every request back first: faithful.
                    echo_ = !echo_;
                    break;
            }
        }
        if (!result_.violation) advanceTo(clock_.now + 120'000);
        result_.stopped = view_.stopped;
        return result_;
    }

private:
    bool more() const { return pos_ < size_; }
    int next() { return more() ? data_[pos_++] : 0; }

    // Runs one handler and checks what it wrote.
    template <class F>
    void call(F&& handler, bool reply = false) {
        image_.pairs = 0;
        const int tails = image_.tails;
        handler();
        if (image_.pairs == 0 || result_.violation) return;
        if (!reply) return fault("pairs written outside the reply handler");
        const std::string& text = line_.lastInput;
        const ReplyCheck check = checkReply(text);
        const bool twin = check.fault == ReplyFault::ChecksumMismatch && text == line_.inputBefore;
        if (!check && !twin) return fault("a refused reply was written: " + check.detail);
        if (image_.pairs != static_cast<int>(kBlockBytes / 2))
            return fault("not a whole block written");
        const std::size_t at =
            image_.bytes.size() - kBlockBytes - (image_.tails > tails ? 1026 : 0);
        for (std::size_t i = 0; i < kBlockBytes; ++i) {
            const BytePair p = DecodeGroup(
                static_cast<Byte>(text[1 + 4 * (i / 2)]), static_cast<Byte>(text[2 + 4 * (i / 2)]),
                static_cast<Byte>(text[3 + 4 * (i / 2)]), static_cast<Byte>(text[4 + 4 * (i / 2)]));
            if (image_.bytes[at + i] != (i % 2 ? p.second : p.first))
                return fault("written bytes differ from the reply");
        }
    }

    void checkFinished() {
        const std::vector<Byte>& b = image_.bytes;
        if (b.size() < 1026 || (b.size() - 1026) % 32 != 0)
            return fault("a finished image is not blocks and a tail");
        const std::size_t blocks = (b.size() - 1026) / 32;
        for (std::size_t k = 0; k < blocks; ++k) {
            bool marker = false;
            for (std::size_t i = k * 32; i < k * 32 + 32; i += 2)
                marker = marker || (b[i] == 0x0F && b[i + 1] == 0x00);
            if (marker != (k + 1 == blocks))
                return fault("the end marker is not in the last block only");
        }
        if (result_.faithful && b != expected_)
            return fault("a faithful controller's read finished with a wrong image");
        ++result_.finished;
    }

    void fault(const std::string& what) {
        if (!result_.violation) result_.violation = what;
    }

    // The controller takes every request sent so far and schedules its answer.
    void takeRequests() {
        while (line_.sent.size() >= kRequestLength) {
            const std::string request = line_.sent.substr(0, kRequestLength);
            line_.sent.erase(0, kRequestLength);
            line_.lastRequest = request;
            const long offset = std::stol(request.substr(4, 4), nullptr, 16) - kBaseAddress;
            if (trace_)
                std::fprintf(stderr, "%7lld  request for %04lX%s (wait %lld ms)\n", clock_.now,
                             offset + kBaseAddress, dropNext_ > 0 ? " (lost)" : "",
                             upload_.line().waitMs());
            if (echo_) {
                // One sender at a time on a two-wire bus: a request sent into an answer
                // garbles both, which no tool can undo.
                if (!arrivals_.empty() || busyUntil_ > clock_.now) result_.faithful = false;
                arrivals_.emplace(clock_.now, request);
            }
            if (dropNext_ > 0) {
                --dropNext_;
                continue;
            }
            std::string answer =
                BuildBlockReply(std::span<const Byte, 32>(memory_.data() + offset, 32));
            if (!corruptNext_.empty()) {
                answer[corruptNext_.front().first] = corruptNext_.front().second;
                corruptNext_.erase(corruptNext_.begin());
            }
            if (twiceNext_ > 0) {
                --twiceNext_;
                answer += answer;
            }
            long long at = std::max(clock_.now, busyUntil_) + latencyMs_;
            busyUntil_ = at + static_cast<long long>(answer.size()) * kAnswerMs /
                                  static_cast<long long>(kReplyLength);
            for (std::size_t p = 0; p < answer.size(); p += chunk_) {
                arrivals_.emplace(at, answer.substr(p, chunk_));
                at += static_cast<long long>(chunk_);
            }
        }
    }

    void advanceTo(long long t) {
        for (;;) {
            takeRequests();
            if (result_.violation) return;
            // Ticks of an upload that is not running do nothing: skip to the end.
            if (arrivals_.empty() && !upload_.running()) break;
            long long when = arrivals_.empty() ? t + 1 : arrivals_.begin()->first;
            const long long wakeAt =
                clock_.wakeAtMs ? std::max(clock_.now, *clock_.wakeAtMs) : when + 1;
            const long long tickAt = clock_.enabled ? clock_.nextTick : when + 1;
            const bool wake = wakeAt <= when && wakeAt <= tickAt;
            const bool tick = !wake && tickAt <= when;
            if (wake) when = wakeAt;
            if (tick) when = tickAt;
            if (when > t) break;
            clock_.now = when;
            if (wake) {
                clock_.wakeAtMs.reset();
                call([&] { upload_.wake(); });
            } else if (tick) {
                clock_.nextTick += kPeriodMs;
                call([&] { upload_.Timer1_Timer(); });
            } else {
                const std::string chars = arrivals_.begin()->second;
                if (trace_ && chars.size() > 1 && chars[0] == static_cast<char>(kStx)) {
                    std::fprintf(stderr,
                                 "%7lld  answer arrives: %.8s...  step %d, out %d, block %04X\n",
                                 clock_.now, chars.c_str() + 1, static_cast<int>(upload_.step()),
                                 upload_.line().out(),
                                 static_cast<unsigned>(kBaseAddress + upload_.state().BlockOffset));
                }
                arrivals_.erase(arrivals_.begin());
                if (!line_.open) continue;  // nobody listens on a closed port
                upload_.charsHeard();
                line_.framer.feed(chars);
                line_.framer.settle();  // each chunk comes a while after the one before
                while (line_.framer.hasReply() && !result_.violation) {
                    const std::size_t before = line_.framer.pending();
                    call([&] { upload_.MSComm1_OnComm(); }, true);
                    if (line_.framer.pending() == before) break;
                }
            }
        }
        clock_.now = t;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::vector<Byte> memory_, expected_;
    Clock clock_;
    Line line_;
    Image image_;
    View view_;
    Upload upload_{line_, clock_, image_, view_};
    std::multimap<long long, std::string> arrivals_;
    long long latencyMs_ = 20;
    long long busyUntil_ = 0;
    int dropNext_ = 0;
    int twiceNext_ = 0;
    bool twice_ = false, noisy_ = false;
    bool echo_ = false;
    std::vector<std::pair<std::size_t, char>> corruptNext_;
    std::size_t chunk_ = kReplyLength;
    ScriptResult result_{std::nullopt, true, 0, 0};
    bool trace_ = std::getenv("PROGREAD_FUZZ_TRACE") != nullptr;
};

}  // namespace

ScriptResult runScript(const std::uint8_t* data, std::size_t size) {
    return Script(data, size).run();
}

}  // namespace progread::fuzz
