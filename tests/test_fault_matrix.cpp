// SPDX-License-Identifier: GPL-3.0-or-later
// The faults a factory cable and a controller can show, each run as an operator would:
// `progread --read` against progread-sim over a pseudo-terminal. Every row checks the exit
// status, the gist of what was said, and the files byte for byte against the memory served.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

#include "child_process.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "tmpfs.h"

using namespace progread;
using namespace progread::testing;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A program of `blocks` blocks whose blocks all differ, the end marker in the last one.
std::vector<Byte> program(std::size_t blocks) {
    std::vector<Byte> m = patternBytes(blocks * 32, 0x41);
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<Byte>(m[i] ^ (i / 32));
    for (std::size_t i = 0; i + 1 < m.size(); i += 2) {
        if (m[i] == 0x0F && m[i + 1] == 0x00) m[i + 1] = 0x21;
    }
    m[(blocks - 1) * 32 + 8] = 0x0F;
    m[(blocks - 1) * 32 + 9] = 0x00;
    return m;
}

std::vector<Byte> header() {
    return std::vector<Byte>(256, 0);
}

// What a read that stopped keeps: the header and the first n blocks.
std::vector<Byte> partOf(const std::vector<Byte>& memory, std::size_t n) {
    std::vector<Byte> part(256 + n * 32, 0);
    std::copy_n(memory.begin(), n * 32, part.begin() + 256);
    return part;
}

struct Read {
    ChildOutcome out;
    TempDir dir;
    std::vector<Byte> earlier;  // the image that was there before the read
};

// Each read has a folder of its own for the line's record per device: pseudo-terminals are
// reused by the rows.
std::string runtimeOf(const TempDir& dir) {
    const auto run = dir / "run";
    std::filesystem::create_directories(run);
    return "PROGREAD_LINE_DIR=" + run.string();
}

// One read against a simulator with simArgs, in a fresh directory that already holds an
// earlier image (which must end up in history/, untouched).
void readAgainst(Read& r, const std::vector<Byte>& memory, std::vector<std::string> simArgs,
                 std::vector<std::string> readArgs = {},
                 const std::function<void(pid_t, Read&)>& watch = {}) {
    writeFile(r.dir / "memory.bin", memory);
    r.earlier = patternBytes(2594, 0x5A);
    writeFile(r.dir / "duqu.pmw", r.earlier);
    writeFile(r.dir / "moban.pmw", header());
    std::vector<std::string> sim = {PROGREAD_SIM, "--memory", (r.dir / "memory.bin").string()};
    sim.insert(sim.end(), simArgs.begin(), simArgs.end());
    SimProcess controller(sim);
    std::vector<std::string> argv = {PROGREAD_EXE, "--read", controller.port(), "--dir",
                                     r.dir.path().string()};
    argv.insert(argv.end(), readArgs.begin(), readArgs.end());
    r.out = runChild(argv, {"DISPLAY", "QT_QPA_PLATFORM"},
                     watch ? [&](pid_t pid) { watch(pid, r); } : std::function<void(pid_t)>(),
                     {runtimeOf(r.dir)});
}

// After a read that finished, the earlier image is in history/, byte for byte, and nothing
// else is there; after one that did not, it is still duqu.pmw and history/ holds nothing.
bool earlierKept(const Read& r) {
    const auto history = r.dir / "history";
    if (r.out.exitCode != 0)
        return readFile(r.dir / "duqu.pmw") == r.earlier && !std::filesystem::exists(history);
    if (!std::filesystem::is_directory(history)) return false;
    int files = 0;
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(history)) {
        ++files;
        found = found || readFile(entry.path()) == r.earlier;
    }
    return files == 1 && found;
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Rows run side by side: they wait on the line, not on the processor.
template <class Row>
void runRows(std::vector<Row>& rows, const std::function<void(Row&)>& run) {
    std::vector<std::thread> threads;
    std::size_t next = 0;
    std::mutex m;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (;;) {
                Row* row;
                {
                    std::lock_guard<std::mutex> lock(m);
                    if (next >= rows.size()) return;
                    row = &rows[next++];
                }
                run(*row);
            }
        });
    }
    for (auto& t : threads) t.join();
}

}  // namespace

// Each fault spoils one answer (or the line around it); the image must come out exactly as a
// clean read's, at no speed and at the wire's.
TEST(FaultMatrix, OneSpoiledAnswerStillGivesTheExactImage) {
    struct Row {
        std::string what;
        std::vector<std::string> simArgs;
        std::string said;  // part of what the tool says about it ("" for nothing)
        std::vector<std::string> readArgs;
        std::shared_ptr<Read> read = std::make_shared<Read>();
    };
    const std::vector<Byte> memory = program(4);
    std::vector<Row> rows;
    for (const char* charUs : {"0", "1042"}) {
        auto add = [&](std::string what, std::vector<std::string> args, std::string said,
                       std::vector<std::string> readArgs = {}) {
            args.push_back("--char-us");
            args.push_back(charUs);
            rows.push_back({what + " at " + charUs + " us a character" +
                                (readArgs.empty() ? "" : " " + readArgs[0]),
                            args, said, readArgs});
        };
        add("one answer lost", {"--drop", "3"}, "no reply");
        add("a \"?\" digit", {"--parity", "3"}, "malformed");
        add("a lowercase digit", {"--lowercase", "3"}, "malformed");
        add("a wrong checksum", {"--bad-checksum", "3"}, "checksum");
        add("noise before an answer", {"--noise", "3"}, "");
        add("answers in 1-character pieces", {"--chunk", "1", "--chunk-gap-ms", "1"}, "");
        add("two answers glued", {"--glue", "3"}, "no reply");
        add("replies on the line before the start", {"--stray-before", "3"}, "");
        add("a reply after the end", {"--stray-after", "4"}, "");
        add("checksums by another rule", {"--other-checksum"}, "another rule");
        add("a NAK", {"--nak", "3"}, "NAK");
        add("noise holding a NAK before an answer", {"--nak-noise", "3"}, "");
        add("a reply one character short", {"--short", "3"}, "67 characters, 68 expected");
        add("checksum digits in lowercase", {"--lowercase-checksum"}, "");
        add("a stray STX after every reply", {"--trailing-stx", "all"}, "");
        for (const auto& fast : {std::vector<std::string>{}, std::vector<std::string>{"--fast"}}) {
            add("a half-duplex echo of every request", {"--echo"}, "", fast);
            add("every answer sent twice", {"--twice", "all"}, "", fast);
            add("one answer sent twice", {"--twice", "3"}, "", fast);
            add("every answer sent again 30 ms later", {"--twice", "all", "--twice-gap-ms", "30"},
                "", fast);
        }
    }
    for (const auto& fast : {std::vector<std::string>{}, std::vector<std::string>{"--fast"}}) {
        rows.push_back(
            {"every answer twice, 400 ms late" + std::string(fast.empty() ? "" : " --fast"),
             {"--twice", "all", "--latency-ms", "400", "--char-us", "1042"},
             "",
             fast});
    }
    // Erased memory: neighbouring blocks of equal bytes, each settled by one more request,
    // never taken for lost answers.
    std::vector<Byte> erased = program(4);
    erased.insert(erased.begin() + 32, 12 * 32, 0xFF);
    for (const char* charUs : {"0", "1042"}) {
        rows.push_back({std::string("12 equal blocks at ") + charUs + " us a character",
                        {"--char-us", charUs},
                        "0 retries",
                        {}});
    }
    auto isErased = [](const Row& row) { return row.what.rfind("12 equal", 0) == 0; };
    auto memoryOf = [&](const Row& row) { return isErased(row) ? erased : memory; };
    runRows<Row>(
        rows, [&](Row& row) { readAgainst(*row.read, memoryOf(row), row.simArgs, row.readArgs); });
    for (const Row& row : rows) {
        const Read& r = *row.read;
        ASSERT_TRUE(r.out.started) << row.what;
        EXPECT_EQ(r.out.exitCode, 0) << row.what << "\n" << r.out.stdErr;
        EXPECT_EQ(readFile(r.dir / "duqu.pmw"), expectedImage(header(), memoryOf(row))) << row.what;
        if (isErased(row)) {
            EXPECT_EQ(r.out.stdErr.find("no reply"), std::string::npos) << r.out.stdErr;
            EXPECT_EQ(r.out.stdErr.find("second"), std::string::npos) << r.out.stdErr;
        }
        EXPECT_FALSE(std::filesystem::exists(r.dir / "duqu.pmw.part")) << row.what;
        EXPECT_TRUE(earlierKept(r)) << row.what;
        if (!row.said.empty()) {
            EXPECT_NE(r.out.stdErr.find(row.said), std::string::npos) << row.what << "\n"
                                                                      << r.out.stdErr;
        }
        if (row.said == "another rule") {
            EXPECT_EQ(countOf(r.out.stdErr, "another rule"), 1) << "told once\n" << r.out.stdErr;
            EXPECT_NE(r.out.stdErr.find("4 blocks, in"), std::string::npos) << r.out.stdErr;
            EXPECT_NE(r.out.stdErr.find("4 retries"), std::string::npos) << "two requests a block\n"
                                                                         << r.out.stdErr;
        }
    }
}

// Late answers: exact, or a stop that names the block; never a wrong image reported done.
TEST(FaultMatrix, LateAnswersGiveTheExactImageOrAStopNamingTheBlock) {
    // The late answer is the third block's, the last; every late answer costs its time
    // twice (the blocks are read a second time), so the programs are short.
    struct Row {
        std::string what;
        std::vector<std::string> simArgs;
        bool mustFinish;
        std::size_t blocks;
        std::shared_ptr<Read> read = std::make_shared<Read>();
    };
    std::vector<Row> rows = {
        {"one answer 1.1 s late", {"--late", "3:1100", "--char-us", "1042"}, false, 3},
        {"one answer 1.5 s late", {"--late", "3:1500", "--char-us", "1042"}, false, 3},
        {"one answer 2.5 s late", {"--late", "3:2500", "--char-us", "1042"}, false, 3},
        {"every answer 1.5 s late", {"--latency-ms", "1500"}, true, 2},
        {"echoed requests, every answer 1.1 s late", {"--echo", "--latency-ms", "1100"}, true, 2},
    };
    runRows<Row>(rows, [&](Row& row) { readAgainst(*row.read, program(row.blocks), row.simArgs); });
    for (const Row& row : rows) {
        const Read& r = *row.read;
        if (r.out.exitCode == 0) {
            EXPECT_EQ(readFile(r.dir / "duqu.pmw"), expectedImage(header(), program(row.blocks)))
                << row.what << ": done but wrong";
        } else {
            EXPECT_FALSE(row.mustFinish) << row.what << "\n" << r.out.stdErr;
            EXPECT_EQ(r.out.exitCode, 1) << row.what;
            EXPECT_TRUE(std::regex_search(r.out.stdErr, std::regex("0x80[0-9A-F]{2}")))
                << row.what << "\n"
                << r.out.stdErr;
        }
        EXPECT_TRUE(earlierKept(r)) << row.what;
    }
}

// Reads that cannot end well: a clear stop, the blocks received kept in the .part file, the
// earlier image safe in history/, never a duqu.pmw. The reads run side by side.
TEST(FaultMatrix, ReadsThatCannotFinishStopCleanlyAndKeepWhatCame) {
    const std::vector<Byte> memory = program(12);
    // Answers that come but are refused every time: the stop says what they were.
    Read shortReplies, naks;
    // The controller falls silent.
    Read silent;
    // The adapter pulled: the line closes after 4 answers, at the latest half a second
    // after the fourth block is on disk. Unnoticed, the read would wait 3 s for answers.
    Read pulled;
    std::chrono::steady_clock::time_point fourth{};
    // A line that never falls quiet, and no answer on it.
    Read chatter;
    // Ctrl-C, once, when three blocks are in. Pressed again while the program ends, it
    // would end it by the signal itself.
    Read interrupted;
    bool pressed = false;
    std::thread reads[] = {
        std::thread([&] {
            readAgainst(shortReplies, memory, {"--short", "4,5,6"});
        }),
        std::thread([&] {
            readAgainst(naks, memory, {"--nak", "4,5,6"});
        }),
        std::thread([&] {
            readAgainst(silent, memory, {"--silent-after", "4"});
        }),
        std::thread([&] {
            readAgainst(chatter, memory, {"--silent-after", "0", "--chatter-ms", "20"});
        }),
        std::thread([&] {
            readAgainst(pulled, memory, {"--close-after", "4"}, {}, [&](pid_t, Read& read) {
                std::error_code ec;
                if (fourth == std::chrono::steady_clock::time_point{} &&
                    std::filesystem::file_size(read.dir / "duqu.pmw.part", ec) >= 256 + 4 * 32 &&
                    !ec) {
                    fourth = std::chrono::steady_clock::now();
                }
            });
        }),
        std::thread([&] {
            readAgainst(
                interrupted, memory, {"--latency-ms", "50"}, {}, [&](pid_t pid, Read& read) {
                    std::error_code ec;
                    const auto size = std::filesystem::file_size(read.dir / "duqu.pmw.part", ec);
                    if (!pressed && !ec && size >= 256 + 3 * 32) {
                        pressed = true;
                        ::kill(pid, SIGINT);
                    }
                });
        }),
    };
    for (auto& read : reads) read.join();

    struct Refused {
        const Read& read;
        std::string said;
    } refused[] = {
        {shortReplies, "malformed reply (67 characters, 68 expected) after 3 requests"},
        {naks, "(NAK) 3 times"},
    };
    for (const Refused& row : refused) {
        const Read& r = row.read;
        EXPECT_EQ(r.out.exitCode, 1) << r.out.stdErr;
        EXPECT_NE(r.out.stdErr.find("0x8060"), std::string::npos) << r.out.stdErr;
        EXPECT_NE(r.out.stdErr.find(row.said), std::string::npos) << r.out.stdErr;
        EXPECT_EQ(r.out.stdErr.find("no reply"), std::string::npos) << r.out.stdErr;
        EXPECT_EQ(readFile(r.dir / "duqu.pmw.part"), partOf(memory, 3));
        EXPECT_TRUE(earlierKept(r));
    }

    EXPECT_EQ(silent.out.exitCode, 1) << silent.out.stdErr;
    EXPECT_NE(silent.out.stdErr.find("0x8080"), std::string::npos) << "names the block\n"
                                                                   << silent.out.stdErr;
    EXPECT_NE(silent.out.stdErr.find("no reply after 3 requests"), std::string::npos)
        << silent.out.stdErr;
    EXPECT_EQ(readFile(silent.dir / "duqu.pmw.part"), partOf(memory, 4));
    EXPECT_TRUE(earlierKept(silent));

    EXPECT_EQ(chatter.out.exitCode, 1) << chatter.out.stdErr;
    EXPECT_NE(chatter.out.stdErr.find("busy with characters that are no answers"),
              std::string::npos)
        << chatter.out.stdErr;
    EXPECT_TRUE(earlierKept(chatter));

    EXPECT_EQ(pulled.out.exitCode, 1) << pulled.out.stdErr;
    EXPECT_NE(pulled.out.stdErr.find("/dev/pts/"), std::string::npos) << "names the port\n"
                                                                      << pulled.out.stdErr;
    ASSERT_NE(fourth, std::chrono::steady_clock::time_point{}) << pulled.out.stdErr;
    EXPECT_LT(std::chrono::duration<double>(pulled.out.endedAt - fourth).count(), 0.5 + 2.0)
        << "noticed within 2 s of the line closing";
    if (!kSanitized) {
        EXPECT_LT(pulled.out.cpuSeconds, 0.2) << "no busy loop on a dead line";
    }
    EXPECT_EQ(readFile(pulled.dir / "duqu.pmw.part"), partOf(memory, 4));
    EXPECT_TRUE(earlierKept(pulled));

    EXPECT_TRUE(pressed);
    EXPECT_EQ(interrupted.out.exitCode, 130) << "signal " << interrupted.out.signal << "\n"
                                             << interrupted.out.stdErr;
    const auto part = readFile(interrupted.dir / "duqu.pmw.part");
    ASSERT_GE(part.size(), 256u + 3 * 32);
    EXPECT_EQ(part, partOf(memory, (part.size() - 256) / 32)) << "whole blocks, in place";
    EXPECT_TRUE(earlierKept(interrupted));
}

// Ports that cannot be had: a clear message, exit 1, and no image file of any kind.
TEST(FaultMatrix, APortThatCannotBeHadWritesNothing) {
    TempDir plain;
    writeFile(plain / "not-a-port", {1, 2, 3});
    struct Row {
        std::string what;
        std::string port;
        std::string said;
    } rows[] = {
        {"a port that does not exist", "/dev/ttyNOSUCH9", "no such device"},
        {"a regular file", (plain / "not-a-port").string(), "cannot open"},
    };
    auto nothingWritten = [](const TempDir& dir) {
        return !std::filesystem::exists(dir / "duqu.pmw.part") &&
               !std::filesystem::exists(dir / "duqu.pmw") &&
               !std::filesystem::exists(dir / "history");
    };
    for (const Row& row : rows) {
        TempDir dir;
        const ChildOutcome out =
            runChild({PROGREAD_EXE, "--read", row.port, "--dir", dir.path().string()},
                     {"DISPLAY", "QT_QPA_PLATFORM"});
        EXPECT_EQ(out.exitCode, 1) << row.what << "\n" << out.stdErr;
        EXPECT_NE(out.stdErr.find(row.said), std::string::npos) << row.what << "\n" << out.stdErr;
        EXPECT_NE(out.stdErr.find(row.port), std::string::npos) << row.what << "\n" << out.stdErr;
        EXPECT_TRUE(nothingWritten(dir)) << row.what;
    }

    // Busy: a second progread on a port the first one holds.
    TempDir first, second;
    SimProcess sim({PROGREAD_SIM, "--silent-after", "0"});
    std::atomic<bool> firstDone{false};
    std::thread holder([&] {
        runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", first.path().string()},
                 {"DISPLAY", "QT_QPA_PLATFORM"});
        firstDone = true;
    });
    // The first holds the port once its .part exists.
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(first / "duqu.pmw.part"); }, 10000));
    const ChildOutcome out =
        runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", second.path().string()},
                 {"DISPLAY", "QT_QPA_PLATFORM"});
    EXPECT_FALSE(firstDone) << "the first read was still running";
    EXPECT_EQ(out.exitCode, 1) << out.stdErr;
    EXPECT_NE(out.stdErr.find("in use"), std::string::npos) << out.stdErr;
    EXPECT_TRUE(nothingWritten(second));
    holder.join();
}

// The image directory: not writable, or full in the middle of a read.
TEST(FaultMatrix, AFolderThatCannotTakeTheImageIsAFileErrorNamingThePath) {
    {
        SmallTmpfs fs(16);
        if (!fs.mounted()) GTEST_SKIP() << fs.why();
        ASSERT_TRUE(fs.remountReadOnly());
        SimProcess sim({PROGREAD_SIM});
        const ChildOutcome out =
            runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", fs.path().string()},
                     {"DISPLAY", "QT_QPA_PLATFORM"});
        EXPECT_EQ(out.exitCode, 1) << out.stdErr;
        EXPECT_NE(out.stdErr.find(fs.path().string()), std::string::npos) << out.stdErr;
        EXPECT_EQ(out.signal, 0);
    }
    {
        // Room for the header and about 40 blocks of a 200-block program.
        SmallTmpfs fs(16);
        ASSERT_TRUE(fs.mounted());
        const std::vector<Byte> memory = program(200);
        TempDir files;
        writeFile(files / "memory.bin", memory);
        writeFile(fs / "moban.pmw", header());
        ASSERT_TRUE(fs.leaveFree(2));  // a page for the folder lock, a page for the image
        SimProcess sim({PROGREAD_SIM, "--memory", (files / "memory.bin").string()});
        // Back to back: the disk is full after about a hundred blocks, not ten seconds.
        const ChildOutcome out =
            runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", fs.path().string(), "--fast"},
                     {"DISPLAY", "QT_QPA_PLATFORM"});
        EXPECT_EQ(out.exitCode, 1) << out.stdErr;
        EXPECT_EQ(out.signal, 0);
        EXPECT_NE(out.stdErr.find((fs / "duqu.pmw.part").string()), std::string::npos)
            << out.stdErr;
        const auto part = readFile(fs / "duqu.pmw.part");
        ASSERT_GE(part.size(), 256u);
        const std::size_t blocks = (part.size() - 256) / 32;
        EXPECT_EQ(part, partOf(memory, blocks)) << "whole blocks only";
        std::smatch said;
        ASSERT_TRUE(std::regex_search(out.stdErr, said, std::regex("([0-9]+) blocks? kept")))
            << out.stdErr;
        EXPECT_EQ(std::stoul(said[1]), blocks) << "the count said is the count kept\n"
                                               << out.stdErr;
    }
}

// Reads that stop, then a read started at once on the same line: the first one's answers
// are still on their way and must never be taken for the second one's blocks. So for a
// port search that gave up on a controller still owing it answers.
TEST(FaultMatrix, AReadRightAfterAnotherStoppedNeverTakesItsAnswers) {
    struct Row {
        std::string what;
        std::vector<std::string> simArgs;
        int interruptAfterBlocks;  // 0: the first read stops by itself
        bool searchFirst;          // the first is --read auto:PORT
        std::shared_ptr<TempDir> dir = std::make_shared<TempDir>();
        ChildOutcome first, second;
        bool viaLink = false;  // the second read names the port by a link to it, as by-id does
    };
    const std::vector<Byte> memory = program(5);
    std::vector<Row> rows = {
        // Its third block's answer comes 3.5 s late: no reply after 3 requests.
        {"a 400 ms controller stuck once",
         {"--latency-ms", "400", "--late", "3:3500"},
         0,
         false,
         std::make_shared<TempDir>(),
         {},
         {}},
        {"Ctrl-C against a 300 ms controller",
         {"--latency-ms", "300"},
         3,
         false,
         std::make_shared<TempDir>(),
         {},
         {}},
        {"Ctrl-C against a 600 ms controller",
         {"--latency-ms", "600"},
         2,
         false,
         std::make_shared<TempDir>(),
         {},
         {}},
        // Both requests of the search answered 6 s late, when it has given up: a read that
        // asked at once would give up on block 0 before the first of them came.
        {"a search given up on a controller 6 s late",
         {"--late", "1:6000,2:6000"},
         0,
         true,
         std::make_shared<TempDir>(),
         {},
         {}},
        {"Ctrl-C against a 600 ms controller, then a read through a link to the port",
         {"--latency-ms", "600"},
         2,
         false,
         std::make_shared<TempDir>(),
         {},
         {},
         true},
    };
    runRows<Row>(rows, [&](Row& row) {
        const TempDir& dir = *row.dir;
        writeFile(dir / "memory.bin", memory);
        writeFile(dir / "moban.pmw", header());
        std::vector<std::string> sim = {PROGREAD_SIM, "--memory", (dir / "memory.bin").string(),
                                        "--char-us", "1042"};
        sim.insert(sim.end(), row.simArgs.begin(), row.simArgs.end());
        SimProcess controller(sim);
        const std::vector<std::string> argv = {PROGREAD_EXE, "--read", controller.port(), "--dir",
                                               dir.path().string()};
        std::function<void(pid_t)> watch;
        bool pressed = false;
        if (row.interruptAfterBlocks > 0) {
            watch = [&](pid_t pid) {
                std::error_code ec;
                const auto size = std::filesystem::file_size(dir / "duqu.pmw.part", ec);
                if (!pressed && !ec &&
                    size >= 256u + 32u * static_cast<unsigned>(row.interruptAfterBlocks)) {
                    pressed = true;
                    ::kill(pid, SIGINT);
                }
            };
        }
        std::vector<std::string> firstArgv = argv;
        if (row.searchFirst) firstArgv[2] = "auto:" + controller.port();
        row.first = runChild(firstArgv, {"DISPLAY", "QT_QPA_PLATFORM"}, watch, {runtimeOf(dir)});
        std::vector<std::string> again = argv;
        if (row.viaLink) {
            std::filesystem::create_symlink(controller.port(), dir / "by-id-link");
            again[2] = (dir / "by-id-link").string();
        }
        row.second = runChild(again, {"DISPLAY", "QT_QPA_PLATFORM"}, {}, {runtimeOf(dir)});
    });
    for (const Row& row : rows) {
        EXPECT_NE(row.first.exitCode, 0) << row.what << ": the first read was to stop\n"
                                         << row.first.stdErr;
        EXPECT_EQ(row.second.exitCode, 0) << row.what << "\n" << row.second.stdErr;
        EXPECT_EQ(readFile(*row.dir / "duqu.pmw"), expectedImage(header(), memory)) << row.what;
        if (row.interruptAfterBlocks == 0) {
            EXPECT_NE(row.second.stdErr.find("a second time"), std::string::npos)
                << row.what << ": the line may be behind, so the blocks are read twice\n"
                << row.second.stdErr;
        }
    }
}

// What stands in the folder where a file or folder of the tool's belongs: a clear stop at
// once (a template that is a pipe would block for ever), nothing left behind, the earlier
// image where it was; a folder that is not there is made.
TEST(FaultMatrix, WhatStandsInTheFolderIsSaidAndNothingIsLost) {
    struct Row {
        std::string what;
        std::function<void(const std::filesystem::path&)> arrange;
        int exitCode;
        std::string said;
    };
    const std::vector<Row> rows = {
        {"the template is a pipe",
         [](const std::filesystem::path& d) {
             std::filesystem::remove(d / "moban.pmw");
             ASSERT_EQ(::mkfifo((d / "moban.pmw").c_str(), 0600), 0);
         },
         1, "not a regular file"},
        {"the lock's path is a folder",
         [](const std::filesystem::path& d) {
             std::filesystem::create_directory(d / "duqu.pmw.lock");
         },
         1, "is a folder, not progread's lock file"},
        {"history is a file",
         [](const std::filesystem::path& d) {
             writeFile(d / "history", {1, 2, 3});
         },
         1, "is not a folder"},
    };
    const std::vector<Byte> memory = program(3);
    for (const Row& row : rows) {
        TempDir dir;
        const std::vector<Byte> earlier = patternBytes(2594, 0x5A);
        writeFile(dir / "duqu.pmw", earlier);
        writeFile(dir / "moban.pmw", header());
        row.arrange(dir.path());
        SimProcess sim({PROGREAD_SIM});
        const ChildOutcome out =
            runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", dir.path().string()},
                     {"DISPLAY", "QT_QPA_PLATFORM"}, {}, {runtimeOf(dir)});
        EXPECT_EQ(out.exitCode, row.exitCode) << row.what << "\n" << out.stdErr;
        EXPECT_NE(out.stdErr.find(row.said), std::string::npos) << row.what << "\n" << out.stdErr;
        EXPECT_EQ(readFile(dir / "duqu.pmw"), earlier) << row.what << ": the earlier image moved";
        EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw.part")) << row.what;
        if (row.what != "the lock's path is a folder") {
            EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw.lock")) << row.what;
        }
    }

    // A folder that is not there is made, as mkdir -p would, and said.
    TempDir parent;
    const auto dir = parent / "made" / "here";
    writeFile(parent / "memory.bin", memory);
    SimProcess sim({PROGREAD_SIM, "--memory", (parent / "memory.bin").string()});
    const ChildOutcome out = runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", dir.string()},
                                      {"DISPLAY", "QT_QPA_PLATFORM"}, {}, {runtimeOf(parent)});
    EXPECT_EQ(out.exitCode, 0) << out.stdErr;
    EXPECT_NE(out.stdErr.find("Made the folder"), std::string::npos) << out.stdErr;
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage(std::vector<Byte>(256, 0), memory));
}
