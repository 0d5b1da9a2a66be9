// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window and the headless mode share: the port, the 100 ms timer, the image file
// and the one upload that drives them. The timer's ticks, the port's notifications and a
// lost port all go to the upload here; the window and the headless mode only forward what
// the operator does and show what comes back.

#include <QLockFile>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "image/program_image.h"
#include "serial/comm_port.h"
#include "upload/upload.h"

namespace progread {

class Station : public QObject, public Ticker {
    Q_OBJECT

public:
    static constexpr int kTickMs = 100;

    Station(const std::filesystem::path& dir, UploadView& view, QObject* parent = nullptr);

    void setTimerEnabled(bool enabled) override;
    bool timerEnabled() const override { return Timer1.isActive() || (inTick_ && !stoppedInTick_); }
    void restartPeriod() override;
    void wakeAt(long long ms) override;
    long long nowMs() const override { return monotonicMs(); }
    // The system's monotonic clock, which every process shares: the line's record per port
    // compares times across processes.
    static long long monotonicMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    // Where the line's records per device lie, for every progread on the machine, the port
    // search's included: the first that can be had.
    static std::vector<std::filesystem::path> lineRecordFolders();

    // Takes the folder for this process and prepares the image (raises a File error when
    // either cannot be done: another progread in the same folder would publish our files as
    // its own). Returns a warning for the operator when the template gave less than a whole
    // header, else an empty text.
    QString prepareImage();

    // The port the next open uses; an upload running on the old one stops.
    void changePort(const std::string& portName);
    // --fast: requests back to back instead of on the tick.
    void setBackToBack(bool on) { upload.setBackToBack(on); }
    // --verify: every read is read a second time and must agree before it is published.
    void setVerify(bool on) { upload.setVerify(on); }
    // --trace: every request and answer is told to trace (null: none).
    void setTrace(LineTrace* trace) { upload.setTrace(trace); }

    CommPort MSComm1;
    QTimer Timer1;
    ProgramImage image;
    Upload upload;

private:
    void tick();
    QString lockName(const std::filesystem::path& lock);
    bool inTick_ = false;
    bool stoppedInTick_ = false;
    QTimer wake_;
    std::unique_ptr<LineRecordFiles> records_;
    // The folder held open while the lock names it through /proc (a name that is not UTF-8);
    // declared first, so that it outlives the lock.
    struct FolderHandle {
        int fd = -1;
        ~FolderHandle();
    } lockFolder_;
    std::unique_ptr<QLockFile> folderLock_;
};

}  // namespace progread
