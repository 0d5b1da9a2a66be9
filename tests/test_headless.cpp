#include <gtest/gtest.h>

#include <QProcess>

#include "qt_helpers.h"
#include "temp_dir.h"
#include "tools/sample_program.h"

using namespace progread;
using namespace progread::testing;

namespace {

struct Outcome {
    int exitCode = -1;
    QString stdErr;
    QString stdOut;
};

// Runs progread as an operator's script would: no display at all.
Outcome runProgread(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PROGREAD_EXE), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError()), QString::fromUtf8(p.readAllStandardOutput())};
}

QString str(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

}  // namespace

TEST(Headless, ReadWritesTheImageAndExitsZero) {
    TempDir dir;
    Sim sim;
    const Outcome out = runProgread({"--read", sim.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(out.exitCode, 0) << out.stdErr.toStdString();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory()));
    EXPECT_NE(out.stdErr.indexOf(str(dir / "duqu.pmw")), -1) << "the summary says where the image went";
    EXPECT_NE(out.stdErr.indexOf("No template"), -1) << out.stdErr.toStdString();
}

TEST(Headless, AFailedUploadExitsOneWithTheReason) {
    TempDir dir;
    Sim sim({"--close-after", "3"});
    const Outcome out = runProgread({"--read", sim.qport(), "--dir", str(dir.path())});
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.stdErr.indexOf(sim.qport()), -1) << out.stdErr.toStdString();
    EXPECT_EQ(std::filesystem::file_size(dir / "duqu.pmw.part"), 256u + 3 * 32);
    EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw"));

    const Outcome missing = runProgread({"--read", "/dev/ttyNOSUCH1", "--dir", str(dir.path())});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.stdErr.indexOf("no such device"), -1) << missing.stdErr.toStdString();
}

TEST(Headless, UsageErrorsExitTwo) {
    for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--read"}, QStringList{"--read", "abc"},
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
    EXPECT_TRUE(runProgread({"--version"}).stdOut.startsWith("progread "));
}
