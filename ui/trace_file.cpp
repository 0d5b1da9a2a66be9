// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/trace_file.h"

#include <QDateTime>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace progread {

QString traceChars(const std::string& chars) {
    QString out;
    for (const char ch : chars) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case 0x02:
                out += QStringLiteral("<STX>");
                break;
            case 0x03:
                out += QStringLiteral("<ETX>");
                break;
            case 0x06:
                out += QStringLiteral("<ACK>");
                break;
            case 0x15:
                out += QStringLiteral("<NAK>");
                break;
            case 0x0D:
                out += QStringLiteral("<CR>");
                break;
            case 0x0A:
                out += QStringLiteral("<LF>");
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    out += QStringLiteral("<0x%1>").arg(
                        QString::number(c, 16).toUpper().rightJustified(2, QLatin1Char('0')));
                } else {
                    out += QLatin1Char(ch);
                }
        }
    }
    return out;
}

const char* verdictName(LineTrace::Verdict verdict) {
    switch (verdict) {
        case LineTrace::Verdict::Accepted:
            return "accepted";
        case LineTrace::Verdict::ConfirmedTwin:
            return "accepted, repeats the reply before";
        case LineTrace::Verdict::Refused:
            return "rejected";
        case LineTrace::Verdict::EarlierBlock:
            return "dropped: an answer to an earlier request";
        case LineTrace::Verdict::Stray:
            return "dropped as stray: nothing was asked";
        case LineTrace::Verdict::OutOfStep:
            return "out of step: came when none was due";
        case LineTrace::Verdict::BeforeFirstRequest:
            return "dropped: before the first request";
        case LineTrace::Verdict::Echo:
            return "dropped: echo of our request";
        case LineTrace::Verdict::Repeat:
            return "dropped: the answer before, again";
        case LineTrace::Verdict::Noise:
            return "dropped: noise";
    }
    return "?";
}

bool TraceFile::open(const std::filesystem::path& path, QString* why) {
#ifdef _WIN32
    file_.setFileName(QString::fromStdU16String(path.u16string()));
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return true;
    if (why) *why = file_.errorString();
    return false;
#else
    // By the name's own bytes: Qt reads a name as UTF-8, and one in GBK would be another file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (why) *why = qt_error_string(errno);
        return false;
    }
    if (file_.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle))
        return true;
    if (why) *why = file_.errorString();
    ::close(fd);
    return false;
#endif
}

void TraceFile::write(const QString& line) {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    file_.write((stamp + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8());
    file_.flush();  // a trace is wanted most when the tool is stopped hard
}

void TraceFile::sent(const std::string& chars) {
    write(QStringLiteral("-> ") + traceChars(chars));
}

void TraceFile::received(const std::string& chars, Verdict verdict, const std::string& reason) {
    QString line = QStringLiteral("<- ") + traceChars(chars) + QStringLiteral("  ") +
                   QLatin1String(verdictName(verdict));
    if (!reason.empty()) line += QStringLiteral(": ") + QString::fromStdString(reason);
    write(line);
}

}  // namespace progread
