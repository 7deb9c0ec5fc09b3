// The camera microcontroller's built-in serial boot loader, byte by byte: after the
// synchronisation byte 0x7F it takes commands as a code and its complement, answers ACK
// (0x79) or NACK (0x1F), and reads and writes its internal flash. The firmware hands the
// serial link to it on "UB"; it keeps the link until the firmware is started with GO or
// the board is power-cycled. Each finished exchange is recorded in the board's trace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

class CameraFlashes;
class Trace;

namespace bootloader {
constexpr uint8_t kSync = 0x7F;
constexpr uint8_t kAck = 0x79;
constexpr uint8_t kNack = 0x1F;
constexpr uint8_t kGet = 0x00;
constexpr uint8_t kGetVersion = 0x01;
constexpr uint8_t kGetId = 0x02;
constexpr uint8_t kReadMemory = 0x11;
constexpr uint8_t kGo = 0x21;
constexpr uint8_t kWriteMemory = 0x31;
constexpr uint8_t kExtendedErase = 0x44;
constexpr uint8_t kProtocolVersion = 0x31;
constexpr uint8_t kOptionByte = 0x00;   // GET_VERSION's two option bytes, always zero
constexpr uint16_t kProductId = 0x0448; // STM32F07x
constexpr uint16_t kMassErase = 0xFFFF;
constexpr uint16_t kFirstSpecialErase = 0xFFF0;
constexpr int kMaxBlock = 256;
} // namespace bootloader

class CameraBootLoader {
public:
    // What goes wrong at a flash write: nothing, the write is refused, or the loader
    // stops answering altogether.
    enum class WriteFault { None, Nack, Stall };
    struct Hooks {
        std::function<WriteFault()> writeFault;
        std::function<bool()> corruptRead; // the read-back comes back with one bit wrong
    };

    CameraBootLoader(CameraFlashes& flashes, Trace& trace, Hooks hooks);

    // Waiting for the synchronisation byte again, as after the firmware handed over.
    void reset();
    // One received byte; reply bytes are appended to `reply`. Returns true once GO was
    // accepted: the firmware runs from then on.
    bool feed(uint8_t byte, std::string& reply);
    bool stalled() const { return stage_ == Stage::Stalled; }

private:
    enum class Stage {
        Sync,
        Command,
        Complement,
        Address,
        ReadCount,
        WriteCount,
        WriteData,
        EraseCount,
        EraseList,
        Stalled
    };

    void answer(uint8_t byte, std::string& reply);
    void finish(const std::string& what);
    void complement(uint8_t byte, std::string& reply);
    bool address(std::string& reply);
    void readCount(std::string& reply);
    void writeData(std::string& reply);
    void eraseCount(std::string& reply);
    void eraseList(std::string& reply);
    bool checksumOk() const;

    CameraFlashes& flashes_;
    Trace& trace_;
    Hooks hooks_;
    Stage stage_ = Stage::Sync;
    uint8_t command_ = 0;
    uint32_t address_ = 0;
    size_t expect_ = 0;          // bytes still wanted in the current stage
    std::vector<uint8_t> field_; // bytes of the current stage
    std::vector<uint8_t> in_;    // every byte of the current exchange
    std::string out_;            // every reply byte of the current exchange
};

} // namespace sim
