#include <gtest/gtest.h>

#include "fakes.h"
#include "image/program_image.h"
#include "temp_dir.h"

using namespace progread;
using namespace progread::testing;

TEST(ProgramImage, HeaderIsTheTemplatesFirst256BytesPaddedWithZeros) {
    struct Row {
        const char* what;
        std::optional<std::size_t> templateSize;  // nullopt: no template file
        std::size_t copied;
    } rows[] = {{"300 bytes", 300, 256}, {"exactly 256", 256, 256}, {"10 bytes", 10, 10},
                {"empty", 0, 0}, {"missing", std::nullopt, 0}};
    for (const auto& row : rows) {
        TempDir dir;
        std::vector<Byte> templ = patternBytes(row.templateSize.value_or(0), 7);
        if (row.templateSize) writeFile(dir / "moban.pmw", templ);
        writeFile(dir / "duqu.pmw", std::vector<Byte>(5000, 0xEE));  // an earlier run's image

        ProgramImage image(dir.path());
        PrepareReport report = image.prepare();
        image.close();

        std::vector<Byte> expected(256, 0);
        std::copy_n(templ.begin(), row.copied, expected.begin());
        EXPECT_EQ(readFile(dir / "duqu.pmw"), expected) << row.what;
        EXPECT_EQ(report.templateBytes, row.copied) << row.what;
        EXPECT_EQ(report.templateMissing, !row.templateSize) << row.what;
        EXPECT_EQ(report.headerComplete(), row.copied == 256) << row.what;
        ASSERT_TRUE(std::filesystem::exists(dir / "moban.pmw")) << row.what;
        EXPECT_EQ(readFile(dir / "moban.pmw"), templ) << "the template is never changed";
    }
}

TEST(ProgramImage, AFirstUploadEndingInItsFirstReplyLeaves1314Bytes) {
    TempDir dir;
    std::vector<Byte> templ = patternBytes(256, 3);
    writeFile(dir / "moban.pmw", templ);
    ProgramImage image(dir.path());
    image.prepare();
    Rig rig(&image);
    rig.putEndMarker(2);
    rig.run();
    // Flushed: complete on disk before the image is closed.
    std::vector<Byte> onDisk = readFile(dir / "duqu.pmw");
    ASSERT_EQ(onDisk.size(), 1314u);
    EXPECT_EQ(image.size(), 1314u);
    EXPECT_TRUE(std::equal(templ.begin(), templ.end(), onDisk.begin()));
    EXPECT_TRUE(std::equal(rig.memory.begin(), rig.memory.begin() + 32, onDisk.begin() + 256));
    for (std::size_t i = 288; i < 1314; i += 2) {
        ASSERT_EQ(onDisk[i], 0xFF) << i;
        ASSERT_EQ(onDisk[i + 1], 0x00) << i;
    }

    // A new start takes the image back to its header before the second upload.
    rig.run();
    image.close();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), onDisk);
}

TEST(ProgramImage, ReceivedBlocksAreOnDiskWhileTheUploadRuns) {
    TempDir dir;
    ProgramImage image(dir.path());
    image.prepare();
    Rig rig(&image);
    rig.upload.Command1_Click();
    for (int i = 0; i < 3; ++i) rig.tick();
    EXPECT_EQ(std::filesystem::file_size(dir / "duqu.pmw"), 256u + 3 * 32);
}

TEST(ProgramImage, FileProblemsAreFileErrorsNamingThePath) {
    TempDir dir;
    std::filesystem::create_directory(dir / "duqu.pmw");  // the image cannot be created
    ProgramImage image(dir.path());
    try {
        image.prepare();
        FAIL() << "prepare succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::File);
        EXPECT_NE(e.message().find((dir / "duqu.pmw").string()), std::string::npos) << e.message();
    }
    EXPECT_FALSE(image.isOpen());
    EXPECT_THROW(image.appendPair({1, 2}), Error);
}
