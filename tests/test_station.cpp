// SPDX-License-Identifier: GPL-3.0-or-later
// What the window and the headless mode share, with the real timer and lock: the pace of the
// requests on a busy machine, and one progread a folder however old its lock.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QLockFile>
#include <chrono>
#include <thread>

#include "error_kind.h"
#include "fakes.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "tools/sample_program.h"
#include "ui/station.h"

using namespace progread;
using namespace progread::testing;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// When each request went out. A request may be made late: its tick's work takes slowMs more
// before the request is on its way, as on a machine busy with something else.
struct RequestTimes : LineTrace {
    std::vector<Clock::time_point> at;
    std::size_t slowRequest = 0;  // from 1; 0: none
    int slowMs = 0;
    void sent(const std::string&) override {
        if (at.size() + 1 == slowRequest)
            std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
        at.push_back(Clock::now());
    }
    void received(const std::string&, Verdict, const std::string&) override {}
};

}  // namespace

// Never two requests less than 100 ms apart: after an answer that came after the tick (the
// request then goes at once, and the period starts again from it), and after a tick whose
// request went late (the next tick does not make up for it).
TEST(Station, RequestsAreNeverLessThanAPeriodApartOnTheRealTimer) {
    struct Row {
        const char* what;
        QStringList sim;
        std::size_t slowRequest;
    } rows[] = {
        {"the third answer 170 ms late", {"--late", "3:170"}, 0},
        {"the fourth request 60 ms late", {}, 4},
    };
    for (const Row& row : rows) {
        Sim sim(QStringList{"--blocks", "7"} + row.sim);
        ASSERT_FALSE(sim.port().empty()) << row.what;
        TempDir dir;
        RecordingView view;
        Station station(dir.path(), view);
        RequestTimes times;
        times.slowRequest = row.slowRequest;
        times.slowMs = 60;
        station.setTrace(&times);
        station.changePort(sim.port());
        station.image.prepare();
        station.upload.Command1_Click();
        ASSERT_TRUE(waitUntil([&] { return !station.upload.running(); }, 20000)) << row.what;
        ASSERT_EQ(station.upload.step(), Upload::Step::Finished)
            << row.what << ": " << (view.errors.empty() ? "" : view.errors[0].message());
        EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory(7)));
        ASSERT_EQ(times.at.size(), 7u) << row.what;
        for (std::size_t k = 1; k < times.at.size(); ++k) {
            const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(times.at[k] -
                                                                                   times.at[k - 1]);
            EXPECT_GE(gap.count(), 100'000) << row.what << ": requests " << k << " and " << k + 1;
        }
    }
}

// A progread whose lock is old still holds the folder while it runs: age alone never makes a
// lock stale. Where the file system takes no lock of the system's, the lock file alone says
// who holds the folder.
TEST(Station, AFolderIsHeldForAsLongAsItsHolderRuns) {
    for (const bool systemLock : {true, false}) {
        const char* what = systemLock ? "held by a lock of the system's too" : "held by its file";
        TempDir dir;
        const fs::path lockPath = dir / kLockName;
        QLockFile holder(str(lockPath));
        ASSERT_TRUE(holder.tryLock(0));
        if (!systemLock) {
            // The same file, this running process its holder, with no lock on it.
            const std::vector<Byte> contents = readFile(lockPath);
            holder.unlock();
            writeFile(lockPath, contents);
        }
        const auto anHourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
        fs::last_write_time(lockPath, anHourAgo);

        RecordingView view;
        Station second(dir.path(), view);
        const std::optional<Error> refused = raisedBy([&] { second.prepareImage(); });
        ASSERT_TRUE(refused) << what << ": the folder was taken from a progread that still runs";
        EXPECT_EQ(refused->facts().code, ErrorFacts::Code::FolderInUse) << refused->message();
        EXPECT_EQ(refused->facts().count, static_cast<int>(::getpid())) << what;
        EXPECT_EQ(fs::last_write_time(lockPath), anHourAgo) << what << ": the lock was touched";
        EXPECT_FALSE(fs::exists(dir / "moban.pmw")) << what << ": prepared in a folder not ours";
    }
}
