#pragma once

// SIGINT and SIGTERM as a Qt signal on the event loop, so that a stop request ends a read
// the way an error does. A signal handler may only write to a pipe; the loop reads it.
// POSIX only; on Windows nothing is caught.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace progread {

class StopSignals : public QObject {
    Q_OBJECT

public:
    // Catches SIGINT and SIGTERM until destroyed (one instance at a time).
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void received(int signo);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace progread
