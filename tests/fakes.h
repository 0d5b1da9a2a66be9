// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stand-ins for the port, the timer, the image and the window, and a rig that plays the
// controller on the other end of the fake port.

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/frames.h"
#include "upload/upload.h"

namespace progread::testing {

struct FakeLink : SerialLink {
    bool open = false;
    std::optional<Error> openError;
    std::string sent;
    std::deque<std::string> inbox;
    int event = kEvReceive;
    int discards = 0;

    bool PortOpen() const override { return open; }
    void openPort() override {
        if (openError) throw *openError;
        open = true;
    }
    void Output(Byte ch) override { sent += static_cast<char>(ch); }
    int CommEvent() const override { return event; }
    std::string Input() override {
        if (inbox.empty()) return {};
        std::string s = inbox.front();
        inbox.pop_front();
        return s;
    }
    std::string torn;  // a frame still waiting for characters
    std::string takeTorn() override { return std::exchange(torn, {}); }
    std::string pendingFrame() const override { return torn; }
    void discardInput() override {
        inbox.clear();
        torn.clear();
        ++discards;
    }
    std::string portName() const override { return "fake"; }
};

// Timer1 and the clock, both on simulated time that only the rig moves.
struct FakeTicker : Ticker {
    static constexpr long long kPeriodMs = 100;
    long long now = 0;
    bool enabled = true;  // Timer1 runs from start-up
    long long nextTick = kPeriodMs;
    int restarts = 0;
    std::optional<long long> wakeAtMs;

    void wakeAt(long long ms) override { wakeAtMs = ms; }
    void setTimerEnabled(bool e) override {
        if (e && !enabled) nextTick = now + kPeriodMs;
        enabled = e;
    }
    bool timerEnabled() const override { return enabled; }
    void restartPeriod() override {
        ++restarts;
        if (enabled) nextTick = now + kPeriodMs;
    }
    long long nowMs() const override { return now; }
};

// Collects what reaches the image behind its header; a tail shows up as its 1026 bytes.
struct MemorySink : ImageSink {
    std::vector<Byte> bytes;
    int restarts = 0;
    int flushes = 0;
    int publishes = 0;
    bool failWrites = false;

    void appendPair(BytePair p) override {
        if (failWrites)
            throw Error(ErrorKind::File, "cannot write to the image /x/duqu.pmw: disk full");
        bytes.push_back(p.first);
        bytes.push_back(p.second);
    }
    void appendTail() override {
        for (int k = 0; k < 513; ++k) {
            bytes.push_back(0xFF);
            bytes.push_back(0x00);
        }
    }
    void restart() override {
        bytes.clear();
        ++restarts;
    }
    void flush() override { ++flushes; }
    void publish() override { ++publishes; }
};

struct RecordingView : UploadView {
    std::vector<std::string> progress;
    std::vector<std::string> rejections;
    std::vector<Error> errors;
    int finished = 0;
    int toldChecksumRule = 0;

    void showProgress(const std::string& text) override { progress.push_back(text); }
    void replyRejected(long, const Refusal& refusal) override {
        rejections.push_back(refusal.text());
    }
    void checksumsByAnotherRule() override { ++toldChecksumRule; }
    void uploadFinished(const UploadSummary&) override { ++finished; }
    void uploadStopped(const Error& e, bool) override { errors.push_back(e); }
};

// What an image holds, put together here independently of the upload.
inline std::vector<Byte> tail() {
    std::vector<Byte> t;
    for (int k = 0; k < 513; ++k) {
        t.push_back(0xFF);
        t.push_back(0x00);
    }
    return t;
}

inline std::vector<Byte> concat(std::vector<Byte> a, const std::vector<Byte>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::vector<Byte> memorySlice(const std::vector<Byte>& m, std::size_t from,
                                     std::size_t count) {
    return {m.begin() + static_cast<long>(from), m.begin() + static_cast<long>(from + count)};
}

// Replaces one character; at() keeps GCC's overflow analysis quiet about the copies.
inline std::string setChar(std::string r, std::size_t pos, char c) {
    r.at(pos) = c;
    return r;
}

// Requests are parsed here independently of the code that builds them.
inline long requestedOffset(const std::string& request) {
    return std::stol(request.substr(4, 4), nullptr, 16) - 0x8000;
}

// Memory whose every block is told apart by its bytes, with the end marker in block
// markerBlock (none without it) and no pair 0F 00 anywhere else.
inline std::vector<Byte> distinctMemory(std::optional<std::size_t> markerBlock = {}) {
    std::vector<Byte> m(32768);
    for (std::size_t i = 0; i < m.size(); ++i)
        m[i] = static_cast<Byte>((i / 32) * 7 + i % 32 + 0x20 + i / 8192);
    for (std::size_t i = 0; i + 1 < m.size(); i += 2) {
        if (m[i] == 0x0F && m[i + 1] == 0x00) m[i + 1] = 0x01;
    }
    if (markerBlock) {
        m[*markerBlock * 32 + 12] = 0x0F;
        m[*markerBlock * 32 + 13] = 0x00;
    }
    return m;
}

// The upload against a controller on simulated time. The controller answers requests in
// turn, as a real one does: an answer starts once the previous one is out and the latency
// has passed.
struct Rig {
    FakeLink link;
    FakeTicker ticker;
    MemorySink sink;
    RecordingView view;
    ImageSink* image = &sink;
    // Neighbouring blocks differ, as they do in real programs: an answer the same as the
    // block before's is taken for a repeat until a quiet line confirms it.
    std::vector<Byte> memory = distinctMemory();
    // The k-th request's answer (k from 1) for offset; nullopt: no answer.
    std::function<std::optional<std::string>(long offset, int k)> controller;
    // Milliseconds from the moment the controller takes request k to its answer arriving.
    std::function<long long(long offset, int k)> latency = [](long, int) { return 0LL; };
    int requests = 0;
    std::vector<long> offsets;
    std::vector<long long> requestTimes;
    std::multimap<long long, std::string> arrivals;  // answers on their way, by arrival time
    long long controllerBusyUntil = 0;

    Upload upload{link, ticker, *image, view};

    explicit Rig(ImageSink* customImage = nullptr)
        : image(customImage ? customImage : &sink), upload{link, ticker, *image, view} {
        controller = [this](long offset, int) { return replyFor(offset); };
    }

    std::string replyFor(long offset) const {
        std::span<const Byte, 32> block(memory.data() + offset, 32);
        return BuildBlockReply(block);
    }

    void deliver(const std::string& text, int event = SerialLink::kEvReceive) {
        link.inbox.push_back(text);
        link.event = event;
        upload.MSComm1_OnComm();
    }

    // Takes the requests sent so far and delivers every answer that is due.
    void settle() {
        while (link.sent.size() >= 13) {
            std::string request = link.sent.substr(0, 13);
            link.sent.erase(0, 13);
            const long offset = requestedOffset(request);
            offsets.push_back(offset);
            requestTimes.push_back(ticker.now);
            const int k = ++requests;
            if (auto reply = controller(offset, k)) {
                const long long at = std::max(ticker.now, controllerBusyUntil) + latency(offset, k);
                controllerBusyUntil = at;
                arrivals.emplace(at, *reply);
            }
        }
        while (!arrivals.empty() && arrivals.begin()->first <= ticker.now) {
            std::string text = arrivals.begin()->second;
            arrivals.erase(arrivals.begin());
            deliver(text);
            settle();
        }
    }

    // Moves simulated time to t, running every tick and answer due on the way.
    void advanceTo(long long t) {
        settle();
        for (;;) {
            long long next = arrivals.empty() ? t + 1 : arrivals.begin()->first;
            const long long wake =
                ticker.wakeAtMs ? std::max(ticker.now, *ticker.wakeAtMs) : next + 1;
            const long long tickAt = ticker.enabled ? ticker.nextTick : next + 1;
            const bool wakeFirst = wake <= next && wake <= tickAt;
            const bool tickFirst = !wakeFirst && tickAt <= next;
            if (wakeFirst) next = wake;
            if (tickFirst) next = tickAt;
            if (next > t) break;
            ticker.now = next;
            if (wakeFirst) {
                ticker.wakeAtMs.reset();
                upload.wake();
            } else if (tickFirst) {
                ticker.nextTick += FakeTicker::kPeriodMs;
                upload.Timer1_Timer();
            }
            settle();
        }
        ticker.now = t;
    }
    void advance(long long ms) { advanceTo(ticker.now + ms); }

    // Up to and including the next tick (or 100 ms when the timer is off).
    void tick() {
        advanceTo(ticker.enabled ? ticker.nextTick : ticker.now + FakeTicker::kPeriodMs);
    }

    // Starts an upload and runs it until it ends or maxMs of simulated time pass.
    void run(long long maxMs = 10'000'000) {
        upload.Command1_Click();
        runOn(maxMs);
    }
    void runOn(long long maxMs = 10'000'000) {
        settle();
        const long long until = ticker.now + maxMs;
        while (upload.running() && ticker.now < until) tick();
    }

    void putEndMarker(std::size_t offset) {
        memory[offset] = 0x0F;
        memory[offset + 1] = 0x00;
    }

    // What the image must hold after a complete read: every block up to the marker's, then
    // the tail; worked out from the memory, not from the upload.
    std::vector<Byte> cleanImage() const {
        std::size_t end = 0;
        while (!(memory[end] == 0x0F && memory[end + 1] == 0x00)) end += 2;
        std::vector<Byte> expected(memory.begin(),
                                   memory.begin() + static_cast<long>((end / 32 + 1) * 32));
        for (int k = 0; k < 513; ++k) {
            expected.push_back(0xFF);
            expected.push_back(0x00);
        }
        return expected;
    }
};

}  // namespace progread::testing
