// A fault that repeats on every pass of a loop (a missing board polled every 10 ms, a dead
// chip read by the main loop) must not rotate the log away: the five log files would hold
// under a minute, and the history that explains the fault would be gone. The first failure
// of a run is logged in full by the caller; repeats are counted and summarised at most once
// per period, and once more when the fault clears.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class RepeatedFault {
public:
    using Clock = std::function<int64_t()>; // monotonic milliseconds
    static constexpr int64_t kSummaryPeriodMs = 5000;

    explicit RepeatedFault(std::string name, int64_t periodMs = kSummaryPeriodMs, Clock clock = steadyMs);

    // A failure. True when the caller should log it in full: the first of a run, and not
    // within a period of the last line written for this fault.
    bool failed();
    // A success: ends a run; a run that was reported gets one closing line.
    void cleared();

    bool active() const { return active_; }
    const std::string& name() const { return name_; }
    void rename(std::string name) { name_ = std::move(name); }

    static int64_t steadyMs();

private:
    bool periodPassed(int64_t now) const { return !lineWritten_ || now - lastLine_ >= periodMs_; }

    std::string name_;
    int64_t periodMs_;
    Clock clock_;
    bool active_ = false;
    bool lineWritten_ = false;
    bool lastLineClosing_ = false;
    int64_t lastLine_ = 0;
    uint64_t unreported_ = 0;         // failures in no line yet
    uint64_t repeatsSinceReport_ = 0; // failures after the last one logged in full
};

// Repeated faults told apart by a key (a descriptor, a bus and address), safe for every
// thread. The fast path of a success with no fault on record takes no lock.
class RepeatedFaults {
public:
    explicit RepeatedFaults(int64_t periodMs = RepeatedFault::kSummaryPeriodMs,
                            RepeatedFault::Clock clock = RepeatedFault::steadyMs);

    // As RepeatedFault::failed; `name` names the fault in its summary lines.
    bool failed(uint64_t key, const std::string& name);
    void cleared(uint64_t key);

private:
    int64_t periodMs_;
    RepeatedFault::Clock clock_;
    std::mutex lock_;
    std::map<uint64_t, RepeatedFault> faults_;
    std::atomic<int> activeCount_{0}; // faults in a run; read without the lock
};
