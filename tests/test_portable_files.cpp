// SPDX-License-Identifier: GPL-3.0-or-later
// What differs on Windows: wide paths, text-mode line ends and Ctrl-Z, backslashes. The same
// cases run on Linux, where they guard the behaviour the Windows build must match.

#include <gtest/gtest.h>

#include "image/portable_file.h"
#include "image/program_image.h"
#include "temp_dir.h"

using namespace progread;
using namespace progread::testing;

namespace {

// Every byte value, so that 0A (LF), 0D (CR) and 1A (Ctrl-Z) are all in the header.
std::vector<Byte> everyByte() {
    std::vector<Byte> v(256);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<Byte>(i);
    return v;
}

}  // namespace

TEST(PortableFiles, ImageBytesGoToDiskUnchanged) {
    TempDir dir;
    const std::vector<Byte> templ = everyByte();
    writeFile(dir / "moban.pmw", templ);
    ProgramImage image(dir.path());
    const PrepareReport report = image.prepare();
    EXPECT_EQ(report.templateBytes, 256u) << "a text-mode read stops at Ctrl-Z";

    image.restart();
    const BytePair pairs[] = {{0x0A, 0x0D}, {0x1A, 0x00}, {0x0D, 0x0A}, {0xFF, 0x1A}};
    for (const BytePair& p : pairs) image.appendPair(p);
    image.appendTail();
    image.publish();

    std::vector<Byte> expected = templ;
    for (const BytePair& p : pairs) expected.insert(expected.end(), {p.first, p.second});
    for (std::size_t i = 0; i < ProgramImage::kTailValues; ++i)
        expected.insert(expected.end(), {0xFF, 0x00});
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expected) << "a text-mode write adds 0D before 0A";
    EXPECT_EQ(image.size(), expected.size());
}

TEST(PortableFiles, Utf8TextBecomesThePathItNames) {
    const std::string utf8 = "\xe7\xa8\x8b\xe5\xba\x8f/duqu.pmw";  // 程序/duqu.pmw, as Qt gives it
    const std::filesystem::path p = pathFromUtf8(utf8);
    EXPECT_EQ(p, std::filesystem::path(u8"程序/duqu.pmw"));
    EXPECT_EQ(p.filename(), std::filesystem::path("duqu.pmw"));
    EXPECT_EQ(p.string(), utf8) << "there and back";
}

TEST(PortableFiles, FoldersWithChineseNamesAndSpaces) {
    TempDir dir;
    // 程序 读入, as a folder chosen in the window would arrive.
    const std::filesystem::path folder =
        dir.path() / pathFromUtf8("\xe7\xa8\x8b\xe5\xba\x8f \xe8\xaf\xbb\xe5\x85\xa5");
    std::filesystem::create_directory(folder);
    writeFile(folder / "moban.pmw", everyByte());

    writeFile(folder / "duqu.pmw", {1, 2, 3});  // an earlier image, to go to history/
    ProgramImage image(folder);
    EXPECT_TRUE(image.prepare().headerComplete())
        << "the template was not found under its wide name";
    image.restart();
    EXPECT_EQ(std::filesystem::file_size(folder / "duqu.pmw.part"), 256u);
    image.appendPair({1, 2});
    image.appendTail();
    image.publish();
    EXPECT_EQ(std::filesystem::file_size(folder / "duqu.pmw"), 256u + 2 + 1026);
    std::size_t kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder / "history")) {
        EXPECT_EQ(readFile(e.path()), (std::vector<Byte>{1, 2, 3}));
        ++kept;
    }
    EXPECT_EQ(kept, 1u);
    // Nothing landed beside the folder under a mangled name.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(PortableFiles, ErrorsNameTheFolderReadably) {
    TempDir dir;
    const std::filesystem::path folder = dir.path() / std::filesystem::path(u8"程序");
    std::filesystem::create_directories(folder / "duqu.pmw");  // the image cannot be created
    ProgramImage image(folder);
    try {
        image.prepare();
        FAIL() << "prepare succeeded";
    } catch (const Error& e) {
        // UTF-8, as the window and the terminal show it, with the platform's separators.
        const std::string expected = (folder / "duqu.pmw").string();
        EXPECT_NE(e.message().find(expected), std::string::npos) << e.message();
        EXPECT_NE(e.message().find("\xe7\xa8\x8b\xe5\xba\x8f"), std::string::npos) << e.message();
    }
}
