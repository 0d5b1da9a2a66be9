// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// progread's command line: the options, their usage text, and how a mistake in them is told.

#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace progread {

// The command line's words.
struct Cli {
    Q_DECLARE_TR_FUNCTIONS(Cli)
};

struct Options {
    std::optional<std::string> port;
    std::optional<std::string> read;
    std::optional<std::string> dir;
    std::optional<std::string> trace;
    std::optional<std::string> lang;
    std::optional<std::string> compare;
    bool probe = false;
    bool fast = false;
    bool verify = false;
    bool help = false;
    bool version = false;
    bool listPorts = false;
    std::function<QString()> error;  // a usage error, worded once the language is known
};

Options parse(int argc, char** argv);
QString usage();
void say(std::FILE* to, const QString& text);
// Says what was wrong, and where help is; the exit status of a usage error.
int usageError(const QString& what);

}  // namespace progread
