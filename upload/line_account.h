// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Replies carry no address, so which block an answer belongs to is a matter of keeping
// count: the requests whose answers are still out, when each went out, and the block they
// are all for. The count outlives a start, and through a small record per device the process
// too: a read started right after another one stopped, through another name of the same
// device or as another user, must not take the answers still owed to it.

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace progread {

// What a port's line looked like when it was last used: the documented record.
struct LineRecord {
    long long newestRequestMs = 0;  // on the system's monotonic clock, shared by processes
    int out = 0;                    // answers still out
    long long waitMs = 0;           // how long an answer was being waited for
    long long lastActivityMs = 0;   // the newest request, or the latest character heard
};

class LineRecordStore {
public:
    virtual ~LineRecordStore() = default;
    virtual std::optional<LineRecord> load(const std::string& port) = 0;
    // Written before each request goes out and after each answer, so that even a killed
    // process leaves it right. Failing to write it costs only the protection it gives.
    virtual void save(const std::string& port, const LineRecord& record) = 0;
};

// One small text file a device and user ("progread-line-c188-0.1000" for /dev/ttyUSB0 and any
// link to it), of one fixed length, rewritten in place by a single write: twice a block, so
// it must cost next to nothing. Kept in the first of dirs where it can be (/run/lock, where
// every user's process sees it, then the runtime folder); a load reads every user's record of
// the device in each of them and takes the newest.
class LineRecordFiles : public LineRecordStore {
public:
    explicit LineRecordFiles(std::vector<std::filesystem::path> dirs) : dirs_(std::move(dirs)) {}
    ~LineRecordFiles() override;
    LineRecordFiles(const LineRecordFiles&) = delete;
    LineRecordFiles& operator=(const LineRecordFiles&) = delete;
    std::optional<LineRecord> load(const std::string& port) override;
    void save(const std::string& port, const LineRecord& record) override;
    // What names the device behind port: "c188-0" for a character device, else its path.
    static std::string deviceKey(const std::string& port);
    // This process's own record of port in dir.
    std::filesystem::path pathFor(const std::filesystem::path& dir, const std::string& port) const;
    // Told once, with why, when no record can be kept anywhere.
    void setTrouble(std::function<void(const std::string&)> told) { trouble_ = std::move(told); }

private:
    void openFor(const std::string& port);

    std::vector<std::filesystem::path> dirs_;
    std::string openPort_;  // the port whose record is held open
    int fd_ = -1;
    std::function<void(const std::string&)> trouble_;
    bool told_ = false;
};

class LineAccount {
public:
    static constexpr long long kFirstWaitMs = 1000;
    // No answer is awaited longer. Well above the slowest controller this tool has met
    // (answers 2.5 s late, read correctly), and short enough that a few lost answers cost
    // seconds: every give-up at least doubles the wait.
    static constexpr long long kMaxWaitMs = 5000;
    // A request goes out only once nothing has been heard for this long: two character
    // times at 9600 baud, 7E1 (1.04 ms each). A sender that is still going delivers its
    // next character within one; the second allows for the port's delivery. It is also
    // the controller's turnaround gap after its answer. Longer would cost the designed pace
    // more than 2 % where the answer comes after the tick.
    static constexpr long long kSettleMs = 2;

    // A start on port: the account of another port, or of another process that left a
    // record still within its wait, is taken over. Returns true when answers may still
    // come that this process did not ask for: the line should be quiet for a whole wait
    // before anything is asked, and may be behind.
    bool attach(LineRecordStore* store, const std::string& port, long long now);

    int out() const { return static_cast<int>(sentAt_.size()); }
    // The block the answers still out are for; -1 when unknown (asked by another process).
    long offset() const { return offset_; }
    long long waitMs() const { return waitMs_; }
    long long newestRequest() const { return newestRequest_; }
    // Nothing was sent or heard for the whole wait.
    bool quietFor(long long now) const { return now - lastActivity_ >= waitMs_; }
    // Nothing was heard for the settle time.
    bool settled(long long now) const { return now - lastHeard_ >= kSettleMs; }
    long long settledAt() const { return lastHeard_ + kSettleMs; }

    // Raises a Serial error if a request for another block would go out while answers are
    // still out: the one rule everything else rests on.
    void requestSent(long offset, long long now);
    // Characters came (whatever they turn out to be).
    void heard(long long now);
    // An answer came (heard() was told when its characters came); it belongs to offset().
    // Returns how long it took, counted from the oldest request still out (a controller
    // answers queued requests in turn).
    long long answerCame(long long now);
    // Nothing came for the whole wait: those answers are taken as lost. If one comes after
    // all, every answer after it is one behind: the line may be behind until a read has
    // been checked by a second one (inStep). The wait grows to twice the age of the answer
    // given up, so that another one still on its way meets the quiet wait.
    void forget(long long now);
    // The block's answer was taken: the other requests for it still out would bring the same
    // bytes again, dropped as repeats when they come next. They are no longer waited for;
    // one later than that would be taken for a later block, so the line may be behind
    // (unless sure: every answer still out can only repeat the one taken).
    void blockTaken(bool sure = false) {
        if (!sentAt_.empty() && !sure) mayBeBehind_ = true;
        sentAt_.clear();
        save();
    }
    bool mayBeBehind() const { return mayBeBehind_; }
    // The line brought an answer twice (or one refused twice): equal replies are no news.
    void copySeen() { copiesSeen_ = true; }
    bool copiesSeen() const { return copiesSeen_; }
    long long lastHeard() const { return lastHeard_; }
    // The longest an answer has taken since the account began.
    long long slowestAnswerMs() const { return slowestAnswerMs_; }
    void inStep() { mayBeBehind_ = false; }
    void resetWait() {
        waitMs_ = kFirstWaitMs;
        save();
    }

private:
    void grow(long long ms);
    void save();

    LineRecordStore* store_ = nullptr;
    std::string port_;
    bool attached_ = false;
    std::deque<long long> sentAt_;
    long offset_ = -1;
    long long newestRequest_ = 0;
    long long lastActivity_ = 0;  // the newest request, or the latest character heard
    long long lastHeard_ = -kSettleMs;
    long long waitMs_ = kFirstWaitMs;
    bool mayBeBehind_ = false;
    bool copiesSeen_ = false;
    long long slowestAnswerMs_ = 0;
};

}  // namespace progread
