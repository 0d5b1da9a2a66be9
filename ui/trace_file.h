// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// --trace FILE: one line per request and answer, appended, for whoever has to find out what
// the line did. The lines are English, like any log.

#include <QDateTime>
#include <QFile>
#include <QString>
#include <filesystem>
#include <mutex>
#include <string>

#include "upload/links.h"

namespace progread {

// Control characters by name ("<STX>", "<ETX>", "<NAK>", else "<0x1B>"); the rest as it is.
QString traceChars(const std::string& chars);
const char* verdictName(LineTrace::Verdict verdict);

class TraceFile : public LineTrace {
public:
    ~TraceFile() override;
    // False, with the system's reason, when the file cannot be opened for appending.
    bool open(const std::filesystem::path& path, QString* why);
    void sent(const std::string& chars) override;
    void received(const std::string& chars, Verdict verdict, const std::string& reason) override;
    // A line of the tool's own, such as the published image's digest.
    void note(const QString& text) { write(QStringLiteral("== ") + text); }
    // From now until this trace goes, Qt's own messages are its notes; those held back
    // since catchQtMessages() come first, with the time they came.
    void takeQtMessages();

private:
    void write(const QString& line, const QDateTime& when = QDateTime::currentDateTime());
    QFile file_;
    std::mutex mutex_;  // Qt may warn on a thread of its own
};

// Qt's own warnings (English, about the system: a runtime folder's permissions, a missing
// plugin) are for whoever reads the trace, never the operator's screen. Installed first
// thing: with traceAsked, a few are held until TraceFile::takeQtMessages(); without, they
// go nowhere. A fatal one is still Qt's to tell.
void catchQtMessages(bool traceAsked);

}  // namespace progread
