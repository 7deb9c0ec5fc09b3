#include <gtest/gtest.h>

#include <csignal>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempRoot.h"
#include "sim/board/SharedMemory.h"

namespace {

// A region as the models keep theirs: the header with the lock, then data only touched
// under it.
struct CounterState {
    static constexpr uint32_t kMagic = 0x4F544C4B; // "OTLK"
    static constexpr uint32_t kVersion = 1;
    sim::RegionHeader header;
    uint32_t counter = 0;
    uint32_t inside = 0;     // processes between lock and unlock
    uint32_t collisions = 0; // times a process found another one inside
};

constexpr int kRounds = 2000;
// A waiter that never gets the lock is ended, so a wedged lock fails the test instead of
// hanging it.
constexpr unsigned kWedgedSecs = 60;

class SharedMutexTest : public ::testing::Test {
protected:
    std::string path() const { return dir_.path() + "/lock.state"; }

    // Runs `body` in a child process on its own mapping of the region; returns its exit status.
    template <class Body> pid_t spawn(Body body) {
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(kWedgedSecs);
            sim::SharedRegion<CounterState> region(path());
            body(region);
            _exit(0);
        }
        return pid;
    }

    static int exitStatus(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
            return -1;
        }
        return WEXITSTATUS(status);
    }

    testing_support::TempDir dir_;
};

TEST_F(SharedMutexTest, TwoProcessesNeverHoldItAtOnce) {
    sim::SharedRegion<CounterState> region(path());
    ASSERT_TRUE(region.valid());
    auto contend = [](sim::SharedRegion<CounterState>& r) {
        for (int i = 0; i < kRounds; ++i) {
            auto held = r.lock();
            if (r->inside++ != 0) {
                ++r->collisions;
            }
            const uint32_t seen = r->counter;
            sched_yield(); // invites the other process in, were the lock not holding it off
            r->counter = seen + 1;
            --r->inside;
        }
    };
    const pid_t first = spawn(contend);
    const pid_t second = spawn(contend);
    EXPECT_EQ(exitStatus(first), 0);
    EXPECT_EQ(exitStatus(second), 0);
    EXPECT_EQ(region->counter, 2u * kRounds);
    EXPECT_EQ(region->collisions, 0u);
    EXPECT_EQ(region->header.mutex.holder.load(), 0);
}

TEST_F(SharedMutexTest, AHolderThatDiedDoesNotWedgeTheOthers) {
    sim::SharedRegion<CounterState> region(path());
    ASSERT_TRUE(region.valid());
    // Held once here first: a forked child must record its own pid, not this process's.
    { auto held = region.lock(); }
    const pid_t dying = spawn([](sim::SharedRegion<CounterState>& r) {
        r->header.mutex.lock();
        r->counter = 1;
        _exit(0); // holding it
    });
    ASSERT_EQ(exitStatus(dying), 0);
    EXPECT_EQ(region->header.mutex.holder.load(), dying);

    // Two waiters at once: one takes the lock over, the other gets it after.
    auto add = [](sim::SharedRegion<CounterState>& r) {
        auto held = r.lock();
        ++r->counter;
    };
    const pid_t first = spawn(add);
    const pid_t second = spawn(add);
    EXPECT_EQ(exitStatus(first), 0);
    EXPECT_EQ(exitStatus(second), 0);
    EXPECT_EQ(region->counter, 3u);
    EXPECT_EQ(region->header.mutex.holder.load(), 0);
    EXPECT_EQ(region->header.mutex.word.load(), 0u);
}

} // namespace
