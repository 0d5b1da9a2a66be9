// SPDX-License-Identifier: GPL-3.0-or-later
// --trace: every request and answer in a file, with its time and what became of it.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

#include "operator_helpers.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "ui/trace_file.h"

using namespace progread;
using namespace progread::testing;

TEST(Trace, ControlCharactersAreNamed) {
    EXPECT_EQ(traceChars(std::string("\x02"
                                     "E01800020\x03"
                                     "D3")),
              "<STX>E01800020<ETX>D3");
    EXPECT_EQ(traceChars(std::string("\x15\x1b\x7f A", 5)), "<NAK><0x1B><0x7F> A");
    EXPECT_EQ(traceChars(std::string("\0", 1)), "<0x00>");
}

TEST(Trace, AReadWithOneSpoiledAnswerShowsItsRejection) {
    TempDir dir;
    Sim sim({"--corrupt-digit", "3"});
    const std::filesystem::path trace = dir / "line.trace";
    const ToolRun run =
        runTool({"--read", sim.qport(), "--dir", str(dir.path()), "--trace", str(trace), "--fast"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const std::vector<Byte> bytes = readFile(trace);
    const QStringList lines = QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<qsizetype>(bytes.size()))
                                  .split('\n', Qt::SkipEmptyParts);
    const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (->|<-|==) "));
    int requests = 0, accepted = 0;
    QStringList rejected;
    for (const QString& line : lines) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        if (line.contains(" -> <STX>E01")) ++requests;
        if (line.endsWith("  accepted")) ++accepted;
        if (line.contains("  rejected: ")) rejected << line;
    }
    EXPECT_EQ(accepted, 41);
    // The image's whole digest ends the trace.
    QFile image(str(dir / "duqu.pmw"));
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    EXPECT_TRUE(lines.last().endsWith(
        "== duqu.pmw SHA-256 " +
        QString::fromLatin1(
            QCryptographicHash::hash(image.readAll(), QCryptographicHash::Sha256).toHex())))
        << lines.last().toStdString();
    EXPECT_EQ(requests, 42) << "the third block asked twice";
    ASSERT_EQ(rejected.size(), 1);
    EXPECT_TRUE(rejected[0].contains("<- <STX>") && rejected[0].contains("<ETX>"))
        << rejected[0].toStdString();
    EXPECT_TRUE(rejected[0].contains("checksum mismatch")) << rejected[0].toStdString();
    // The request for block 3 stands just before its spoiled answer, and again after it.
    const int at = static_cast<int>(lines.indexOf(rejected[0]));
    ASSERT_GE(at, 1);
    EXPECT_TRUE(lines[at - 1].contains("-> <STX>E018040")) << lines[at - 1].toStdString();
    EXPECT_TRUE(lines[at + 1].contains("-> <STX>E018040")) << lines[at + 1].toStdString();

    // Appended, never overwritten. Qt's warning of a runtime folder others may read goes
    // there too, not to the operator.
    const std::filesystem::path runtime = dir / "run";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms(0755));
    const ToolRun again =
        runTool({"--read", sim.qport(), "--dir", str(dir.path()), "--trace", str(trace), "--fast"},
                {"XDG_RUNTIME_DIR=" + str(runtime), "TMPDIR=" + str(dir.path()),
                 "PROGREAD_LINE_DIR="});  // the runtime folder is asked for
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_GT(readFile(trace).size(), bytes.size() + 41 * 60);
    EXPECT_FALSE(again.err.contains("QStandardPaths")) << again.err.toStdString();
    QFile appended(str(trace));
    ASSERT_TRUE(appended.open(QIODevice::ReadOnly));
    EXPECT_TRUE(appended.readAll().contains(" == Qt warning: QStandardPaths: wrong permissions"));

    const ToolRun nowhere = runTool(
        {"--read", sim.qport(), "--dir", str(dir.path()), "--trace", str(dir / "no" / "such")});
    EXPECT_EQ(nowhere.exitCode, 2);
    EXPECT_TRUE(nowhere.err.contains("trace file")) << nowhere.err.toStdString();
}

// Qt's own messages: held from the start until the trace opens; nowhere once it is gone.
TEST(Trace, QtsOwnMessagesWaitForTheTrace) {
    catchQtMessages(true);
    qWarning("said before the trace opened");
    TempDir dir;
    {
        TraceFile trace;
        ASSERT_TRUE(trace.open(dir / "t", nullptr));
        trace.takeQtMessages();
    }
    qWarning("said after it closed");
    qInstallMessageHandler(nullptr);
    const std::vector<Byte> bytes = readFile(dir / "t");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(24),
              "== Qt warning: said before the trace opened\n");
}
