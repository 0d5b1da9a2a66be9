// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/trace_file.h"

#include <QDateTime>
#include <cstdio>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace progread {

namespace {

// Qt's messages and where they go; one set for the process.
struct QtMessages {
    std::mutex mutex;
    bool caught = false;
    QtMessageHandler previous = nullptr;
    bool holding = false;  // a trace was asked for and is not open yet
    TraceFile* trace = nullptr;
    std::vector<std::pair<QDateTime, QString>> held;
};

QtMessages& qtMessages() {
    static QtMessages messages;
    return messages;
}

// Enough for what Qt says while starting; a flood before the trace opens is cut short.
constexpr std::size_t kHeldQtMessages = 32;

// Set while a line goes into a trace: what Qt says about that write cannot go into it too.
thread_local bool tWriting = false;

QString qtMessageLine(QtMsgType type, const QString& message) {
    const char* kind = type == QtDebugMsg      ? "debug"
                       : type == QtInfoMsg     ? "info"
                       : type == QtWarningMsg  ? "warning"
                       : type == QtCriticalMsg ? "critical"
                                               : "message";
    return QStringLiteral("Qt %1: %2").arg(QLatin1String(kind), message);
}

void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    QtMessages& m = qtMessages();
    if (type == QtFatalMsg) {
        if (m.previous) {
            m.previous(type, context, message);
        } else {
            std::fprintf(stderr, "%s\n",
                         qFormatLogMessage(type, context, message).toLocal8Bit().constData());
        }
        return;
    }
    if (tWriting) return;
    const std::lock_guard lock(m.mutex);
    if (m.trace) {
        m.trace->note(qtMessageLine(type, message));
    } else if (m.holding && m.held.size() < kHeldQtMessages) {
        m.held.emplace_back(QDateTime::currentDateTime(), qtMessageLine(type, message));
    }
}

}  // namespace

void catchQtMessages(bool traceAsked) {
    QtMessages& m = qtMessages();
    const std::lock_guard lock(m.mutex);
    m.holding = traceAsked;
    if (m.caught) return;
    m.caught = true;
    m.previous = qInstallMessageHandler(onQtMessage);
}

TraceFile::~TraceFile() {
    QtMessages& m = qtMessages();
    const std::lock_guard lock(m.mutex);
    if (m.trace == this) m.trace = nullptr;
}

void TraceFile::takeQtMessages() {
    QtMessages& m = qtMessages();
    const std::lock_guard lock(m.mutex);
    for (const auto& [when, line] : m.held) write(QStringLiteral("== ") + line, when);
    m.held.clear();
    m.holding = false;
    m.trace = this;
}

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

void TraceFile::write(const QString& line, const QDateTime& when) {
    const QString stamp = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const std::lock_guard lock(mutex_);
    tWriting = true;
    file_.write((stamp + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8());
    file_.flush();  // a trace is wanted most when the tool is stopped hard
    tWriting = false;
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
