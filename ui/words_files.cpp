// SPDX-License-Identifier: GPL-3.0-or-later
// Files and folders: the template, where files lie, what was moved, comparisons.
#include "image/portable_file.h"
#include "ui/words.h"

namespace progread {

namespace {

QString q(const std::filesystem::path& p) {
    return QString::fromStdString(shownPath(p));
}

}  // namespace

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

}  // namespace progread
