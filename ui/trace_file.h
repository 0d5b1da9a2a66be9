// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// --trace FILE: one line per request and answer, appended, for whoever has to find out what
// the line did. The lines are English, like any log.

#include <QFile>
#include <QString>
#include <filesystem>
#include <string>

#include "upload/links.h"

namespace progread {

// Control characters by name ("<STX>", "<ETX>", "<NAK>", else "<0x1B>"); the rest as it is.
QString traceChars(const std::string& chars);
const char* verdictName(LineTrace::Verdict verdict);

class TraceFile : public LineTrace {
public:
    // False, with the system's reason, when the file cannot be opened for appending.
    bool open(const std::filesystem::path& path, QString* why);
    void sent(const std::string& chars) override;
    void received(const std::string& chars, Verdict verdict, const std::string& reason) override;
    // A line of the tool's own, such as the published image's digest.
    void note(const QString& text) { write(QStringLiteral("== ") + text); }

private:
    void write(const QString& line);
    QFile file_;
};

}  // namespace progread
