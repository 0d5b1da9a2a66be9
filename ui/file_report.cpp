#include "ui/file_report.h"

#include "image/portable_file.h"
#include "ui/station.h"
#include "ui/words.h"

namespace progread {

namespace {

QString q(const std::filesystem::path& p) {
    return QString::fromStdString(shownPath(p));
}

}  // namespace

FileReport::Startup FileReport::start(Station& station, const FileDir& dir) {
    Startup startup;
    startup.warning = station.prepareImage();
    startup.where = where(dir);
    startup.notes = notes(station.image.takeNotes());
    return startup;
}

QString FileReport::where(const FileDir& dir) {
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

QString FileReport::notes(const std::vector<FileNote>& notes) {
    QStringList sentences;
    for (const FileNote& note : notes) {
        const QString name = QString::fromStdString(
            shownPath(note.path.parent_path().filename() / note.path.filename()));
        switch (note.kind) {
            case FileNote::Kind::MovedToHistory:
                sentences << tr("The earlier image was moved to %1.").arg(name);
                break;
            case FileNote::Kind::ReplacedPart:
                sentences << (note.complete
                                  ? tr("The earlier read's %1, a complete image (%2), was moved "
                                       "to %3.")
                                  : tr("The earlier read's %1 (%2) was moved to %3."))
                                 .arg(QString::fromLatin1(kPartName),
                                      Words::blocks(static_cast<long>(note.blocks)), name);
                break;
            case FileNote::Kind::MadeFolder:
                sentences << tr("Made the folder %1.").arg(q(note.path));
                break;
        }
    }
    QString all;
    for (const QString& sentence : sentences) all = Words::then(all, sentence);
    return all;
}

QString FileReport::kept(const ProgramImage& image) {
    if (!image.hasPart()) return {};
    if (image.partComplete()) {
        return tr("The complete image stays in %1 under that name.").arg(q(image.partPath()));
    }
    if (image.partBlocks() == 0) {
        // Only the header: nothing of the controller's to keep.
        return tr("No block was read; no %1 was written.").arg(QString::fromLatin1(kImageName));
    }
    return tr("Incomplete: %1 kept in %2; no %3 was written.")
        .arg(Words::blocks(static_cast<long>(image.partBlocks())), q(image.partPath()),
             QString::fromLatin1(kImageName));
}

}  // namespace progread
