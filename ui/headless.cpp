#include "ui/headless.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <csignal>
#include <cstdio>

#include "ui/stop_signals.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace progread {

HeadlessRead::HeadlessRead(const FileDir& dir, const std::string& portName)
    : dir_(dir), station_(dir.path, *this), terminal_(isatty(2) != 0) {
    station_.changePort(portName);
}

int HeadlessRead::exec() {
    // Before anything is moved or written, so that no stop request goes unanswered.
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::received, this, &HeadlessRead::interrupt);
    try {
        const std::string warning = station_.prepareImage();
        std::fprintf(stderr, "progread: %s\n", qPrintable(FileReport::where(dir_)));
        printNotes();
        if (!warning.empty()) std::fprintf(stderr, "progread: warning: %s\n", warning.c_str());
    } catch (const Error& e) {
        std::fprintf(stderr, "progread: %s\n", e.message().c_str());
        return 1;
    }
    QCoreApplication::processEvents();  // a stop request that came meanwhile: no read at all
    if (result_ < 0) {
        startMs_ = QDateTime::currentMSecsSinceEpoch();
        station_.upload.Command1_Click();
        printNotes();
    }
    QEventLoop loop;
    while (result_ < 0) loop.processEvents(QEventLoop::WaitForMoreEvents);
    try {
        station_.image.close();
    } catch (const Error& e) {
        std::fprintf(stderr, "progread: %s\n", e.message().c_str());
        return signal_ ? 128 + signal_ : 1;
    }
    return signal_ ? 128 + signal_ : result_;
}

void HeadlessRead::printNotes() {
    const QString notes = FileReport::notes(station_.image.takeNotes());
    if (!notes.isEmpty()) std::fprintf(stderr, "progread: %s\n", qPrintable(notes));
}

void HeadlessRead::interrupt(int signo) {
    if (result_ >= 0 || signal_) return;
    signal_ = signo;
    // Stops as an error would: nothing more sent, what came is on disk.
    station_.upload.fail(
        Error(ErrorKind::Serial, signo == SIGINT ? "interrupted (SIGINT)" : "stopped (SIGTERM)"));
}

void HeadlessRead::endLine() {
    if (lineOpen_) std::fputc('\n', stderr);
    lineOpen_ = false;
}

void HeadlessRead::requestSent(long address, int attempt) {
    const int block = station_.upload.summary().blocks;
    if (terminal_) {
        std::fprintf(stderr, "\rreading block %d at %s%s", block, hexAddress(address).c_str(),
                     attempt > 1 ? " (again)  " : "          ");
        lineOpen_ = true;
    } else if (attempt == 1 && block % 64 == 0) {
        std::fprintf(stderr, "progread: reading block %d at %s\n", block, hexAddress(address).c_str());
    }
    std::fflush(stderr);
}

void HeadlessRead::replyRejected(long address, const std::string& reason) {
    endLine();
    std::fprintf(stderr, "progread: block %s: %s; asking again\n", hexAddress(address).c_str(),
                 reason.c_str());
}

void HeadlessRead::verifying(long from, long to, bool lostAnswers) {
    endLine();
    if (lostAnswers) {
        std::fprintf(stderr, "progread: answers were lost on the way: reading blocks %s to %s a second time to be sure\n",
                     hexAddress(from).c_str(), hexAddress(to).c_str());
    } else {
        std::fprintf(stderr, "progread: reading every block a second time to check it\n");
    }
}

void HeadlessRead::checksumsByAnotherRule() {
    endLine();
    std::fprintf(stderr,
                 "progread: the controller forms its reply checksums by another rule: each block is read "
                 "twice and taken only when both reads agree\n");
}

void HeadlessRead::uploadFinished(const UploadSummary& summary) {
    endLine();
    const double seconds = static_cast<double>(QDateTime::currentMSecsSinceEpoch() - startMs_) / 1000.0;
    std::fprintf(stderr, "progread: read %ld program bytes (%d blocks, %d requests repeated) in %.1f s\n",
                 summary.programBytes, summary.blocks, summary.retries, seconds);
    if (summary.confirmedBlocks > 0) {
        std::fprintf(stderr, "progread: %d blocks confirmed by a second read\n", summary.confirmedBlocks);
    }
    if (summary.verifiedBlocks > 0) {
        std::fprintf(stderr, "progread: %d blocks read twice and agreed\n", summary.verifiedBlocks);
    }
    std::fprintf(stderr, "progread: image %s (%ju bytes)\n",
                 station_.image.imagePath().string().c_str(),
                 static_cast<std::uintmax_t>(station_.image.size()));
    printNotes();
    result_ = 0;
}

void HeadlessRead::uploadStopped(const Error& error, bool wasRunning) {
    endLine();
    if (signal_) {
        std::fprintf(stderr, "progread: %s\n", error.description().c_str());
    } else {
        std::fprintf(stderr, "progread: stopped: %s\n", error.message().c_str());
    }
    const QString kept = FileReport::kept(station_.image);
    if (wasRunning && !kept.isEmpty()) std::fprintf(stderr, "progread: %s\n", qPrintable(kept));
    result_ = 1;
}

}  // namespace progread
