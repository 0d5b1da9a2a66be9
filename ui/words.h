// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every sentence the operator reads about a read, the same in the window and in --read.

#include <QCoreApplication>
#include <QString>

#include "image/compare.h"
#include "protocol/error.h"
#include "ui/file_report.h"
#include "ui/port_list.h"
#include "ui/port_probe.h"
#include "upload/links.h"

namespace progread {

// How a read ended, in a word, and what there is to know about it: the window shows the word
// first, large and in colour; --read says it last, where the eye lands.
struct Ending {
    enum class How { None, Done, Failed, Stopped };
    How how = How::None;
    QStringList details;
    QStringList warnings;  // each apart, in red in the window
    bool empty() const { return how == How::None && details.isEmpty() && warnings.isEmpty(); }
};

class Words {
    Q_DECLARE_TR_FUNCTIONS(Words)

public:
    // Who reads the advice: the window's operator is never told of command-line options.
    enum class Audience { Window, CommandLine };
    static void setAudience(Audience audience);

    // Two sentences in a row (no space between them in Chinese).
    static QString then(const QString& first, const QString& second);
    // What happened, and what to do about it: a line each.
    static QString apart(const QString& first, const QString& second);
    // "0x8040"
    static QString address(long address);
    // The block at an address, counted from 1 as the operator counts them (程序步 shows the
    // offset instead).
    static long blockNumber(long address);
    // "block 3 (0x8040)"
    static QString block(long address);
    // A sentence whose %1 is the block's number and %2 its address, filled in.
    static QString atBlock(const QString& sentence, long address);
    // Block, bytes so far, rate, elapsed time, retries: the status line while reading.
    static QString progress(long address, long bytes, qint64 elapsedMs, int retries);
    // "Request 2 of at most 3.", after the progress of a request sent again.
    static QString attempt(int attempt, int most);
    // The second read's own count: "Second read to check: block 7 of 41".
    static QString secondPass(long address, long from, long to);
    // Why the blocks from..to are read a second time.
    static QString verifying(long from, long to, bool lostAnswers, bool earlierRead = false);
    static QString checksumsByAnotherRule();
    // The record of answers still owed on the port cannot be kept (why: file and reason).
    static QString lineRecordTrouble(const QString& why);
    // A reply refused; the block is asked for again.
    static QString rejected(long address, const Refusal& refusal);
    // The figures of a finished read, then the image's path and size: a line each.
    static QStringList summary(const UploadSummary& summary, qint64 elapsedMs, bool verified,
                               const QString& imagePath, qint64 imageBytes);
    // "Done", "Done, with a warning", "Read failed", "Stopped"; empty for no ending.
    static QString headline(const Ending& ending);
    // The template gave less than a whole header: what the image's header is then.
    static QString templateMissing(const QString& path);
    static QString templateShort(const QString& path, long bytes);
    // "Warning: …"
    static QString warning(const QString& text);
    // The operator pressed 停止.
    static QString stoppedByOperator();
    // --read stopped by a signal, or by an error that is not the tool's own (English).
    enum class Signal { Interrupt, HangUp, Terminate };
    static QString stoppedBySignal(Signal signal);
    static QString stoppedOn(const QString& what);
    // The window's port field and what comes of it.
    static QString opening(const QString& port);
    static QString port(const QString& port);
    static QString portOpen(const QString& port);
    static QString pressToSearch();
    // How the program read compares with the read kept in history/ (when: its time), or with
    // a file (named).
    static QString comparedWithEarlier(const ProgramDiff& diff, const QString& when);
    static QString comparedWithFile(const ProgramDiff& diff, const QString& file);
    // The file comparedWithFile names when it was the duqu.pmw this read replaced: the copy in
    // history/ that holds its bytes now (kept), or none, the read being the same bytes.
    static QString replacedImage(const QString& kept);
    static QString notAnImage(const QString& file, NotAnImage why);
    // How a port tried for the controller came out, and what was tried.
    static QString probeOutcome(const ProbeResult& result);
    static QString portsTried(const QList<ProbeResult>& tried);
    // Looking for the controller's port (自动, --read auto), and how it went.
    static QString lookingForController();
    static QString controllerFound(const QString& port);
    static QString noControllerAnswered(const QString& tried);
    // "Fingerprint (SHA-256): 3f2a…": as much of the digest as is given.
    static QString fingerprint(const QString& hex);
    // "Files are kept in …": where moban.pmw, duqu.pmw, its .part and history/ lie, and why.
    static QString filesKeptIn(const FileDir& dir);
    // What was done to files, one sentence per note.
    static QString fileNotes(const std::vector<FileNote>& notes);
    // After a read stopped: which file holds what, and which read duqu.pmw still holds.
    // Empty when there is neither.
    static QString keptAfterStop(const ProgramImage& image);
    // "2026-12-08 04:25" out of a file stamp "20261208-042512".
    static QString readTime(const std::string& stamp);
    // "Waiting for the answer to block 288 (0x8120), 4 s": a long wait, in whole seconds.
    static QString waiting(long address, long long waitedMs);
    // Why a reply was refused.
    static QString refusal(const Refusal& refusal);
    // An error in the operator's language, with what to check. ports lists the ports the
    // system has, named when the one asked for cannot be used.
    static QString error(const Error& error, const PortLister& ports = systemPorts);
    // The port field holds no port: what is wrong and what to type.
    static QString portHint(const Error& error);
    // "1 block", "7 blocks"; "1 retry", "3 retries"
    static QString blocks(long n);
    static QString retries(long n);
    // Bytes a second, 0 until the clock has moved.
    static long rate(long bytes, qint64 elapsedMs);

private:
    static QString differences(const ProgramDiff& diff);
    static QString lineError(const ErrorFacts& f, const PortLister& ports);
    static QString portError(const ErrorFacts& f, const PortLister& ports);
    static QString permissionDenied(const ErrorFacts& f);
    static QString folderError(const ErrorFacts& f);
    static QString fileFailed(const ErrorFacts& f);
    static QString portsNow(const QList<PortEntry>& ports);
    static QString lineSettings();
    static Audience audience_;
};

}  // namespace progread
