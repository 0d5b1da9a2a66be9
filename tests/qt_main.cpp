// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>

#include "own_dirs.h"

int main(int argc, char** argv) {
    // No display is needed, also when the tests are listed at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tests read English; the programs they start inherit this (a test that wants
    // Chinese says so).
    qputenv("LC_ALL", "C.UTF-8");
    qunsetenv("LANGUAGE");
    // Settings and the line's records per port stay out of the user's folders and out of
    // other test processes': pseudo-terminal names are reused.
    const progread::testing::OwnUserDirs own;
    QApplication app(argc, argv);
    // Where the window keeps the last good port, and the records: checked, not assumed.
    const QString settings =
        QSettings(QStringLiteral("progread"), QStringLiteral("progread")).fileName();
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!own.holds(settings.toStdString()) || !own.holds(runtime.toStdString())) {
        std::fprintf(stderr, "the tests would use the user's own folders (%s, %s); not run\n",
                     settings.toLocal8Bit().constData(), runtime.toLocal8Bit().constData());
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
