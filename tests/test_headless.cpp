#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QProcess>
#include <QRegularExpression>
#include <random>

#include "qt_helpers.h"
#include "temp_dir.h"
#include "tmpfs.h"
#include "tools/sample_program.h"

using namespace progread;
using namespace progread::testing;

namespace {

std::uintmax_t sizeOr0(const std::filesystem::path& p) {
    std::error_code ec;
    const std::uintmax_t n = std::filesystem::file_size(p, ec);
    return ec ? 0 : n;
}

// What the stop message says the .part holds: "… 7 blocks kept in DIR/duqu.pmw.part …".
long blocksSaidKept(const QString& stdErr, const std::filesystem::path& dir) {
    const QRegularExpression said(QStringLiteral("(\\d+) blocks? kept in ") +
                                  QRegularExpression::escape(str(dir / "duqu.pmw.part")));
    const QRegularExpressionMatch m = said.match(stdErr);
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

std::vector<Byte> headerAndBlocks(const std::vector<Byte>& memory, std::size_t blocks) {
    std::vector<Byte> image(256 + blocks * 32, 0);
    std::copy_n(memory.begin(), blocks * 32, image.begin() + 256);
    return image;
}

}  // namespace

TEST(Headless, ReadWritesTheImageAndExitsZero) {
    TempDir dir;
    Sim sim;
    const Outcome out = runProgread({"--read", sim.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(out.exitCode, 0) << out.stdErr.toStdString();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory()));
    EXPECT_NE(out.stdErr.indexOf(str(dir / "duqu.pmw")), -1)
        << "the summary says where the image went";
    EXPECT_NE(out.stdErr.indexOf("No template"), -1) << out.stdErr.toStdString();
}

TEST(Headless, AFailedUploadExitsOneWithTheReason) {
    TempDir dir;
    const std::vector<Byte> earlier = patternBytes(9314, 6);
    writeFile(dir / "duqu.pmw", earlier);
    Sim sim({"--close-after", "3"});
    const Outcome out = runProgread({"--read", sim.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.stdErr.indexOf(sim.qport()), -1) << out.stdErr.toStdString();
    EXPECT_EQ(std::filesystem::file_size(dir / "duqu.pmw.part"), 256u + 3 * 32);
    EXPECT_EQ(blocksSaidKept(out.stdErr, dir.path()), 3) << out.stdErr.toStdString();
    EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw"));
    EXPECT_NE(out.stdErr.indexOf("history/duqu-"), -1) << out.stdErr.toStdString();

    // A mistyped port: the earlier image is kept, and the last read's .part too.
    writeFile(dir / "duqu.pmw", earlier);
    const Outcome missing = runProgread({"--read", "/dev/ttyNOSUCH1", "--dir", str(dir.path())});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.stdErr.indexOf("no such device"), -1) << missing.stdErr.toStdString();
    EXPECT_EQ(std::filesystem::file_size(dir / "duqu.pmw.part"), 256u + 3 * 32);
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "history")) {
        EXPECT_EQ(readFile(entry.path()), earlier) << entry.path();
        ++kept;
    }
    EXPECT_EQ(kept, 2);
}

TEST(Headless, SigintOrSigtermStopsTheReadKeepingItsBlocks) {
    struct Row {
        int signo;
        int exitCode;
    } rows[] = {{SIGINT, 130}, {SIGTERM, 143}};
    for (const auto& row : rows) {
        TempDir dir;
        Sim sim;
        QProcess p;
        p.setProcessEnvironment(headlessEnvironment());
        p.start(QStringLiteral(PROGREAD_EXE), {"--read", sim.qport(), "--dir", str(dir.path())});
        ASSERT_TRUE(waitUntil([&] { return sizeOr0(dir / "duqu.pmw.part") >= 256 + 3 * 32; }))
            << row.signo;
        signalChild(p, row.signo);
        ASSERT_TRUE(p.waitForFinished(20000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << row.signo;
        EXPECT_EQ(p.exitCode(), row.exitCode) << err.toStdString();
        const std::vector<Byte> part = readFile(dir / "duqu.pmw.part");
        ASSERT_GE(part.size(), 256u + 3 * 32);
        const std::size_t blocks = (part.size() - 256) / 32;
        EXPECT_EQ(part, headerAndBlocks(sampleProgramMemory(), blocks)) << "whole blocks, no tail";
        EXPECT_EQ(blocksSaidKept(err, dir.path()), static_cast<long>(blocks)) << err.toStdString();
        EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw"));
    }
}

TEST(Headless, KilledAtAnyMomentItLeavesNoHalfImage) {
    TempDir files;
    const std::vector<Byte> memory = memoryWithMarkerInBlock(10);
    writeFile(files / "memory.bin", memory);
    const std::vector<Byte> complete = expectedImage({}, memory);
    // Kill points by the size of the .part: just begun, midway, every block but no tail, the
    // tail on disk but not yet renamed; and a few anywhere.
    std::vector<std::uintmax_t> killAt = {256, 256 + 5 * 32, 256 + 11 * 32, complete.size()};
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int i = 0; i < 3; ++i)
        killAt.push_back(
            std::uniform_int_distribution<std::uintmax_t>(256, complete.size())(random));
    for (const std::uintmax_t size : killAt) {
        TempDir dir;
        Sim sim({"--memory", str(files / "memory.bin")});
        QProcess p;
        p.setProcessEnvironment(headlessEnvironment());
        p.start(QStringLiteral(PROGREAD_EXE), {"--read", sim.qport(), "--dir", str(dir.path())});
        ASSERT_TRUE(waitUntil([&] {
            return sizeOr0(dir / "duqu.pmw.part") >= size ||
                   std::filesystem::exists(dir / "duqu.pmw") || p.state() == QProcess::NotRunning;
        })) << size;
        signalChild(p, SIGKILL);
        p.waitForFinished(20000);
        if (std::filesystem::exists(dir / "duqu.pmw")) {
            EXPECT_EQ(readFile(dir / "duqu.pmw"), complete)
                << "killed at " << size << ", seed " << seed;
        }
    }
}

TEST(Headless, UsageErrorsExitTwo) {
    for (const QStringList& args :
         {QStringList{"--bogus"}, QStringList{"--read"}, QStringList{"--read", "abc"},
          QStringList{"--read", "1", "--port", "2"}, QStringList{"--dir"}}) {
        const Outcome out = runProgread(args);
        EXPECT_EQ(out.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(out.stdErr.isEmpty());
    }
    const Outcome help = runProgread({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--port", "--read", "--dir", "--version"}) {
        EXPECT_NE(help.stdOut.indexOf(option), -1) << option;
    }
    const QString programDir = str(std::filesystem::path(PROGREAD_EXE).parent_path());
    EXPECT_NE(help.stdOut.indexOf("kept in " + programDir), -1) << help.stdOut.toStdString();
    EXPECT_TRUE(runProgread({"--version"}).stdOut.startsWith("progread "));
}

TEST(Headless, AnInstalledToolKeepsItsFilesInTheUsersDocuments) {
    SmallTmpfs installed(4096);
    if (!installed.mounted()) GTEST_SKIP() << installed.why();
    const auto exe = installed / "progread";
    std::filesystem::copy_file(PROGREAD_EXE, exe);
    ASSERT_TRUE(installed.remountReadOnly());
    TempDir home;
    QProcessEnvironment env = headlessEnvironment();
    env.insert("HOME", str(home.path()));
    env.remove("XDG_CONFIG_HOME");
    const auto documents = home / "Documents/progread";

    const Outcome help = runProgread({"--help"}, str(exe), env);
    EXPECT_NE(help.stdOut.indexOf("kept in " + str(documents)), -1) << help.stdOut.toStdString();
    EXPECT_FALSE(std::filesystem::exists(documents)) << "--help creates nothing";

    const Outcome read = runProgread({"--read", "/dev/ttyNOSUCH1"}, str(exe), env);
    EXPECT_EQ(read.exitCode, 1);
    EXPECT_NE(read.stdErr.indexOf(str(documents)), -1) << read.stdErr.toStdString();
    EXPECT_TRUE(std::filesystem::exists(documents / "moban.pmw")) << "created with the folder";

    TempDir given;
    const Outcome dirWins =
        runProgread({"--read", "/dev/ttyNOSUCH1", "--dir", str(given.path())}, str(exe), env);
    EXPECT_TRUE(std::filesystem::exists(given / "moban.pmw")) << dirWins.stdErr.toStdString();
}

TEST(Headless, ASecondProgreadInTheSameFolderIsRefusedAndTouchesNothing) {
    TempDir dir;
    Sim silent({"--silent-after", "0"});
    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(PROGREAD_EXE), {"--read", silent.qport(), "--dir", str(dir.path())});
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(dir / "duqu.pmw.part"); }, 10000));
    const auto part = readFile(dir / "duqu.pmw.part");

    Sim other;
    const Outcome second = runProgread({"--read", other.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(second.exitCode, 1) << second.stdErr.toStdString();
    EXPECT_NE(second.stdErr.indexOf("another progread"), -1) << second.stdErr.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(readFile(dir / "duqu.pmw.part"), part) << "the first read's file is untouched";
    EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw"));
    first.terminate();
    first.waitForFinished(5000);

    // Once the first has gone, the folder is free again.
    const Outcome third = runProgread({"--read", other.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(third.exitCode, 0) << third.stdErr.toStdString();
}
