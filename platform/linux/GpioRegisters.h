// The BCM GPIO register block of the Raspberry Pi (function select, set, clear, level and
// the pull controls of either SoC generation), driven through a pointer to its first word. On the board the
// pointer comes from mapping "/dev/gpiomem" (GpioMemory); tests point it at an array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace platform::gpio {

constexpr int kPinCount = 54; // GPIO 0..53

// Byte offsets of the registers within the block.
constexpr std::size_t kGpfsel0 = 0x00;      // function select, 10 pins per register
constexpr std::size_t kGpset0 = 0x1C;       // write 1 to drive a pin high
constexpr std::size_t kGpclr0 = 0x28;       // write 1 to drive a pin low
constexpr std::size_t kGplev0 = 0x34;       // pin levels
constexpr std::size_t kGppud = 0x94;        // BCM2835/2837 pull code for the next clock
constexpr std::size_t kGppudclk0 = 0x98;    // BCM2835/2837 pull clock, a bit per pin
constexpr std::size_t kPupPdnCntrl0 = 0xE4; // BCM2711 pull controls, 16 pins per register
constexpr std::size_t kBlockBytes = 0x1000; // what "/dev/gpiomem" maps
constexpr std::size_t kBlockWords = kBlockBytes / sizeof(uint32_t);

constexpr int kPinsPerFsel = 10;
constexpr unsigned kFselBits = 3;
constexpr uint32_t kFselMask = 0x7;
constexpr int kPinsPerBank = 32;
constexpr int kPinsPerPull = 16;
constexpr unsigned kPullBits = 2;
constexpr uint32_t kPullMask = 0x3;

// Pull codes of GPIO_PUP_PDN_CNTRL (not wiringPi's PUD_ numbers, which swap up and down).
constexpr uint32_t kPullNone = 0;
constexpr uint32_t kPullUp = 1;
constexpr uint32_t kPullDown = 2;

// How the SoC sets pulls: the BCM2711 (Pi 4 generation) has a pull field per pin; the
// BCM2835/2837 (earlier generations) latch GPPUD into the pins clocked by GPPUDCLK, with
// wiringPi's PUD_ numbers as codes.
enum class PullScheme { Bcm2711, Clocked };

// The scheme for the SoC named in the device tree's "compatible" list (NUL-separated).
PullScheme pullSchemeOf(const std::string& compatible);

// A bit field of one pin: the register's index in 32-bit words from the block's start,
// the field's shift and its mask in place.
struct Field {
    std::size_t word;
    unsigned shift;
    uint32_t mask;
};

constexpr bool validPin(int pin) {
    return pin >= 0 && pin < kPinCount;
}

constexpr std::size_t wordOf(std::size_t byteOffset) {
    return byteOffset / sizeof(uint32_t);
}

// The function-select field of a pin.
constexpr Field fselField(int pin) {
    const unsigned shift = static_cast<unsigned>(pin % kPinsPerFsel) * kFselBits;
    return {wordOf(kGpfsel0) + static_cast<std::size_t>(pin / kPinsPerFsel), shift, kFselMask << shift};
}

// The pin's bit in one of the two-word banks (GPSET, GPCLR, GPLEV) starting at bankOffset.
constexpr Field bankBit(int pin, std::size_t bankOffset) {
    const unsigned shift = static_cast<unsigned>(pin % kPinsPerBank);
    return {wordOf(bankOffset) + static_cast<std::size_t>(pin / kPinsPerBank), shift, 1u << shift};
}

// The pin's field in the pull controls.
constexpr Field pullField(int pin) {
    const unsigned shift = static_cast<unsigned>(pin % kPinsPerPull) * kPullBits;
    return {wordOf(kPupPdnCntrl0) + static_cast<std::size_t>(pin / kPinsPerPull), shift, kPullMask << shift};
}

// The BCM2711 pull code for a wiringPi PUD_ value, or none for an unknown value.
std::optional<uint32_t> pullCode(int pud);

} // namespace platform::gpio

namespace platform {

class GpioRegisters {
public:
    // `base` addresses the block's first register and must cover kBlockWords words.
    // `settle` waits the 150 core cycles the clocked pull sequence needs between steps
    // (tests look at the registers there).
    explicit GpioRegisters(volatile uint32_t* base, gpio::PullScheme pulls = gpio::PullScheme::Bcm2711,
                           std::function<void()> settle = {})
        : base_(base), pulls_(pulls), settle_(std::move(settle)) {}

    // Function codes as pinModeAlt numbers them (0 input, 1 output, 2..7 the ALT
    // functions). Unknown pins or codes are ignored.
    void setFunction(int pin, int fsel);
    int function(int pin) const;
    // wiringPi's PUD_OFF / PUD_DOWN / PUD_UP.
    void setPull(int pin, int pud);
    void write(int pin, int value);
    // The pin's level, 0 for an unknown pin.
    int read(int pin) const;

private:
    void modify(const gpio::Field& field, uint32_t value);
    void clockPull(int pin, uint32_t code);
    void settle() const;

    volatile uint32_t* base_;
    gpio::PullScheme pulls_;
    std::function<void()> settle_;
    // Function select and pulls are read-modify-write of registers shared by many pins,
    // used from several threads.
    std::mutex modifyMutex_;
};

} // namespace platform
