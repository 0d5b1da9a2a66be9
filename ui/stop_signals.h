// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// SIGINT, SIGTERM and SIGHUP as a Qt signal on the event loop, so that a stop request ends a
// read the way an error does. A signal handler may only write to a pipe; the loop reads it.
// SIGPIPE is ignored from then on: a closed standard error must not end a read.
// On Windows, Ctrl+C and Ctrl+Break in the console come as SIGINT.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace progread {

class StopSignals : public QObject {
    Q_OBJECT

public:
    // Catches SIGINT, SIGTERM and SIGHUP until destroyed (one instance at a time). A SIGHUP
    // ignored at start (nohup) stays ignored.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void received(int signo);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace progread
