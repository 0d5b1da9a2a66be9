#pragma once

// How the window and --read tell the operator where files went: one sentence each.

#include <QCoreApplication>
#include <QString>
#include <filesystem>
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
    // Prepares the station's image (raising what that raises) and words what it did.
    static Startup start(Station& station, const FileDir& dir);
    // "Files are kept in …"
    static QString where(const FileDir& dir);
    // One sentence per note, joined.
    static QString notes(const std::vector<FileNote>& notes);
    // After a read stopped: which file holds what. Empty when the read made no file.
    static QString kept(const ProgramImage& image);
};

}  // namespace progread
