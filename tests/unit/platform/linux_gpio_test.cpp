// The GPIO register arithmetic of the real board on an in-memory register block, and the
// backend's GPIO calls through a mapped file standing in for "/dev/gpiomem".
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/GpioRegisters.h"
#include "platform/linux/LinuxBackend.h"
#include "platform/wiringPi.h"
#include "tests/support/TempRoot.h"

namespace {

using platform::GpioRegisters;
using namespace std::string_literals;
namespace gpio = platform::gpio;

using Block = std::array<uint32_t, gpio::kBlockWords>;

constexpr uint32_t kPattern = 0xA5A5A5A5;

// Register offsets as the BCM2835/2837 and BCM2711 peripheral datasheets give them, spelt
// out here so that a wrong constant in the register code fails these tests.
namespace Datasheet {
constexpr std::size_t kGpfsel0 = 0x00;
constexpr std::size_t kGpset0 = 0x1C;
constexpr std::size_t kGpclr0 = 0x28;
constexpr std::size_t kGplev0 = 0x34;
constexpr std::size_t kGppud = 0x94;
constexpr std::size_t kGppudclk0 = 0x98;
constexpr std::size_t kPupPdnCntrl0 = 0xE4;
} // namespace Datasheet

Block filled(uint32_t value) {
    Block b;
    b.fill(value);
    return b;
}

std::size_t word(std::size_t byteOffset) {
    return byteOffset / sizeof(uint32_t);
}

TEST(GpioRegisters, FunctionSelectChangesOnlyThePinsThreeBits) {
    struct Case {
        int pin;
        std::size_t reg;
        unsigned shift;
    };
    // First and last pin of a register, a pin in the middle, the last pin of the chip.
    for (Case c : {Case{0, 0, 0}, Case{9, 0, 27}, Case{10, 1, 0}, Case{27, 2, 21}, Case{53, 5, 9}}) {
        Block block = filled(0xFFFFFFFF);
        GpioRegisters regs(block.data());
        regs.setFunction(c.pin, FSEL_ALT0);

        Block expected = filled(0xFFFFFFFF);
        expected[word(Datasheet::kGpfsel0) + c.reg] = ~(7u << c.shift) | (4u << c.shift);
        EXPECT_EQ(block, expected) << "pin " << c.pin;
        EXPECT_EQ(regs.function(c.pin), FSEL_ALT0) << "pin " << c.pin;
    }
}

TEST(GpioRegisters, EveryFunctionCodeReadsBackAndReturnsToInput) {
    Block block{};
    GpioRegisters regs(block.data());
    for (int code : {FSEL_OUTP, FSEL_ALT5, FSEL_ALT4, FSEL_ALT0, FSEL_ALT1, FSEL_ALT2, FSEL_ALT3}) {
        regs.setFunction(38, code);
        EXPECT_EQ(regs.function(38), code);
    }
    // From ALT3 (all three bits set) back to input clears the whole field.
    regs.setFunction(38, FSEL_INPT);
    EXPECT_EQ(block, Block{});
}

TEST(GpioRegisters, UnknownPinsCodesAndPullsLeaveTheRegistersAlone) {
    Block block = filled(kPattern);
    GpioRegisters regs(block.data());
    regs.setFunction(-1, FSEL_OUTP);
    regs.setFunction(54, FSEL_OUTP);
    regs.setFunction(5, 8);
    regs.setFunction(5, -1);
    regs.setPull(5, 3);
    regs.setPull(54, PUD_UP);
    regs.write(54, HIGH);
    regs.write(-1, LOW);
    EXPECT_EQ(block, filled(kPattern));
    EXPECT_EQ(regs.read(54), LOW);
    EXPECT_EQ(regs.read(-1), LOW);
}

TEST(GpioRegisters, WritesStoreOnlyThePinBitAndReadsTakeItsBank) {
    Block block = filled(kPattern);
    GpioRegisters regs(block.data());
    Block expected = filled(kPattern);

    regs.write(35, HIGH);
    expected[word(Datasheet::kGpset0) + 1] = 1u << 3;
    EXPECT_EQ(block, expected);

    regs.write(4, LOW);
    expected[word(Datasheet::kGpclr0)] = 1u << 4;
    EXPECT_EQ(block, expected);

    // Any value other than LOW drives the pin high, as wiringPi does.
    regs.write(31, 2);
    expected[word(Datasheet::kGpset0)] = 1u << 31;
    EXPECT_EQ(block, expected);

    block[word(Datasheet::kGplev0)] = 1u << 31;
    block[word(Datasheet::kGplev0) + 1] = 1u << 21;
    EXPECT_EQ(regs.read(31), HIGH);
    EXPECT_EQ(regs.read(32), LOW);
    EXPECT_EQ(regs.read(53), HIGH);
    EXPECT_EQ(regs.read(21), LOW);
}

TEST(GpioRegisters, PullsUseTheBcm2711Codes) {
    Block block = filled(0xFFFFFFFF);
    GpioRegisters regs(block.data());
    const std::size_t pin17 = word(Datasheet::kPupPdnCntrl0) + 1; // pins 16..31, pin 17 at bit 2
    const std::size_t pin53 = word(Datasheet::kPupPdnCntrl0) + 3; // pins 48..53, pin 53 at bit 10

    regs.setPull(17, PUD_UP);
    EXPECT_EQ(block[pin17], ~(3u << 2) | (1u << 2));
    regs.setPull(17, PUD_DOWN);
    EXPECT_EQ(block[pin17], ~(3u << 2) | (2u << 2));
    regs.setPull(17, PUD_OFF);
    EXPECT_EQ(block[pin17], ~(3u << 2));
    regs.setPull(53, PUD_UP);
    EXPECT_EQ(block[pin53], ~(3u << 10) | (1u << 10));
}

TEST(GpioRegisters, EarlierSocsClockThePullInAndClearTheControlsAfter) {
    Block block = filled(0);
    std::vector<std::pair<uint32_t, Block>> steps; // GPPUD and the whole block at each pause
    GpioRegisters regs(block.data(), gpio::PullScheme::Clocked,
                       [&] { steps.emplace_back(block[word(Datasheet::kGppud)], block); });
    regs.setPull(35, PUD_UP);

    ASSERT_EQ(steps.size(), 2u);
    // The code is set before the clock; then the clock reaches pin 35 (bank 1, bit 3) only.
    EXPECT_EQ(steps[0].first, static_cast<uint32_t>(PUD_UP));
    EXPECT_EQ(steps[0].second[word(Datasheet::kGppudclk0) + 1], 0u);
    EXPECT_EQ(steps[1].second[word(Datasheet::kGppudclk0)], 0u);
    EXPECT_EQ(steps[1].second[word(Datasheet::kGppudclk0) + 1], 1u << 3);
    EXPECT_EQ(steps[1].first, static_cast<uint32_t>(PUD_UP));
    // Afterwards both are cleared and the BCM2711 controls were never touched.
    EXPECT_EQ(block, filled(0));

    regs.setPull(35, 3); // unknown: no sequence at all
    EXPECT_EQ(steps.size(), 2u);
}

TEST(GpioRegisters, TheDeviceTreeNamesThePullScheme) {
    EXPECT_EQ(gpio::pullSchemeOf("raspberrypi,4-model-b\0brcm,bcm2711\0"s), gpio::PullScheme::Bcm2711);
    EXPECT_EQ(gpio::pullSchemeOf("raspberrypi,3-model-b\0brcm,bcm2837\0"s), gpio::PullScheme::Clocked);
    EXPECT_EQ(gpio::pullSchemeOf("raspberrypi,model-zero-w\0brcm,bcm2835\0"s), gpio::PullScheme::Clocked);
}

class LinuxBackendGpio : public ::testing::Test {
protected:
    std::string gpioFile() const { return dir_.path() + "/gpiomem"; }
    std::unique_ptr<platform::Backend> backend(const std::string& gpioMemory,
                                               const std::string& compatible = kPi4Compatible) {
        platform::LinuxDevicePaths paths;
        paths.gpioMemory = gpioMemory;
        paths.deviceTreeCompatible = dir_.path() + "/compatible";
        testing_support::writeFile(paths.deviceTreeCompatible, compatible);
        return platform::makeLinuxBackend(paths);
    }
    static inline const std::string kPi4Compatible = "raspberrypi,4-model-b\0brcm,bcm2711\0"s;
    Block fileBlock() const {
        const std::string bytes = testing_support::readFile(gpioFile());
        Block b{};
        std::memcpy(b.data(), bytes.data(), std::min(bytes.size(), sizeof b));
        return b;
    }

    testing_support::TempDir dir_;
};

TEST_F(LinuxBackendGpio, DrivesTheRegistersOfTheMappedBlock) {
    testing_support::writeFile(gpioFile(), std::string(gpio::kBlockBytes, '\0'));
    auto pi = backend(gpioFile());

    // Before set-up nothing reaches the block.
    pi->pinMode(17, OUTPUT);
    pi->digitalWrite(17, HIGH);
    EXPECT_EQ(pi->digitalRead(17), LOW);

    ASSERT_EQ(pi->setupGpio(), 0);
    EXPECT_EQ(pi->setupGpio(), 0);
    pi->pinModeAlt(2, FSEL_ALT0);
    pi->pinMode(17, OUTPUT);
    pi->digitalWrite(17, HIGH);
    pi->pullUpDnControl(3, PUD_UP);
    pi.reset();

    Block expected{};
    expected[word(Datasheet::kGpfsel0)] = 4u << 6;
    expected[word(Datasheet::kGpfsel0) + 1] = 1u << 21;
    expected[word(Datasheet::kGpset0)] = 1u << 17;
    expected[word(Datasheet::kPupPdnCntrl0)] = 1u << 6;
    EXPECT_EQ(fileBlock(), expected);
}

TEST_F(LinuxBackendGpio, OnAnEarlierPiPullsAreClockedIn) {
    testing_support::writeFile(gpioFile(), std::string(gpio::kBlockBytes, '\0'));
    auto pi = backend(gpioFile(), "raspberrypi,3-model-b\0brcm,bcm2837\0"s);
    ASSERT_EQ(pi->setupGpio(), 0);
    pi->pullUpDnControl(3, PUD_UP);
    pi.reset();
    // The clocked sequence leaves its registers cleared; the BCM2711 field stays untouched.
    EXPECT_EQ(fileBlock(), Block{});
}

TEST_F(LinuxBackendGpio, WithoutGpioMemorySetupFailsAndLaterCallsAreHarmless) {
    auto pi = backend(dir_.path() + "/no-gpiomem");
    testing::internal::CaptureStderr();
    EXPECT_EQ(pi->setupGpio(), -1);
    // The reason reaches the caller, which logs it before it ends.
    EXPECT_EQ(errno, ENOENT);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("no-gpiomem"), std::string::npos) << message;

    pi->pinMode(4, OUTPUT);
    pi->pinModeAlt(2, FSEL_ALT0);
    pi->pullUpDnControl(3, PUD_UP);
    pi->digitalWrite(4, HIGH);
    EXPECT_EQ(pi->digitalRead(4), LOW);
    testing::internal::CaptureStderr();
    EXPECT_EQ(pi->setupGpio(), -1);
    testing::internal::GetCapturedStderr();
}

} // namespace
