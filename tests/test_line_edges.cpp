// SPDX-License-Identifier: GPL-3.0-or-later
// Controllers and adapters that say more than the answer, or less; answers owed to another
// process.

#include <gtest/gtest.h>

#include <map>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

namespace {

using Step = Upload::Step;

}  // namespace

// Controllers and adapters that say more than the answer, or less: every read ends with the
// exact image, and lost or refused answers cost seconds (simulated time here).
TEST(LineEdges, EchoesRepeatsNaksAndLostAnswersGiveTheExactImageInSeconds) {
    struct Row {
        const char* what;
        long long latency;
        // What reaches the tool for request k (k from 1), given the true reply.
        std::function<std::vector<std::string>(const std::string& request, const std::string& reply,
                                               int k)>
            line;
        long long withinMs;  // the read's simulated time at most
    };
    auto lostAt = [](std::vector<int> ks) {
        return [ks](const std::string&, const std::string& reply, int k) {
            for (int lost : ks) {
                if (k == lost) return std::vector<std::string>{};
            }
            return std::vector<std::string>{reply};
        };
    };
    const Row rows[] = {
        {"four lost answers", 20, lostAt({3, 7, 11, 15}), 30'000},
        // Each block takes half a second here, and the second read of the blocks after the
        // first loss as much again.
        {"four lost answers, slow controller", 400, lostAt({3, 7, 11, 15}), 40'000},
        {"three NAKs", 20,
         [](const std::string&, const std::string& reply, int k) {
             return k == 3 || k == 8 || k == 13 ? std::vector<std::string>{"\x15"}
                                                : std::vector<std::string>{reply};
         },
         5'000},
        {"every answer twice", 200,
         [](const std::string&, const std::string& reply, int) {
             return std::vector<std::string>{reply, reply};
         },
         19 * 400},
        {"one answer twice", 400,
         [](const std::string&, const std::string& reply, int k) {
             return k == 5 ? std::vector<std::string>{reply, reply}
                           : std::vector<std::string>{reply};
         },
         19 * 600},
        {"a half-duplex echo before every answer", 20,
         [](const std::string& request, const std::string& reply, int) {
             return std::vector<std::string>{request, reply};
         },
         19 * 110},
        {"a stray STX after every answer", 20,
         [](const std::string&, const std::string& reply, int) {
             return std::vector<std::string>{reply, "\x02"};
         },
         19 * 110},
    };
    for (const Row& row : rows) {
        for (bool fast : {false, true}) {
            Rig rig;
            rig.memory = distinctMemory(18);  // 19 blocks
            rig.upload.setBackToBack(fast);
            // The controller: each request's answers in turn, latency after the one before.
            rig.controller = [](long, int) { return std::nullopt; };
            std::multimap<long long, std::string>& arrivals = rig.arrivals;
            long long busy = 0;
            int k = 0;
            std::size_t taken = 0;
            const long long start = rig.ticker.now;
            rig.upload.Command1_Click();
            while (rig.upload.running() && rig.ticker.now < start + 120'000) {
                rig.advance(1);
                for (; taken < rig.offsets.size(); ++taken) {
                    const ReadRequest r =
                        BuildReadRequest(static_cast<Integer>(rig.offsets[taken]));
                    const std::string request(r.chars.begin(), r.chars.end());
                    const std::string reply = rig.replyFor(rig.offsets[taken]);
                    long long at = std::max(rig.requestTimes[taken], busy) + row.latency;
                    for (const std::string& piece : row.line(request, reply, ++k)) {
                        arrivals.emplace(at, piece);
                        at += static_cast<long long>(piece.size());  // about 1 ms a character
                    }
                    busy = at;
                }
            }
            const std::string what = std::string(row.what) + (fast ? ", --fast" : "");
            ASSERT_EQ(rig.upload.step(), Step::Finished)
                << what << ": " << (rig.view.errors.empty() ? "" : rig.view.errors[0].message());
            EXPECT_EQ(rig.sink.bytes, rig.cleanImage()) << what;
            EXPECT_LE(rig.ticker.now - start, row.withinMs) << what;
        }
    }
}

// A read started right after another process's stopped, while that one's answers are still
// on their way: they are dropped, the line is read only once it is quiet, and the blocks are
// read a second time. Never a wrong image.
TEST(LineEdges, AnswersOwedToAnotherProcessAreNeverTaken) {
    struct MemoryRecords : LineRecordStore {
        std::map<std::string, LineRecord> records;
        std::optional<LineRecord> load(const std::string& port) override {
            auto it = records.find(port);
            return it == records.end() ? std::nullopt : std::optional<LineRecord>(it->second);
        }
        void save(const std::string& port, const LineRecord& r) override { records[port] = r; }
    };
    for (long long stopAt : {250LL, 1000LL, 2500LL, 3100LL, 3700LL}) {
        for (long long gap : {10LL, 300LL, 2000LL}) {
            MemoryRecords records;
            // The first process: a controller that answers in 400 ms, stuck once for 3 s.
            Rig first;
            first.upload.setLineRecords(&records);
            first.memory = distinctMemory(40);
            first.latency = [](long, int k) { return k == 2 ? 3000LL : 400LL; };
            first.upload.Command1_Click();
            first.advance(stopAt);
            first.upload.fail(Error(ErrorKind::Serial, "interrupted (SIGINT)"));
            // The second process, on the same line and clock: the first one's answers still
            // come, in turn.
            Rig second;
            second.upload.setLineRecords(&records);
            second.memory = first.memory;
            second.latency = [](long, int) { return 400LL; };
            second.ticker.now = first.ticker.now + gap;
            second.ticker.nextTick = second.ticker.now + FakeTicker::kPeriodMs;
            for (const auto& [at, answer] : first.arrivals) {
                if (at > second.ticker.now) second.arrivals.emplace(at, answer);
            }
            second.requests = first.requests;  // the controller counts on
            second.controllerBusyUntil = first.controllerBusyUntil;
            const std::string what = "stopped at " + std::to_string(stopAt) + " ms, again " +
                                     std::to_string(gap) + " ms later";
            const long long firstWait = first.upload.line().waitMs();
            second.upload.Command1_Click();
            // Taken over with the first one's wait: a shorter one lets its late answers in.
            if (second.upload.step() == Step::QuietThenAsk) {
                EXPECT_EQ(second.upload.line().waitMs(), firstWait) << what;
            }
            second.runOn();
            if (second.upload.step() == Step::Finished) {
                EXPECT_EQ(second.sink.bytes, second.cleanImage()) << what << ": a wrong image";
                continue;
            }
            // An answer later than any wait (the stuck one, when the first process had not
            // yet given it up) looks like the answer to a request of ours; the second read
            // stops such a read.
            EXPECT_GE(stopAt, 1000) << what << ": " << second.view.errors[0].message();
            ASSERT_EQ(second.upload.step(), Step::Stopped) << what;
            EXPECT_EQ(second.view.finished, 0) << what;
        }
    }
}
