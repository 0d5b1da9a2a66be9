// SPDX-License-Identifier: GPL-3.0-or-later
// --fast and the simulator's longer samples, end to end over a pseudo-terminal.

#include <gtest/gtest.h>

#include "qt_helpers.h"
#include "temp_dir.h"
#include "tools/sample_program.h"

using namespace progread;
using namespace progread::testing;

TEST(FastRead, ReadsTheWholeProgramBackToBackAsAtThePace) {
    struct Row {
        QStringList sim;
        QStringList progread;
        std::size_t blocks;
    } rows[] = {
        {{"--blocks", "1"}, {}, 1},
        {{"--blocks", "1"}, {"--fast"}, 1},
        {{"--blocks", "12"}, {"--fast"}, 12},
        {{"--blocks", "12", "--char-us", "300", "--latency-ms", "3"}, {"--fast"}, 12},
        {{"--blocks", "5", "--chunk", "7", "--chunk-gap-ms", "1"}, {"--fast"}, 5},
        // Lost and spoiled answers: asked again, at once or after the wait.
        {{"--blocks", "6", "--drop", "3", "--corrupt-digit", "5"}, {"--fast"}, 6},
    };
    for (const Row& row : rows) {
        const std::string what = (row.sim + row.progread).join(' ').toStdString();
        TempDir dir;
        Sim sim(row.sim);
        ASSERT_FALSE(sim.port().empty()) << what;
        const Outcome out = runProgread(
            QStringList{"--read", sim.qport(), "--dir", str(dir.path())} + row.progread);
        EXPECT_EQ(out.exitCode, 0) << what << "\n" << out.stdErr.toStdString();
        EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory(row.blocks)))
            << what;
    }
}

TEST(FastRead, HelpSaysWhoFastIsFor) {
    const Outcome help = runProgread({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.stdOut.indexOf("--fast"), -1);
    EXPECT_NE(help.stdOut.indexOf("back to back"), -1) << help.stdOut.toStdString();
}

TEST(FastRead, TheSimulatorRefusesSamplesItCannotHold) {
    TempDir dir;
    writeFile(dir / "memory.bin", std::vector<Byte>(64, 0x11));
    for (const QStringList& args :
         {QStringList{"--blocks", "0"}, QStringList{"--blocks", "1025"},
          QStringList{"--blocks", "x"},
          QStringList{"--blocks", "3", "--memory", str(dir / "memory.bin")}}) {
        const Outcome out = runProgread(args, QStringLiteral(PROGREAD_SIM));
        EXPECT_EQ(out.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_NE(out.stdErr.indexOf("--blocks"), -1) << out.stdErr.toStdString();
    }
}
