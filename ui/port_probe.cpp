// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/port_probe.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "protocol/frames.h"
#include "serial/comm_port.h"

namespace progread {

std::optional<QStringList> PortProbe::candidates(const QString& text, const PortLister& ports) {
    const QString t = text.trimmed();
    const bool chinese = t.startsWith(QStringLiteral("自动"));
    if (!chinese && !t.startsWith(QStringLiteral("auto"), Qt::CaseInsensitive)) return {};
    const QString rest = t.mid(chinese ? 2 : 4);
    if (rest.startsWith(QLatin1Char(':')) || rest.startsWith(QStringLiteral("："))) {
        QStringList named;
        for (const QString& p : rest.mid(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            named << p.trimmed();
        return named;
    }
    if (!rest.isEmpty()) return {};  // "automat…": no search, just no port
    QList<PortEntry> all = ports ? ports() : QList<PortEntry>();
    std::stable_sort(all.begin(), all.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.usb && !b.usb; });
    QStringList paths;
    for (const PortEntry& p : all) paths << p.path;
    return paths;
}

ProbeResult PortProbe::probe(const QString& port, int ms) {
    using Outcome = ProbeResult::Outcome;
    CommPort line;
    line.setCommPort(port.toStdString());
    try {
        line.openPort();
    } catch (const Error& e) {
        return {port, Outcome::CannotOpen, e.facts().code};
    }
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    std::string reply;
    QObject::connect(&line, &CommPort::OnComm, &loop, [&] {
        reply = line.Input();
        loop.quit();
    });
    QObject::connect(&line, &CommPort::portLost, &loop, &QEventLoop::quit);
    std::string first;
    for (int attempt = 0; attempt < 2; ++attempt) {
        reply.clear();
        try {
            for (const Byte c : BuildReadRequest(0).chars) line.Output(c);
        } catch (const Error&) {
            return {port, Outcome::CannotOpen, ErrorFacts::Code::PortWriteFailed};
        }
        timeout.start(ms / 2);
        loop.exec();
        if (reply.empty()) break;  // silent: asking again would only cost time
        const ReplyCheck check = checkReply(reply);
        if (check || (attempt == 1 && reply == first)) {
            line.closePort();
            return {port, Outcome::Answered};
        }
        // Whole but summed by another rule: a second, identical reply will do.
        if (check.fault != ReplyFault::ChecksumMismatch) break;
        first = reply;
    }
    line.closePort();
    return {port, reply.empty() && first.empty() ? Outcome::NoAnswer : Outcome::NotAController};
}

std::optional<QString> PortProbe::find(const QStringList& candidates, QList<ProbeResult>* tried) {
    for (const QString& port : candidates) {
        const ProbeResult r = probe(port);
        if (tried) *tried << r;
        if (r.outcome == ProbeResult::Outcome::Answered) return port;
    }
    return {};
}

QString PortProbe::column(const ProbeResult& result) {
    switch (result.outcome) {
        case ProbeResult::Outcome::Answered:
            return QStringLiteral("answered");
        case ProbeResult::Outcome::NoAnswer:
            return QStringLiteral("no answer");
        case ProbeResult::Outcome::NotAController:
            return QStringLiteral("not a controller");
        case ProbeResult::Outcome::CannotOpen:
            return QStringLiteral("cannot open");
    }
    return {};
}

}  // namespace progread
