// Updates of the camera board's three programmable parts: the microcontroller's firmware
// through its built-in serial boot loader, the camera FPGA's configuration flash through
// the firmware's "G" commands, and the video-bridge files at the top of the two channel
// flashes through the "F" and "X" commands. Every function returns 0 (CMD_OK) on success.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/logfile.h"
#include "controller/camera/CameraBoard.h"

using namespace camera_update;

namespace {

constexpr uint8_t GP_TIMEOUT = 254;      // 25.4 s: the board erases the image area first
constexpr uint8_t BLOCK_TIMEOUT = 250;   // 25 s
constexpr uint8_t RESTART_TIMEOUT = 250; // 25 s
constexpr uint8_t XL_RESTART_TIMEOUT = 251;
constexpr uint8_t PAGE_TIMEOUT = 100; // 10 s
constexpr uint8_t QUERY_TIMEOUT = 100;
constexpr int COMMAND_GAP_MS = 1;
constexpr int MISMATCH_PAIRS_PER_LINE = 8;
constexpr int MAX_TOLERATED_MISMATCHES = 2;
constexpr uint8_t ERASED = 0xFF;
constexpr size_t COMMAND_SIZE = 64;
constexpr int TRANSFER_FAILED = -1;
constexpr int PORT_FAILED = -99;
constexpr int BRIDGE_UPDATE_FAILED = -2;
constexpr int BRIDGE_READBACK_FAILED = -3;
constexpr int BRIDGE_QUERY_FAILED = -4;
constexpr int BRIDGE_NO_DATA = -5;
constexpr int BRIDGE_TOO_LARGE = -6;

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

FilePtr openFile(const char* path) {
    return FilePtr(fopen(path, "rb"), fclose);
}

void sleepMs(int ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

// The whole file. CMD_FAILED when it cannot be read, CMD_OUTOFMEMORY without memory for
// it, CMD_FILEERR when it is empty or larger than the microcontroller's flash.
cmd_results_t readFirmware(const char* path, std::vector<uint8_t>& data) {
    FilePtr f = openFile(path);
    if (!f || fseek(f.get(), 0, SEEK_END) != 0) {
        logprintferror("CB: ERROR: cannot read uC file '%s'", path);
        return CMD_FAILED;
    }
    long size = ftell(f.get());
    rewind(f.get());
    if (size <= 0 || size > static_cast<long>(STM32F072RB_FLASH_SIZE)) {
        logprintferror("CB: ERROR: uC file '%s' has %ld bytes; the flash takes 1 to %u", path, size,
                       STM32F072RB_FLASH_SIZE);
        return size < 0 ? CMD_FAILED : CMD_FILEERR;
    }
    try {
        data.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return CMD_OUTOFMEMORY;
    }
    if (fread(data.data(), 1, data.size(), f.get()) != data.size()) {
        logprintferror("CB: ERROR: cannot read uC file '%s'", path);
        return CMD_FAILED;
    }
    logprintf("uC Filesize = %d for file '%s'\n", static_cast<int>(size), path);
    return CMD_OK;
}

bool validBootArguments(uint8_t command, uint16_t num_bytes, const uint8_t* data) {
    switch (command) {
    case BL_READ_MEM:
    case BL_WRITE_MEM:
    case BL_WRITE_PROT:
        return num_bytes >= 1 && num_bytes <= BL_MAX_BLOCK && data;
    case BL_EXTEND_ERASE:
        return num_bytes >= BL_FIRST_SPECIAL_ERASE ||
               (num_bytes >= 1 && num_bytes <= BL_MAX_ERASE_PAGES && data);
    case BL_GET:
    case BL_GET_VERSION:
    case BL_GET_ID:
    case BL_GO:
    case BL_WRITE_UNPROT:
    case BL_READOUT_PROT:
    case BL_READOUT_UNPROT:
        return true;
    default:
        return false;
    }
}

// Size and byte sum of a whole file; the size is 0 when it cannot be read.
uint32_t fileSizeAndSum(const char* path, uint32_t* sum) {
    FilePtr f = openFile(path);
    *sum = 0;
    if (!f) {
        return 0;
    }
    uint8_t chunk[FLASH_PAGE_SIZE];
    uint32_t size = 0;
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        for (size_t i = 0; i < n; ++i) {
            *sum += chunk[i];
        }
        size += static_cast<uint32_t>(n);
    }
    return ferror(f.get()) ? 0 : size;
}

long fileLength(FILE* f) {
    long here = ftell(f);
    if (here < 0 || fseek(f, 0, SEEK_END) != 0) {
        return -1;
    }
    long size = ftell(f);
    fseek(f, here, SEEK_SET);
    return size;
}

const BridgeFile kAlgoStep{
    ALGO,
    LEFT,
    nullptr,
    "CB: WARNING: No Crosslink Algo Filename supplied\n",
    "====== Check Camera Crosslink Algo File '%s' ==========\n",
    "CB: ERROR: No Crosslink Algo data found",
    "Algo file size = %d\n",
    "Algo file csum = %04X (including length word)\n",
    "CB: ERROR: Failed to get Crosslink Algo Checksum",
    "CB: NOTE: Crosslink Algo Checksums Match\n",
    "WARNING: Size mismatch %08X <> %08X\n",
    "INFO: Forced Algo update\n",
    "CB: ERROR: Algo File to Flash Transfer failed with error %d",
    "CB: ERROR: Get Algo Checksum failed",
    "CB: Camera Crosslink Algo file update successful\n",
    "CB: ERROR: Camera Algo File Update FAILED",
};

const BridgeFile kDataStep{
    DATA,
    RIGHT,
    nullptr,
    "CB: WARNING: No Crosslink Data Filename supplied\n",
    "====== Check Camera Crosslink Data File  '%s' ==========\n",
    "CB: ERROR: No Crosslink Data data found",
    "CB: Data file size = %d\n",
    "CB: Data file csum = %08X (including length word)\n",
    "CB: ERROR: Failed to get Crosslink Data Checksum",
    "CB: NOTE - Crosslink Data Checksums Match\n",
    "CB: WARNING: Size mismatch %08X <> %08X\n",
    "INFO: Forced Data update\n",
    "CB: ERROR: Data File to Flash Transfer failed",
    "CB: ERROR: Get Data Checksum failed",
    "CB: Camera Crosslink Data file update successful\n",
    "CB: ERROR: Camera Data File Update FAILED",
};

} // namespace

// ---- Link helpers ---------------------------------------------------------------------

bool CameraBoard::sendBytes(const uint8_t* data, size_t length) {
    return length == 0 || writeBytes(data, length) == static_cast<int>(length);
}

uint8_t CameraBoard::replyTenths(uint8_t tenths) const {
    return waits.replyCapTenths != 0 ? std::min(tenths, waits.replyCapTenths) : tenths;
}

// One command line on the port that is already open, and its reply.
cmd_results_t CameraBoard::exchangeOnOpenPort(const char* command, uint8_t tenths, bool prints) {
    char line[COMMAND_SIZE];
    int n = snprintf(line, sizeof line, "$%s\n", command);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof line ||
        !sendBytes(reinterpret_cast<const uint8_t*>(line), static_cast<size_t>(n))) {
        return CMD_FAILED;
    }
    return waitForResponse(replyTenths(tenths), prints);
}

// "$" header, the encoded page and "\n", then the board's reply.
cmd_results_t CameraBoard::sendPage(const char* header, const uint8_t* data, size_t length, uint8_t tenths) {
    const char start = '$';
    const char end = '\n';
    if (writeBytes(&start, 1) != 1 || !sendString(header)) {
        return CMD_FAILED;
    }
    if (sendRLEBinary(reinterpret_cast<const char*>(data), static_cast<uint8_t>(length - 1)) != 0) {
        logprintferror("CB: ERROR: failed to send binary data");
        return CMD_FAILED;
    }
    if (writeBytes(&end, 1) != 1) {
        return CMD_FAILED;
    }
    return waitForResponse(replyTenths(tenths), false);
}

// ---- Boot loader ----------------------------------------------------------------------

void CameraBoard::queryFirmwareVersion() {
    unsigned major = 0, minor = 0;
    if (sendMessageWaitForResponse("UV", replyTenths(QUERY_TIMEOUT), true) &&
        sscanf(response_str, "%*s %02x %02x", &major, &minor) == 2) {
        majorVersion = static_cast<uint8_t>(major);
        minorVersion = static_cast<uint8_t>(minor);
        logprintf("CB: Camera Board Software v%d.%d\n", majorVersion, minorVersion);
    }
}

cmd_results_t CameraBoard::GetBootModeAck() {
    if (!fd) {
        return CMD_FAILED;
    }
    int c = readByte();
    if (c < 0) {
        return CMD_TIMEOUT;
    }
    if (c == BL_ACK) {
        logprintf("CB: Got BL_ACK\n");
        return CMD_OK;
    }
    if (c == BL_NACK) {
        logprintf("CB: Got BL_NACK\n");
        return CMD_FAILED;
    }
    logprintf("CB: got something unexpected...chr(%d)\n", c);
    return CMD_FAILED;
}

cmd_results_t CameraBoard::enterBootMode() {
    logprintf("CB: Set Camera to Boot Mode\n");
    queryFirmwareVersion(); // for the log only; a board already in its boot loader has none
    if (!OpenPort(true)) {
        return CMD_FAILED;
    }
    static const char command[] = "$UB\n";
    if (!sendBytes(reinterpret_cast<const uint8_t*>(command), sizeof command - 1)) {
        return CMD_FAILED;
    }
    sleepMs(waits.bootPauseMs);
    const uint8_t sync = BL_BOOTLOADER;
    if (!sendBytes(&sync, 1)) {
        return CMD_FAILED;
    }
    return GetBootModeAck();
}

cmd_results_t CameraBoard::sendBootAddress(uint32_t address) {
    logprintf("Send BL address\n");
    uint8_t bytes[5] = {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                        static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0};
    bytes[4] = bytes[0] ^ bytes[1] ^ bytes[2] ^ bytes[3];
    cmd_results_t res = sendBytes(bytes, sizeof bytes) ? GetBootModeAck() : CMD_FAILED;
    if (res != CMD_OK) {
        logprintferror("CB: ERROR: BL address send failed");
    }
    return res;
}

cmd_results_t CameraBoard::readBootReply(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        int c = readByte();
        if (c < 0) {
            return CMD_FAILED;
        }
        if (data) {
            data[i] = static_cast<uint8_t>(c);
        }
    }
    return CMD_OK;
}

// The count and data of the commands that carry them; READ_MEM's data comes back.
cmd_results_t CameraBoard::sendBootPayload(uint8_t command, uint16_t num_bytes, uint8_t* data) {
    if (command == BL_EXTEND_ERASE && num_bytes >= BL_FIRST_SPECIAL_ERASE) {
        uint8_t code[3] = {static_cast<uint8_t>(num_bytes >> 8), static_cast<uint8_t>(num_bytes), 0};
        code[2] = code[0] ^ code[1];
        return sendBytes(code, sizeof code) ? CMD_OK : CMD_FAILED;
    }
    logprintf("Send BL num bytes\n");
    const uint8_t count = static_cast<uint8_t>(num_bytes - 1);
    if (command == BL_READ_MEM) {
        const uint8_t pair[2] = {count, static_cast<uint8_t>(~count)};
        if (!sendBytes(pair, sizeof pair)) {
            return CMD_FAILED;
        }
        cmd_results_t res = GetBootModeAck();
        return res == CMD_OK ? readBootReply(data, num_bytes) : res;
    }
    // WRITE_MEM and WRITE_PROT: N - 1, the data, and their XOR. EXTENDED_ERASE with a
    // page list: N - 1 in two bytes, two bytes a page, and the XOR of them all.
    std::vector<uint8_t> frame;
    if (command == BL_EXTEND_ERASE) {
        frame = {static_cast<uint8_t>((num_bytes - 1) >> 8), count};
        for (uint16_t i = 0; i < num_bytes; ++i) {
            frame.push_back(0);
            frame.push_back(data[i]);
        }
    } else {
        frame.push_back(count);
        frame.insert(frame.end(), data, data + num_bytes);
    }
    uint8_t checksum = 0;
    for (uint8_t b : frame) {
        checksum ^= b;
    }
    frame.push_back(checksum);
    return sendBytes(frame.data(), frame.size()) ? CMD_OK : CMD_FAILED;
}

cmd_results_t CameraBoard::SendBootModeCommand(uint8_t command, uint32_t address, uint16_t num_bytes,
                                               uint8_t* data) {
    logprintf("CB: Sending BL Command %02x\n", command);
    if (!validBootArguments(command, num_bytes, data)) {
        return CMD_INVALID_PARAM;
    }
    sleepMs(COMMAND_GAP_MS);
    const uint8_t pair[2] = {command, static_cast<uint8_t>(~command)};
    cmd_results_t res = sendBytes(pair, sizeof pair) ? GetBootModeAck() : CMD_FAILED;
    if (res != CMD_OK) {
        logprintferror("CB: ERROR: Command Rejected!");
        return res;
    }
    if (command == BL_READ_MEM || command == BL_GO || command == BL_WRITE_MEM) {
        res = sendBootAddress(address);
        if (res != CMD_OK || command == BL_GO) {
            return res;
        }
    }
    if (command == BL_GET || command == BL_GET_VERSION || command == BL_GET_ID) {
        uint8_t n = 0;
        res = readBootReply(&n, 1);
        res = res == CMD_OK ? readBootReply(nullptr, static_cast<size_t>(n) + 1) : res;
    } else if (command == BL_READ_MEM || command == BL_WRITE_MEM || command == BL_WRITE_PROT ||
               command == BL_EXTEND_ERASE) {
        res = sendBootPayload(command, num_bytes, data);
        if (command == BL_READ_MEM || res != CMD_OK) {
            return res; // READ_MEM ends with its data, no further ACK
        }
    }
    return res == CMD_OK ? GetBootModeAck() : res;
}

cmd_results_t CameraBoard::programFlash(const char* path) {
    std::vector<uint8_t> image;
    cmd_results_t res = readFirmware(path, image);
    if (res != CMD_OK) {
        return res;
    }
    logprintf("Send EXTENDED_ERASE command\n");
    res = SendBootModeCommand(BL_EXTEND_ERASE, 0, BL_MASS_ERASE, nullptr);
    if (res != CMD_OK) {
        return res;
    }
    for (size_t offset = 0; offset < image.size(); offset += BL_MAX_BLOCK) {
        logprintf("Send WRITE_MEM command %0x6\n", static_cast<unsigned>(offset));
        const uint16_t n = static_cast<uint16_t>(std::min<size_t>(BL_MAX_BLOCK, image.size() - offset));
        res = SendBootModeCommand(BL_WRITE_MEM, STM32F072_FLASH_BASE + static_cast<uint32_t>(offset), n,
                                  image.data() + offset);
        if (res != CMD_OK) {
            logprintferror("CB: ERROR: Flash Write failed at address block %05x",
                           static_cast<unsigned>(offset));
            break;
        }
    }
    return res;
}

cmd_results_t CameraBoard::verifyFlash(const char* path) {
    std::vector<uint8_t> image;
    cmd_results_t res = readFirmware(path, image);
    if (res != CMD_OK) {
        return res;
    }
    bool mismatch = false;
    uint8_t flash[BL_MAX_BLOCK];
    for (size_t offset = 0; offset < image.size(); offset += BL_MAX_BLOCK) {
        const uint16_t n = static_cast<uint16_t>(std::min<size_t>(BL_MAX_BLOCK, image.size() - offset));
        res =
            SendBootModeCommand(BL_READ_MEM, STM32F072_FLASH_BASE + static_cast<uint32_t>(offset), n, flash);
        if (res != CMD_OK) {
            return res;
        }
        const uint8_t* file = image.data() + offset;
        int differing = 0;
        for (uint16_t i = 0; i < n; ++i) {
            differing += file[i] != flash[i] ? 1 : 0;
        }
        if (differing == 0) {
            continue;
        }
        // A block that differs fails the verification, whatever the blocks after it hold.
        mismatch = true;
        logprintf("FLASH Mismatch in %05x\n", static_cast<unsigned>(offset));
        // File and flash value of every byte, eight pairs to a log line.
        std::string pairs;
        for (uint16_t i = 0; i < n; ++i) {
            char pair[8];
            snprintf(pair, sizeof pair, "%02x/%02x ", file[i], flash[i]);
            pairs += pair;
            if ((i + 1) % MISMATCH_PAIRS_PER_LINE == 0 || i + 1 == n) {
                logprintf("%s\n", pairs.c_str());
                pairs.clear();
            }
        }
        if (differing > MAX_TOLERATED_MISMATCHES) {
            logprintf("Too many mismatches %d\n", differing);
            break;
        }
    }
    return mismatch ? CMD_MISMATCH : CMD_OK;
}

cmd_results_t CameraBoard::update_uC(const char* binaryname) {
    logprintf("CB: Updating Microcontroller Flash with '%s'\n", binaryname);
    // A file that cannot go into the flash is refused before the board leaves its firmware.
    std::vector<uint8_t> image;
    cmd_results_t res = readFirmware(binaryname, image);
    if (res != CMD_OK) {
        return res;
    }
    res = enterBootMode();
    if (res != CMD_OK) {
        logprintferror("CB: ERROR: failed setting up Camera boot mode");
    } else {
        sleepMs(waits.bootPauseMs);
        res = programFlash(binaryname);
        if (res != CMD_OK) {
            logprintferror("CB: ERROR: failed to program uC Flash");
        } else {
            sleepMs(waits.bootPauseMs);
            res = verifyFlash(binaryname);
            if (res != CMD_OK) {
                logprintferror("CB: ERROR: uC Flash verify failed");
            }
        }
    }
    // Whatever happened, the board restarts: from the new firmware, or into its boot
    // loader when the flash was left blank.
    ClosePort(false);
    PowerOff();
    sleepMs(waits.bootPauseMs);
    PowerOn(true);
    sleepMs(waits.restartMs);
    queryFirmwareVersion();
    return res;
}

// ---- Camera FPGA --------------------------------------------------------------------------

cmd_results_t CameraBoard::finishFpgaUpdate(uint32_t checksum) {
    exchangeOnOpenPort("US", BLOCK_TIMEOUT, true);
    exchangeOnOpenPort("GC", BLOCK_TIMEOUT, true);
    logprintf("CB: FPGA Checksum expected %08X\n", checksum);
    return exchangeOnOpenPort("GR", RESTART_TIMEOUT, true);
}

cmd_results_t CameraBoard::update_fpga(const char* binaryname) {
    logprintf("Updating Camera FPGA from '%s'\n", binaryname);
    if (!OpenPort(true)) {
        return CMD_FAIL;
    }
    FilePtr file = openFile(binaryname);
    if (!file) {
        ClosePort(true);
        return CMD_FAILED;
    }
    if (strstr(binaryname, ".jic")) {
        logprintf("JIC File\n");
        uint8_t header[kJicHeaderSize];
        size_t got = fread(header, 1, sizeof header, file.get());
        if (!jicHeaderGood(header, got)) {
            logprintferror("CB: ERROR: JIC header bad");
            ClosePort(true);
            return CMD_FILEERR;
        }
        logprintf("Camera FPGA Build data %s\n", jicBuildData(header, got).c_str());
    } else if (!strstr(binaryname, ".rpd") && !strstr(binaryname, ".rbd")) {
        logprintferror("CB: ERROR: unsupported file type");
        ClosePort(true);
        return CMD_FILEERR;
    }
    long size = fileLength(file.get());
    long start = ftell(file.get());
    if (size - start > static_cast<long>(kFpgaImageLimit)) {
        logprintf("CB: WARNING: image of %ld bytes; the flash takes %u, the rest is left out\n", size - start,
                  kFpgaImageLimit);
    }
    cmd_results_t res = exchangeOnOpenPort("GP", GP_TIMEOUT, true);
    if (res != CMD_OK) {
        logprintf("GP response was %d\n", res);
        ClosePort(true);
        return res;
    }
    uint32_t checksum = 0;
    int blocks = 0, shortBlocks = 0, skipped = 0, lastUsed = 0;
    uint8_t block[FLASH_PAGE_SIZE];
    for (uint32_t address = 0; address < kFpgaImageLimit; address += FLASH_PAGE_SIZE) {
        size_t n = fread(block, 1, sizeof block, file.get());
        if (n == 0) {
            break;
        }
        ++blocks;
        shortBlocks += n < sizeof block ? 1 : 0;
        if (std::all_of(block, block + n, [](uint8_t b) { return b == ERASED; })) {
            logprintf("FF Block %d skipped at %08X\n", blocks, address);
            ++skipped;
            continue;
        }
        lastUsed = blocks;
        for (size_t i = 0; i < n; ++i) {
            block[i] = reverseBits(block[i]);
            checksum += block[i];
        }
        char header[COMMAND_SIZE];
        snprintf(header, sizeof header, "GW %06X ", address);
        if (sendPage(header, block, n, BLOCK_TIMEOUT) != CMD_OK) {
            logprintferror("CB: ERROR: FPGA block %d at %06X not acknowledged", blocks, address);
            res = CMD_FAILED;
            break;
        }
        logprintf("Cam3: %s for block %d\n", response_str, blocks);
    }
    logprintf("CB: Total Blocks %d\n", blocks);
    logprintf("CB: Last non FF block %d\n", lastUsed);
    logprintf("CB: Short block count %d\n", shortBlocks);
    logprintf("CB: FF blocks skipped %d\n", skipped);
    // The FPGA is not restarted from an image that is only partly written. The restart's
    // reply decides nothing: every block was acknowledged, so the flash holds the image
    // whether or not the board answers before it restarts.
    if (res == CMD_OK) {
        const cmd_results_t restart = finishFpgaUpdate(checksum);
        if (restart != CMD_OK) {
            logprintf("CB: WARNING: no good reply to the FPGA restart (%d)\n", restart);
        }
    }
    file.reset();
    ClosePort(true);
    if (res == CMD_OK && getFPGAVersion(&majorFPGAVersion) == 0) {
        logprintf("CB: Camera Board FPGA v%d\n", majorFPGAVersion);
    }
    return res;
}

// ---- Channel flashes and bridge files -------------------------------------------------------

cmd_results_t CameraBoard::getChecksum(chan_t chan, uint32_t start, uint32_t count, uint32_t* checksum) {
    if (chan != LEFT && chan != RIGHT) {
        return CMD_INVALID_PARAM;
    }
    char command[COMMAND_SIZE];
    snprintf(command, sizeof command, "F%cC %06X %06X", chanChars[chan], start, count);
    if (!sendMessageWaitForResponse(command, replyTenths(PAGE_TIMEOUT), true)) {
        return CMD_FAILED;
    }
    return parseFlashChecksum(response_str, strlen(response_str), chanChars[chan], start, count, checksum);
}

cmd_results_t CameraBoard::getCsum(CROSSLINK_T which, uint32_t* size, uint32_t* checksum) {
    if (which != ALGO && which != DATA) {
        return CMD_INVALID_PARAM;
    }
    char command[COMMAND_SIZE];
    snprintf(command, sizeof command, "X%cC", xlinkChars[which]);
    if (!sendMessageWaitForResponse(command, replyTenths(PAGE_TIMEOUT), true)) {
        return CMD_FAILED;
    }
    return parseCrosslinkChecksum(response_str, strlen(response_str), xlinkChars[which], size, checksum);
}

int CameraBoard::fileToFlash(chan_t chan, const char* filename, int start_offset, uint32_t length) {
    if ((chan != LEFT && chan != RIGHT) || start_offset < 0 ||
        static_cast<uint32_t>(start_offset) >= FL128_SIZE) {
        return TRANSFER_FAILED;
    }
    if (!OpenPort(true)) {
        return PORT_FAILED;
    }
    FilePtr file = openFile(filename);
    if (!file) {
        logprintferror("CB: ERROR: opening file %s, errno = %d", filename, errno);
        ClosePort(true);
        return TRANSFER_FAILED;
    }
    const uint32_t lengthWord = length != 0 ? kLengthWordBytes : 0;
    const long size = fileLength(file.get());
    // The file must fit the flash, and the length word its first page.
    if (size < 0 ||
        static_cast<uint64_t>(size) + lengthWord > FL128_SIZE - static_cast<uint32_t>(start_offset) ||
        FLASH_PAGE_SIZE - static_cast<uint32_t>(start_offset) % FLASH_PAGE_SIZE < lengthWord) {
        logprintferror("CB: ERROR: file %s (%ld bytes) does not fit the flash from %06X", filename, size,
                       static_cast<unsigned>(start_offset));
        ClosePort(true);
        return TRANSFER_FAILED;
    }
    const char ch = chanChars[chan];
    std::optional<uint32_t> erased; // no sector erased yet
    uint32_t address = static_cast<uint32_t>(start_offset);
    uint8_t page[FLASH_PAGE_SIZE];
    int result = 0;
    for (bool first = true;; first = false) {
        size_t used = 0;
        if (first && lengthWord) {
            for (; used < kLengthWordBytes; ++used) {
                page[used] = static_cast<uint8_t>(length >> (8 * used));
            }
        }
        const size_t room = FLASH_PAGE_SIZE - address % FLASH_PAGE_SIZE;
        const size_t wanted = room - used;
        const size_t got = fread(page + used, 1, wanted, file.get());
        if (ferror(file.get())) {
            logprintferror("CB: ERROR: Exception reading file\n");
            result = TRANSFER_FAILED;
            break;
        }
        used += got;
        if (used == 0) {
            break;
        }
        const uint32_t sector = address - address % FLASH_SECTOR_SIZE;
        if (erased != sector) {
            char command[COMMAND_SIZE];
            snprintf(command, sizeof command, "F%cES %06x", ch, sector);
            if (exchangeOnOpenPort(command, PAGE_TIMEOUT, false) != CMD_OK) {
                logprintf("Cam1: '%s' to command '%s'\n", response_str, command);
                result = TRANSFER_FAILED;
                break;
            }
            logprintf("Cam1: %s\n", response_str);
            erased = sector;
        }
        char header[COMMAND_SIZE];
        snprintf(header, sizeof header, "F%cW %06X ", ch, address);
        if (sendPage(header, page, used, PAGE_TIMEOUT) != CMD_OK) {
            logprintferror("CB: ERROR: page at %06X not acknowledged", address);
            result = TRANSFER_FAILED;
            break;
        }
        address += static_cast<uint32_t>(used);
        if (got < wanted) {
            break; // end of the file
        }
    }
    file.reset();
    ClosePort(true);
    return result;
}

// One bridge file: compared with what the board holds, written when it differs (or
// when forced) and checked by reading back the checksum of what was stored.
int CameraBoard::bridgeFileToFlash(const BridgeFile& step, bool force, bool& written) {
    if (!step.filename || step.filename[0] == '\0') {
        logprintf("%s", step.noName);
        return 0;
    }
    logprintf(step.check, step.filename);
    uint32_t fileSum = 0;
    const uint32_t size = fileSizeAndSum(step.filename, &fileSum);
    if (size == 0) {
        logprintferror("%s", step.noData);
        return BRIDGE_NO_DATA;
    }
    if (size > kBridgeFileMaxSize) {
        logprintferror("CB: ERROR: Crosslink file '%s' has %u bytes; the flash takes %u", step.filename, size,
                       kBridgeFileMaxSize);
        return BRIDGE_TOO_LARGE;
    }
    fileSum = withLengthWord(fileSum, size);
    logprintf(step.sizeLine, static_cast<int>(size));
    logprintf(step.csumLine, fileSum);
    uint32_t storedSize = 0, storedSum = 0;
    if (getCsum(static_cast<CROSSLINK_T>(step.which), &storedSize, &storedSum) != CMD_OK) {
        logprintferror("%s", step.csumFailed);
        return BRIDGE_QUERY_FAILED;
    }
    if (step.which == ALGO) {
        logprintf("Cam Board Flash Checksum = %04x\n", storedSum);
    }
    if (storedSum == fileSum && storedSize == size && !force) {
        logprintf("%s", step.match);
        return 0;
    }
    if (storedSum != fileSum) {
        logprintf("WARNING: Checksum mismatch %08X <> %08X\n", fileSum, storedSum);
    }
    if (storedSize != size) {
        logprintf(step.sizeMismatch, size, storedSize);
    }
    if (force) {
        logprintf("%s", step.forced);
    }
    const chan_t chan = static_cast<chan_t>(step.chan);
    int res = fileToFlash(chan, step.filename, static_cast<int>(CrosslinkAlgoBaseAddress), size);
    if (res != 0) {
        logprintferror(step.transferFailed, res);
        return res;
    }
    uint32_t readBack = 0;
    if (getChecksum(chan, CrosslinkAlgoBaseAddress, size + kLengthWordBytes, &readBack) != CMD_OK) {
        logprintferror("%s", step.readBackFailed);
        return BRIDGE_READBACK_FAILED;
    }
    logprintf("CB: Cam Board Flash Checksum after write = %04x\n", readBack);
    if (readBack != fileSum) {
        logprintferror("%s", step.failed);
        return BRIDGE_UPDATE_FAILED;
    }
    logprintf("%s", step.success);
    written = true;
    return 0;
}

int CameraBoard::crosslinkFilesToFlash(bool force) {
    BridgeFile algo = kAlgoStep;
    algo.filename = algofilename;
    BridgeFile data = kDataStep;
    data.filename = datafilename;
    bool written = false;
    int result = bridgeFileToFlash(algo, force, written);
    if (result == 0) {
        result = bridgeFileToFlash(data, force, written);
    }
    if (!written) {
        return result;
    }
    // The bridge loads its files when the board restarts it.
    if (!OpenPort(true)) {
        logprintferror("CB: ERROR: Failed to Open Port");
        result = result != 0 ? result : TRANSFER_FAILED;
    } else {
        ClosePort(false);
        bool restarted = sendMessageWaitForResponse("GR", replyTenths(XL_RESTART_TIMEOUT), true) != 0;
        result = result != 0 ? result : restarted ? 0 : TRANSFER_FAILED;
    }
    if (getXLVersion(&majorXLVersion) == 0) {
        logprintf("CB: Camera Board XL v%d\n", majorXLVersion);
    }
    logprintf("CB: Camera Crosslink checks complete\n");
    return result;
}
