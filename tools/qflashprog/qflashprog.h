// qflashprog: programs, verifies, reads back or erases the display FPGA's configuration
// flash through GPIO lines, with the FPGA held in configuration reset meanwhile.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "tools/qflashprog/FlashSpi.h"
#include "tools/qflashprog/PromFile.h"

constexpr int QFLASHPROG_VERSION_MAJOR = 3;
constexpr int QFLASHPROG_VERSION_MINOR = 3;

// How long the status wait lasts. A bulk erase may take minutes on the largest parts of
// the family; a page program a few milliseconds. A wait that runs out is an error.
struct FlashWaits {
    int64_t eraseMs = 10 * 60 * 1000;
    int64_t programMs = 50000;
    int64_t bootMs = 4000;
};

// Results of programEEPROM.
enum ProgramResult {
    PROGRAM_OK = 0,
    PROGRAM_NO_FILE = 1,
    PROGRAM_ERASE_FAILED = 2,
    PROGRAM_FAILED = 3,
    PROGRAM_NO_JIC_HEADER = 4,
    PROGRAM_NO_DATA = 5, // empty or all-erased image: programming it would only erase
};

class QFlashProg {
public:
    explicit QFlashProg(FlashWaits waits = {}) : waits_(waits) {}
    ~QFlashProg();
    QFlashProg(const QFlashProg&) = delete;
    QFlashProg& operator=(const QFlashProg&) = delete;

    void setJic(bool jic) { jic_ = jic; }
    // Takes the lines: FPGA in configuration reset, flash lines driven.
    // false (nothing driven) when the GPIO lines cannot be had.
    bool initialise();
    // Reads and prints the identification; returns the manufacturer byte.
    uint8_t identify();
    // Erases the whole flash; the status wait's result (0 when it went well).
    int erase();
    int programEEPROM(const std::string& filename);
    // 0 when the flash holds the file.
    int verifyEEPROM(const std::string& filename);
    // Writes the flash's content up to its last programmed page; 0, or -1 when the file
    // cannot be created.
    int readEEPROM(const std::string& filename);
    // Hands the lines back and lets the FPGA configure.
    void releaseGPIO(bool waitForBoot);

private:
    // Status register 1, waiting while a write is in progress: the error bits, with the
    // busy bit too when the wait ran out.
    uint8_t rdsr1(int64_t limitMs);
    void writeEnable();
    // Opens the file and finds where its image data starts (the ".jic" marker); prints
    // the errors. A PROGRAM_ result.
    int openImage(const std::string& filename, PromFile& file);
    bool verifyBlock(uint32_t address, const uint8_t* expected, size_t length);

    FlashWaits waits_;
    FlashSpi spi_;
    bool jic_ = false;
    uint8_t filePage_[PROM_PAGE_SIZE] = {};
    uint8_t flashPage_[PROM_PAGE_SIZE] = {};
    timer_t operationTimeout_ = reinterpret_cast<timer_t>(-1);
    timer_t tickTimeout_ = reinterpret_cast<timer_t>(-1);
};

// The program: its command line, its output on standard output, its exit status.
int qflashprog_main(int argc, char** argv, FlashWaits waits = {});
