// SPDX-License-Identifier: GPL-3.0-or-later
// progread without a window: what it says without a display, and its progress on a terminal.

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include "operator_helpers.h"
#include "qt_helpers.h"
#include "temp_dir.h"

using namespace progread;
using namespace progread::testing;

TEST(NoDisplay, TheWindowSaysSoAndPointsToRead) {
    const ToolRun run = runTool({});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("no display")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("--read PORT")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Reinstalling")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("XDG_RUNTIME_DIR")) << run.err.toStdString();
}

TEST(Progress, OnATerminalOneLineIsRewrittenAndTheSummaryFollowsOnItsOwn) {
    // script(1) gives progread a terminal for its standard error.
    if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
        GTEST_SKIP() << "no script(1)";
    TempDir dir;
    Sim sim({"--blocks", "5"});
    const QString command = QStringLiteral("%1 --read %2 --dir %3")
                                .arg(QStringLiteral(PROGREAD_EXE), sim.qport(), str(dir.path()));
    QProcess p;
    p.start(QStringLiteral("script"), {"-qec", command, "/dev/null"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    const QStringList rewrites = out.split('\r');
    // Every request rewrote the line: the first after the notes, each one erasing the rest.
    EXPECT_GE(rewrites.count(), 5) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("\rBlock 5 (0x8080): 128 bytes read, ")) &&
                out.contains("\x1b[K"))
        << out.toStdString();
    // The summary on a line of its own, and how the read ended last, where the eye lands.
    EXPECT_TRUE(out.contains(QRegularExpression(
        QStringLiteral("retries\\.\\x1b\\[K\\r?\\nprogread: Read 160 bytes, 5 blocks"))))
        << out.toStdString();
    EXPECT_TRUE(out.trimmed().endsWith("progread: Done, with a warning")) << out.toStdString();
}
