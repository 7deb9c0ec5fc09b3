#include "common/RepeatedFault.h"

#include <chrono>

#include "common/logfile.h"

RepeatedFault::RepeatedFault(std::string name, int64_t periodMs, Clock clock)
    : name_(std::move(name)), periodMs_(periodMs), clock_(std::move(clock)) {}

int64_t RepeatedFault::steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool RepeatedFault::failed() {
    const int64_t now = clock_();
    const bool passed = periodPassed(now);
    const bool fresh = !active_ && unreported_ == 0;
    active_ = true;
    if (fresh && passed) {
        lineWritten_ = true;
        lastLineClosing_ = false;
        lastLine_ = now;
        repeatsSinceReport_ = 0;
        return true;
    }
    ++unreported_;
    ++repeatsSinceReport_;
    if (passed) {
        logprintf("%s ... repeated %llu times\n", name_.c_str(),
                  static_cast<unsigned long long>(unreported_));
        unreported_ = 0;
        lineWritten_ = true;
        lastLineClosing_ = false;
        lastLine_ = now;
    }
    return false;
}

// A single failure that cleared needs no closing line. A fault that comes and goes on
// every pass is closed once per report; the failures not yet counted in a line wait for
// the next summary.
void RepeatedFault::cleared() {
    if (!active_) {
        return;
    }
    active_ = false;
    const int64_t now = clock_();
    if (repeatsSinceReport_ == 0 || (lastLineClosing_ && !periodPassed(now))) {
        return;
    }
    logprintf("%s ... cleared after %llu repeats\n", name_.c_str(),
              static_cast<unsigned long long>(repeatsSinceReport_));
    repeatsSinceReport_ = 0;
    unreported_ = 0;
    lineWritten_ = true;
    lastLineClosing_ = true;
    lastLine_ = now;
}

RepeatedFaults::RepeatedFaults(int64_t periodMs, RepeatedFault::Clock clock)
    : periodMs_(periodMs), clock_(std::move(clock)) {}

bool RepeatedFaults::failed(uint64_t key, const std::string& name) {
    std::lock_guard<std::mutex> held(lock_);
    auto found = faults_.find(key);
    if (found == faults_.end()) {
        found = faults_.emplace(key, RepeatedFault(name, periodMs_, clock_)).first;
    } else if (!found->second.active()) {
        found->second.rename(name);
    }
    const bool wasActive = found->second.active();
    const bool full = found->second.failed();
    if (!wasActive) {
        ++activeCount_;
    }
    return full;
}

void RepeatedFaults::cleared(uint64_t key) {
    if (activeCount_.load(std::memory_order_relaxed) == 0) {
        return;
    }
    std::lock_guard<std::mutex> held(lock_);
    auto found = faults_.find(key);
    if (found != faults_.end() && found->second.active()) {
        found->second.cleared();
        --activeCount_;
    }
}
