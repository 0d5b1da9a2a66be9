#include "ui/words.h"

#include "upload/upload.h"

namespace progread {

QString Words::then(const QString& first, const QString& second) {
    if (first.isEmpty()) return second;
    if (second.isEmpty()) return first;
    return tr("%1 %2", "one sentence after another").arg(first, second);
}

QString Words::address(long address) {
    return QString::fromStdString(hexAddress(address));
}

long Words::rate(long bytes, qint64 elapsedMs) {
    return elapsedMs > 0 ? static_cast<long>(static_cast<qint64>(bytes) * 1000 / elapsedMs) : 0;
}

QString Words::progress(long address, long bytes, qint64 elapsedMs, int retries) {
    return tr("Block %1: %2 bytes read, %3 bytes/s, %4 s, %5 retries")
        .arg(Words::address(address))
        .arg(bytes)
        .arg(rate(bytes, elapsedMs))
        .arg(static_cast<double>(elapsedMs) / 1000.0, 0, 'f', 1)
        .arg(retries);
}

QString Words::summary(const UploadSummary& summary, qint64 elapsedMs, bool verified,
                       const QString& imagePath, qint64 imageBytes) {
    const QString figures =
        verified ? tr("Read %1 bytes, %2 blocks, in %3 s (%4 bytes/s), %5 retries; verified: a "
                      "second read agreed byte for byte.")
                 : tr("Read %1 bytes, %2 blocks, in %3 s (%4 bytes/s), %5 retries.");
    QString text = figures.arg(summary.programBytes)
                       .arg(summary.blocks)
                       .arg(static_cast<double>(elapsedMs) / 1000.0, 0, 'f', 1)
                       .arg(rate(summary.programBytes, elapsedMs))
                       .arg(summary.retries);
    if (summary.confirmedBlocks > 0) {
        text = then(text,
                    tr("%1 blocks were confirmed by a second reply.").arg(summary.confirmedBlocks));
    }
    if (summary.verifiedBlocks > 0 && !verified) {
        text = then(text, tr("%1 blocks were read twice and agreed.").arg(summary.verifiedBlocks));
    }
    text = then(text, tr("Image: %1 (%2 bytes).").arg(imagePath).arg(imageBytes));
    return text;
}

QString Words::waiting(long address, long long waitedMs) {
    // Whole seconds: it is told about once a second, and tenths would only flicker.
    return tr("waiting for the answer to block %1, %2 s")
        .arg(Words::address(address))
        .arg(waitedMs / 1000);
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

QString kindWord(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Overflow:
            return Words::tr("overflow");
        case ErrorKind::SubscriptOutOfRange:
            return Words::tr("subscript out of range");
        case ErrorKind::TypeMismatch:
            return Words::tr("type mismatch");
        case ErrorKind::File:
            return Words::tr("file error");
        case ErrorKind::Serial:
            return Words::tr("serial port error");
    }
    return Words::tr("error");
}

bool onLinux() {
#ifdef Q_OS_LINUX
    return true;
#else
    return false;
#endif
}

// What was tried on a file, and what to check.
QString fileFailed(const ErrorFacts& f) {
    const QString path = QString::fromStdString(f.subject);
    const QString why = QString::fromStdString(f.reason);
    const QString to = QString::fromStdString(f.other);
    const QString room =
        Words::tr("Check that the disk has room and that the folder may be written to.");
    switch (f.action) {
        case ErrorFacts::Action::LookAt:
            return Words::tr("cannot look at %1: %2.").arg(path, why);
        case ErrorFacts::Action::Remove:
            return Words::tr("cannot remove %1: %2.").arg(path, why);
        case ErrorFacts::Action::WriteInFolder:
            return Words::then(
                Words::tr("cannot write in the folder %1: %2.").arg(path, why),
                Words::tr("Choose another folder with --dir, or make this one writable."));
        case ErrorFacts::Action::ReadTemplate:
            return Words::tr("cannot read the template %1: %2.").arg(path, why);
        case ErrorFacts::Action::CreateTemplate:
            return Words::tr("cannot create the template %1: %2.").arg(path, why);
        case ErrorFacts::Action::OpenTemplate:
            return Words::tr("cannot open the template %1: %2.").arg(path, why);
        case ErrorFacts::Action::CreateFolder:
            return Words::then(Words::tr("cannot create the folder %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::Create:
            return Words::then(Words::tr("cannot create %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::WriteTo:
            return Words::then(Words::tr("cannot write to %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::Close:
            return Words::then(Words::tr("cannot close %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::Rename:
            return Words::tr("cannot rename %1 to %2: %3.").arg(path, to, why);
        case ErrorFacts::Action::Move:
            return Words::tr("cannot move %1 to %2: %3.").arg(path, to, why);
        case ErrorFacts::Action::None:
            break;
    }
    return Words::tr("cannot use %1: %2.").arg(path, why);
}

}  // namespace

QString Words::error(const Error& error, const PortLister& ports) {
    return tr("%1: %2", "an error's kind, then what happened")
        .arg(kindWord(error.kind()), errorBody(error, ports));
}

QString Words::errorBody(const Error& error, const PortLister& lister) {
    const ErrorFacts& f = error.facts();
    const QString subject = QString::fromStdString(f.subject);
    const QString reason = QString::fromStdString(f.reason);
    const QString at = address(f.address);
    const QString lineAdvice = tr(
        "Check that the cable is plugged in at both ends, that the controller is powered and in a "
        "state "
        "that answers (not stopped on an error, not talking to another device), that this is the "
        "controller's port, and that a USB adapter is set to 9600 baud, 7 data bits, even parity, "
        "1 stop "
        "bit (7E1).");
    QString text;
    switch (f.code) {
        case ErrorFacts::Code::Other:
            text = QString::fromStdString(error.description());
            break;
        case ErrorFacts::Code::NoReply:
            text = tr("block %1: no reply after %2 requests.").arg(at).arg(f.count) + QString();
            text = then(text, lineAdvice);
            break;
        case ErrorFacts::Code::Malformed:
        case ErrorFacts::Code::ChecksumMismatch: {
            const Refusal last{f.code == ErrorFacts::Code::Malformed
                                   ? Refusal::Why::Malformed
                                   : Refusal::Why::ChecksumMismatch,
                               f.reason};
            text = tr("block %1: %2 after %3 requests. Check the cable and its plugs, and that the "
                      "adapter is set to 9600 baud 7E1.")
                       .arg(at, refusal(last))
                       .arg(f.count);
            break;
        }
        case ErrorFacts::Code::Nak:
            text = tr("block %1: the controller refused the request (NAK) %2 times. It may not "
                      "accept reads now: check that it is not in a mode that locks its memory, "
                      "and that the adapter is set to 9600 baud 7E1.")
                       .arg(at)
                       .arg(f.count);
            break;
        case ErrorFacts::Code::OutOfStep:
            text = tr("the line is out of step: an answer came when none was due (last block "
                      "taken: %1). "
                      "Make sure no other program uses the port, then read again.")
                       .arg(f.address < 0 ? tr("none") : at);
            break;
        case ErrorFacts::Code::NoEndMarker:
            text = tr("end of program memory (%1) reached without an end marker. Check that the "
                      "controller "
                      "holds a program, then read again.")
                       .arg(at);
            break;
        case ErrorFacts::Code::SecondReadDiffers:
            text = tr("block %1 read a second time differs from the first read: the line lost "
                      "track of its "
                      "answers, or the program changed meanwhile. Read again.")
                       .arg(at);
            break;
        case ErrorFacts::Code::PortChanged:
            text = tr("the port was changed to %1 during the read.").arg(subject);
            break;
        case ErrorFacts::Code::NoPortChosen:
            text = tr("no port chosen: type the port into 串口号.");
            break;
        case ErrorFacts::Code::PortNotFound: {
            const QList<PortEntry> ports = lister ? lister() : QList<PortEntry>();
            text = then(tr("cannot open %1: no such device.").arg(subject),
                        (ports.isEmpty() ? tr("This system has no serial ports now: check that the "
                                              "adapter is plugged in.")
                                         : tr("Ports on this system: %1.").arg(portPaths(ports))));
            if (onLinux()) {
                text = then(text, tr("A USB adapter that disappears right after plugging "
                                     "in may have been claimed by brltty "
                                     "(a braille display service): remove it (sudo apt "
                                     "remove brltty) and plug the "
                                     "adapter in again."));
            }
            break;
        }
        case ErrorFacts::Code::PortBusy:
            text = tr("cannot open %1: in use by another program (%2). Close the other program.")
                       .arg(subject, reason);
            if (onLinux()) {
                text = then(text,
                            tr("Just after plugging in, ModemManager probes a new serial port for "
                               "some seconds: wait a little and try again."));
            }
            break;
        case ErrorFacts::Code::PortPermission: {
            const QString group = QString::fromStdString(f.other);
            const QString join =
                tr("sudo usermod -aG %1 \"$USER\", then log out and in again").arg(group);
            text =
                f.count == 1
                    ? tr("cannot open %1: permission denied; the user must be in the group '%2' "
                         "(%3).")
                          .arg(subject, group, join)
                    : tr("cannot open %1: permission denied; only root may open it. Add a udev "
                         "rule "
                         "that gives the device to the group '%2' with mode 0660, and put the user "
                         "in that group (%3).")
                          .arg(subject, group, join);
            break;
        }
        case ErrorFacts::Code::PortAlreadyOpen:
            text = tr("cannot open %1: already open.").arg(subject);
            break;
        case ErrorFacts::Code::PortOpenFailed:
            text = tr("cannot open %1: %2. Check that this is a serial port.").arg(subject, reason);
            break;
        case ErrorFacts::Code::PortWriteFailed:
            text =
                tr("cannot write to %1: %2. Check the adapter and its cable.").arg(subject, reason);
            break;
        case ErrorFacts::Code::PortLost:
            text = tr("the port %1 went away (%2); it has been closed. Check that the adapter is "
                      "plugged in.")
                       .arg(subject, reason);
            if (onLinux()) {
                text = then(
                    text, tr("A USB adapter that disappears right after plugging in may have been "
                             "claimed by brltty: remove it (sudo apt remove brltty)."));
            }
            break;
        case ErrorFacts::Code::PortFieldEmpty:
            text = tr("the port field is empty");
            break;
        case ErrorFacts::Code::PortNumberTooSmall:
            text = tr("port %1 does not exist; ports are numbered from 1").arg(f.count);
            break;
        case ErrorFacts::Code::FileFailed:
            text = fileFailed(f);
            break;
        case ErrorFacts::Code::NotAFile:
            text = tr("cannot use %1: it is not a file; move it elsewhere.").arg(subject);
            break;
        case ErrorFacts::Code::TemplateLinkBroken:
            text = tr("the template %1 is a link to a file that is not there; restore the file or "
                      "remove the "
                      "link.")
                       .arg(subject);
            break;
        case ErrorFacts::Code::HistoryFull:
            text = tr("cannot move %1 into %2: every name for its time is taken.")
                       .arg(subject, QString::fromStdString(f.other));
            break;
        case ErrorFacts::Code::FolderInUse:
            text =
                (f.count > 0
                     ? tr("another progread (process %1) is using the folder %2; close it first, "
                          "or "
                          "give this one another folder with --dir.")
                           .arg(f.count)
                     : tr("another progread is using the folder %1; close it first, or give this "
                          "one another folder with --dir."))
                    .arg(subject);
            break;
        case ErrorFacts::Code::TemplateNotAFile:
            text = tr("the template %1 is not a regular file (it is a folder, pipe or device). "
                      "Put a copy of the template file moban.pmw there instead.")
                       .arg(subject);
            break;
        case ErrorFacts::Code::HistoryNotAFolder:
            text = tr("%1 is not a folder, so earlier images cannot be kept in it. Move or rename "
                      "that file, then start again.")
                       .arg(subject);
            break;
        case ErrorFacts::Code::LockIsAFolder:
            text = tr("duqu.pmw.lock in %1 is a folder, not progread's lock file: remove it, then "
                      "start again.")
                       .arg(subject);
            break;
        case ErrorFacts::Code::LockNotAFile:
            text = tr("duqu.pmw.lock in %1 is not a file (it is a link, pipe or device), so not "
                      "progread's lock file: remove it, then start again.")
                       .arg(subject);
            break;
        case ErrorFacts::Code::LockUnreadable:
            text = tr("duqu.pmw.lock in %1 cannot be read as progread's lock file (it is empty or "
                      "damaged). If no progread is using this folder, remove it, then start "
                      "again.")
                       .arg(subject);
            break;
        case ErrorFacts::Code::LockLeftBehind:
            text = tr("duqu.pmw.lock in %1 was left by a progread that has ended (process %2) and "
                      "cannot be removed: %3. Remove it by hand or make the folder writable, then "
                      "start again.")
                       .arg(subject)
                       .arg(f.count)
                       .arg(reason);
            break;
        case ErrorFacts::Code::ImageNotOpen:
            text = tr("the image %1 is not open.").arg(subject);
            break;
        case ErrorFacts::Code::NotAPort:
            text = tr("\"%1\" is neither a port number nor a device path").arg(subject);
            break;
    }
    return text;
}

}  // namespace progread
