// Repeated faults against a clock the test moves, one step per 10 ms pass of a loop.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "TempRoot.h"
#include "common/RepeatedFault.h"
#include "common/logfile.h"

namespace {

constexpr int64_t kPassMs = 10;
constexpr int kMinutePasses = 6000;

class RepeatedFaultTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories("log");
        logfile_testing::reset();
    }
    // Runs `failing(pass)` for each pass: true fails the fault, false clears it. Returns
    // how many failures the caller was told to log in full.
    template <typename Pattern> int run(int passes, Pattern failing) { return run(fault, passes, failing); }
    template <typename Pattern> int run(RepeatedFault& which, int passes, Pattern failing) {
        int full = 0;
        for (int pass = 0; pass < passes; ++pass) {
            now += kPassMs;
            if (failing(pass)) {
                full += which.failed() ? 1 : 0;
            } else {
                which.cleared();
            }
        }
        return full;
    }
    static std::vector<std::string> lines() {
        std::vector<std::string> found;
        const std::string text = testing_support::readFile("log/QLM_logfile_0001.log");
        const std::regex line(R"(fault X \.\.\. [^\n]*)");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator();
             ++it) {
            found.push_back(it->str());
        }
        return found;
    }

    int64_t now = 0;
    RepeatedFault fault{"fault X", RepeatedFault::kSummaryPeriodMs, [this] { return now; }};
};

TEST_F(RepeatedFaultTest, AFaultOnEveryPassIsSummarisedAndItsEndCountsEveryRepeat) {
    EXPECT_EQ(run(kMinutePasses + 1, [](int pass) { return pass < kMinutePasses; }), 1);
    const auto written = lines();
    ASSERT_FALSE(written.empty());
    // One summary per five seconds, then the closing line with every repeat since the report.
    EXPECT_EQ(written.size(), 11u + 1u);
    EXPECT_EQ(written.front(), "fault X ... repeated 500 times");
    EXPECT_EQ(written.back(), "fault X ... cleared after 5999 repeats");
}

TEST_F(RepeatedFaultTest, FaultsThatComeAndGoStayWithinTwoLinesAPeriod) {
    struct Case {
        const char* what;
        int everyPasses; // fails on one pass in this many, clears on the others
    };
    for (const Case& c : {Case{"alternating", 2}, Case{"one in three", 3}, Case{"one in fifty", 50}}) {
        SCOPED_TRACE(c.what);
        logfile_testing::reset();
        std::filesystem::remove_all("log");
        std::filesystem::create_directories("log");
        RepeatedFault fresh{"fault X", RepeatedFault::kSummaryPeriodMs, [this] { return now; }};
        EXPECT_EQ(run(fresh, kMinutePasses, [&](int pass) { return pass % c.everyPasses == 0; }), 1);
        EXPECT_LE(lines().size(), 2u * (kMinutePasses * kPassMs / RepeatedFault::kSummaryPeriodMs));
    }
}

TEST_F(RepeatedFaultTest, ASingleFailureNeedsNoClosingLineAndALaterOneIsReportedAgain) {
    EXPECT_EQ(run(2, [](int pass) { return pass == 0; }), 1);
    EXPECT_TRUE(lines().empty());
    now += RepeatedFault::kSummaryPeriodMs;
    EXPECT_EQ(run(1, [](int) { return true; }), 1);
}

TEST_F(RepeatedFaultTest, KeyedFaultsAreCountedApart) {
    RepeatedFaults faults(RepeatedFault::kSummaryPeriodMs, [this] { return now; });
    EXPECT_TRUE(faults.failed(1, "fault X"));
    EXPECT_TRUE(faults.failed(2, "fault Y"));
    EXPECT_FALSE(faults.failed(1, "fault X"));
    faults.cleared(2); // Y failed once: nothing to close
    faults.cleared(1);
    EXPECT_EQ(lines(), std::vector<std::string>{"fault X ... cleared after 1 repeats"});
}

} // namespace
