// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/stop_signals.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>
#else
#include <windows.h>

#include <csignal>
#include <mutex>
#endif

namespace progread {

#ifndef _WIN32

namespace {

int gPipe[2] = {-1, -1};
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gOld[std::size(kStopSignals)];

void onStopSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (gPipe[0] >= 0 || ::pipe(gPipe) != 0) return;
    for (int fd : gPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(gPipe[0], &byte, 1) == 1) emit received(static_cast<unsigned char>(byte));
    });
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        const int signo = kStopSignals[i];
        ::sigaction(signo, nullptr, &gOld[i]);
        // Whoever started us under nohup wants the read to outlive the terminal.
        if (signo == SIGHUP && gOld[i].sa_handler == SIG_IGN) continue;
        ::sigaction(signo, &sa, nullptr);
    }
    // A closed pipe then fails the write with EPIPE instead of ending the process. Not put
    // back: a line said on the way out must not turn the outcome into 141 either.
    ::signal(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
    if (!notifier_) return;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &gOld[i], nullptr);
    notifier_.reset();
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

#else

namespace {

std::mutex gMutex;
StopSignals* gInstance = nullptr;

// Windows calls this on a thread of its own. Ctrl+C and Ctrl+Break are told to the loop and
// the process goes on, to stop as on SIGINT; anything else (the console closed) ends it.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    const std::lock_guard<std::mutex> hold(gMutex);
    if (!gInstance) return FALSE;
    StopSignals* to = gInstance;
    QMetaObject::invokeMethod(
        to, [to] { emit to->received(SIGINT); }, Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    const std::lock_guard<std::mutex> hold(gMutex);
    if (gInstance) return;
    gInstance = this;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopSignals::~StopSignals() {
    const std::lock_guard<std::mutex> hold(gMutex);
    if (gInstance != this) return;
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    gInstance = nullptr;
}

#endif

}  // namespace progread
