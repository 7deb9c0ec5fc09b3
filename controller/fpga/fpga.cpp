// SPI register access and bring-up of the display FPGA.
#include "controller/fpga/fpga.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "common/logfile.h"
#include "controller/core/devices.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"

std::unique_ptr<ostrixFpga> fpga;

namespace {

constexpr int SPI_SPEED_NORMAL_HZ = 16000000;
constexpr int SPI_SPEED_HIGH_HZ = 32000000;
constexpr uint32_t FPGA_VERSION_IDLE_BYTE = 0xFF;
constexpr uint32_t FPGA_VERSION_IDLE_WORD = 0xFFFFFFFF; // MISO idle for all 32 bits
constexpr uint32_t FIRST_VERSION_WITH_MEMORY_TEST = 15;
constexpr uint32_t STATUS_STUCK_CALIBRATED = 0x0A; // CalSuccess and InitDone without PLL lock
constexpr int DDR_INIT_TIMEOUT_MS = 10000;
constexpr int MEMORY_TEST_TIMEOUT_MS = 1000;
constexpr int STATUS_POLL_INTERVAL_US = 50;
constexpr int CONFIG_POLL_MS = 500;
constexpr unsigned NCONFIG_LOW_MS = 1;
constexpr unsigned NCONFIG_HIGH_MS = 2;
constexpr unsigned RESET_LOW_MS = 1;
constexpr unsigned RESET_RECOVERY_MS = 200;
constexpr unsigned PIN_SETTLE_US = 100;
constexpr unsigned VIDEO_RESET_PULSE_US = 100;
constexpr unsigned VIDEO_RESET_RECOVERY_MS = 90;
constexpr uint32_t STUCK_FRAME_LIMIT = 3;
constexpr unsigned FRAME_STORE_ALL = 15;
constexpr uint32_t FRAME_STORE_MASK = 0xF;
constexpr int PNG_COMPRESSION_MAX = 9;
constexpr int REG32_TRANSFER = 5;
constexpr int REG128_TRANSFER = 17;
constexpr int WORD_BYTES = 4;
constexpr int BYTE_BITS = 8;
constexpr int LINE_WORDS_PER_CHUNK = FRAME_STORE_LINE_LEN / CHUNKS;          // 240 x 32 bits
constexpr int HALF_LINE_WORDS_PER_CHUNK = FRAME_STORE_LINE_LEN / 2 / CHUNKS; // 120 x 16 bits
constexpr int VIDEO_CHUNK_BYTES = 1 + LINE_WORDS_PER_CHUNK * WORD_BYTES;     // 961
constexpr int OVERLAY_CHUNK_BYTES = 1 + LINE_WORDS_PER_CHUNK * 2;            // 481
constexpr int HALF_LINE_CHUNK_BYTES = 1 + HALF_LINE_WORDS_PER_CHUNK * 2;     // 241
constexpr int CONFIG_INPUT_PINS_FIRST = CFG_nSTATUS_Pin;
constexpr int CONFIG_INPUT_PINS_LAST = CFG_nCSO_Pin;
constexpr int EXIT_STATUS_SPI = -1;
constexpr int EXIT_STATUS_STUCK = 1;

const char* channelName(int c) {
    return c == LEFT ? "LEFT" : "RIGHT";
}

void putWord(unsigned char* p, uint32_t v) {
    for (int i = 0; i < WORD_BYTES; ++i) {
        p[i] = static_cast<unsigned char>(v >> (BYTE_BITS * (WORD_BYTES - 1 - i)));
    }
}

uint32_t getWord(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Ends the process from inside the bring-up. The log is already on disk; the process's
// device objects (this one among them) are not destroyed under the running call.
[[noreturn]] void endProcess(int status) {
    fflush(stdout);
    _exit(status);
}

bool ddrReady(const STATUS_REG_UNION& s) {
    return s.bits.InitDone && s.bits.PLLLocked;
}

bool memoryTestDone(const STATUS_REG_UNION& s) {
    return s.bits.MemTestDone;
}

} // namespace

ostrixFpga::ostrixFpga(const std::string& fpga_file, bool assertReset) {
    logprintf("FPGA Constructor\n");
    timeout = no_timeout();
    jicFileName = fpga_file;
    fpga_version_valid = false;

    // The flash lines belong to the flash programmer: inputs while the controller runs.
    for (int pin = CONFIG_INPUT_PINS_FIRST; pin <= CONFIG_INPUT_PINS_LAST; ++pin) {
        pinMode(pin, INPUT);
    }
    pinMode(FPGA_RESET_N_Pin, OUTPUT);
    digitalWrite(CFG_nCONFIG_Pin, HIGH);
    pinMode(CFG_nCONFIG_Pin, OUTPUT);
    pinMode(CFG_nCE_Pin, OUTPUT);
    digitalWrite(CFG_nCE_Pin, LOW);
    pinMode(CFG_nSTATUS_Pin, INPUT);
    pinMode(CFG_CONF_DONE_Pin, INPUT);
    delayMicroseconds(PIN_SETTLE_US);

    if (digitalRead(CFG_CONF_DONE_Pin) == HIGH) {
        logprintf("F: FPGA already configured\n");
    } else {
        reconfigure();
        if (digitalRead(CFG_CONF_DONE_Pin) == LOW) {
            logprintf("F: Reprogram FPGA PROM\n");
            programFPGA();
        }
        logprintf("F: reconfigured\n");
    }

    openSPI();
    logprintf("F: SPI opened\n");
    if (assertReset) {
        logprintf("F: Apply Reset\n");
        Reset();
    }
    logprintf("F: Reset applied\n");

    for (int c = LEFT; c <= RIGHT; ++c) {
        shadowCR[c].word = readwriteReg32(CONTROL_READBACK_REG(c), 0);
        shadowCR[c].bits.EnableHDMIRx = 1;
        shadowCR[c].bits.EnableWarp = 1;
        shadowCR[c].bits.LCDOutputEnable = 1;
        shadowCR[c].bits.DigitalZoomEnable = 0;
        shadowCR[c].bits.BlankVideoOut = 0;
        writeControl(c);
        shadowOVERLAY[c].word = readwriteReg32(OVERLAY_READBACK_REG(c), 0);
    }

    resetShadows();
    frameStoreInputEnable(FRAME_STORE_ALL);
    frameStoreOutputEnable(FRAME_STORE_ALL);
    iHorizontalInvert = false;
    iVerticalInvert = false;

    clearIcons();
    loadIcons();

    backlightScale[LEFT] = backlightScale[RIGHT] = 100;
    png_compression = PNG_COMPRESSION_MAX;
    logprintf("F: Constructor complete\n");
}

ostrixFpga::~ostrixFpga() {
    logprintf("FPGA Destructor\n");
    if (spifd >= 0) {
        platform::spiClose(spifd);
        spifd = -1;
    }
    delete_timeout(&timeout);
}

void ostrixFpga::resetShadows() {
    shadowMenuTransparency = 0;
    shadowMenuBGColour = pixel();
    shadowGuiBGColour = pixel();
    shadowContrastPercent = 0;
    shadowSharpness = 0;
    crosshairColour = pixel();
    crosshairSize = 0;
    guiPosition = 1;
    for (int c = LEFT; c <= RIGHT; ++c) {
        shadowWarpPixelSourceOffset[c] = 0;
        shadowWarpLineSourceOffset[c] = 0;
        shadowWarpRotation[c] = 0;
        warp_line_filename[c].clear();
        warp_pixel_filename[c].clear();
    }
    warpfolder = "./warp/";
}

void ostrixFpga::clearIcons() {
    for (auto& icon : icons) {
        icon = ICON_STRUCT{};
    }
    icon_count = 0;
}

// ---- SPI ----

int ostrixFpga::openSPI() {
    if (spifd >= 0) {
        return 0;
    }
    spifd = wiringPiSPISetup(SPI_CHANNEL, SPI_SPEED_NORMAL_HZ);
    if (spifd >= 0) {
        version();
        if (fpga_version_valid && fpga_version >= HIGH_SPEED_SPI_FPGA_VERSION) {
            platform::spiClose(spifd);
            spifd = wiringPiSPISetup(SPI_CHANNEL, SPI_SPEED_HIGH_HZ);
        }
    }
    if (spifd >= 0) {
        return 0;
    }
    logprintferror("ERROR: err %d setting up SPI Channel %d", errno, SPI_CHANNEL);
    endProcess(EXIT_STATUS_SPI);
}

uint32_t ostrixFpga::readwriteReg32(uint8_t address, uint32_t data) {
    unsigned char buffer[REG32_TRANSFER];
    buffer[0] = address;
    putWord(buffer + 1, data);
    wiringPiSPIDataRW(SPI_CHANNEL, buffer, REG32_TRANSFER);
    return getWord(buffer + 1);
}

int ostrixFpga::writeReg128(uint8_t address, const uint32_t data[4]) {
    unsigned char buffer[REG128_TRANSFER];
    buffer[0] = address;
    for (int i = 0; i < 4; ++i) {
        putWord(buffer + 1 + i * WORD_BYTES, data[i]);
    }
    return wiringPiSPIDataRW(SPI_CHANNEL, buffer, REG128_TRANSFER);
}

void ostrixFpga::readReg128(uint8_t address, uint32_t data[4]) {
    for (int i = 0; i < 4; ++i) {
        unsigned char buffer[REG32_TRANSFER] = {address};
        wiringPiSPIDataRW(SPI_CHANNEL, buffer, REG32_TRANSFER);
        data[i] = getWord(buffer + 1);
    }
}

void ostrixFpga::lineBurst(int channel, unsigned char* chunk, int chunkBytes) {
    chunk[0] = DR_DATA_REG_0(channel);
    wiringPiSPIDataRW(SPI_CHANNEL, chunk, chunkBytes);
}

void ostrixFpga::writeVideoLineWords(int channel, const uint32_t* words) {
    if (channel > RIGHT) {
        return;
    }
    unsigned char chunk[VIDEO_CHUNK_BYTES];
    for (int k = 0; k < CHUNKS; ++k) {
        for (int j = 0; j < LINE_WORDS_PER_CHUNK; ++j) {
            putWord(chunk + 1 + j * WORD_BYTES, words[k * LINE_WORDS_PER_CHUNK + j]);
        }
        lineBurst(channel, chunk, VIDEO_CHUNK_BYTES);
    }
}

void ostrixFpga::writeHalfVideoLineWords16(int channel, const uint16_t* words) {
    if (channel > RIGHT) {
        return;
    }
    unsigned char chunk[HALF_LINE_CHUNK_BYTES];
    for (int k = 0; k < CHUNKS; ++k) {
        for (int j = 0; j < HALF_LINE_WORDS_PER_CHUNK; ++j) {
            uint16_t w = words[k * HALF_LINE_WORDS_PER_CHUNK + j];
            chunk[1 + 2 * j] = static_cast<unsigned char>(w >> BYTE_BITS);
            chunk[2 + 2 * j] = static_cast<unsigned char>(w);
        }
        lineBurst(channel, chunk, HALF_LINE_CHUNK_BYTES);
    }
}

void ostrixFpga::readVideoLine(int channel, uint32_t start_address, int lineno, uint32_t* data) {
    if (channel > RIGHT) {
        return;
    }
    readwriteReg32(DR_READ_ADDRESS_REG(channel), start_address);
    unsigned char chunk[VIDEO_CHUNK_BYTES];
    for (int k = 0; k < CHUNKS; ++k) {
        std::fill(chunk, chunk + VIDEO_CHUNK_BYTES, 0);
        lineBurst(channel, chunk, VIDEO_CHUNK_BYTES);
        for (int j = 0; j < LINE_WORDS_PER_CHUNK; ++j) {
            data[k * LINE_WORDS_PER_CHUNK + j] = getWord(chunk + 1 + j * WORD_BYTES);
        }
    }
}

void ostrixFpga::readOverlayLine(int channel, uint32_t start_address, int lineno, uint16_t* data) {
    if (channel > RIGHT) {
        return;
    }
    readwriteReg32(DR_READ_ADDRESS_REG(channel), start_address);
    unsigned char chunk[OVERLAY_CHUNK_BYTES];
    for (int k = 0; k < CHUNKS; ++k) {
        std::fill(chunk, chunk + OVERLAY_CHUNK_BYTES, 0);
        lineBurst(channel, chunk, OVERLAY_CHUNK_BYTES);
        for (int j = 0; j < LINE_WORDS_PER_CHUNK; ++j) {
            data[k * LINE_WORDS_PER_CHUNK + j] =
                static_cast<uint16_t>((chunk[1 + 2 * j] << BYTE_BITS) | chunk[2 + 2 * j]);
        }
    }
}

void ostrixFpga::writeControl(int c) {
    readwriteReg32(CONTROL_REG(c), shadowCR[c].word);
}

void ostrixFpga::writeBothControls() {
    writeControl(LEFT);
    writeControl(RIGHT);
}

// ---- Bring-up ----

uint32_t ostrixFpga::version() {
    fpga_version = readwriteReg32(SR_FPGA_REV, 0);
    // An FPGA that does not answer leaves MISO high: 0xFF, or all ones over 32 bits.
    if (fpga_version == FPGA_VERSION_IDLE_BYTE || fpga_version == FPGA_VERSION_IDLE_WORD) {
        fpga_version_valid = false;
        logprintf("F: FPGA Version INVALID\n");
    } else {
        fpga_version_valid = true;
        logprintf("F: FPGA Version %08x\n", fpga_version);
    }
    return fpga_version;
}

int ostrixFpga::reconfigure() {
    logprintf("F: nCONFIG Low\n");
    digitalWrite(CFG_nCONFIG_Pin, LOW);
    delay(NCONFIG_LOW_MS);
    logprintf("F: nCONFIG High\n");
    digitalWrite(CFG_nCONFIG_Pin, HIGH);
    delay(NCONFIG_HIGH_MS);
    start_timeout("F: ", &timeout, FPGA_CONFIGURATION_TIMEOUT, 0);
    while (digitalRead(CFG_CONF_DONE_Pin) == LOW && !timeout_expired(&timeout, 0, 0)) {
        delay(CONFIG_POLL_MS);
        logprintf("F: wait for fpga\n");
    }
    // CONF_DONE decides: a configuration that completes during the last poll counts.
    if (digitalRead(CFG_CONF_DONE_Pin) == HIGH) {
        return 1;
    }
    logprintf("F: fpga reconfiguration timeout\n");
    return 0;
}

void ostrixFpga::programFPGA() {
    logprintf("F: Looking for %s\n", jicFileName.c_str());
    FILE* image = fopen(jicFileName.c_str(), "rb");
    if (!image) {
        return;
    }
    fclose(image);
    int status = platform::shell("./qflashprog -p " + platform::shellQuote(jicFileName));
    if (status != 0) {
        logprintferror("F: ERROR: qflashprog failed with status %d", status);
    }
}

void ostrixFpga::Reset() {
    logprintf("F: Reset()\n");
    digitalWrite(FPGA_RESET_N_Pin, LOW);
    delay(RESET_LOW_MS);
    digitalWrite(FPGA_RESET_N_Pin, HIGH);
    delay(RESET_RECOVERY_MS);
    version();
    waitDDRInitDone();
    logprintf("F: Wait Memory Test Results\n");
    waitMemoryTests();
    logprintf("F: Reset() done\n");
}

void ostrixFpga::waitMemoryTests() {
    if (!waitMemoryTestComplete(LEFT)) {
        logprintferror("F: ERROR: Memory Test LEFT FAILED");
    }
    if (!waitMemoryTestComplete(RIGHT)) {
        logprintferror("F: ERROR: Memory Test RIGHT FAILED");
    }
}

// Polls one channel's status until `done` or the running timer expires, logging every
// change. A DDR poll that sees the calibration-without-lock value resets the FPGA and
// ends the process: that state does not recover by waiting.
uint32_t ostrixFpga::pollStatus(int channel, bool checkStuck, bool (*done)(const STATUS_REG_UNION&)) {
    const char letter = channel == LEFT ? 'L' : 'R';
    STATUS_REG_UNION status{};
    bool first = true;
    uint32_t previous = 0;
    int loops = 0;
    for (;;) {
        status.word = readwriteReg32(STATUS_REG(channel), 0);
        ++loops;
        if (first || status.word != previous) {
            logprintf("F: new %c Status=%02x after %d loops\n", letter, status.word, loops);
            previous = status.word;
            first = false;
        }
        if (checkStuck && status.word == STATUS_STUCK_CALIBRATED) {
            digitalWrite(FPGA_RESET_N_Pin, LOW);
            digitalWrite(FPGA_RESET_N_Pin, HIGH);
            digitalWrite(FPGA_RESET_N_Pin, LOW);
            digitalWrite(FPGA_RESET_N_Pin, HIGH);
            endProcess(EXIT_STATUS_STUCK);
        }
        if (done(status) || timeout_expired(&timeout, 0, 0)) {
            return status.word;
        }
        delayMicroseconds(STATUS_POLL_INTERVAL_US);
    }
}

int ostrixFpga::waitDDRInitDone() {
    logprintf("F: waitDDRInitDone()\n");
    start_timeout("F: waitDDRInitDone ", &timeout, DDR_INIT_TIMEOUT_MS, 0);
    logprintf("F: waitDDRInitDone() timeout started\n");
    for (int c = LEFT; c <= RIGHT; ++c) {
        uint32_t status = pollStatus(c, true, ddrReady);
        logprintf("F: waitDDRInitDone() %s status = %02x\n", channelName(c), status);
    }
    if (timeout_expired(&timeout, 0, 0)) {
        logprintferror("F: ERROR: Timeout waiting for DDR Initialisation");
        return -1;
    }
    logprintf("F: waitDDRInitDone() complete\n");
    return 0;
}

int ostrixFpga::waitMemoryTestComplete(int channel) {
    if (!fpga_version_valid) {
        version();
    }
    logprintf("F: FPGA Version %d\n", fpga_version);
    if (fpga_version < FIRST_VERSION_WITH_MEMORY_TEST) {
        return 1;
    }
    if (channel > RIGHT) {
        return 0;
    }
    start_timeout("F: waitMemoryTestComplete ", &timeout, MEMORY_TEST_TIMEOUT_MS, 0);
    STATUS_REG_UNION status{};
    status.word = pollStatus(channel, false, memoryTestDone);
    return status.bits.MemTestPass;
}

void ostrixFpga::wake_up() {
    waitDDRInitDone();
    waitMemoryTests();
    initialiseWarp();
    shadowCR[LEFT].bits.BlankVideoOut = 0;
    shadowCR[RIGHT].bits.BlankVideoOut = 0;
    writeBothControls();
    // Everything the FPGA lost in standby is replayed from the shadows.
    setGUIbgcolour(shadowGuiBGColour);
    setMenubgcolour(shadowMenuBGColour);
    setMenubgtransparency(static_cast<uint8_t>(shadowMenuTransparency));
    setGUIPosition(guiPosition);
    // Filling the store with the key colour wiped the icons; the visible ones come back.
    refreshIcons();
    frameStoreInputEnable(FRAME_STORE_ALL);
    frameStoreOutputEnable(FRAME_STORE_ALL);
    setCrosshairColour(crosshairColour);
    setCrosshairSize(crosshairSize);
    setContrast(LEFT, static_cast<uint8_t>(shadowContrastPercent));
    setContrast(RIGHT, static_cast<uint8_t>(shadowContrastPercent));
    setSharpness(static_cast<uint8_t>(shadowSharpness));
    setDisplayShift(LEFT, shadowWarpPixelSourceOffset[LEFT], shadowWarpLineSourceOffset[LEFT]);
    setDisplayShift(RIGHT, shadowWarpPixelSourceOffset[RIGHT], shadowWarpLineSourceOffset[RIGHT]);
    setDisplayRotation(LEFT, shadowWarpRotation[LEFT]);
    setDisplayRotation(RIGHT, shadowWarpRotation[RIGHT]);
}

void ostrixFpga::VideoReset(int channel) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (channelSelected(channel, c)) {
            logprintf("F: VideoReset(%d)\n", c);
            shadowCR[c].bits.VideoReset = 1;
            writeControl(c);
        }
    }
    delayMicroseconds(VIDEO_RESET_PULSE_US);
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (channelSelected(channel, c)) {
            shadowCR[c].bits.VideoReset = 0;
            writeControl(c);
        }
    }
    delay(VIDEO_RESET_RECOVERY_MS);
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (channelSelected(channel, c)) {
            readwriteReg32(WARP_STATUS_STROBE_REG(c), 1);
            readwriteReg32(WARP_STATUS_STROBE_REG(c), 0);
        }
    }
}

void ostrixFpga::checkPiDisplay() {
    uint32_t count = readwriteReg32(PI_RX_FRAME_COUNT, 0);
    logprintf("Current fc=%d; previous=%d; reset %d\n", count, previousFrameCount, mipiResetCount);
    if (count == previousFrameCount) {
        stuckFrameCount++;
    } else {
        previousFrameCount = count;
        stuckFrameCount = 0;
    }
    // The stuck count stays: a frozen input is reset again on every call until it moves.
    if (stuckFrameCount >= STUCK_FRAME_LIMIT) {
        readwriteReg32(PI_RX_CONTROL_REG, 1);
        mipiResetCount++;
        logprintf("Applying reset to mipi reciever. PiFrameCount = %d; mipiResetCount = %d\n", count,
                  mipiResetCount);
    }
}

// ---- Frame store enables and image options ----

void ostrixFpga::writeFrameStoreEnable() {
    readwriteReg32(FRAME_STORE_ENABLE_REG(LEFT), shadowFrameStoreEnable.word);
    readwriteReg32(FRAME_STORE_ENABLE_REG(RIGHT), shadowFrameStoreEnable.word);
}

void ostrixFpga::frameStoreInputEnable(unsigned mask) {
    shadowFrameStoreEnable.bits.inputEnable = mask & FRAME_STORE_MASK;
    writeFrameStoreEnable();
}

void ostrixFpga::frameStoreOutputEnable(unsigned mask) {
    shadowFrameStoreEnable.bits.outputEnable = mask & FRAME_STORE_MASK;
    writeFrameStoreEnable();
}

void ostrixFpga::setPngCompression(int level) {
    png_compression = std::clamp(level, 0, PNG_COMPRESSION_MAX);
}

void ostrixFpga::setSaveImageOrientation(bool horizontal_invert, bool vertical_invert) {
    iHorizontalInvert = horizontal_invert;
    iVerticalInvert = vertical_invert;
}
