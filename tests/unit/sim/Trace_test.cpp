// The trace's memory stays bounded however long a program runs, and what a failure report
// prints survives the bound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/board/Trace.h"

namespace {

constexpr size_t kBurst = 961; // the largest SPI burst, as a capture moves them
constexpr size_t kBursts = 20000;
constexpr size_t kBudget = size_t{1} << 20;

sim::TraceEntry burst(uint8_t fill) {
    sim::TraceEntry e;
    e.kind = sim::TraceKind::Spi;
    e.channel = 0;
    e.out.assign(kBurst, fill);
    e.in.assign(kBurst, static_cast<uint8_t>(~fill));
    return e;
}

struct Limits {
    const char* name;
    size_t payloadKept;
    size_t keptBytesPerDirection;
};
// CTest lists the case by its name.
void PrintTo(const Limits& c, std::ostream* os) {
    *os << c.name;
}

class TraceBound : public ::testing::TestWithParam<Limits> {};

TEST_P(TraceBound, ManyLargeBurstsStayWithinTheByteBudget) {
    sim::Trace trace;
    trace.setLimits(kBudget, GetParam().payloadKept);
    for (size_t i = 0; i < kBursts; ++i) {
        trace.record(burst(static_cast<uint8_t>(i)));
    }
    EXPECT_LE(trace.bytes(), kBudget);
    EXPECT_EQ(trace.count(sim::TraceKind::Spi), kBursts); // counted even when dropped
    auto kept = trace.entries();
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back().sequence, kBursts - 1); // the newest stay
    EXPECT_EQ(kept.back().out.size(), GetParam().keptBytesPerDirection);
    EXPECT_EQ(kept.back().outLength, kBurst);
    // The report still names the transfer's true length.
    EXPECT_NE(trace.dump(1).find("(961 bytes)"), std::string::npos) << trace.dump(1);
}

INSTANTIATE_TEST_SUITE_P(Trace, TraceBound,
                         ::testing::Values(Limits{"AllBytes", sim::Trace::kAllPayload, kBurst},
                                           Limits{"ProgramPayload", sim::Trace::kProgramPayload,
                                                  sim::Trace::kProgramPayload}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Trace, ALowerBudgetDropsTheOldestAtOnceAndClearFreesEverything) {
    sim::Trace trace;
    for (size_t i = 0; i < 100; ++i) {
        trace.record(burst(1));
    }
    const size_t before = trace.bytes();
    trace.setLimits(before / 2, sim::Trace::kAllPayload);
    EXPECT_LE(trace.bytes(), before / 2);
    EXPECT_LT(trace.size(), 100u);
    trace.clear();
    EXPECT_EQ(trace.bytes(), 0u);
    EXPECT_EQ(trace.size(), 0u);
}

} // namespace
