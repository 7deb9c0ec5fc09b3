// The USB input devices plugged into the Pi: the system's keypad, up to eight
// keyboards and a mouse. Each plugged device is a named pipe at the mapped
// "/dev/input/eventN" with its links under "/dev/input/by-path" and "/dev/input/by-id",
// carrying the kernel's `struct input_event` records (the platform's size: 24 bytes on
// a 64-bit system, 16 on a 32-bit one). A keyboard also has its CapsLock LED file under
// the mapped "/sys/class/input". Unplugging removes the node: a reader that still holds
// it gets ENODEV, as from the kernel.
//
// Test side: plug and unplug, typing (press, auto-repeat at the kernel's 250 ms / 33 ms,
// release), mouse clicks and wheel, raw bytes, a failing event-bit query, the CapsLock
// LED state.
#pragma once

#include <linux/input.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/board/Board.h"
#include "sim/board/SharedMemory.h"

namespace sim {

struct UsbInputState {
    static constexpr uint32_t kMagic = 0x4F555342; // "OUSB"
    static constexpr uint32_t kVersion = 1;
    static constexpr int kSlots = 10;
    RegionHeader header;
    uint8_t bitsFail[kSlots] = {}; // the event-bit query of that device fails
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(UsbInputState) == 40, "shared state layout");

class UsbInput : public Device {
public:
    static constexpr int kKeypad = 0;
    static constexpr int kKeyboards = 8; // slots 1..8
    static constexpr int kMouse = 9;
    static constexpr int kSlots = UsbInputState::kSlots;
    static constexpr int kMaxHoldMs = 4000;

    explicit UsbInput(Board& board);

    std::string name() const override { return "usb-input"; }
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Bus side (the simulated backend): the event-type bits of the device a descriptor
    // has open, and a read that reports a removed device as the kernel does.
    int eventBits(int fd, uint8_t* bits, int length) const;
    static ssize_t read(int fd, void* buffer, size_t length);

    // Test side. Slots: 0 the keypad, 1..8 keyboard N, 9 the mouse.
    bool plug(int slot);
    bool unplug(int slot);
    bool plugged(int slot) const;
    // Writes records to the device; false when it is not plugged or nobody reads it.
    bool send(int slot, const std::vector<input_event>& events);
    bool sendRaw(int slot, const std::vector<uint8_t>& bytes);
    // A key press (value 1) or release (0) or auto-repeat (2), each followed by a report.
    bool key(int slot, uint16_t code, int32_t value);
    // Press, auto-repeat while held, release; blocks for `holdMs`.
    bool type(int slot, uint16_t code, int holdMs);
    void failEventBits(int slot, bool fail);
    // The CapsLock LED of a keyboard: 0 or 1, or -1 when it has none.
    int capsLock(int slot) const;

    std::string nodePath(int slot) const;
    std::string byPathLink(int slot) const;
    std::string byIdLink(int slot) const;
    std::string ledPath(int slot) const;
    static std::string slotName(int slot);
    static int slotNamed(const std::string& name);
    static int keyCodeNamed(const std::string& name);

private:
    CommandResult typeCommand(const std::vector<std::string>& args);
    CommandResult mouseCommand(const std::vector<std::string>& args);
    CommandResult plugCommand(int slot, const std::string& verb);
    CommandResult faultCommand(const std::vector<std::string>& args);

    Board& board_;
    SharedRegion<UsbInputState> state_;
};

} // namespace sim
