// What the boot loader's 8E1 UART makes of bytes from a port framed otherwise, and what
// such a port makes of the loader's answers.
#include <gtest/gtest.h>

#include "sim/camera/SerialFraming.h"

namespace {

using sim::Parity;
using sim::SerialFraming;

constexpr SerialFraming k8N1{8, Parity::None, 1};
constexpr SerialFraming k8O1{8, Parity::Odd, 1};
constexpr SerialFraming k7E1{7, Parity::Even, 1};
constexpr SerialFraming k8E2{8, Parity::Even, 2};

struct FramingCase {
    const char* name;
    SerialFraming from;
    SerialFraming to;
    uint8_t byte;
    uint8_t value;
    bool parityError;
    bool framingError;
};
// CTest lists the case by its name.
void PrintTo(const FramingCase& c, std::ostream* os) {
    *os << c.name;
}

class Reframe : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Reframe, OneByte) {
    const FramingCase& c = GetParam();
    auto got = sim::reframe(c.byte, c.from, c.to);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].value, c.value);
    EXPECT_EQ(got[0].parityError, c.parityError);
    EXPECT_EQ(got[0].framingError, c.framingError);
}

INSTANTIATE_TEST_SUITE_P(
    Framing, Reframe,
    ::testing::Values(
        // Alike on both sides: every byte passes.
        FramingCase{"Same", sim::kBootLoaderFraming, sim::kBootLoaderFraming, 0x00, 0x00, false, false},
        FramingCase{"TwoStopBitsIntoOne", k8E2, sim::kBootLoaderFraming, 0x31, 0x31, false, false},
        // No parity: the stop bit stands where the loader wants the parity bit, so only
        // bytes with an odd number of ones pass.
        FramingCase{"NoParityOddOnes", k8N1, sim::kBootLoaderFraming, 0x7F, 0x7F, false, false},
        FramingCase{"NoParityEvenOnes", k8N1, sim::kBootLoaderFraming, 0x00, 0x00, true, false},
        FramingCase{"OddParity", k8O1, sim::kBootLoaderFraming, 0x7F, 0x7F, true, false},
        // Seven data bits: the parity bit becomes bit 7, the stop bit the parity.
        FramingCase{"SevenBits", k7E1, sim::kBootLoaderFraming, 0x31, 0xB1, true, false},
        // The loader's parity bit 0 where an 8N1 port wants its stop bit.
        FramingCase{"AnswerIntoNoParity", sim::kBootLoaderFraming, k8N1, 0x44, 0x44, false, true},
        FramingCase{"AckIntoNoParity", sim::kBootLoaderFraming, k8N1, 0x79, 0x79, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialFraming, ReadFromThePortSettings) {
    termios t{};
    t.c_cflag = CS8 | PARENB | CREAD | CLOCAL;
    EXPECT_EQ(SerialFraming::fromTermios(t).name(), "8E1");
    t.c_cflag = CS7 | PARENB | PARODD | CSTOPB;
    EXPECT_EQ(SerialFraming::fromTermios(t).name(), "7O2");
}

} // namespace
