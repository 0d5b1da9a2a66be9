// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the window and --read tell the operator where files went: one sentence each.

#include <QCoreApplication>
#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/program_image.h"

namespace progread {

// Where moban.pmw, duqu.pmw, its .part and history/ lie, and why there.
struct FileDir {
    enum class Source { Given, Program, User };
    FileDir(std::filesystem::path p, Source s = Source::Given) : path(std::move(p)), source(s) {}
    std::filesystem::path path;
    Source source;
};

class Station;

class FileReport {
    Q_DECLARE_TR_FUNCTIONS(FileReport)

public:
    // What the window and --read tell at start-up, once the station has its folder and image.
    struct Startup {
        QString where;    // "Files are kept in …"
        QString notes;    // what was done to files meanwhile
        QString warning;  // a template short of a header; empty when it is whole
    };
    // The image a read replaced: where its bytes are now, and when it was read.
    struct Earlier {
        std::filesystem::path file;
        std::string stamp;  // "20261208-042512"
    };
    // Prepares the station's image (raising what that raises) and words what it did.
    static Startup start(Station& station, const FileDir& dir);
    // The image that publishing replaced, as these notes tell; empty file when there was none.
    static Earlier earlierImage(const std::vector<FileNote>& notes);
    // The program of a file the operator names, read before anything is moved; nothing, with
    // why in the operator's words, when it cannot be read as an image.
    static std::optional<std::vector<Byte>> programOf(const std::filesystem::path& file,
                                                      QString* why);
    // The image against that program (the file it came from named); same tells the outcome.
    // Empty, with why, when the image cannot be read.
    static QString comparedWith(const std::filesystem::path& image,
                                const std::vector<Byte>& program, const QString& file, bool* same,
                                QString* why);
    // How comparedWith names the duqu.pmw this read replaced, as these notes tell where its
    // bytes are now: the file's name would lead to the new image.
    static QString replacedImage(const std::vector<FileNote>& notes);
    // What ends a finished read's summary: how it compares with the earlier read, and its
    // fingerprint, digits long (the whole digest when 0); a line each.
    static QStringList afterSummary(const std::filesystem::path& image, const Earlier& earlier,
                                    int digits);
    // The SHA-256 of a file, in hex; empty when it cannot be read.
    static QString sha256(const std::filesystem::path& file);

private:
    // The image just published against the one kept from before: a sentence; empty when
    // there is none, or it cannot be read as an image.
    static QString comparedWithEarlier(const std::filesystem::path& image, const Earlier& earlier);
};

}  // namespace progread
