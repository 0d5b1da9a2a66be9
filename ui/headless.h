// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// progread --read PORT: one upload without a window, progress and the outcome on stderr.

#include <QObject>
#include <filesystem>
#include <string>

#include "ui/file_report.h"
#include "ui/station.h"
#include "ui/trace_file.h"
#include "ui/words.h"

namespace progread {

class HeadlessRead : public QObject, private UploadView {
    Q_OBJECT

public:
    HeadlessRead(const FileDir& dir, const std::string& portName);
    ~HeadlessRead() override;
    // 0: a complete image was written; 1: the upload failed; 128 + the signal's number when
    // SIGHUP, SIGINT or SIGTERM stopped it.
    int exec();
    void setBackToBack(bool on) { station_.setBackToBack(on); }
    void setVerify(bool on) { station_.setVerify(on); }
    void setTrace(TraceFile* trace) {
        trace_ = trace;
        station_.setTrace(trace);
    }
    // How the controller's port was found (--read auto), said again in the summary.
    void setSearch(const QString& search) { search_ = search; }
    // --compare: the program read is compared with this one, from the file named; exit status
    // 3 when they differ. Before exec(): the file may be the duqu.pmw this read replaces.
    void setCompare(const std::filesystem::path& file, std::vector<Byte> program);

private:
    void showProgress(const std::string&) override {}
    void requestSent(long address, int attempt) override;
    void replyRejected(long address, const Refusal& refusal) override;
    void checksumsByAnotherRule() override;
    void lineRecordTrouble(const std::string& why) override;
    void verifying(long from, long to, bool lostAnswers) override;
    void waitingForAnswer(long address, long long waitedMs) override;
    void uploadFinished(const UploadSummary& summary) override;
    void uploadStopped(const Error& error, bool wasRunning) override;
    void endLine();
    void say(const QString& text);
    void sayEnding(const Ending& ending);
    void interrupt(int signo);
    void printNotes();

    FileDir dir_;
    Station station_;
    bool terminal_;
    bool lineOpen_ = false;
    int result_ = -1;
    int signal_ = 0;
    qint64 startMs_ = 0;
    // The wait last told into a pipe; -1: not yet for this request.
    long long waitSaidMs_ = -1;
    QString warning_;  // said at start-up, and again with the result
    // The blocks of a second read, once it runs.
    long secondFrom_ = -1;
    long secondTo_ = -1;
    TraceFile* trace_ = nullptr;
    QString search_;
    QString compareFile_;
    bool compareWithImage_ = false;  // the file is duqu.pmw, by another name or not
    std::vector<Byte> compareProgram_;
};

}  // namespace progread
