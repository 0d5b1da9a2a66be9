#include "ui/headless.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace progread {

HeadlessRead::HeadlessRead(const std::filesystem::path& dir, const std::string& portName)
    : station_(dir, *this), terminal_(isatty(2) != 0) {
    station_.MSComm1.setCommPort(portName);
    connect(&station_.Timer1, &QTimer::timeout, this, [this] { station_.upload.Timer1_Timer(); });
    connect(&station_.MSComm1, &CommPort::OnComm, this, [this] { station_.upload.MSComm1_OnComm(); });
}

int HeadlessRead::exec() {
    try {
        const std::string warning = station_.prepareImage();
        if (!warning.empty()) std::fprintf(stderr, "progread: warning: %s\n", warning.c_str());
    } catch (const Error& e) {
        std::fprintf(stderr, "progread: %s\n", e.message().c_str());
        return 1;
    }
    startMs_ = QDateTime::currentMSecsSinceEpoch();
    station_.upload.Command1_Click();
    QEventLoop loop;
    while (result_ < 0) loop.processEvents(QEventLoop::WaitForMoreEvents);
    try {
        station_.image.close();
    } catch (const Error& e) {
        std::fprintf(stderr, "progread: %s\n", e.message().c_str());
        return 1;
    }
    return result_;
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

void HeadlessRead::uploadFinished(const UploadSummary& summary) {
    endLine();
    const double seconds = static_cast<double>(QDateTime::currentMSecsSinceEpoch() - startMs_) / 1000.0;
    std::fprintf(stderr, "progread: read %ld program bytes (%d blocks, %d requests repeated) in %.1f s\n",
                 summary.programBytes, summary.blocks, summary.retries, seconds);
    std::fprintf(stderr, "progread: image %s (%ju bytes)\n", station_.image.imagePath().string().c_str(),
                 static_cast<std::uintmax_t>(station_.image.size()));
    result_ = 0;
}

void HeadlessRead::uploadStopped(const Error& error, bool) {
    endLine();
    std::fprintf(stderr, "progread: stopped: %s\n", error.message().c_str());
    std::fprintf(stderr, "progread: %s holds the %d blocks read before the stop, without a tail\n",
                 station_.image.imagePath().string().c_str(), station_.upload.summary().blocks);
    result_ = 1;
}

}  // namespace progread
