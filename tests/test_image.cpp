// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>

#include "error_kind.h"
#include "fakes.h"
#include "image/program_image.h"
#include "temp_dir.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // A new read starts from the header; the same image again is no copy for history/.
    useUtc();
    setModified(dir / "duqu.pmw", k20240131_235958);
    image.takeNotes();
    rig.run();
    image.close();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), onDisk);
    EXPECT_TRUE(historyOf(dir).empty());
    const auto notes = image.takeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].kind, FileNote::Kind::SameAsEarlier);
    EXPECT_EQ(notes[0].stamp, "20240131-235958");
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

TEST(ProgramImage, AnEarlierImageStaysUntilReplacedThenIsKeptInHistoryByteForByte) {
    useUtc();
    TempDir dir;
    const std::vector<Byte> first = patternBytes(9314, 1);
    const std::vector<Byte> second = patternBytes(1314, 2);
    const std::vector<Byte> third = patternBytes(700, 3);

    // Three reads, each replacing an image made in the same second; start-up and the read's
    // start leave it where it is.
    for (const auto& earlier : {first, second, third}) {
        writeFile(dir / "duqu.pmw", earlier);
        setModified(dir / "duqu.pmw", k20240131_235958);
        ProgramImage image(dir.path());
        image.prepare();
        image.restart();
        EXPECT_EQ(readFile(dir / "duqu.pmw"), earlier);
        EXPECT_EQ(image.imageStamp(), "20240131-235958");
        for (int k = 0; k < 16; ++k) image.appendPair({0x0F, 0x00});
        image.appendTail();
        image.publish();
        const auto notes = image.takeNotes();
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].kind, FileNote::Kind::MovedToHistory);
        EXPECT_EQ(readFile(notes[0].path), earlier);
        EXPECT_EQ(fs::file_size(dir / "duqu.pmw"), 256u + 32 + 1026);
    }
    const std::vector<fs::path> expected = {dir / "history/duqu-20240131-235958-1.pmw",
                                            dir / "history/duqu-20240131-235958-2.pmw",
                                            dir / "history/duqu-20240131-235958.pmw"};
    ASSERT_EQ(historyOf(dir), expected);
    EXPECT_EQ(readFile(expected[2]), first);
    EXPECT_EQ(readFile(expected[0]), second);
    EXPECT_EQ(readFile(expected[1]), third);

    // An empty duqu.pmw holds nothing to keep: it is replaced without a copy.
    writeFile(dir / "duqu.pmw", {});
    ProgramImage image(dir.path());
    image.prepare();
    image.restart();
    EXPECT_TRUE(fs::exists(dir / "duqu.pmw"));
    EXPECT_EQ(image.imageStamp(), "");
    image.appendTail();
    image.publish();
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
    EXPECT_EQ(readFile(dir / "duqu.pmw"), earlier) << "nothing replaced it";
    EXPECT_EQ(readFile(dir / "duqu.pmw.part"), imageOf(templ, rig.memory, 5, false));
    EXPECT_TRUE(image.hasPart());
    EXPECT_EQ(image.partBlocks(), 5u);
    EXPECT_FALSE(image.partComplete());
    EXPECT_TRUE(historyOf(dir).empty());

    // The next read begins afresh, keeps the stopped read's blocks in history/ under a name
    // no program takes for an image, and publishes the whole image.
    const auto kept = readFile(dir / "duqu.pmw.part");
    image.takeNotes();
    rig.controller = [&](long offset, int) { return rig.replyFor(offset); };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Finished);
    const auto notes = image.takeNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].kind, FileNote::Kind::MovedToHistory);
    EXPECT_EQ(readFile(notes[1].path), earlier);
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

TEST(ProgramImage, DuquPmwIsTheEarlierImageOrTheNewOneAtEveryStepOfARead) {
    TempDir dir;
    const std::vector<Byte> templ = patternBytes(256, 8);
    const std::vector<Byte> earlier = patternBytes(1314, 9);
    writeFile(dir / "moban.pmw", templ);
    writeFile(dir / "duqu.pmw", earlier);
    ProgramImage image(dir.path());
    image.prepare();
    std::vector<Byte> complete;
    int seenEarlier = 0, seenComplete = 0;
    WatchingSink watch(image, [&](const char* step) {
        const std::vector<Byte> now = readFile(dir / "duqu.pmw");
        if (now == earlier) {
            ++seenEarlier;
            return;
        }
        ASSERT_EQ(now, complete) << "after " << step;
        ++seenComplete;
    });
    Rig rig(&watch);
    rig.putEndMarker(7 * 32 + 4);
    complete = imageOf(templ, rig.memory, 8, true);
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Finished);
    EXPECT_EQ(seenComplete, 1) << "only after the publish";
    EXPECT_GT(seenEarlier, 8 * 16);
    ASSERT_EQ(historyOf(dir).size(), 1u);

    // A second read that stops: the first image stays.
    seenComplete = 0;
    rig.controller = [&](long offset, int) -> std::optional<std::string> {
        if (offset >= 3 * 32) return std::nullopt;
        return rig.replyFor(offset);
    };
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Stopped);
    EXPECT_GT(seenComplete, 3 * 16);
    EXPECT_EQ(readFile(dir / "duqu.pmw"), complete);
    ASSERT_EQ(historyOf(dir).size(), 1u);
    EXPECT_EQ(readFile(historyOf(dir)[0]), earlier);
}

// The image's bytes reach the disk before it gets its name, and its name the disk after:
// the .part is synced, renamed over duqu.pmw, then the folder synced. A sync or a rename
// that fails stops the read with a file error and publishes nothing.
TEST(ProgramImage, TheImageIsOnDiskBeforeItIsPublished) {
    struct WatchedDisk : DiskCalls {
        fs::path part;
        std::vector<std::string> calls;
        int failSync = 0;
        std::error_code failRename;
        int syncFile(int fd) override {
            std::error_code ec;
            calls.push_back("sync " + std::to_string(fs::file_size(part, ec)));
            return failSync ? failSync : DiskCalls::syncFile(fd);
        }
        std::error_code replace(const fs::path& from, const fs::path& to) override {
            calls.push_back("rename " + from.filename().string() + " " + to.filename().string());
            return failRename ? failRename : DiskCalls::replace(from, to);
        }
        void syncFolder(const fs::path& dir) override {
            calls.push_back("sync folder");
            DiskCalls::syncFolder(dir);
        }
    };
    const std::vector<std::string> published = {"sync 1314", "rename duqu.pmw.part duqu.pmw",
                                                "sync folder"};
    struct Row {
        const char* what;
        int failSync;
        std::error_code failRename;
        std::vector<std::string> calls;
        const char* reason;  // "": published
    } rows[] = {
        {"all is well", 0, {}, published, ""},
        {"the sync fails", EIO, {}, {"sync 1314"}, std::strerror(EIO)},
        {"the rename fails",
         0,
         std::make_error_code(std::errc::permission_denied),
         {published[0], published[1]},
         std::strerror(EACCES)},
    };
    for (const Row& row : rows) {
        TempDir dir;
        ProgramImage image(dir.path());
        WatchedDisk disk;
        disk.part = dir / "duqu.pmw.part";
        disk.failSync = row.failSync;
        disk.failRename = row.failRename;
        image.setDiskCalls(&disk);
        image.prepare();
        Rig rig(&image);
        rig.putEndMarker(2);
        rig.run();
        EXPECT_EQ(disk.calls, row.calls) << row.what;
        if (std::string(row.reason).empty()) {
            EXPECT_EQ(rig.upload.step(), Upload::Step::Finished) << row.what;
            EXPECT_EQ(readFile(dir / "duqu.pmw"), imageOf({}, rig.memory, 1, true)) << row.what;
            continue;
        }
        ASSERT_EQ(rig.upload.step(), Upload::Step::Stopped) << row.what;
        ASSERT_EQ(rig.view.errors.size(), 1u) << row.what;
        const Error& e = rig.view.errors[0];
        EXPECT_EQ(e.kind(), ErrorKind::File) << row.what;
        EXPECT_NE(e.message().find((dir / "duqu.pmw.part").string()), std::string::npos)
            << e.message();
        EXPECT_NE(e.message().find(row.reason), std::string::npos) << e.message();
        EXPECT_FALSE(fs::exists(dir / "duqu.pmw")) << row.what;
        EXPECT_EQ(readFile(dir / "duqu.pmw.part"), imageOf({}, rig.memory, 1, true))
            << row.what << ": the whole read is kept";
    }
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

TEST(ProgramImage, AnEarlierPartIsCountedInBlocksWithoutItsTail) {
    // FF 00 memory looks like the tail: only a body of whole blocks plus the whole tail is one.
    std::vector<Byte> ff00(64 * 32);
    for (std::size_t i = 0; i < ff00.size(); i += 2) ff00[i] = 0xFF;
    const std::vector<Byte> program = patternBytes(64 * 32, 6);
    struct Row {
        const char* what;
        const std::vector<Byte>& memory;
        std::size_t blocks;
        bool complete;
    } rows[] = {{"stopped after 19 blocks", program, 19, false},
                {"complete, 19 blocks (killed during the rename)", program, 19, true},
                {"complete, 1 block", program, 1, true},
                {"stopped after 40 blocks of FF 00", ff00, 40, false},
                {"complete, 2 blocks of FF 00", ff00, 2, true}};
    for (const auto& row : rows) {
        TempDir dir;
        const std::vector<Byte> templ = patternBytes(256, 2);
        const std::vector<Byte> part = imageOf(templ, row.memory, row.blocks, row.complete);
        writeFile(dir / "duqu.pmw.part", part);
        ProgramImage image(dir.path());
        image.prepare();
        image.restart();
        const auto notes = image.takeNotes();
        ASSERT_EQ(notes.size(), 1u) << row.what;
        EXPECT_EQ(notes[0].kind, FileNote::Kind::ReplacedPart) << row.what;
        EXPECT_EQ(notes[0].blocks, row.blocks) << row.what;
        EXPECT_EQ(notes[0].complete, row.complete) << row.what;
        EXPECT_EQ(readFile(notes[0].path), part) << row.what;
    }

    // A header alone (a read stopped before its first block) holds nothing to keep.
    TempDir dir;
    writeFile(dir / "duqu.pmw.part", imageOf(patternBytes(256, 2), program, 0, false));
    ProgramImage image(dir.path());
    image.prepare();
    image.restart();
    EXPECT_TRUE(image.takeNotes().empty());
    EXPECT_TRUE(historyOf(dir).empty());
}

TEST(ProgramImage, AMissingFolderIsMadeAndNoted) {
    TempDir dir;
    writeFile(dir / "file", {1});
    struct Row {
        const char* what;
        fs::path folder;
        bool made;
        bool fails;
    } rows[] = {{"missing, with its parents", dir / "a/b/c", true, false},
                {"there", dir.path(), false, false},
                {"below a file", dir / "file/sub", false, true}};
    for (const auto& row : rows) {
        ProgramImage image(row.folder);
        const std::optional<Error> e = raisedBy([&] { image.prepare(); });
        if (row.fails) {
            if (!e) {
                ADD_FAILURE() << row.what << ": nothing raised";
                continue;
            }
            EXPECT_EQ(e->kind(), ErrorKind::File) << row.what;
            EXPECT_EQ(e->facts().subject, row.folder.string()) << row.what;
            continue;
        }
        ASSERT_FALSE(e) << row.what << ": " << e->message();
        EXPECT_TRUE(fs::is_directory(row.folder)) << row.what;
        EXPECT_TRUE(fs::exists(row.folder / "moban.pmw")) << row.what;
        const auto notes = image.takeNotes();
        ASSERT_EQ(notes.size(), row.made ? 1u : 0u) << row.what;
        if (row.made) {
            EXPECT_EQ(notes[0].kind, FileNote::Kind::MadeFolder) << row.what;
            EXPECT_EQ(notes[0].path, row.folder) << row.what;
        }
        image.prepare();
        EXPECT_TRUE(image.takeNotes().empty()) << row.what << ": made once";
    }
}

#ifndef _WIN32  // links need privileges there; a small file system needs mount

TEST(ProgramImage, WhatStandsWhereAFileOrFolderBelongsIsNamedAtOnce) {
    const std::vector<Byte> earlier = patternBytes(1314, 5);
    // A pipe with a writer and bytes in it: a reader that opened it would read them, not
    // wait, so taking it for a template fails the row instead of hanging the test.
    auto pipeAt = [](const fs::path& p) {
        EXPECT_EQ(::mkfifo(p.c_str(), 0666), 0) << p;
        const int fd = ::open(p.c_str(), O_RDWR | O_NONBLOCK);
        const std::vector<Byte> bytes = patternBytes(300, 1);
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), 300);
        return fd;
    };
    struct Row {
        const char* what;
        std::function<int(const TempDir&)> put;  // returns a descriptor to close, or -1
        bool onRestart;                          // found by a read, not by start-up
        ErrorFacts::Code code;
        const char* subject;
    } rows[] = {
        {"template a pipe", [&](const TempDir& d) { return pipeAt(d / "moban.pmw"); }, false,
         ErrorFacts::Code::TemplateNotAFile, "moban.pmw"},
        {"template a link to a pipe",
         [&](const TempDir& d) {
             const int fd = pipeAt(d / "pipe");
             fs::create_symlink(d / "pipe", d / "moban.pmw");
             return fd;
         },
         false, ErrorFacts::Code::TemplateNotAFile, "moban.pmw"},
        {"template a folder",
         [](const TempDir& d) {
             fs::create_directory(d / "moban.pmw");
             return -1;
         },
         false, ErrorFacts::Code::TemplateNotAFile, "moban.pmw"},
        {"history a file, an earlier image to keep",
         [&](const TempDir& d) {
             writeFile(d / "history", {7});
             writeFile(d / "duqu.pmw", earlier);
             return -1;
         },
         false, ErrorFacts::Code::HistoryNotAFolder, "history"},
        {"history a link to nothing, an earlier read's blocks to keep",
         [&](const TempDir& d) {
             fs::create_symlink(d / "gone", d / "history");
             writeFile(d / "duqu.pmw.part", imageOf({}, earlier, 5, false));
             return -1;
         },
         true, ErrorFacts::Code::HistoryNotAFolder, "history"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        const int fd = row.put(dir);
        std::vector<std::pair<fs::path, std::vector<Byte>>> files;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.is_regular_file() && !entry.is_symlink())
                files.emplace_back(entry.path(), readFile(entry.path()));
        ProgramImage image(dir.path());
        const std::optional<Error> e = raisedBy([&] {
            image.prepare();
            if (row.onRestart) image.restart();
        });
        if (fd >= 0) ::close(fd);
        if (!e) {
            ADD_FAILURE() << row.what << ": nothing raised";
            continue;
        }
        EXPECT_EQ(e->kind(), ErrorKind::File) << row.what;
        EXPECT_EQ(e->facts().code, row.code) << row.what << ": " << e->message();
        EXPECT_EQ(e->facts().subject, (dir / row.subject).string()) << row.what;
        EXPECT_NE(e->message().find((dir / row.subject).string()), std::string::npos)
            << e->message();
        for (const auto& [path, bytes] : files)
            EXPECT_EQ(readFile(path), bytes) << row.what << ": " << path << " untouched";
        EXPECT_FALSE(image.isOpen()) << row.what;
    }
}

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
