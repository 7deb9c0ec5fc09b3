// The display FPGA's serial configuration flash (128 Mbit SPI NOR), wired to GPIO 40..45
// so that the Pi can bit-bang it while the FPGA is held in configuration reset.
//
// Bus side: single-bit SPI mode 0, most significant bit first. The flash samples DQ0 on
// the rising clock edge and shifts DQ1 out after the falling one; chip select low frames
// a command. Commands: read identification (0x9F), read status 1 (0x05: bit 0 write in
// progress, bit 1 write enable latch, bit 5 erase error, bit 6 program error), write
// enable (0x06), page program (0x02, within one 256-byte page, wrapping as the chip does),
// read (0x03, across the whole array) and bulk erase (0x60). Programming only clears
// bits; erase and program start when chip select rises and keep the chip busy for a
// while (write-in-progress set: the array is neither read nor written, status and
// identification still answer).
//
// The array is the board's persistent file "config-flash.bin" (16 MiB, shared by every
// program on the board), which the FPGA model configures from. A board whose flash was
// never used comes with a factory image in it.
//
// Test side: faults (no flash answering, erase or program error bits, a chip that stays
// busy), busy times, direct access to the array, counters of erases and programmed pages.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/board/Board.h"
#include "sim/board/SharedMemory.h"

namespace sim {

namespace flash_pins {
constexpr int kClock = 40;
constexpr int kDataIn = 41;  // DQ0, to the flash
constexpr int kDataOut = 42; // DQ1, from the flash
constexpr int kWriteProtect = 43;
constexpr int kHold = 44;
constexpr int kChipSelect = 45;
} // namespace flash_pins

namespace flash_cmd {
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kReadStatus = 0x05;
constexpr uint8_t kReadId = 0x9F;
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kBulkErase = 0x60;
} // namespace flash_cmd

namespace flash_status {
constexpr uint8_t kBusy = 0x01;
constexpr uint8_t kWriteEnabled = 0x02;
constexpr uint8_t kEraseError = 0x20;
constexpr uint8_t kProgramError = 0x40;
} // namespace flash_status

struct ConfigFlashState {
    static constexpr uint32_t kMagic = 0x4F43464C; // "OCFL"
    static constexpr uint32_t kVersion = 1;
    RegionHeader header;
    bool initialised = false;
    // Options, from the board configuration at power on, changed by ostrix-sim flash.
    bool absent = false;
    bool eraseFails = false;
    bool programFails = false;
    bool stuckBusy = false;
    uint32_t eraseMs = 0;
    uint32_t programUs = 0;
    // The chip's registers.
    uint8_t errors = 0;
    bool writeEnabled = false;
    int64_t busyUntilNs = 0;
    // Counters since power on.
    uint64_t commands = 0;
    uint64_t erases = 0;
    uint64_t pagesProgrammed = 0;
    uint64_t bytesRead = 0;
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(ConfigFlashState) == 88 && offsetof(ConfigFlashState, busyUntilNs) == 48 &&
                  offsetof(ConfigFlashState, bytesRead) == 80,
              "shared state layout");

class ConfigFlash : public Device {
public:
    static constexpr uint32_t kSize = 16u << 20;
    static constexpr uint32_t kPageSize = 256;
    static constexpr uint8_t kManufacturer = 0x20;
    static constexpr uint8_t kMemoryType = 0xBA;
    static constexpr uint8_t kCapacity = 0x18; // 2^24 bytes

    explicit ConfigFlash(Board& board);
    ~ConfigFlash() override;

    std::string name() const override { return "flash"; }
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;
    void powerOn() override;

    // Test side.
    std::string path() const;
    // `length` bytes of the array from `address` (0xFF where the array ends).
    std::vector<uint8_t> bytes(uint32_t address, uint32_t length);
    void setBytes(uint32_t address, const std::vector<uint8_t>& data);
    void eraseAll();
    // One past the last byte that is not erased (0 for an erased flash).
    uint32_t usedBytes();
    bool busy() const;
    uint64_t erases() const;
    uint64_t pagesProgrammed() const;

private:
    using State = ConfigFlashState;
    void applyOptions(State& s) const;
    // Maps the array on first use, creating it with the factory image if it is missing.
    uint8_t* array();
    void onChipSelect(int level);
    void onClock(int level);
    void byteReceived(uint8_t byte);
    uint8_t nextOutputByte();
    void endCommand();
    void execute(State& s, int64_t now);
    uint8_t statusRegister(const State& s, int64_t now) const;
    void recordCommand(double busSeconds);
    void driveDataOut(bool high);

    Board& board_;
    SharedRegion<State> state_;
    std::unique_ptr<SharedFile> array_;
    int csHook_ = 0;
    int clockHook_ = 0;

    // The command being clocked in (this program's pins only).
    std::mutex mutex_;
    bool selected_ = false;
    int bit_ = 0;
    uint8_t shiftIn_ = 0;
    uint8_t shiftOut_ = 0xFF;
    bool outputting_ = false;
    size_t bytesClocked_ = 0; // every byte of the command, data read included
    std::vector<uint8_t> received_;
    std::vector<uint8_t> sent_;
    uint32_t readAddress_ = 0;
    bool readBusyAtStart_ = false;
};

} // namespace sim
