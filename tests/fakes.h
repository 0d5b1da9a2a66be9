#pragma once

// Stand-ins for the port, the timer, the image and the window, and a rig that plays the
// controller on the other end of the fake port.

#include <deque>
#include <functional>
#include <optional>
#include <string>
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
    void discardInput() override {
        inbox.clear();
        ++discards;
    }
    std::string portName() const override { return "fake"; }
};

struct FakeTicker : Ticker {
    bool enabled = true;  // Timer1 runs from start-up
    void setTimerEnabled(bool e) override { enabled = e; }
    bool timerEnabled() const override { return enabled; }
};

// Collects what reaches the image behind its header; a tail shows up as its 1026 bytes.
struct MemorySink : ImageSink {
    std::vector<Byte> bytes;
    int restarts = 0;
    int flushes = 0;
    bool failWrites = false;

    void appendPair(BytePair p) override {
        if (failWrites) throw Error(ErrorKind::File, "cannot write to the image /x/duqu.pmw: disk full");
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
};

struct RecordingView : UploadView {
    std::vector<std::string> progress;
    std::vector<std::string> rejections;
    std::vector<Error> errors;
    int finished = 0;

    void showProgress(const std::string& text) override { progress.push_back(text); }
    void replyRejected(long, const std::string& reason) override { rejections.push_back(reason); }
    void uploadFinished(const UploadSummary&) override { ++finished; }
    void uploadStopped(const Error& e, bool) override { errors.push_back(e); }
};

// Requests are parsed here independently of the code that builds them.
inline long requestedOffset(const std::string& request) {
    return std::stol(request.substr(4, 4), nullptr, 16) - 0x8000;
}

struct Rig {
    FakeLink link;
    FakeTicker ticker;
    MemorySink sink;
    RecordingView view;
    ImageSink* image = &sink;
    std::vector<Byte> memory = std::vector<Byte>(32768, 0x11);
    // The k-th answer (from 1) to a request for offset; nullopt: no answer.
    std::function<std::optional<std::string>(long offset, int k)> controller;
    int requests = 0;
    std::vector<long> offsets;

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

    // One timer tick, then the controller answers whatever was sent in it.
    void tick() {
        if (ticker.enabled) upload.Timer1_Timer();
        while (link.sent.size() >= 13) {
            std::string request = link.sent.substr(0, 13);
            link.sent.erase(0, 13);
            long offset = requestedOffset(request);
            offsets.push_back(offset);
            if (auto reply = controller(offset, ++requests)) deliver(*reply);
        }
    }

    // Ticks until the upload ends (or maxTicks pass); returns the ticks run.
    int run(int maxTicks = 100000) {
        upload.Command1_Click();
        int n = 0;
        while (n < maxTicks && upload.phase() == Upload::Phase::Running) {
            tick();
            ++n;
        }
        return n;
    }

    void putEndMarker(std::size_t offset) {
        memory[offset] = 0x0F;
        memory[offset + 1] = 0x00;
    }
};

}  // namespace progread::testing
