// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/words.h"

#include "image/portable_file.h"
#include "upload/upload.h"

namespace progread {

namespace {

QString q(const std::filesystem::path& p) {
    return QString::fromStdString(shownPath(p));
}

}  // namespace

Words::Audience Words::audience_ = Words::Audience::CommandLine;

void Words::setAudience(Audience audience) {
    audience_ = audience;
}

QString Words::then(const QString& first, const QString& second) {
    if (first.isEmpty()) return second;
    if (second.isEmpty()) return first;
    return tr("%1 %2", "one sentence after another").arg(first, second);
}

QString Words::address(long address) {
    return QString::fromStdString(hexAddress(address));
}

QString Words::block(long address) {
    return tr("%1 (%2)", "a block's offset, as 程序步 shows it, then its address")
        .arg(address - kBaseAddress)
        .arg(Words::address(address));
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
    return tr("Block %1: %2 bytes read, %3 bytes/s, %4 s, %5.")
        .arg(block(address))
        .arg(bytes)
        .arg(rate(bytes, elapsedMs))
        .arg(static_cast<double>(elapsedMs) / 1000.0, 0, 'f', 1)
        .arg(Words::retries(retries));
}

QString Words::attempt(int attempt, int most) {
    return tr("(try %1 of at most %2)").arg(attempt).arg(most);
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
    return tr("Block %1: %2; asking again.").arg(block(address), refusal(why));
}

QString Words::summary(const UploadSummary& summary, qint64 elapsedMs, bool verified,
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
    return then(text, tr("Image: %1 (%2 bytes).").arg(imagePath).arg(imageBytes));
}

QString Words::done(const QString& summary, const QString& warning) {
    if (warning.isEmpty()) return then(tr("Done."), summary);
    return then(then(tr("Done, with a warning."), summary), Words::warning(warning));
}

QString Words::templateMissing(const QString& path) {
    return tr("No template %1: an empty one was created, and the image's header is 256 zero "
              "bytes, which the programming software may reject. Put the programming software's "
              "template for this controller there, under the name moban.pmw.")
        .arg(path);
}

QString Words::templateShort(const QString& path, long bytes) {
    if (bytes == 0) {
        return tr("The template %1 is empty, so the image's header is 256 zero bytes, which the "
                  "programming software may reject. Replace it with the programming software's "
                  "template for this controller.")
            .arg(path);
    }
    return tr("The template %1 has only %2 of 256 header bytes; the rest of the header is zeros, "
              "which the programming software may reject. Replace it with the programming "
              "software's template for this controller.")
        .arg(path)
        .arg(bytes);
}

QString Words::warning(const QString& text) {
    return tr("Warning: %1").arg(text);
}

QString Words::stopped(const Error& e, const PortLister& ports) {
    return tr("The read stopped: %1").arg(error(e, ports));
}

QString Words::stoppedByOperator() {
    return tr("The read was stopped (停止).");
}

QString Words::differences(const ProgramDiff& diff) {
    const long of = std::max(diff.blocks, diff.otherBlocks);
    QString text = diff.differing == 1 ? tr("1 of %1 blocks differs").arg(of)
                                       : tr("%1 of %2 blocks differ").arg(diff.differing).arg(of);
    if (diff.blocks > diff.otherBlocks) {
        text = tr("%1, the first at %2; the program read now is %3 longer")
                   .arg(text, address(diff.firstAddress), blocks(diff.blocks - diff.otherBlocks));
    } else if (diff.blocks < diff.otherBlocks) {
        text = tr("%1, the first at %2; the program read now is %3 shorter")
                   .arg(text, address(diff.firstAddress), blocks(diff.otherBlocks - diff.blocks));
    } else {
        text = tr("%1, the first at %2").arg(text, address(diff.firstAddress));
    }
    return text;
}

QString Words::comparedWithEarlier(const ProgramDiff& diff, const QString& when) {
    return diff.same() ? tr("Same program as the read of %1.").arg(when)
                       : tr("Differs from the read of %1: %2.").arg(when, differences(diff));
}

QString Words::comparedWithFile(const ProgramDiff& diff, const QString& file) {
    if (diff.same()) return tr("Same program as %1.").arg(file);
    auto value = [](int v) {
        return v < 0 ? tr("nothing")
                     : QStringLiteral("0x%1")
                           .arg(v, 2, 16, QLatin1Char('0'))
                           .toUpper()
                           .replace(QStringLiteral("0X"), QStringLiteral("0x"));
    };
    return tr("Differs from %1: %2 (there: %3 read now, %4 in the file).")
        .arg(file, differences(diff), value(diff.value), value(diff.otherValue));
}

QString Words::replacedImage(const QString& kept) {
    return kept.isEmpty() ? tr("the duqu.pmw this read replaced")
                          : tr("%1 (the duqu.pmw this read replaced)").arg(kept);
}

QString Words::notAnImage(const QString& file, NotAnImage why) {
    switch (why) {
        case NotAnImage::Missing:
            return tr("%1 is not there.").arg(file);
        case NotAnImage::NotAFile:
            return tr("%1 is not a file.").arg(file);
        case NotAnImage::Unreadable:
            return tr("%1 cannot be read.").arg(file);
        case NotAnImage::TooLong:
            return tr("%1 is not a program image: it is larger than an image can be (%2 bytes at "
                      "most); check the file name.")
                .arg(file)
                .arg(kLargestImageBytes);
        case NotAnImage::TooShort:
        case NotAnImage::NotWholeBlocks:
        case NotAnImage::NoTail:
            break;
    }
    return tr("%1 is not a program image: it must be a 256-byte header, whole 32-byte blocks "
              "and the tail of 513 times FF 00, as duqu.pmw is.")
        .arg(file);
}

QString Words::lookingForController() {
    return tr("Looking for the controller…");
}

QString Words::controllerFound(const QString& port) {
    return tr("The controller answered on %1.").arg(port);
}

QString Words::noControllerAnswered(const QString& tried) {
    return then(tr("No controller answered."), tried);
}

QString Words::fingerprint(const QString& hex) {
    return tr("Fingerprint (SHA-256): %1.").arg(hex);
}

QString Words::filesKeptIn(const FileDir& dir) {
    switch (dir.source) {
        case FileDir::Source::Program:
            return tr("Files are kept in %1, the program's folder.").arg(q(dir.path));
        case FileDir::Source::User:
            return tr("Files are kept in %1 (the program's folder is not writable).")
                .arg(q(dir.path));
        case FileDir::Source::Given:
            break;
    }
    return tr("Files are kept in %1.").arg(q(dir.path));
}

QString Words::fileNotes(const std::vector<FileNote>& notes) {
    QStringList sentences;
    for (const FileNote& note : notes) {
        const QString name = QString::fromStdString(
            shownPath(note.path.parent_path().filename() / note.path.filename()));
        switch (note.kind) {
            case FileNote::Kind::MovedToHistory:
                sentences << tr("The earlier image was kept as %1.").arg(name);
                break;
            case FileNote::Kind::SameAsEarlier:
                break;  // the summary says it is the same program
            case FileNote::Kind::ReplacedPart:
                sentences << (note.complete
                                  ? tr("The earlier read's %1, a complete image (%2), was moved "
                                       "to %3.")
                                  : tr("The earlier read's %1 (%2) was moved to %3."))
                                 .arg(QString::fromLatin1(kPartName),
                                      blocks(static_cast<long>(note.blocks)), name);
                break;
            case FileNote::Kind::MadeFolder:
                sentences << tr("Made the folder %1.").arg(q(note.path));
                break;
        }
    }
    QString all;
    for (const QString& sentence : sentences) all = then(all, sentence);
    return all;
}

QString Words::keptAfterStop(const ProgramImage& image) {
    const auto part = [&]() -> QString {
        if (!image.hasPart()) return {};
        if (image.partComplete())
            return tr("The complete image stays in %1 under that name.").arg(q(image.partPath()));
        if (image.partBlocks() == 0) {
            // Only the header: nothing of the controller's to keep.
            return tr("No block was read; no %1 was written.").arg(QString::fromLatin1(kImageName));
        }
        return tr("Incomplete: %1 kept in %2; no %3 was written.")
            .arg(blocks(static_cast<long>(image.partBlocks())), q(image.partPath()),
                 QString::fromLatin1(kImageName));
    };
    const std::string stamp = image.imageStamp();
    if (stamp.empty()) return part();
    return then(
        part(),
        tr("%1 still holds the read of %2.").arg(QString::fromLatin1(kImageName), readTime(stamp)));
}

QString Words::readTime(const std::string& stamp) {
    if (stamp.size() < 13) return QString::fromStdString(stamp);
    const QString s = QString::fromStdString(stamp);
    return QStringLiteral("%1-%2-%3 %4:%5")
        .arg(s.mid(0, 4), s.mid(4, 2), s.mid(6, 2), s.mid(9, 2), s.mid(11, 2));
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

QString Words::waiting(long address, long long waitedMs) {
    // Whole seconds: it is told about once a second, and tenths would only flicker.
    return tr("Waiting for the answer to block %1, %2 s.").arg(block(address)).arg(waitedMs / 1000);
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

QString Words::portsNow(const PortLister& lister) {
    const QList<PortEntry> ports = lister ? lister() : QList<PortEntry>();
    return ports.isEmpty() ? tr("No serial port is found on this computer now: check that the USB "
                                "serial cable is plugged in.")
                           : tr("Ports on this computer: %1.").arg(portPaths(ports));
}

// The controller or the line between: the port itself worked.
QString Words::lineError(const ErrorFacts& f, const PortLister& ports) {
    const QString at = block(f.address);
    switch (f.code) {
        case ErrorFacts::Code::NoReply:
            return then(then(tr("Block %1: no reply after %2 requests.").arg(at).arg(f.count),
                             tr("Check that the cable is plugged in at both ends, that the "
                                "controller is powered and in a state that answers (not stopped "
                                "on an error, not talking to another device), that this is the "
                                "controller's port, and %1.")
                                 .arg(lineSettings())),
                        portsNow(ports));
        case ErrorFacts::Code::LineBusy:
            return tr("Block %1: no answer; the line is busy with characters that are no answers "
                      "(%2 characters in %3 s): another device on this port, or another line "
                      "speed? Check that only the controller is on this port, and %4.")
                .arg(at)
                .arg(f.count)
                .arg(QString::fromStdString(f.reason).toLongLong() / 1000)
                .arg(lineSettings());
        case ErrorFacts::Code::Malformed:
        case ErrorFacts::Code::ChecksumMismatch: {
            const Refusal last{f.code == ErrorFacts::Code::Malformed
                                   ? Refusal::Why::Malformed
                                   : Refusal::Why::ChecksumMismatch,
                               f.reason};
            return tr("Block %1: %2 after %3 requests. Check the cable and its plugs, and %4.")
                .arg(at, refusal(last))
                .arg(f.count)
                .arg(lineSettings());
        }
        case ErrorFacts::Code::Nak:
            return tr("Block %1: the controller refused the request (NAK) %2 times. It may not "
                      "accept reads now: check that it is not in a mode that locks its memory, "
                      "and %3.")
                .arg(at)
                .arg(f.count)
                .arg(lineSettings());
        case ErrorFacts::Code::OutOfStep:
            return tr("The line is out of step: an answer came when none was due (last block "
                      "taken: %1). Make sure no other program uses the port, then read again.")
                .arg(f.address < 0 ? tr("none") : at);
        case ErrorFacts::Code::NoEndMarker:
            return tr("The end of program memory (%1) was reached without an end marker. Check "
                      "that the controller holds a program, then read again.")
                .arg(Words::address(f.address));
        case ErrorFacts::Code::SecondReadDiffers:
            return tr("Block %1 read a second time differs from the first read: the line lost "
                      "track of its answers, or the program changed meanwhile. Read again.")
                .arg(at);
        default:
            return {};
    }
}

// Opening or using the port.
QString Words::portError(const ErrorFacts& f, const PortLister& ports) {
    const QString port = QString::fromStdString(f.subject);
    switch (f.code) {
        case ErrorFacts::Code::PortChanged:
            return tr("The port was changed to %1 during the read.").arg(port);
        case ErrorFacts::Code::NoPortChosen:
            return tr("No port chosen: type the port into 串口号.");
        case ErrorFacts::Code::PortNotFound: {
            QString text =
                then(tr("Cannot open %1: there is no such device.").arg(port), portsNow(ports));
            if (onLinux()) {
                text = then(text, tr("A USB adapter that disappears right after plugging in may "
                                     "have been claimed by brltty (a braille display service): "
                                     "remove it (sudo apt remove brltty) and plug the adapter in "
                                     "again."));
            }
            return text;
        }
        case ErrorFacts::Code::PortBusy: {
            QString text =
                tr("Cannot open %1: it is in use by another program. Close the other program.")
                    .arg(port);
            if (onLinux()) {
                text = then(text,
                            tr("Just after plugging in, ModemManager probes a new serial port for "
                               "some seconds: wait a little and try again."));
            }
            return text;
        }
        case ErrorFacts::Code::PortPermission: {
            const QString group = QString::fromStdString(f.other);
            const QString join =
                tr("sudo usermod -aG %1 \"$USER\", then log out and in again").arg(group);
            return f.count == 1
                       ? tr("Cannot open %1: permission denied; the user must be in the group "
                            "'%2' (%3).")
                             .arg(port, group, join)
                       : tr("Cannot open %1: permission denied; only root may open it. Add a udev "
                            "rule that gives the device to the group '%2' with mode 0660, and put "
                            "the user in that group (%3).")
                             .arg(port, group, join);
        }
        case ErrorFacts::Code::PortAlreadyOpen:
            return tr("Cannot open %1: it is already open.").arg(port);
        case ErrorFacts::Code::PortOpenFailed:
            return then(
                tr("The system cannot open %1 as a serial port. Check that this is a serial port.")
                    .arg(port),
                portsNow(ports));
        case ErrorFacts::Code::PortWriteFailed:
            return tr("Cannot send to %1. Check the USB serial cable and its plugs.").arg(port);
        case ErrorFacts::Code::PortLost:
            return tr("The port %1 was disconnected (the connection was lost) and has been "
                      "closed. Check that the USB serial cable is plugged in.")
                .arg(port);
        case ErrorFacts::Code::PortFieldEmpty:
            return tr("The port field is empty.");
        case ErrorFacts::Code::PortNumberTooSmall:
            return tr("Port %1 does not exist; ports are numbered from 1.").arg(f.count);
        case ErrorFacts::Code::NotAPort:
            return tr("\"%1\" is neither a port number nor a device path.").arg(port);
        default:
            return {};
    }
}

// What was tried on a file, and what to check.
QString Words::fileFailed(const ErrorFacts& f) {
    const QString path = QString::fromStdString(f.subject);
    const QString why = QString::fromStdString(f.reason);
    const QString to = QString::fromStdString(f.other);
    const QString room = tr("Check that the disk has room and that the folder may be written to.");
    switch (f.action) {
        case ErrorFacts::Action::LookAt:
            return tr("Cannot look at %1: %2.").arg(path, why);
        case ErrorFacts::Action::Remove:
            return tr("Cannot remove %1: %2.").arg(path, why);
        case ErrorFacts::Action::WriteInFolder:
            return then(tr("Cannot write in the folder %1: %2.").arg(path, why),
                        audience_ == Audience::Window
                            ? tr("Make the folder writable.")
                            : tr("Choose another folder with --dir, or make this one writable."));
        case ErrorFacts::Action::ReadTemplate:
            return tr("Cannot read the template %1: %2.").arg(path, why);
        case ErrorFacts::Action::CreateTemplate:
            return tr("Cannot create the template %1: %2.").arg(path, why);
        case ErrorFacts::Action::OpenTemplate:
            return tr("Cannot open the template %1: %2.").arg(path, why);
        case ErrorFacts::Action::CreateFolder:
            return then(tr("Cannot create the folder %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::Create:
            return then(tr("Cannot create %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::WriteTo:
            return then(tr("Cannot write to %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::Close:
            return then(tr("Cannot close %1: %2.").arg(path, why), room);
        case ErrorFacts::Action::Rename:
            return tr("Cannot rename %1 to %2: %3.").arg(path, to, why);
        case ErrorFacts::Action::Move:
            return tr("Cannot move %1 to %2: %3.").arg(path, to, why);
        case ErrorFacts::Action::None:
            break;
    }
    return tr("Cannot use %1: %2.").arg(path, why);
}

// The folder, its lock and what stands in it.
QString Words::folderError(const ErrorFacts& f) {
    const QString subject = QString::fromStdString(f.subject);
    switch (f.code) {
        case ErrorFacts::Code::FileFailed:
            return fileFailed(f);
        case ErrorFacts::Code::NotAFile:
            return tr("Cannot use %1: it is not a file; move it elsewhere.").arg(subject);
        case ErrorFacts::Code::TemplateLinkBroken:
            return tr("The template %1 is a link to a file that is not there; restore the file "
                      "or remove the link.")
                .arg(subject);
        case ErrorFacts::Code::HistoryFull:
            return tr("Cannot move %1 into %2: every file name for its time already exists.")
                .arg(subject, QString::fromStdString(f.other));
        case ErrorFacts::Code::FolderInUse: {
            const QString who = f.count > 0 ? tr("Another progread (process %1) is using the "
                                                 "folder %2; close it first.")
                                                  .arg(f.count)
                                                  .arg(subject)
                                            : tr("Another progread is using the folder %1; close "
                                                 "it first.")
                                                  .arg(subject);
            return audience_ == Audience::Window
                       ? who
                       : then(who, tr("Or give this one another folder with --dir."));
        }
        case ErrorFacts::Code::TemplateNotAFile:
            return tr("The template %1 is not a regular file (it is a folder, pipe or device). "
                      "Put a copy of the template file moban.pmw there instead.")
                .arg(subject);
        case ErrorFacts::Code::HistoryNotAFolder:
            return tr("%1 is not a folder, so earlier images cannot be kept in it. Move or rename "
                      "that file, then start again.")
                .arg(subject);
        case ErrorFacts::Code::LockIsAFolder:
            return tr("duqu.pmw.lock in %1 is a folder, not progread's lock file: remove it, then "
                      "start again.")
                .arg(subject);
        case ErrorFacts::Code::LockNotAFile:
            return tr("duqu.pmw.lock in %1 is not a file (it is a link, pipe or device), so not "
                      "progread's lock file: remove it, then start again.")
                .arg(subject);
        case ErrorFacts::Code::LockUnreadable:
            return tr("duqu.pmw.lock in %1 cannot be read as progread's lock file (it is empty or "
                      "damaged). If no progread is using this folder, remove it, then start "
                      "again.")
                .arg(subject);
        case ErrorFacts::Code::LockLeftBehind:
            return tr("duqu.pmw.lock in %1 was left by a progread that has ended (process %2) and "
                      "cannot be removed: %3. Remove it by hand or make the folder writable, then "
                      "start again.")
                .arg(subject)
                .arg(f.count)
                .arg(QString::fromStdString(f.reason));
        case ErrorFacts::Code::ImageNotOpen:
            return tr("The image %1 is not open.").arg(subject);
        default:
            return {};
    }
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
