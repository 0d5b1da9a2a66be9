// SPDX-License-Identifier: GPL-3.0-or-later
// --verify: the image is published only when two reads agree.

#include <gtest/gtest.h>

#include "operator_helpers.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "tools/sample_program.h"

using namespace progread;
using namespace progread::testing;

TEST(Verify, TheImageIsPublishedOnlyWhenTwoReadsAgree) {
    struct Row {
        const char* what;
        QStringList simArgs;
        int exitCode;
        QString said;
    };
    // The sample is 41 blocks: requests 1..41 are the first read, 42.. the second.
    const std::vector<Row> rows = {
        {"memory unchanged", {}, 0, "Verified"},
        {"changed before the first read", {"--change-after", "1"}, 0, "Verified"},
        {"changed between the reads",
         {"--change-after", "42"},
         1,
         "Block 1 (0x8000) read a second time differs"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        Sim sim(row.simArgs);
        const ToolRun run =
            runTool({"--read", sim.qport(), "--dir", str(dir.path()), "--verify", "--fast"});
        EXPECT_EQ(run.exitCode, row.exitCode) << row.what << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(row.said)) << row.what << "\n" << run.err.toStdString();
        EXPECT_EQ(std::filesystem::exists(dir / "duqu.pmw"), row.exitCode == 0) << row.what;
        if (row.exitCode == 0) {
            std::vector<Byte> memory = sampleProgramMemory();
            if (!row.simArgs.isEmpty()) memory[0] ^= 0x01;
            EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, memory)) << row.what;
        }
    }
}
