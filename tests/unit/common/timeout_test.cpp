#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "TempRoot.h"
#include "common/timeout.h"

namespace {

// Polls until the handle expires; gives up after many polls so a broken timer fails
// instead of hanging the suite.
int pollsUntilExpired(timer_t* handle, int restartms) {
    constexpr int kMaxPolls = 2000000;
    for (int i = 0; i < kMaxPolls; ++i) {
        if (timeout_expired(handle, restartms, 0)) {
            return i;
        }
    }
    return -1;
}

class TimeoutTest : public testing_support::SimBoardTest {};

TEST_F(TimeoutTest, NeverStartedHandleIsExpired) {
    timer_t handle = no_timeout();
    EXPECT_EQ(timeout_expired(&handle, 0, 0), 1);
    EXPECT_EQ(handle, no_timeout());
}

TEST_F(TimeoutTest, RunsThenStaysExpiredUntilRearmed) {
    timer_t handle = no_timeout();
    start_timeout("test", &handle, 1500, 0);
    ASSERT_NE(handle, no_timeout());
    EXPECT_EQ(timeout_expired(&handle, 0, 0), 0);
    start_timeout("test", &handle, 20, 0); // replaces the earlier expiry
    EXPECT_GE(pollsUntilExpired(&handle, 0), 0);
    EXPECT_EQ(timeout_expired(&handle, 0, 0), 1);
    EXPECT_EQ(timeout_expired(&handle, 0, 0), 1);
    delete_timeout(&handle);
}

TEST_F(TimeoutTest, RestartPeriodRearmsOnEachExpiry) {
    timer_t handle = no_timeout();
    start_timeout("periodic", &handle, 10, 0);
    ASSERT_GE(pollsUntilExpired(&handle, 500), 0);
    // Re-armed for 500 ms: the very next poll is not expired again.
    EXPECT_EQ(timeout_expired(&handle, 500, 0), 0);
    delete_timeout(&handle);
}

TEST_F(TimeoutTest, ZeroDurationCountsAsExpired) {
    timer_t handle = no_timeout();
    start_timeout("zero", &handle, 0, 0);
    EXPECT_EQ(timeout_expired(&handle, 0, 0), 1);
    delete_timeout(&handle);
}

TEST_F(TimeoutTest, DeleteTwiceIsHarmless) {
    timer_t handle = no_timeout();
    start_timeout("del", &handle, 1000, 0);
    delete_timeout(&handle);
    EXPECT_EQ(handle, no_timeout());
    delete_timeout(&handle);
    EXPECT_EQ(handle, no_timeout());
    EXPECT_EQ(timeout_expired(&handle, 0, 0), 1);
}

// Seconds from the configuration become milliseconds in 64 bits: a long value stays long.
TEST_F(TimeoutTest, SecondsBecomeMillisecondsWithoutWrapping) {
    struct Case {
        int64_t seconds;
        int64_t ms;
    };
    const Case cases[] = {
        {-5, 0},
        {0, 0},
        {60, 60000},
        {2147484, 2147484000}, // the first value whose product leaves int
        {3000000, 3000000000},
        {INT_MAX, MAX_TIMEOUT_MS},
        {INT64_MAX / 10, MAX_TIMEOUT_MS},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timeout_ms_from_seconds(c.seconds), c.ms) << c.seconds;
    }
}

// A timer armed for longer than an int of milliseconds runs for that long; one armed past
// what the timer holds runs for the longest time, never "expired at once".
TEST_F(TimeoutTest, LongDurationsRunInsteadOfExpiring) {
    const int64_t durations[] = {timeout_ms_from_seconds(3000000), timeout_ms_from_seconds(INT_MAX),
                                 INT64_MAX};
    for (int64_t durationms : durations) {
        timer_t handle = no_timeout();
        start_timeout("long", &handle, durationms, 0);
        EXPECT_EQ(timeout_expired(&handle, 0, 0), 0) << durationms;
        struct itimerspec remaining {};
        ASSERT_EQ(timer_gettime(handle, &remaining), 0);
        const int64_t expected = std::min(durationms, MAX_TIMEOUT_MS) / 1000;
        EXPECT_GE(remaining.it_value.tv_sec, expected - 60) << durationms;
        delete_timeout(&handle);
    }
}

TEST_F(TimeoutTest, NullHandleIsIgnored) {
    start_timeout("null", nullptr, 10, 1);
}

TEST_F(TimeoutTest, ConsoleTracingWritesNoLogLines) {
    set_timeout_tracing(TimeoutTracing::Console);
    timer_t handle = no_timeout();
    testing::internal::CaptureStdout();
    start_timeout("gui", &handle, 1000, 1);
    timeout_expired(&handle, 0, 1);
    std::string out = testing::internal::GetCapturedStdout();
    set_timeout_tracing(TimeoutTracing::Log);
    EXPECT_NE(out.find(" start timeout 'gui' for 1000 ms"), std::string::npos) << out;
    EXPECT_NE(out.find(" creating timer"), std::string::npos);
    EXPECT_NE(out.find(" timeout_expired ? No"), std::string::npos);
    delete_timeout(&handle);
}

} // namespace
