// The camera board's non-volatile memories: the microcontroller's 128 KiB internal flash
// and the two camera channels' 16 MiB serial flashes (camera FPGA image from address 0,
// video-bridge files from 0xF80000), plus the versions the board reports for what it
// booted from them. They live under the board's persistent folder and survive power
// cycles and program restarts.
//
// The channel flashes are sparse files holding the complement of every byte, so that a
// hole (never written, or erased by punching it out again) reads as erased 0xFF and a
// fresh 16 MiB flash takes no disk space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board/SharedMemory.h"

namespace sim {

class Board;

constexpr uint32_t kUcFlashBase = 0x08000000;
constexpr uint32_t kUcFlashSize = 128 * 1024;
constexpr uint32_t kUcFlashPageSize = 2048;
constexpr uint32_t kChannelFlashSize = 16 * 1024 * 1024;
constexpr uint32_t kChannelSectorSize = 64 * 1024;
constexpr uint32_t kChannelPageSize = 256;
constexpr uint32_t kBridgeAreaBase = kChannelFlashSize - 8 * kChannelSectorSize; // 0xF80000
constexpr uint8_t kErasedByte = 0xFF;

struct CameraFlashState {
    static constexpr uint32_t kMagic = 0x4F43464C; // "OCFL"
    static constexpr uint32_t kVersion = 2;
    RegionHeader header;
    uint8_t initialised = 0;
    uint8_t ucMajor = 0, ucMinor = 0, fpgaVersion = 0, xlVersion = 0;
    // Written since the part last started from its flash: the next start takes a new version.
    uint8_t ucWritten = 0, fpgaWritten = 0, bridgeWritten = 0;
    uint8_t uc[kUcFlashSize] = {};
    // The end of the image the last "GW" blocks wrote: a short last block leaves the rest
    // of its page erased, and that erased tail was never part of the image.
    uint32_t imageEnd = 0;
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(CameraFlashState) == 131112 && offsetof(CameraFlashState, uc) == 32,
              "shared state layout");

struct CameraVersions {
    uint8_t ucMajor, ucMinor, fpga, xl;
};

class CameraFlashes {
public:
    // Factory versions for a board whose flashes are new.
    CameraFlashes(Board& board, const CameraVersions& factory);
    bool valid() const;

    CameraVersions versions() const;

    // Microcontroller flash, by absolute address (0x08000000 upward). Programming only
    // clears bits, as on the real flash; false when the range leaves the flash.
    bool ucRead(uint32_t address, uint8_t* out, size_t length) const;
    bool ucProgram(uint32_t address, const uint8_t* data, size_t length);
    void ucMassErase();
    bool ucErasePage(uint32_t page);
    bool ucBlank() const;
    // The firmware starts: a new image takes the next version. False when the flash is
    // blank and only the boot loader can run.
    bool ucStart();

    // Channel flashes (0 left, 1 right), by flash address.
    bool read(int channel, uint32_t address, uint8_t* out, size_t length) const;
    bool program(int channel, uint32_t address, const uint8_t* data, size_t length);
    bool eraseSector(int channel, uint32_t address);
    // Erases the camera FPGA image area (below the bridge files) of both channels.
    void eraseImageArea();
    // The 32-bit byte sum of a range; false when it leaves the flash.
    bool checksum(int channel, uint32_t start, uint32_t count, uint32_t& sum) const;
    // One block of a new image written at `address` (a "GW").
    void noteImageBlock(uint32_t address, size_t length);
    // The byte sum of the image area's 256-byte blocks that are not erased, up to the end
    // of the image written: what the controller adds up while it sends the image, since
    // it skips erased blocks and a short last block has only its own bytes.
    uint32_t imageChecksum() const;
    // The FPGAs (and the bridge) restart from their flash: new contents take new versions.
    void restartFromFlash();
    std::string channelPath(int channel) const;

private:
    bool channelIo(int channel, uint32_t address, size_t length) const;

    SharedRegion<CameraFlashState> state_;
    std::string paths_[2];
};

} // namespace sim
