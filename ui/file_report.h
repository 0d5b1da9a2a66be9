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

class FileReport {
    Q_DECLARE_TR_FUNCTIONS(FileReport)

public:
    // "Files are kept in …"
    static QString where(const FileDir& dir);
    // One sentence per note, joined.
    static QString notes(const std::vector<FileNote>& notes);
    // After a read stopped: which file holds what. Empty when the read made no file.
    static QString kept(const ProgramImage& image);

private:
    static QString blocks(std::size_t n);
};

}  // namespace progread
