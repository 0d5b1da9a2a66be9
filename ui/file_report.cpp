// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/file_report.h"

#include <QCryptographicHash>
#include <QFile>

#include "image/compare.h"
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
    startup.where = Words::filesKeptIn(dir);
    startup.notes = Words::fileNotes(station.image.takeNotes());
    return startup;
}

FileReport::Earlier FileReport::earlierImage(const std::vector<FileNote>& notes) {
    Earlier earlier;
    for (const FileNote& note : notes) {
        if (note.kind == FileNote::Kind::MovedToHistory)
            earlier = {note.path, stampOfKeptImage(note.path)};
        else if (note.kind == FileNote::Kind::SameAsEarlier)
            earlier = {note.path, note.stamp};
    }
    return earlier;
}

QString FileReport::comparedWithEarlier(const std::filesystem::path& image,
                                        const Earlier& earlier) {
    if (earlier.file.empty()) return {};
    const auto now = programOfFile(image, nullptr);
    const auto before = programOfFile(earlier.file, nullptr);
    if (!now || !before) return {};  // an earlier file of another kind: nothing to say
    const QString when =
        earlier.stamp.empty() ? q(earlier.file.filename()) : Words::readTime(earlier.stamp);
    return Words::comparedWithEarlier(compareWith(*now, *before), when);
}

std::optional<std::vector<Byte>> FileReport::programOf(const std::filesystem::path& file,
                                                       QString* why) {
    NotAnImage reason{};
    auto program = programOfFile(file, &reason);
    if (!program && why) *why = Words::notAnImage(q(file), reason);
    return program;
}

QString FileReport::comparedWith(const std::filesystem::path& image,
                                 const std::vector<Byte>& program, const QString& file, bool* same,
                                 QString* why) {
    const auto ours = programOf(image, why);
    if (!ours) return {};
    const ProgramDiff diff = compareWith(*ours, program);
    if (same) *same = diff.same();
    return Words::comparedWithFile(diff, file);
}

QString FileReport::replacedImage(const std::vector<FileNote>& notes) {
    QString kept;  // none when the read was the same bytes
    for (const FileNote& note : notes) {
        if (note.kind == FileNote::Kind::MovedToHistory) kept = q(note.path);
    }
    return Words::replacedImage(kept);
}

QStringList FileReport::afterSummary(const std::filesystem::path& image, const Earlier& earlier,
                                     int digits) {
    QStringList lines{comparedWithEarlier(image, earlier)};
    const QString digest = sha256(image);
    if (!digest.isEmpty()) lines << Words::fingerprint(digits > 0 ? digest.left(digits) : digest);
    lines.removeAll(QString());
    return lines;
}

QString FileReport::sha256(const std::filesystem::path& file) {
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&in)) return {};
    return QString::fromLatin1(hash.result().toHex());
}

}  // namespace progread
