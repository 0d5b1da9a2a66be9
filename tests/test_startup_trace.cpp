// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up trace is for measuring start-up (scripts/bench); the window otherwise says
// nothing.

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

#include "qt_helpers.h"
#include "temp_dir.h"

using namespace progread;
using namespace progread::testing;

TEST(StartupTrace, TheWindowReportsWhenItIsFirstShown) {
    TempDir dir;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PROGREAD_STARTUP_TRACE", "1");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PROGREAD_EXE), {"--dir", str(dir.path()), "--fast"});
    ASSERT_TRUE(p.waitForStarted(5000));
    QString err;
    const bool shown = waitUntil([&] {
        err += QString::fromUtf8(p.readAllStandardError());
        return err.contains("window shown");
    });
    p.terminate();
    if (!p.waitForFinished(3000)) p.kill();
    p.waitForFinished(3000);
    EXPECT_TRUE(shown) << err.toStdString();
    EXPECT_TRUE(err.contains(
        QRegularExpression("window shown [0-9.]+ ms after load \\(monotonic [0-9.]+ ms\\)")))
        << err.toStdString();
}
