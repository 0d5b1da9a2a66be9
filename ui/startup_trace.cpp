// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/startup_trace.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace progread {

namespace {

using Clock = std::chrono::steady_clock;

// Taken while the program is loaded, before main().
const Clock::time_point gLoaded = Clock::now();

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

class ExposeWatch : public QObject {
public:
    explicit ExposeWatch(QWindow* window) : QObject(window), window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Expose && window_->isExposed()) {
            window_->removeEventFilter(this);
            // Once the expose event has been handled, the first frame is painted.
            QTimer::singleShot(0, this, [this] {
                const double monotonic =
                    std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch())
                        .count();
                std::fprintf(stderr,
                             "progread: startup trace: window shown %.1f ms after load (monotonic "
                             "%.3f ms)\n",
                             msSince(gLoaded), monotonic);
                std::fflush(stderr);
                deleteLater();
            });
        }
        return false;
    }

private:
    QWindow* window_;
};

}  // namespace

void traceWindowShown(QWidget& window) {
    const char* on = std::getenv("PROGREAD_STARTUP_TRACE");
    if (!on || !*on || std::strcmp(on, "0") == 0) return;
    QWindow* handle = window.windowHandle();
    if (!handle) return;
    handle->installEventFilter(new ExposeWatch(handle));
}

}  // namespace progread
