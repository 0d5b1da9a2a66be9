// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "child_process.h"
#include "image/compare.h"
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

// Everything under root as it stands: each file's size and hash, each link's target, each
// folder; short enough to read in a failure.
std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
    std::map<std::string, std::string> all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string& what = all[entry.path().string()];
        if (entry.is_symlink()) {
            what = "-> " + std::filesystem::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            const std::vector<Byte> bytes = readFile(entry.path());
            const std::size_t hash =
                std::hash<std::string>{}(std::string(bytes.begin(), bytes.end()));
            what = std::to_string(bytes.size()) + " bytes, hash " + std::to_string(hash);
        } else {
            what = "folder";
        }
    }
    return all;
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
    // Nothing replaced the earlier image, so it stays, and the operator is told which it is.
    EXPECT_EQ(readFile(dir / "duqu.pmw"), earlier);
    EXPECT_FALSE(std::filesystem::exists(dir / "history"));
    EXPECT_NE(out.stdErr.indexOf("duqu.pmw still holds the read of 20"), -1)
        << out.stdErr.toStdString();
    EXPECT_TRUE(out.stdErr.endsWith("\nprogread: Read failed\n")) << "the ending comes last";

    // A mistyped port: the earlier image stays, and the last read's .part too.
    const Outcome missing = runProgread({"--read", "/dev/ttyNOSUCH1", "--dir", str(dir.path())});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.stdErr.indexOf("no such device"), -1) << missing.stdErr.toStdString();
    EXPECT_NE(missing.stdErr.indexOf("duqu.pmw still holds the read of 20"), -1)
        << missing.stdErr.toStdString();
    EXPECT_EQ(std::filesystem::file_size(dir / "duqu.pmw.part"), 256u + 3 * 32);
    EXPECT_EQ(readFile(dir / "duqu.pmw"), earlier);
    EXPECT_FALSE(std::filesystem::exists(dir / "history"));
}

TEST(Headless, SignalsAndALostErrorStreamEndTheReadAsTheyShould) {
    struct Row {
        const char* what;
        int signo;         // sent once 3 blocks are on disk; 0: none
        bool hupIgnored;   // started under nohup
        bool closeStderr;  // whoever read standard error went away first
        int exitCode;
        const char* said;  // how the stop is told; null: not heard, or not stopped
    } rows[] = {
        {"Ctrl-C", SIGINT, false, false, 130, "Interrupted (SIGINT)"},
        {"kill", SIGTERM, false, false, 143, "Stopped (SIGTERM)"},
        {"the terminal closes", SIGHUP, false, false, 129, "Hung up (SIGHUP)"},
        {"the terminal closes under nohup", SIGHUP, true, false, 0, nullptr},
        {"2>&1 | head -c 60", 0, false, true, 0, nullptr},
        {"stderr gone, then kill", SIGTERM, false, true, 143, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        Sim sim;
        // Standard error into a pipe of our own, so that its reading end can be closed.
        int err[2];
        ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
        QProcess p;
        p.setProcessEnvironment(headlessEnvironment());
        p.setChildProcessModifier([w = err[1], ignore = row.hupIgnored] {
            ::dup2(w, 2);
            if (ignore) ::signal(SIGHUP, SIG_IGN);
        });
        p.start(QStringLiteral(PROGREAD_EXE), {"--read", sim.qport(), "--dir", str(dir.path())});
        ::close(err[1]);
        ASSERT_TRUE(waitUntil([&] { return sizeOr0(dir / "duqu.pmw.part") >= 256 + 3 * 32; }));
        if (row.closeStderr) ::close(err[0]);
        if (row.signo) signalChild(p, row.signo);
        ASSERT_TRUE(p.waitForFinished(20000));
        std::string said;
        if (!row.closeStderr) {
            char buf[4096];
            for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) said.append(buf, n);
            ::close(err[0]);
        }
        const QString errText = QString::fromStdString(said);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), row.exitCode) << said;
        if (row.exitCode == 0) {
            EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory()));
            continue;
        }
        const std::vector<Byte> part = readFile(dir / "duqu.pmw.part");
        ASSERT_GE(part.size(), 256u + 3 * 32);
        const std::size_t blocks = (part.size() - 256) / 32;
        EXPECT_EQ(part, headerAndBlocks(sampleProgramMemory(), blocks)) << "whole blocks, no tail";
        EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw"));
        if (row.said) {
            EXPECT_NE(errText.indexOf(row.said), -1) << said;
            EXPECT_EQ(blocksSaidKept(errText, dir.path()), static_cast<long>(blocks)) << said;
        }
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

TEST(Headless, ATraceIntoTheImageFoldersOwnFilesIsAUsageError) {
    struct Row {
        const char* what;
        std::string trace;  // "D…": in the image folder, "B…": in the folder above it
        const char* own;    // what the refusal names, in the image folder; null: taken
    };
    const std::vector<Row> rows = {
        {"the image", "D/duqu.pmw", "duqu.pmw"},
        {"the read under way", "D/duqu.pmw.part", "duqu.pmw.part"},
        {"the lock, not there yet", "D/duqu.pmw.lock", "duqu.pmw.lock"},
        {"the template", "D/moban.pmw", "moban.pmw"},
        {"a kept image", "D/history/duqu-1.pmw", "history/duqu-1.pmw"},
        {"a new name in history/", "D/history/line.trace", "history/line.trace"},
        {"a roundabout name", "D/history/../duqu.pmw", "duqu.pmw"},
        {"a link to the image", "B/to-image", "duqu.pmw"},
        {"a link to the lock, which is not there", "B/to-lock", "duqu.pmw.lock"},
        {"a hard link to the template", "B/hard-template", "moban.pmw"},
        {"beside them", "D/line.trace", nullptr},
        {"a longer name", "D/duqu.pmw.trace", nullptr},
        {"named like history/", "D/history.trace", nullptr},
    };
    // The folder once in ASCII, once in GBK ("测"), which is shown with its bytes escaped.
    const std::pair<std::string, std::string> folders[] = {{"img", "img"},
                                                           {"\xb2\xe2", "\\xB2\\xE2"}};
    for (const auto& [folder, shownFolder] : folders) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what + (" in " + shownFolder));
            TempDir base;
            const std::filesystem::path dir = base / folder;
            std::filesystem::create_directories(dir / "history");
            writeFile(dir / "duqu.pmw", patternBytes(2594, 1));
            writeFile(dir / "duqu.pmw.part", patternBytes(256 + 64, 2));
            writeFile(dir / "moban.pmw", patternBytes(256, 3));
            writeFile(dir / "history/duqu-1.pmw", patternBytes(2594, 4));
            std::filesystem::create_symlink(dir / "duqu.pmw", base / "to-image");
            std::filesystem::create_symlink(dir / "duqu.pmw.lock", base / "to-lock");
            std::filesystem::create_hard_link(dir / "moban.pmw", base / "hard-template");
            const std::string trace =
                (row.trace[0] == 'D' ? dir : base.path()).string() + row.trace.substr(1);
            const auto before = snapshot(base.path());

            const ChildOutcome out = runChild({PROGREAD_EXE, "--read", "/dev/ttyNOSUCH1", "--dir",
                                               dir.string(), "--trace", trace});
            if (!row.own) {
                EXPECT_EQ(out.exitCode, 1) << out.stdErr;
                EXPECT_TRUE(std::filesystem::exists(trace)) << "opened by the name's own bytes";
                continue;
            }
            EXPECT_EQ(out.exitCode, 2) << out.stdErr;
            const std::string named = base.path().string() + "/" + shownFolder + "/" + row.own;
            EXPECT_NE(out.stdErr.find(named), std::string::npos) << out.stdErr;
            EXPECT_EQ(snapshot(base.path()), before) << "nothing touched";
        }
    }
}

// Needs the folder lock and the file report to take a folder by its bytes too (ui/station.cpp,
// ui/file_report.cpp); enable with them.
TEST(Headless, AFolderNamedInGbkIsUsedByItsBytes) {
    TempDir base;
    const std::filesystem::path gbk = base / "\xb2\xe2\xca\xd4";  // "测试"
    const std::string shown = base.path().string() + "/\\xB2\\xE2\\xCA\\xD4";
    std::filesystem::create_directory(gbk);
    const std::vector<Byte> image = expectedImage({}, sampleProgramMemory());
    Sim sim;

    const ChildOutcome given =
        runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", gbk.string()});
    EXPECT_EQ(given.exitCode, 0) << given.stdErr;
    EXPECT_EQ(readFile(gbk / "duqu.pmw"), image);
    EXPECT_NE(given.stdErr.find("Files are kept in " + shown + "."), std::string::npos)
        << given.stdErr;
    EXPECT_NE(given.stdErr.find(shown + "/duqu.pmw"), std::string::npos) << given.stdErr;

    // The program itself in that folder, and no --dir.
    std::filesystem::remove(gbk / "duqu.pmw");
    std::filesystem::copy_file(PROGREAD_EXE, gbk / "progread");
    std::filesystem::permissions(gbk / "progread", std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    const ChildOutcome own = runChild({(gbk / "progread").string(), "--read", sim.port()});
    EXPECT_EQ(own.exitCode, 0) << own.stdErr;
    EXPECT_EQ(readFile(gbk / "duqu.pmw"), image);
    EXPECT_NE(own.stdErr.find("Files are kept in " + shown + ", the program's folder."),
              std::string::npos)
        << own.stdErr;
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
    // The header is on disk, and a silent controller adds nothing to it.
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code ec;
            return std::filesystem::file_size(dir / "duqu.pmw.part", ec) == 256 && !ec;
        },
        10000));
    const auto part = readFile(dir / "duqu.pmw.part");

    Sim other;
    const Outcome second = runProgread({"--read", other.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(second.exitCode, 1) << second.stdErr.toStdString();
    EXPECT_NE(second.stdErr.indexOf("Another progread"), -1) << second.stdErr.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(readFile(dir / "duqu.pmw.part"), part) << "the first read's file is untouched";
    EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw"));
    first.terminate();
    first.waitForFinished(5000);

    // Once the first has gone, the folder is free again.
    const Outcome third = runProgread({"--read", other.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(third.exitCode, 0) << third.stdErr.toStdString();
}

namespace {

QString sha256Of(const std::filesystem::path& file) {
    QFile in(str(file));
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << file;
    return QString::fromLatin1(
        QCryptographicHash::hash(in.readAll(), QCryptographicHash::Sha256).toHex());
}

// A pseudo-terminal nobody answers on.
struct Silent {
    int master = -1, slave = -1;
    QString name;
    Silent() {
        char buf[256] = {};
        ::openpty(&master, &slave, buf, nullptr, nullptr);
        name = QString::fromLocal8Bit(buf);
    }
    ~Silent() {
        ::close(master);
        ::close(slave);
    }
};

}  // namespace

// Each read says how its program compares with the read before it, and ends with the image's
// fingerprint, the whole SHA-256 that sha256sum prints.
TEST(Headless, EveryReadComparesWithTheReadBefore) {
    TempDir dir;
    const struct {
        const char* what;
        QStringList sim;
        QString said;  // empty: no comparison at all
    } rows[] = {
        {"the first read", {"--blocks", "5"}, ""},
        {"the same program", {"--blocks", "5"}, "Same program as the read of 20"},
        {"two blocks more",
         {"--blocks", "7"},
         "Differs from the read of 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d: 3 of 7 blocks differ, the "
         "first at 0x808[0-9A-F]; the program read now is 2 blocks longer"},
        {"one byte changed",
         {"--blocks", "7", "--change-after", "1"},
         "Differs from the read of .*: 1 of 7 blocks differs, the first at 0x8000\\."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Sim sim(row.sim);
        const Outcome out =
            runProgread({"--read", sim.qport(), "--dir", str(dir.path()), "--fast"});
        ASSERT_EQ(out.exitCode, 0) << out.stdErr.toStdString();
        if (row.said.isEmpty()) {
            EXPECT_FALSE(out.stdErr.contains("the read of")) << out.stdErr.toStdString();
        } else {
            EXPECT_TRUE(out.stdErr.contains(QRegularExpression(row.said)))
                << out.stdErr.toStdString();
        }
        EXPECT_TRUE(out.stdErr.contains("Fingerprint (SHA-256): " + sha256Of(dir / "duqu.pmw")))
            << out.stdErr.toStdString();
    }
}

// --compare FILE: 0 the same program, 3 another, 2 FILE is no program file (before anything
// is read or moved), 1 the read itself failed.
TEST(Headless, CompareWithAFileTellsByItsExitStatus) {
    TempDir files;
    std::vector<Byte> other = sampleProgramMemory();
    other[70] ^= 0x40;
    writeFile(files / "same.pmw", expectedImage(patternBytes(256, 9), sampleProgramMemory()));
    writeFile(files / "other.pmw", expectedImage({}, other));
    writeFile(files / "short.pmw", patternBytes(1000, 3));
    writeFile(files / "long.pmw", patternBytes(kLargestImageBytes + 1, 3));
    ASSERT_EQ(::mkfifo((files / "fifo.pmw").c_str(), 0600), 0);
    const struct {
        const char* what;
        std::string file;
        QStringList sim;
        int exitCode;
        QString said;
    } rows[] = {
        {"the same program, another header", "same.pmw", {}, 0, "Same program as "},
        {"one byte differs",
         "other.pmw",
         {},
         3,
         "1 of 41 blocks differs, the first at 0x8046 (there: 0x"},
        {"no such file", "none.pmw", {}, 2, "none.pmw is not there"},
        {"not a program file", "short.pmw", {}, 2, "is not a program image"},
        {"a byte longer than any image", "long.pmw", {}, 2, "larger than an image can be"},
        {"a pipe, which nobody writes", "fifo.pmw", {}, 2, "fifo.pmw is not a file"},
        {"the read fails", "same.pmw", {"--close-after", "2"}, 1, "disconnected"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        Sim sim(row.sim);
        const Outcome out = runProgread({"--read", sim.qport(), "--dir", str(dir.path()), "--fast",
                                         "--compare", str(files / row.file)});
        EXPECT_EQ(out.exitCode, row.exitCode) << out.stdErr.toStdString();
        EXPECT_TRUE(out.stdErr.contains(row.said)) << out.stdErr.toStdString();
        EXPECT_EQ(std::filesystem::exists(dir / "duqu.pmw"),
                  row.exitCode == 0 || row.exitCode == 3);
        if (row.exitCode == 2) {
            EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw.part"));
        }
    }
    // The file compared with may be the very image this read replaces: named by where its
    // bytes are now, the copy in history/, or none when the read is the same bytes.
    for (const bool same : {false, true}) {
        TempDir dir;
        const std::vector<Byte> earlier = expectedImage({}, same ? sampleProgramMemory() : other);
        writeFile(dir / "duqu.pmw", earlier);
        Sim sim;
        const Outcome out = runProgread({"--read", sim.qport(), "--dir", str(dir.path()), "--fast",
                                         "--compare", str(dir / "duqu.pmw")});
        EXPECT_EQ(out.exitCode, same ? 0 : 3) << out.stdErr.toStdString();
        const QRegularExpressionMatch said =
            QRegularExpression(same ? "Same program as the duqu.pmw this read replaced\\."
                                    : "Differs from (\\S+/history/duqu-[-0-9]+\\.pmw) \\(the "
                                      "duqu.pmw this read replaced\\): 1 of 41 blocks differs")
                .match(out.stdErr);
        ASSERT_TRUE(said.hasMatch()) << out.stdErr.toStdString();
        if (!same) {
            EXPECT_EQ(readFile(said.captured(1).toStdString()), earlier) << "the copy named";
        }
    }
}

// --read auto: the ports are asked side by side; the first in order that answered is read,
// those before it are named with why, and a port that answers only when asked again (a
// request lost, or refused with a NAK) or only after a second is found as well.
TEST(Headless, AutoFindsThePortWhereTheControllerAnswers) {
    const struct {
        const char* what;
        QStringList sim;
        int silentBefore;
        bool anotherAfter;  // a second controller, later in the order, that answers at once
    } rows[] = {
        {"a prompt controller", {}, 1, true},
        {"a controller that answers in 1.2 s", {"--late", "1:1200"}, 1, true},
        {"the first request lost", {"--drop", "1"}, 1, false},
        {"the first request refused with a NAK", {"--nak", "1"}, 1, true},
        {"checksums by another rule", {"--other-checksum"}, 1, true},
        {"three silent ports before it", {}, 3, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::unique_ptr<Silent>> silent;
        QStringList ports;
        for (int i = 0; i < row.silentBefore; ++i) {
            silent.push_back(std::make_unique<Silent>());
            ports << silent.back()->name;
        }
        Sim controller(QStringList{"--blocks", "3"} + row.sim);
        Sim another({"--blocks", "3"});
        ports << controller.qport();
        if (row.anotherAfter) ports << another.qport();
        TempDir dir;
        const Outcome out =
            runProgread({"--read", "auto:" + ports.join(','), "--dir", str(dir.path()), "--fast"});
        EXPECT_EQ(out.exitCode, 0) << out.stdErr.toStdString();
        EXPECT_TRUE(out.stdErr.contains("The controller answered on " + controller.qport()))
            << out.stdErr.toStdString();
        for (const auto& s : silent) {
            EXPECT_TRUE(out.stdErr.contains(s->name + ": no answer")) << out.stdErr.toStdString();
        }
        EXPECT_FALSE(out.stdErr.contains(another.qport())) << "the search ends where one answered";
        EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory(3)));
    }

    // Nobody answers: every port tried is named, and nothing is written.
    Silent silent;
    TempDir none;
    const Outcome nobody = runProgread(
        {"--read", "auto:" + silent.name + ",/dev/ttyNOSUCH7", "--dir", str(none.path())});
    EXPECT_EQ(nobody.exitCode, 1) << nobody.stdErr.toStdString();
    EXPECT_TRUE(nobody.stdErr.contains(silent.name + ": no answer") &&
                nobody.stdErr.contains("/dev/ttyNOSUCH7: no such device") &&
                nobody.stdErr.endsWith("progread: Read failed\n"))
        << nobody.stdErr.toStdString();
    EXPECT_FALSE(std::filesystem::exists(none / "duqu.pmw.part"));
}
