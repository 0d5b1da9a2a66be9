// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/headless.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <csignal>
#include <cstdio>

#include "image/portable_file.h"
#include "ui/stop_signals.h"
#include "ui/words.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace progread {

namespace {
#ifdef SIGHUP
constexpr int kHangUp = SIGHUP;
#else
constexpr int kHangUp = -1;  // no terminal to hang up: no signal is this number
#endif
}  // namespace

HeadlessRead::HeadlessRead(const FileDir& dir, const std::string& portName)
    : dir_(dir), station_(dir.path, *this), terminal_(isatty(2) != 0) {
    Words::setAudience(Words::Audience::CommandLine);
    station_.changePort(portName);
}

HeadlessRead::~HeadlessRead() {
    // The port closes as the station goes, after the members declared below it.
    station_.MSComm1.disconnect();
}

int HeadlessRead::exec() {
    // Before anything is moved or written, so that no stop request goes unanswered.
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::received, this, &HeadlessRead::interrupt);
    try {
        const FileReport::Startup startup = FileReport::start(station_, dir_);
        say(startup.where);
        if (!startup.notes.isEmpty()) say(startup.notes);
        warning_ = startup.warning;
        if (!warning_.isEmpty()) say(Words::warning(warning_));
    } catch (const Error& e) {
        sayEnding({Ending::How::Failed, {Words::error(e)}, {}});
        return 1;
    } catch (const std::exception& e) {
        // Not ours (the library's, about a path): said, not a core dump.
        sayEnding({Ending::How::Failed, {Words::stoppedOn(QString::fromLocal8Bit(e.what()))}, {}});
        return 1;
    }
    QCoreApplication::processEvents();  // a stop request that came meanwhile: no read at all
    if (result_ < 0) {
        startMs_ = QDateTime::currentMSecsSinceEpoch();
        station_.upload.Command1_Click();
        if (result_ < 0) printNotes();  // a read finished at once has told its own
    }
    // The outcome's handlers wake this loop: on Windows the port's completions run inside the
    // dispatcher's wait, which goes on waiting after them, and once the read has ended no
    // timer comes to end it.
    QEventLoop loop;
    while (result_ < 0) loop.processEvents(QEventLoop::WaitForMoreEvents);
    try {
        station_.image.close();
    } catch (const Error& e) {
        say(Words::error(e));
        return signal_ ? 128 + signal_ : 1;
    }
    return signal_ ? 128 + signal_ : result_;
}

void HeadlessRead::setCompare(const std::filesystem::path& file, std::vector<Byte> program) {
    compareFile_ = QString::fromStdString(shownPath(file));
    compareProgram_ = std::move(program);
    std::error_code ec;  // the same file on disk: a link, or a roundabout name
    compareWithImage_ = std::filesystem::equivalent(file, station_.image.imagePath(), ec);
}

void HeadlessRead::printNotes() {
    const QString notes = Words::fileNotes(station_.image.takeNotes());
    if (!notes.isEmpty()) say(notes);
}

void HeadlessRead::sayEnding(const Ending& ending) {
    for (const QString& line : ending.details) say(line);
    for (const QString& warning : ending.warnings) say(Words::warning(warning));
    say(Words::headline(ending));
}

void HeadlessRead::interrupt(int signo) {
    if (result_ >= 0 || signal_) return;
    signal_ = signo;
    // Stops as an error would: nothing more sent, what came is on disk.
    station_.upload.fail(Error(ErrorKind::Serial, signo == SIGINT    ? "interrupted (SIGINT)"
                                                  : signo == kHangUp ? "hung up (SIGHUP)"
                                                                     : "stopped (SIGTERM)"));
}

// Unchecked on purpose: with SIGPIPE ignored, a reader that went away or a terminal that hung
// up fails the write (EPIPE, EIO) and the read goes on; the exit status tells how it ended.
void HeadlessRead::say(const QString& text) {
    endLine();
    for (const QString& part : text.split(QLatin1Char('\n'))) {
        const QByteArray line = "progread: " + part.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    }
}

void HeadlessRead::endLine() {
    if (lineOpen_) std::fputc('\n', stderr);
    lineOpen_ = false;
}

void HeadlessRead::requestSent(long address, int attempt) {
    waitSaidMs_ = -1;
    const UploadSummary& summary = station_.upload.summary();
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - startMs_;
    const QString progress =
        secondFrom_ < 0 ? Words::progress(address, summary.programBytes, elapsed, summary.retries)
                        : Words::secondPass(address, secondFrom_, secondTo_);
    if (terminal_) {
        // One line, rewritten; the rest of the longer line before it is erased.
        const QByteArray line = progress.toUtf8();
        std::fprintf(stderr, "\r%s\x1b[K", line.constData());
        lineOpen_ = true;
    } else if (attempt == 1 &&
               (address - kBaseAddress) / static_cast<long>(kBlockBytes) % 64 == 0) {
        // By the block's place, not the count taken: a second read takes none.
        say(progress);
    }
    std::fflush(stderr);
}

void HeadlessRead::waitingForAnswer(long address, long long waitedMs) {
    const QString waiting = Words::waiting(address, waitedMs);
    if (terminal_) {
        std::fprintf(stderr, "\r%s\x1b[K", waiting.toUtf8().constData());
        lineOpen_ = true;
    } else if (waitSaidMs_ < 0 || waitedMs - waitSaidMs_ >= 2000) {
        // A log gets a line every other second at most, not one a tick.
        say(waiting);
        waitSaidMs_ = waitedMs;
    }
    std::fflush(stderr);
}

void HeadlessRead::replyRejected(long address, const Refusal& refusal) {
    say(Words::rejected(address, refusal));
}

void HeadlessRead::verifying(long from, long to, bool lostAnswers) {
    secondFrom_ = from;
    secondTo_ = to;
    say(Words::verifying(from, to, lostAnswers, station_.upload.summary().earlierReadsAnswers));
}

void HeadlessRead::lineRecordTrouble(const std::string& why) {
    if (trace_)
        trace_->note(QStringLiteral("line record not kept: ") + QString::fromStdString(why));
    say(Words::lineRecordTrouble(QString::fromStdString(why)));
}

void HeadlessRead::checksumsByAnotherRule() {
    say(Words::checksumsByAnotherRule());
}

void HeadlessRead::uploadFinished(const UploadSummary& summary) {
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - startMs_;
    const std::filesystem::path image = station_.image.imagePath();
    const QString digest = FileReport::sha256(image);
    if (trace_ && !digest.isEmpty()) trace_->note(QStringLiteral("duqu.pmw SHA-256 ") + digest);
    const std::vector<FileNote> notes = station_.image.takeNotes();
    Ending ending{Ending::How::Done, {}, {}};
    ending.details = Words::summary(summary, elapsed, station_.upload.verify(),
                                    QString::fromStdString(shownPath(image)),
                                    static_cast<qint64>(station_.image.size()));
    // The whole digest here, for sha256sum; the window shows its first digits.
    ending.details << FileReport::afterSummary(image, FileReport::earlierImage(notes), 0);
    if (!search_.isEmpty()) ending.details << search_;
    const QString told = Words::fileNotes(notes);
    if (!told.isEmpty()) ending.details << told;
    if (!warning_.isEmpty()) ending.warnings << warning_;
    result_ = 0;
    if (!compareFile_.isEmpty()) {
        bool same = false;
        QString why;
        const QString compared = FileReport::comparedWith(
            image, compareProgram_,
            compareWithImage_ ? FileReport::replacedImage(notes) : compareFile_, &same, &why);
        ending.details << (compared.isEmpty() ? why : compared);
        if (!same) result_ = 3;
    }
    sayEnding(ending);
    QCoreApplication::eventDispatcher()->wakeUp();  // see exec()
}

void HeadlessRead::uploadStopped(const Error& error, bool /*wasRunning*/) {
    Ending ending{signal_ ? Ending::How::Stopped : Ending::How::Failed, {}, {}};
    const Words::Signal which = signal_ == SIGINT    ? Words::Signal::Interrupt
                                : signal_ == kHangUp ? Words::Signal::HangUp
                                                     : Words::Signal::Terminate;
    ending.details << (signal_ ? Words::stoppedBySignal(which) : Words::error(error));
    const QString notes = Words::fileNotes(station_.image.takeNotes());
    if (!notes.isEmpty()) ending.details << notes;
    const QString kept = Words::keptAfterStop(station_.image);
    if (!kept.isEmpty()) ending.details << kept;
    sayEnding(ending);
    result_ = 1;
    QCoreApplication::eventDispatcher()->wakeUp();  // see exec()
}

}  // namespace progread
