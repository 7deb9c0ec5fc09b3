// The Raspberry Pi's GPIO pins 0..53 as the board sees them: the Pi's own function
// select and output level, the pulls, and what the board's chips drive onto each line.
// I2C lines (GPIO 2/3) are open drain with pull-ups on the board: anyone pulling low wins.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/board/SharedMemory.h"

namespace sim {

class Trace;

constexpr int kPinCount = 54;

// What a chip on the board does to a line.
enum class Drive : uint8_t { None = 0, Low = 1, High = 2 };

struct PinBankState {
    static constexpr uint32_t kMagic = 0x4F505042; // "OPPB"
    static constexpr uint32_t kVersion = 1;
    struct Pin {
        std::atomic<uint8_t> fsel{0};    // function select: 0 input, 1 output, ALT codes
        std::atomic<uint8_t> piLevel{0}; // level the Pi drives when an output
        std::atomic<uint8_t> pud{0};     // PUD_OFF / PUD_DOWN / PUD_UP as last set
        std::atomic<uint8_t> drive{0};   // Drive of the board's chips
        std::atomic<uint8_t> pullUp{0};  // 1 when the board has an external pull-up
    };
    RegionHeader header;
    std::atomic<uint32_t> setupCount{0};
    Pin pins[kPinCount];
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(PinBankState) == 304 && offsetof(PinBankState, pins) == 28, "shared state layout");

class PinBank {
public:
    using EdgeHook = std::function<void(int pin, int level)>;

    PinBank(const std::string& statePath, Trace& trace);

    // The Pi's side.
    void setFunction(int pin, int fsel);
    void setPull(int pin, int pud);
    void write(int pin, int level);
    int read(int pin) const;
    int function(int pin) const;
    int outputLevel(int pin) const;
    void noteSetup();
    uint32_t setupCount() const;

    // The board's side: a chip drives or releases a line; board pull-ups.
    void drive(int pin, Drive d);
    Drive driven(int pin) const;
    void setExternalPullUp(int pin, bool on);

    // Called (in this program) whenever a pin's level changes through the Pi's or a
    // chip's action. Models decode bit-banged buses with this.
    int addEdgeHook(int pin, EdgeHook hook);
    void removeEdgeHook(int id);

    // Edges of a pin are recorded in the trace unless switched off here (a bit-banged
    // bus records its decoded transfers instead of every edge).
    void setEdgeTracing(int pin, bool on);

    void powerOn();
    std::string statusJson() const;

private:
    static bool valid(int pin) { return pin >= 0 && pin < kPinCount; }
    int resolve(int pin) const;
    // Runs `change` and reports an edge when the pin's level moved.
    template <class F> void changing(int pin, F change);

    SharedRegion<PinBankState> state_;
    Trace& trace_;
    struct Hook {
        int id;
        int pin;
        EdgeHook fn;
    };
    using Hooks = std::vector<Hook>;
    // Makes `next` the hook list edges see (hookMutex_ held, or in the constructor).
    void publish(std::unique_ptr<Hooks> next);
    // Copy-on-write: an edge reads the current list without a lock. Every list made stays
    // alive with the bank, so an edge that runs while hooks change still walks a whole one.
    mutable std::mutex hookMutex_;
    std::vector<std::unique_ptr<const Hooks>> hookLists_;
    std::atomic<const Hooks*> hooks_{nullptr};
    int nextHookId_ = 1;
    std::atomic<uint64_t> untracedPins_{0};
    // Pins with at least one hook: an edge of any other pin skips the hook list (bit-banged
    // data lines change millions of times in a flash read-back).
    std::atomic<uint64_t> hookedPins_{0};
};

} // namespace sim
