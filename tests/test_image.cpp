#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstring>
#include <functional>

#include "fakes.h"
#include "image/program_image.h"
#include "temp_dir.h"
#ifndef _WIN32
#include "tmpfs.h"
#endif

using namespace progread;
using namespace progread::testing;
namespace fs = std::filesystem;

namespace {

// header, the first `blocks` blocks of memory, and the tail when complete.
std::vector<Byte> imageOf(const std::vector<Byte>& templ, const std::vector<Byte>& memory,
                          std::size_t blocks, bool complete) {
    std::vector<Byte> image(256 + blocks * 32, 0);
    std::copy_n(templ.begin(), std::min<std::size_t>(templ.size(), 256), image.begin());
    std::copy_n(memory.begin(), blocks * 32, image.begin() + 256);
    for (int k = 0; complete && k < 513; ++k) {
        image.push_back(0xFF);
        image.push_back(0x00);
    }
    return image;
}

std::vector<fs::path> historyOf(const TempDir& dir) {
    std::vector<fs::path> files;
    if (!fs::exists(dir / "history")) return files;
    for (const auto& entry : fs::directory_iterator(dir / "history")) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Names in history/ come from the local time; the tests pin it.
void useUtc() {
#ifdef _WIN32
    ::_putenv_s("TZ", "UTC0");
    ::_tzset();
#else
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
#endif
}

void setModified(const fs::path& p, std::time_t t) {
    fs::last_write_time(
        p, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(t)));
}

constexpr std::time_t k20240131_235958 = 1706745598;

// Forwards each step of a read to the real image and looks at duqu.pmw after it.
struct WatchingSink : ImageSink {
    ProgramImage& image;
    std::function<void(const char* step)> look;
    WatchingSink(ProgramImage& i, std::function<void(const char*)> l)
        : image(i), look(std::move(l)) {}
    void appendPair(BytePair p) override {
        image.appendPair(p);
        look("pair");
    }
    void appendTail() override {
        image.appendTail();
        look("tail");
    }
    void restart() override {
        image.restart();
        look("restart");
    }
    void flush() override {
        image.flush();
        look("flush");
    }
    void publish() override {
        image.publish();
        look("publish");
    }
};

}  // namespace

TEST(ProgramImage, HeaderIsTheTemplatesFirst256BytesPaddedWithZeros) {
    struct Row {
        const char* what;
        std::optional<std::size_t> templateSize;  // nullopt: no template file
        std::size_t copied;
    } rows[] = {{"300 bytes", 300, 256},
                {"exactly 256", 256, 256},
                {"10 bytes", 10, 10},
                {"empty", 0, 0},
                {"missing", std::nullopt, 0}};
    for (const auto& row : rows) {
        TempDir dir;
        std::vector<Byte> templ = patternBytes(row.templateSize.value_or(0), 7);
        if (row.templateSize) writeFile(dir / "moban.pmw", templ);

        ProgramImage image(dir.path());
        PrepareReport report = image.prepare();
        EXPECT_FALSE(fs::exists(dir / "duqu.pmw.part")) << row.what << ": start-up begins no read";
        image.restart();
        image.close();

        std::vector<Byte> expected(256, 0);
        std::copy_n(templ.begin(), row.copied, expected.begin());
        EXPECT_EQ(readFile(dir / "duqu.pmw.part"), expected) << row.what;
        EXPECT_FALSE(fs::exists(dir / "duqu.pmw")) << row.what;
        EXPECT_EQ(report.templateBytes, row.copied) << row.what;
        EXPECT_EQ(report.templateMissing, !row.templateSize) << row.what;
        EXPECT_EQ(report.headerComplete(), row.copied == 256) << row.what;
        ASSERT_TRUE(fs::exists(dir / "moban.pmw")) << row.what;
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
    // On disk before the image is closed.
    std::vector<Byte> onDisk = readFile(dir / "duqu.pmw");
    ASSERT_EQ(onDisk.size(), 1314u);
    EXPECT_EQ(image.size(), 1314u);
    EXPECT_EQ(onDisk, imageOf(templ, rig.memory, 1, true));
    EXPECT_FALSE(fs::exists(dir / "duqu.pmw.part")) << "renamed, not copied";

    // A new read starts from the header; the first image goes to history/.
    rig.run();
    image.close();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), onDisk);
    const auto history = historyOf(dir);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(readFile(history[0]), onDisk);
}

TEST(ProgramImage, ReceivedBlocksAreOnDiskWhileTheUploadRuns) {
    TempDir dir;
    ProgramImage image(dir.path());
    image.prepare();
    Rig rig(&image);
    rig.upload.Command1_Click();
    for (int i = 0; i < 3; ++i) rig.tick();
    EXPECT_EQ(fs::file_size(dir / "duqu.pmw.part"), 256u + 3 * 32);
    EXPECT_EQ(image.partBlocks(), 3u);
}

TEST(ProgramImage, AnEarlierImageIsMovedIntoHistoryByteForByteNeverOverwritten) {
    useUtc();
    TempDir dir;
    const std::vector<Byte> first = patternBytes(9314, 1);
    const std::vector<Byte> second = patternBytes(1314, 2);
    const std::vector<Byte> third = patternBytes(700, 3);

    // Three start-ups, each finding an image made in the same second.
    for (const auto& earlier : {first, second, third}) {
        writeFile(dir / "duqu.pmw", earlier);
        setModified(dir / "duqu.pmw", k20240131_235958);
        ProgramImage image(dir.path());
        image.prepare();
        const auto notes = image.takeNotes();
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].kind, FileNote::Kind::MovedToHistory);
        EXPECT_EQ(readFile(notes[0].path), earlier);
        EXPECT_FALSE(fs::exists(dir / "duqu.pmw"));
    }
    const std::vector<fs::path> expected = {dir / "history/duqu-20240131-235958-1.pmw",
                                            dir / "history/duqu-20240131-235958-2.pmw",
                                            dir / "history/duqu-20240131-235958.pmw"};
    ASSERT_EQ(historyOf(dir), expected);
    EXPECT_EQ(readFile(expected[2]), first);
    EXPECT_EQ(readFile(expected[0]), second);
    EXPECT_EQ(readFile(expected[1]), third);

    // An empty duqu.pmw holds nothing to keep: start-up leaves it, a read removes it.
    writeFile(dir / "duqu.pmw", {});
    ProgramImage image(dir.path());
    image.prepare();
    EXPECT_TRUE(fs::exists(dir / "duqu.pmw"));
    image.restart();
    EXPECT_FALSE(fs::exists(dir / "duqu.pmw"));
    EXPECT_EQ(historyOf(dir).size(), 3u);
    EXPECT_TRUE(image.takeNotes().empty());
}

TEST(ProgramImage, AStoppedReadLeavesNoImageAndItsWholeBlocksInThePart) {
    TempDir dir;
    const std::vector<Byte> templ = patternBytes(256, 5);
    const std::vector<Byte> earlier = patternBytes(9314, 9);
    writeFile(dir / "moban.pmw", templ);
    writeFile(dir / "duqu.pmw", earlier);
    ProgramImage image(dir.path());
    image.prepare();
    Rig rig(&image);
    rig.putEndMarker(40 * 32);
    // The controller falls silent after five blocks.
    rig.controller = [&](long offset, int) -> std::optional<std::string> {
        if (offset >= 5 * 32) return std::nullopt;
        return rig.replyFor(offset);
    };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Stopped);
    EXPECT_FALSE(fs::exists(dir / "duqu.pmw"));
    EXPECT_EQ(readFile(dir / "duqu.pmw.part"), imageOf(templ, rig.memory, 5, false));
    EXPECT_TRUE(image.hasPart());
    EXPECT_EQ(image.partBlocks(), 5u);
    EXPECT_FALSE(image.partComplete());
    const auto history = historyOf(dir);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(readFile(history[0]), earlier);

    // The next read begins afresh, keeps the stopped read's blocks in history/ under a name
    // no program takes for an image, and publishes the whole image.
    const auto kept = readFile(dir / "duqu.pmw.part");
    image.takeNotes();
    rig.controller = [&](long offset, int) { return rig.replyFor(offset); };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Finished);
    const auto notes = image.takeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].kind, FileNote::Kind::ReplacedPart);
    EXPECT_EQ(notes[0].blocks, 5u);
    EXPECT_EQ(notes[0].path.parent_path(), dir / "history");
    EXPECT_EQ(
        notes[0].path.filename().string().substr(notes[0].path.filename().string().size() - 9),
        ".pmw.part");
    EXPECT_EQ(readFile(notes[0].path), kept);
    EXPECT_EQ(readFile(dir / "duqu.pmw"), imageOf(templ, rig.memory, 41, true));
    EXPECT_FALSE(fs::exists(dir / "duqu.pmw.part"));
    EXPECT_FALSE(image.hasPart());
    EXPECT_EQ(historyOf(dir).size(), 2u)
        << "the earlier image and the stopped read's blocks, once each";
}

TEST(ProgramImage, DuquPmwIsAbsentOrCompleteAtEveryStepOfARead) {
    TempDir dir;
    const std::vector<Byte> templ = patternBytes(256, 8);
    writeFile(dir / "moban.pmw", templ);
    ProgramImage image(dir.path());
    image.prepare();
    std::vector<Byte> complete;
    int seenAbsent = 0, seenComplete = 0;
    WatchingSink watch(image, [&](const char* step) {
        if (!fs::exists(dir / "duqu.pmw")) {
            ++seenAbsent;
            return;
        }
        ASSERT_EQ(readFile(dir / "duqu.pmw"), complete) << "after " << step;
        ++seenComplete;
    });
    Rig rig(&watch);
    rig.putEndMarker(7 * 32 + 4);
    complete = imageOf(templ, rig.memory, 8, true);
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Finished);
    EXPECT_EQ(seenComplete, 1) << "only after the publish";
    EXPECT_GT(seenAbsent, 8 * 16);

    // A second read that stops: the first image is in history/, and duqu.pmw never reappears.
    seenComplete = 0;
    rig.controller = [&](long offset, int) -> std::optional<std::string> {
        if (offset >= 3 * 32) return std::nullopt;
        return rig.replyFor(offset);
    };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Stopped);
    EXPECT_EQ(seenComplete, 0);
    EXPECT_FALSE(fs::exists(dir / "duqu.pmw"));
    ASSERT_EQ(historyOf(dir).size(), 1u);
    EXPECT_EQ(readFile(historyOf(dir)[0]), complete);
}

TEST(ProgramImage, FileProblemsAreFileErrorsNamingThePath) {
    TempDir dir;
    fs::create_directory(dir / "duqu.pmw");  // not an image, and cannot be moved for one
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

#ifndef _WIN32  // links need privileges there; a small file system needs mount

TEST(ProgramImage, LinksAreReplacedNeverWrittenThrough) {
    struct Row {
        const char* what;
        const char* link;
    } rows[] = {{"duqu.pmw a link", "duqu.pmw"}, {"duqu.pmw.part a link", "duqu.pmw.part"}};
    for (const auto& row : rows) {
        TempDir dir, elsewhere;
        const std::vector<Byte> precious = patternBytes(5000, 4);
        writeFile(elsewhere / "precious.bin", precious);
        fs::create_symlink(elsewhere / "precious.bin", dir / row.link);
        ProgramImage image(dir.path());
        image.prepare();
        Rig rig(&image);
        rig.putEndMarker(2 * 32);
        rig.run();
        ASSERT_EQ(rig.upload.step(), Upload::Step::Finished) << row.what;
        EXPECT_EQ(readFile(elsewhere / "precious.bin"), precious) << row.what;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "duqu.pmw"))) << row.what;
        EXPECT_EQ(readFile(dir / "duqu.pmw"), imageOf({}, rig.memory, 3, true)) << row.what;
    }

    // A template that is a link to nothing: creating it would write through the link.
    TempDir dir, elsewhere;
    fs::create_symlink(elsewhere / "missing.pmw", dir / "moban.pmw");
    ProgramImage image(dir.path());
    try {
        image.prepare();
        FAIL() << "prepare succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::File);
        EXPECT_NE(e.message().find((dir / "moban.pmw").string()), std::string::npos) << e.message();
    }
    EXPECT_FALSE(fs::exists(elsewhere / "missing.pmw"));
}

TEST(ProgramImage, AFullDiskStopsTheReadWithTheBlocksTheFileHolds) {
    // 2 free pages hold the header and 248 blocks exactly.
    struct Row {
        const char* what;
        std::optional<std::size_t> markerBlock;
        std::size_t kept;
    } rows[] = {{"no room for block 249", std::nullopt, 248},
                {"room for 32 bytes of the tail", 246, 247},
                {"room for the whole image and no copy of it", 214, 215}};
    for (const auto& row : rows) {
        SmallTmpfs disk(16);
        if (!disk.mounted()) GTEST_SKIP() << disk.why();
        ProgramImage image(disk.path());
        image.prepare();  // an empty template takes no space
        ASSERT_TRUE(disk.leaveFree(2));
        Rig rig(&image);
        if (row.markerBlock) rig.putEndMarker(*row.markerBlock * 32);
        rig.run();
        if (row.kept == 215) {
            // Published by a rename, which needs no room.
            EXPECT_EQ(rig.upload.step(), Upload::Step::Finished) << row.what;
            EXPECT_EQ(readFile(disk / "duqu.pmw"), imageOf({}, rig.memory, row.kept, true));
            continue;
        }
        ASSERT_EQ(rig.upload.step(), Upload::Step::Stopped) << row.what;
        ASSERT_EQ(rig.view.errors.size(), 1u) << row.what;
        const Error& e = rig.view.errors[0];
        EXPECT_EQ(e.kind(), ErrorKind::File) << row.what;
        EXPECT_NE(e.message().find((disk / "duqu.pmw.part").string()), std::string::npos)
            << e.message();
        EXPECT_NE(e.message().find(std::strerror(ENOSPC)), std::string::npos) << e.message();
        EXPECT_EQ(readFile(disk / "duqu.pmw.part"), imageOf({}, rig.memory, row.kept, false))
            << row.what;
        EXPECT_EQ(image.partBlocks(), row.kept) << row.what;
        EXPECT_FALSE(image.partComplete()) << row.what;
        EXPECT_FALSE(fs::exists(disk / "duqu.pmw")) << row.what;
    }
}

TEST(ProgramImage, AFolderThatCannotBeWrittenIsAStartUpError) {
    TempDir dir;
    SmallTmpfs readOnly(4);
    if (!readOnly.mounted()) GTEST_SKIP() << readOnly.why();
    writeFile(readOnly / "moban.pmw", patternBytes(256, 1));
    ASSERT_TRUE(readOnly.remountReadOnly());
    EXPECT_FALSE(isWritableDir(readOnly.path()));
    EXPECT_TRUE(isWritableDir(dir.path()));
    ProgramImage locked(readOnly.path());
    try {
        locked.prepare();
        FAIL() << "prepare succeeded on a read-only folder";
    } catch (const Error& e) {
        EXPECT_NE(e.message().find(readOnly.path().string()), std::string::npos) << e.message();
        EXPECT_NE(e.message().find(std::strerror(EROFS)), std::string::npos) << e.message();
    }
}

#endif
