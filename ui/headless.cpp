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
    station_.changePort(portName);
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
