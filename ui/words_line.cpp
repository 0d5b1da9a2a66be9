// SPDX-License-Identifier: GPL-3.0-or-later
// The line and the port: what went wrong on them, and what to check.
#include <algorithm>

#include "ui/words.h"

namespace progread {

QString Words::lookingForController() {
    return tr("Looking for the controller…");
}

QString Words::controllerFound(const QString& port) {
    return tr("The controller answered on %1.").arg(port);
}

QString Words::noControllerAnswered(const QString& tried) {
    return then(tr("No controller answered."), tried);
}

QString Words::opening(const QString& port) {
    return tr("Opening %1…").arg(port);
}

QString Words::port(const QString& port) {
    return tr("Port: %1.").arg(port);
}

QString Words::portOpen(const QString& port) {
    return tr("Port %1 is open. Press 读入 to read the program.").arg(port);
}

QString Words::pressToSearch() {
    return tr("Press 读入 to look for the controller's port.");
}

QString Words::probeOutcome(const ProbeResult& r) {
    switch (r.outcome) {
        case ProbeResult::Outcome::Answered:
            return tr("%1: the controller answered").arg(r.port);
        case ProbeResult::Outcome::NoAnswer:
            return tr("%1: no answer").arg(r.port);
        case ProbeResult::Outcome::NotAController:
            return tr("%1: something answered, but not as a controller does").arg(r.port);
        case ProbeResult::Outcome::CannotOpen:
            break;
    }
    switch (r.openFailure) {
        case ErrorFacts::Code::PortBusy:
        case ErrorFacts::Code::PortAlreadyOpen:
            return tr("%1: in use by another program").arg(r.port);
        case ErrorFacts::Code::PortPermission:
            if (r.group.isEmpty()) return tr("%1: permission denied").arg(r.port);
            return r.joiningIsEnough
                       ? tr("%1: permission denied; the user must be in the group '%2'")
                             .arg(r.port, r.group)
                       : tr("%1: permission denied; only root may open it").arg(r.port);
        case ErrorFacts::Code::PortNotFound:
            return tr("%1: no such device").arg(r.port);
        case ErrorFacts::Code::PortWriteFailed:
            return tr("%1: cannot be written to").arg(r.port);
        default:
            return tr("%1: cannot be opened").arg(r.port);
    }
}

QString Words::portsTried(const QList<ProbeResult>& tried) {
    if (tried.isEmpty()) return tr("No serial port was there to try.");
    QStringList parts;
    for (const ProbeResult& r : tried) parts << probeOutcome(r);
    return tr("Ports tried: %1.").arg(parts.join(tr("; ")));
}

QString Words::refusal(const Refusal& refusal) {
    const QString detail = QString::fromStdString(refusal.detail);
    switch (refusal.why) {
        case Refusal::Why::NoReply:
            return tr("no reply");
        case Refusal::Why::Malformed:
            return tr("malformed reply (%1)").arg(detail);
        case Refusal::Why::ChecksumMismatch:
            return tr("checksum mismatch (%1)").arg(detail);
        case Refusal::Why::Nak:
            return tr("refused by the controller (NAK)");
    }
    return detail;
}

namespace {

bool onLinux() {
#ifdef Q_OS_LINUX
    return true;
#else
    return false;
#endif
}

QString kindWord(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Overflow:
            return Words::tr("Overflow");
        case ErrorKind::SubscriptOutOfRange:
            return Words::tr("Subscript out of range");
        case ErrorKind::TypeMismatch:
            return Words::tr("Type mismatch");
        case ErrorKind::File:
            return Words::tr("File error");
        case ErrorKind::Serial:
            return Words::tr("Serial port error");
    }
    return Words::tr("Error");
}

}  // namespace

QString Words::lineSettings() {
    return tr(
        "that the controller's port is set to 9600 bps, 7 data bits, even parity, 1 stop "
        "bit");
}

QString Words::portsNow(const QList<PortEntry>& ports) {
    return ports.isEmpty() ? tr("No serial port is found on this computer now: check that the USB "
                                "serial cable is plugged in.")
                           : tr("Ports on this computer: %1.").arg(portPaths(ports));
}

// The controller or the line between: the port itself worked.
QString Words::lineError(const ErrorFacts& f, const PortLister& ports) {
    switch (f.code) {
        case ErrorFacts::Code::NoReply:
            return apart(apart(atBlock(tr("Block %1 (%2): no reply after %3 requests."), f.address)
                                   .arg(f.count),
                               tr("Check that the cable is plugged in at both ends, that the "
                                  "controller is powered and in a state that answers (not stopped "
                                  "on an error, not talking to another device), that this is the "
                                  "controller's port, and %1.")
                                   .arg(lineSettings())),
                         portsNow(ports ? ports() : QList<PortEntry>()));
        case ErrorFacts::Code::LineBusy:
            return atBlock(tr("Block %1 (%2): no answer; the line is busy with characters that are "
                              "no answers (%3 characters in %4 s): another device on this port, "
                              "or another line speed? Check that only the controller is on this "
                              "port, and %5."),
                           f.address)
                .arg(f.count)
                .arg(QString::fromStdString(f.reason).toLongLong() / 1000)
                .arg(lineSettings());
        case ErrorFacts::Code::Malformed:
        case ErrorFacts::Code::ChecksumMismatch: {
            const Refusal last{f.code == ErrorFacts::Code::Malformed
                                   ? Refusal::Why::Malformed
                                   : Refusal::Why::ChecksumMismatch,
                               f.reason};
            return atBlock(tr("Block %1 (%2): %3 after %4 requests. Check the cable and its "
                              "plugs, and %5."),
                           f.address)
                .arg(refusal(last))
                .arg(f.count)
                .arg(lineSettings());
        }
        case ErrorFacts::Code::Nak:
            return atBlock(tr("Block %1 (%2): the controller refused the request (NAK) %3 times. "
                              "It may not accept reads now: check that it is not in a mode that "
                              "locks its memory, and %4."),
                           f.address)
                .arg(f.count)
                .arg(lineSettings());
        case ErrorFacts::Code::OutOfStep:
            return tr("The line is out of step: an answer came when none was due (last block "
                      "taken: %1). Make sure no other program uses the port, then read again.")
                .arg(f.address < 0 ? tr("none") : block(f.address));
        case ErrorFacts::Code::NoEndMarker:
            return tr("The end of program memory (%1) was reached without an end marker. Check "
                      "that the controller holds a program, then read again.")
                .arg(Words::address(f.address));
        case ErrorFacts::Code::SecondReadDiffers:
            return atBlock(tr("Block %1 (%2) read a second time differs from the first read: the "
                              "line lost track of its answers, or the program changed meanwhile. "
                              "Read again."),
                           f.address);
        default:
            return {};
    }
}

namespace {

using Code = ErrorFacts::Code;

// How a trouble with the port is told, most likely cause first: what happened (%1: the port,
// or the number typed), what to do, the ports the system has when they help, then what only
// Linux has to add, for a port it saw earlier (vanished) or for any.
struct PortTrouble {
    Code code;
    const char* what;
    const char* advice = nullptr;
    bool listPorts = false;
    const char* onLinux = nullptr;
    bool vanished = false;
};

constexpr PortTrouble kPortTroubles[] = {
    {Code::PortChanged, QT_TRANSLATE_NOOP("Words", "The port was changed to %1 during the read.")},
    {Code::NoPortChosen, QT_TRANSLATE_NOOP("Words", "No port chosen: type the port into 串口号.")},
    {Code::PortNotFound, QT_TRANSLATE_NOOP("Words", "Cannot open %1: there is no such device."),
     QT_TRANSLATE_NOOP("Words",
                       "Check that the USB serial cable is plugged in, or choose another port."),
     true,
     QT_TRANSLATE_NOOP("Words",
                       "%1 was there earlier, so brltty (a braille display service) may have "
                       "claimed the adapter: remove brltty (sudo apt remove brltty) and plug the "
                       "adapter in again."),
     true},
    {Code::PortBusy,
     QT_TRANSLATE_NOOP("Words",
                       "Cannot open %1: it is in use by another program. Close the other "
                       "program."),
     nullptr, false,
     QT_TRANSLATE_NOOP("Words",
                       "Just after plugging in, ModemManager probes a new serial port for some "
                       "seconds: wait a little and try again.")},
    {Code::PortAlreadyOpen, QT_TRANSLATE_NOOP("Words", "Cannot open %1: it is already open.")},
    {Code::PortOpenFailed,
     QT_TRANSLATE_NOOP("Words",
                       "The system cannot open %1 as a serial port. Check that this is a serial "
                       "port."),
     nullptr, true},
    {Code::PortWriteFailed,
     QT_TRANSLATE_NOOP("Words", "Cannot send to %1. Check the USB serial cable and its plugs.")},
    {Code::PortLost,
     QT_TRANSLATE_NOOP("Words",
                       "The port %1 was disconnected (the connection was lost) and has been "
                       "closed. Check that the USB serial cable is plugged in.")},
    {Code::PortFieldEmpty, QT_TRANSLATE_NOOP("Words", "The port field is empty.")},
    {Code::PortNumberTooSmall,
     QT_TRANSLATE_NOOP("Words", "Port %1 does not exist; ports are numbered from 1.")},
    {Code::NotAPort,
     QT_TRANSLATE_NOOP("Words", "\"%1\" is neither a port number nor a device path.")},
};

}  // namespace

QString Words::permissionDenied(const ErrorFacts& f) {
    const QString port = QString::fromStdString(f.subject);
    const QString group = QString::fromStdString(f.other);
    const QString join = tr("sudo usermod -aG %1 \"$USER\", then log out and in again").arg(group);
    return f.count == 1
               ? tr("Cannot open %1: permission denied; the user must be in the group '%2' (%3).")
                     .arg(port, group, join)
               : tr("Cannot open %1: permission denied; only root may open it. Add a udev rule "
                    "that gives the device to the group '%2' with mode 0660, and put the user in "
                    "that group (%3).")
                     .arg(port, group, join);
}

// Opening or using the port.
QString Words::portError(const ErrorFacts& f, const PortLister& ports) {
    if (f.code == Code::PortPermission) return permissionDenied(f);
    const auto row = std::find_if(std::begin(kPortTroubles), std::end(kPortTroubles),
                                  [&](const PortTrouble& t) { return t.code == f.code; });
    if (row == std::end(kPortTroubles)) return {};
    const QString subject = f.code == Code::PortNumberTooSmall ? QString::number(f.count)
                                                               : QString::fromStdString(f.subject);
    auto said = [&](const char* sentence) {
        const QString text = tr(sentence);
        return text.contains(QLatin1String("%1")) ? text.arg(subject) : text;
    };
    QString text = said(row->what);
    const QList<PortEntry> now = row->listPorts && ports ? ports() : QList<PortEntry>();
    // With no port at all, the list's own line says to plug the cable in.
    if (row->advice && !(row->listPorts && now.isEmpty())) text = apart(text, said(row->advice));
    if (row->listPorts) text = apart(text, portsNow(now));
    if (row->onLinux && onLinux() && (!row->vanished || portSeenEarlier(subject)))
        text = apart(text, said(row->onLinux));
    return text;
}

QString Words::error(const Error& e, const PortLister& ports) {
    const ErrorFacts& f = e.facts();
    if (f.code == ErrorFacts::Code::Other) {
        // Only the English description: its kind at least is in the operator's language.
        return tr("%1: %2", "an error's kind, then what happened")
            .arg(kindWord(e.kind()), QString::fromStdString(e.description()));
    }
    for (const QString& text : {lineError(f, ports), portError(f, ports), folderError(f)}) {
        if (!text.isEmpty()) return text;
    }
    return QString::fromStdString(e.description());
}

QString Words::portHint(const Error& e) {
    return then(error(e),
                tr("Type a port number (such as 1) or a device path (such as /dev/ttyUSB0)."));
}

}  // namespace progread
