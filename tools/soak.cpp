// SPDX-License-Identifier: GPL-3.0-or-later
// progread-soak: many reads against the simulated controller with random faults at a low
// rate. First N reads with `progread --read`, each in its own process; then reads in one
// window (offscreen), to see that memory and open files stay flat. Every finished image must
// be exact; every failed read a clean stop. Run by scripts/soak; not part of the tests. Built
// with the tests' helpers (tests/CMakeLists.txt).

#include <dirent.h>

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "child_process.h"
#include "own_dirs.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "ui/form1.h"

using namespace progread;
using namespace progread::testing;

namespace {

constexpr std::size_t kBlocks = 128;  // a 4 KiB program

std::vector<Byte> soakMemory() {
    std::vector<Byte> m = patternBytes(kBlocks * 32, 0x35);
    for (std::size_t i = 0; i + 1 < m.size(); i += 2) {
        if (m[i] == 0x0F && m[i + 1] == 0x00) m[i + 1] = 0x44;
    }
    m[(kBlocks - 1) * 32 + 6] = 0x0F;
    m[(kBlocks - 1) * 32 + 7] = 0x00;
    return m;
}

long selfRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

int openFds() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n - 3;  // ., .. and the directory itself
}

// A clean stop: exit 1 with the reason, and no image under the image's name.
bool cleanStop(const std::string& err, const std::filesystem::path& dir) {
    return err.find("stopped") != std::string::npos && !std::filesystem::exists(dir / "duqu.pmw");
}

}  // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::atoi(argv[1]) : 200;
    const int windowReads = argc > 2 ? std::atoi(argv[2]) : 30;
    const char* permille =
        std::getenv("SOAK_FAULTS_PERMILLE") ? std::getenv("SOAK_FAULTS_PERMILLE") : "15";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's settings and the line's records stay out of the user's folders.
    const OwnUserDirs own;
    QApplication app(argc, argv);

    TempDir files;
    const std::vector<Byte> memory = soakMemory();
    writeFile(files / "memory.bin", memory);
    const std::vector<Byte> expected = expectedImage({}, memory);
    const QString memoryArg = QString::fromStdString((files / "memory.bin").string());
    int failures = 0;

    std::printf("soak: %d reads of a %zu-block program, faults at %s per thousand requests\n",
                reads, kBlocks, permille);
    // Reads wait on the line, not on the processor: several run side by side.
    constexpr int kSideBySide = 8;
    int finished = 0, stopped = 0;
    long rssMin = 1L << 40, rssMax = 0;
    double wall = 0, cpu = 0;
    std::mutex mutex;
    std::atomic<int> nextRead{1};
    auto worker = [&] {
        for (int i = nextRead++; i <= reads; i = nextRead++) {
            SimProcess sim({PROGREAD_SIM, "--memory", memoryArg.toStdString(), "--random-faults",
                            permille, "--seed", std::to_string(i)});
            TempDir dir;
            const ChildOutcome out =
                runChild({PROGREAD_EXE, "--read", sim.port(), "--dir", dir.path().string()},
                         {"DISPLAY", "QT_QPA_PLATFORM"});
            const bool exact = out.exitCode == 0 && readFile(dir / "duqu.pmw") == expected;
            const bool clean = out.exitCode == 1 && cleanStop(out.stdErr, dir.path());
            std::lock_guard<std::mutex> lock(mutex);
            wall += out.wallSeconds;
            cpu += out.cpuSeconds;
            rssMin = std::min(rssMin, out.peakRssKb);
            rssMax = std::max(rssMax, out.peakRssKb);
            if (exact) {
                ++finished;
            } else if (clean) {
                ++stopped;
            } else {
                ++failures;
                std::printf("soak: read %d (seed %d): exit %d signal %d\n%s\n", i, i, out.exitCode,
                            out.signal, out.stdErr.c_str());
            }
            const int done = finished + stopped + failures;
            if (done % 20 == 0 || done == reads) {
                std::printf("soak: %d reads: %d exact, %d clean stops, %d bad\n", done, finished,
                            stopped, failures);
                std::fflush(stdout);
            }
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < kSideBySide; ++t) workers.emplace_back(worker);
    for (auto& t : workers) t.join();
    if (reads > 0) {
        std::printf(
            "soak: --read: %.1f s wall and %.2f s CPU a read on average; peak memory %ld..%ld "
            "KiB\n",
            wall / reads, cpu / reads, rssMin, rssMax);
    }

    if (windowReads > 0) {
        Sim sim({"--memory", memoryArg, "--random-faults", permille, "--seed", "4242"});
        TempDir dir;
        Form1 w(dir.path(), sim.qport());
        QString error;
        if (!w.Form_Load(&error)) {
            std::printf("soak: the window cannot start: %s\n", error.toStdString().c_str());
            return 1;
        }
        w.show();
        int wFinished = 0, wStopped = 0;
        std::vector<long> rss;
        std::vector<int> fds;
        for (int i = 1; i <= windowReads; ++i) {
            QTest::mouseClick(w.Command1, Qt::LeftButton);
            if (!waitUntil([&] { return !w.upload().running(); }, 300000)) {
                std::printf("soak: window read %d never ended\n", i);
                ++failures;
                break;
            }
            if (w.upload().step() == Upload::Step::Finished &&
                readFile(dir / "duqu.pmw") == expected) {
                ++wFinished;
            } else if (w.upload().step() == Upload::Step::Stopped &&
                       !std::filesystem::exists(dir / "duqu.pmw")) {
                ++wStopped;
            } else {
                ++failures;
                std::printf("soak: window read %d: %s\n", i, w.statusText().toStdString().c_str());
            }
            // Earlier images pile up in history/ by design; keep the directory small.
            std::filesystem::remove_all(dir / "history");
            rss.push_back(selfRssKb());
            fds.push_back(openFds());
        }
        if (!rss.empty()) {
            std::printf(
                "soak: window: %d reads, %d exact, %d clean stops; memory %ld KiB after the first, "
                "%ld KiB "
                "after the last; open files %d after the first, %d after the last\n",
                windowReads, wFinished, wStopped, rss.front(), rss.back(), fds.front(), fds.back());
            if (fds.back() > fds.front()) {
                std::printf("soak: open files grew\n");
                ++failures;
            }
            if (rss.size() > 10 && rss.back() > rss[9] + 4096) {
                std::printf("soak: memory grew by more than 4 MiB after the tenth read\n");
                ++failures;
            }
        }
    }
    std::printf("soak: %s\n", failures ? "FAILED" : "clean");
    return failures ? 1 : 0;
}
