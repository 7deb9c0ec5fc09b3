// Layout and protocol constants of the camera board's updates (microcontroller firmware
// through its serial boot loader, the camera FPGA's flash, the video-bridge files), and
// the readers of what comes back from the board or out of an update file. The readers
// work on byte ranges with their lengths, never on binary data as C strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/cmd_results.h"

typedef enum {
    BL_GET = 0x00,
    BL_GET_VERSION = 0x01,
    BL_GET_ID = 0x02,
    BL_READ_MEM = 0x11,
    BL_GO = 0x21,
    BL_WRITE_MEM = 0x31,
    BL_EXTEND_ERASE = 0x44,
    BL_WRITE_PROT = 0x63,
    BL_WRITE_UNPROT = 0x73,
    BL_READOUT_PROT = 0x82,
    BL_READOUT_UNPROT = 0x92,
} bootloader_commands_t;

constexpr uint8_t BL_ACK = 0x79;
constexpr uint8_t BL_NACK = 0x1F;
constexpr uint8_t BL_BOOTLOADER = 0x7F;
constexpr uint16_t BL_MASS_ERASE = 0xFFFF;
constexpr uint16_t BL_FIRST_SPECIAL_ERASE = 0xFFFD;
constexpr uint16_t BL_MAX_BLOCK = 256;
constexpr uint16_t BL_MAX_ERASE_PAGES = 32;

constexpr uint32_t STM32F072_FLASH_BASE = 0x08000000;
constexpr uint32_t STM32F072RB_FLASH_SIZE = 131072;
constexpr uint32_t STM32F072RB_PAGE_SIZE = 2048;

constexpr uint32_t FL128_SIZE = 16 * 1024 * 1024;
constexpr uint32_t FLASH_SECTOR_SIZE = 65536;
constexpr uint32_t FLASH_PAGE_SIZE = 256;
constexpr uint32_t CrosslinkAlgoBaseAddress = FL128_SIZE - 8 * FLASH_SECTOR_SIZE;
constexpr uint32_t CrosslinkDataBaseAddress = FL128_SIZE - 8 * FLASH_SECTOR_SIZE;
constexpr const char* CrosslinkAlgoFilename = "Camera_impl1_algo.iea";
constexpr const char* CrosslinkDataFilename = "Camera_impl1_data.ied";

namespace camera_update {

// A ".jic" image: a 160-byte header, then the image.
constexpr size_t kJicHeaderSize = 160;
constexpr size_t kJicBuildDataOffset = 18;
// The camera FPGA's image ends below the bridge files.
constexpr uint32_t kFpgaImageLimit = CrosslinkAlgoBaseAddress;
// A bridge file is stored behind its 4-byte little-endian length.
constexpr uint32_t kLengthWordBytes = 4;
constexpr uint32_t kBridgeFileMaxSize = FL128_SIZE - CrosslinkAlgoBaseAddress - kLengthWordBytes;

// A ".jic" header starts with "JIC" and names the flash and the FPGA somewhere in it.
bool jicHeaderGood(const uint8_t* header, size_t length);
// The printable text at the header's build-data offset.
std::string jicBuildData(const uint8_t* header, size_t length);

// "F" ch "C" start count checksum, with the start and count that were asked for.
cmd_results_t parseFlashChecksum(const char* reply, size_t length, char chanChar, uint32_t start,
                                 uint32_t count, uint32_t* checksum);
// "X" x "C" checksum size.
cmd_results_t parseCrosslinkChecksum(const char* reply, size_t length, char which, uint32_t* size,
                                     uint32_t* checksum);

// The stored form's checksum adds the bytes of the length word to the file's byte sum.
uint32_t withLengthWord(uint32_t sum, uint32_t size);
uint8_t reverseBits(uint8_t b);

// What differs between the two bridge files' steps: their flash, their name and their
// log lines.
struct BridgeFile {
    int which; // CROSSLINK_T
    int chan;  // chan_t
    const char* filename;
    const char* noName;
    const char* check;
    const char* noData;
    const char* sizeLine;
    const char* csumLine;
    const char* csumFailed;
    const char* match;
    const char* sizeMismatch;
    const char* forced;
    const char* transferFailed;
    const char* readBackFailed;
    const char* success;
    const char* failed;
};

} // namespace camera_update
