// SPDX-License-Identifier: GPL-3.0-or-later
// The read itself: its progress, the second pass, the summary and how it ended. Line and
// port troubles are in words_line.cpp, files and folders in words_files.cpp.
#include "ui/words.h"

#include "upload/upload.h"

namespace progread {

Words::Audience Words::audience_ = Words::Audience::CommandLine;

void Words::setAudience(Audience audience) {
    audience_ = audience;
}

QString Words::then(const QString& first, const QString& second) {
    if (first.isEmpty()) return second;
    if (second.isEmpty()) return first;
    return tr("%1 %2", "one sentence after another").arg(first, second);
}

QString Words::apart(const QString& first, const QString& second) {
    if (first.isEmpty()) return second;
    if (second.isEmpty()) return first;
    return first + QLatin1Char('\n') + second;
}

QString Words::address(long address) {
    return QString::fromStdString(hexAddress(address));
}

long Words::blockNumber(long address) {
    return (address - kBaseAddress) / static_cast<long>(kBlockBytes) + 1;
}

QString Words::block(long address) {
    return atBlock(tr("block %1 (%2)"), address);
}

QString Words::atBlock(const QString& sentence, long address) {
    return sentence.arg(blockNumber(address)).arg(Words::address(address));
}

QString Words::blocks(long n) {
    return n == 1 ? tr("1 block") : tr("%1 blocks").arg(n);
}

QString Words::retries(long n) {
    return n == 1 ? tr("1 retry") : tr("%1 retries").arg(n);
}

long Words::rate(long bytes, qint64 elapsedMs) {
    return elapsedMs > 0 ? static_cast<long>(static_cast<qint64>(bytes) * 1000 / elapsedMs) : 0;
}

QString Words::progress(long address, long bytes, qint64 elapsedMs, int retries) {
    return atBlock(tr("Block %1 (%2): %3 bytes read, %4 bytes/s, %5 s, %6."), address)
        .arg(bytes)
        .arg(rate(bytes, elapsedMs))
        .arg(static_cast<double>(elapsedMs) / 1000.0, 0, 'f', 1)
        .arg(Words::retries(retries));
}

QString Words::attempt(int attempt, int most) {
    return tr("Request %1 of at most %2.").arg(attempt).arg(most);
}

QString Words::secondPass(long address, long from, long to) {
    const long step = static_cast<long>(kBlockBytes);
    return tr("Second read to check: block %1 of %2.")
        .arg((address - from) / step + 1)
        .arg((to - from) / step + 1);
}

QString Words::verifying(long from, long to, bool lostAnswers, bool earlierRead) {
    if (!lostAnswers) return tr("Every block is read a second time to check it.");
    return (earlierRead ? tr("Answers owed to an earlier read on this port came and were dropped: "
                             "the blocks from %1 to %2 are read a second time to be sure.")
                        : tr("Answers were lost on the way: the blocks from %1 to %2 are read a "
                             "second time to be sure."))
        .arg(Words::address(from), Words::address(to));
}

QString Words::checksumsByAnotherRule() {
    return tr(
        "The controller forms its reply checksums by another rule: each block is read twice "
        "and taken only when both reads agree.");
}

QString Words::lineRecordTrouble(const QString& why) {
    return tr("The record of answers still owed on this port cannot be kept (%1): a read started "
              "right after this one stops may take an answer owed to it. Check the folder's "
              "permissions.")
        .arg(why);
}

QString Words::rejected(long address, const Refusal& why) {
    return atBlock(tr("Block %1 (%2): %3; asking again."), address).arg(refusal(why));
}

QStringList Words::summary(const UploadSummary& summary, qint64 elapsedMs, bool verified,
                           const QString& imagePath, qint64 imageBytes) {
    QString text = tr("Read %1 bytes, %2, in %3 s (%4 bytes/s), %5.")
                       .arg(summary.programBytes)
                       .arg(blocks(summary.blocks))
                       .arg(static_cast<double>(elapsedMs) / 1000.0, 0, 'f', 1)
                       .arg(rate(summary.programBytes, elapsedMs))
                       .arg(retries(summary.retries));
    if (verified) text = then(text, tr("Verified: a second read agreed byte for byte."));
    if (summary.confirmedBlocks > 0) {
        text = then(
            text,
            summary.confirmedBlocks == 1
                ? tr("1 block was confirmed by a second reply.")
                : tr("%1 blocks were confirmed by a second reply.").arg(summary.confirmedBlocks));
    }
    if (summary.verifiedBlocks > 0 && !verified) {
        // Without --verify, only answers out of count make a second read.
        text = then(text, summary.earlierReadsAnswers
                              ? tr("Answers owed to an earlier read on this port came and were "
                                   "dropped, so a second read checked %1, and both reads agreed.")
                                    .arg(blocks(summary.verifiedBlocks))
                              : tr("Answers were lost on the way, so a second read checked %1, "
                                   "and both reads agreed.")
                                    .arg(blocks(summary.verifiedBlocks)));
    }
    return {text, tr("Image: %1 (%2 bytes).").arg(imagePath).arg(imageBytes)};
}

QString Words::headline(const Ending& ending) {
    switch (ending.how) {
        case Ending::How::Done:
            return ending.warnings.isEmpty() ? tr("Done") : tr("Done, with a warning");
        case Ending::How::Failed:
            return tr("Read failed");
        case Ending::How::Stopped:
            return tr("Stopped");
        case Ending::How::None:
            break;
    }
    return {};
}

QString Words::warning(const QString& text) {
    return tr("Warning: %1").arg(text);
}

QString Words::stoppedByOperator() {
    return tr("停止 was pressed.");
}

QString Words::stoppedBySignal(Signal signal) {
    switch (signal) {
        case Signal::Interrupt:
            return tr("Interrupted (SIGINT).");
        case Signal::HangUp:
            return tr("Hung up (SIGHUP).");
        case Signal::Terminate:
            break;
    }
    return tr("Stopped (SIGTERM).");
}

QString Words::stoppedOn(const QString& what) {
    return tr("Stopped: %1").arg(what);
}

QString Words::waiting(long address, long long waitedMs) {
    // Whole seconds: it is told about once a second, and tenths would only flicker.
    return atBlock(tr("Waiting for the answer to block %1 (%2), %3 s."), address)
        .arg(waitedMs / 1000);
}

}  // namespace progread
