#include "tools/qflashprog/qflashprog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

#include "common/timeout.h"
#include "controller/core/pin_nums.h"
#include "platform/wiringPi.h"

namespace {

// Flash commands.
constexpr uint8_t CMD_WRITE_ENABLE = 0x06;
constexpr uint8_t CMD_READ_STATUS_1 = 0x05;
constexpr uint8_t CMD_READ_ID = 0x9F;
constexpr uint8_t CMD_PAGE_PROGRAM = 0x02;
constexpr uint8_t CMD_READ = 0x03;
constexpr uint8_t CMD_BULK_ERASE = 0x60;

constexpr uint8_t STATUS_BUSY = 0x01;
constexpr uint8_t STATUS_ERRORS = 0x60;

constexpr uint32_t FLASH_LAST_ADDRESS = 0xFFFFFF;
constexpr uint32_t FLASH_SIZE = FLASH_LAST_ADDRESS + 1;
constexpr uint32_t PROGRESS_BYTES = 64 * 1024;
constexpr int ID_BYTES = 3;
constexpr uint8_t NO_FLASH_LOW = 0x00;
constexpr uint8_t NO_FLASH_HIGH = 0xFF;
constexpr int HEX_BYTES_PER_LINE = 16;
constexpr int PAIRS_PER_DIFF_COUNT = 8;
constexpr int VERIFY_TRIES = 3;

constexpr unsigned SETTLE_MS = 1;
constexpr int TICK_MS = 1000;
constexpr unsigned BOOT_POLL_MS = 500;

constexpr int EXIT_FAILURE_STATUS = -1;

const char* const USAGE[] = {
    "Useage: qflashprog <promfile>           - program and verify prom from binary prom data file",
    "Useage: qflashprog -p <promfile>        - only program prom",
    "Useage: qflashprog -v <verifyfile>      - only verify prom",
    "Useage: qflashprog -r <readbackfile>    - readback and save entire prom to readbackfile",
    "Useage: qflashprog -e                   - erase entire prom",
};

bool isAllErased(const uint8_t* page, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (page[i] != PROM_ERASED) {
            return false;
        }
    }
    return true;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int usage() {
    for (const char* line : USAGE) {
        printf("%s\n", line);
    }
    return EXIT_FAILURE_STATUS;
}

} // namespace

QFlashProg::~QFlashProg() {
    delete_timeout(&operationTimeout_);
    delete_timeout(&tickTimeout_);
}

bool QFlashProg::initialise() {
    // Without the GPIO lines every flash command would read 00 or FF and a programming
    // run would report nothing useful: the tool ends before it drives a line.
    if (wiringPiSetupGpio() != 0) {
        const int error = errno;
        printf(" ERROR: GPIO set-up failed with errno=%d (%s)\n", error, strerror(error));
        return false;
    }
    digitalWrite(CFG_nCONFIG_Pin, LOW);
    pinMode(CFG_nCONFIG_Pin, OUTPUT);
    digitalWrite(CFG_nCE_Pin, HIGH);
    pinMode(CFG_nCE_Pin, OUTPUT);
    pinMode(CFG_nSTATUS_Pin, INPUT);
    pinMode(CFG_CONF_DONE_Pin, INPUT);
    digitalWrite(CFG_nCSO_Pin, HIGH);
    pinMode(CFG_nCSO_Pin, OUTPUT);
    pinMode(CFG_ASD0_Pin, OUTPUT);
    pinMode(CFG_ASD1_Pin, INPUT);
    pinMode(CFG_ASD2_Pin, OUTPUT);
    pinMode(CFG_ASD3_Pin, OUTPUT);
    pinMode(CFG_DCLK_Pin, OUTPUT);
    digitalWrite(CFG_ASD2_Pin, LOW);
    digitalWrite(CFG_ASD3_Pin, HIGH);
    digitalWrite(CFG_DCLK_Pin, LOW);
    delay(SETTLE_MS);
    return true;
}

uint8_t QFlashProg::identify() {
    uint8_t id[ID_BYTES] = {};
    spi_.commandRead(CMD_READ_ID, id, ID_BYTES);
    printf("RDID %02x %02x %02x\n", id[0], id[1], id[2]);
    printf("EEPROM Manuf 0x%02x device 0x%02x\n", id[0], id[2]);
    return id[0];
}

uint8_t QFlashProg::rdsr1(int64_t limitMs) {
    uint8_t status = 0;
    spi_.commandRead(CMD_READ_STATUS_1, &status, 1);
    if (!(status & STATUS_BUSY) || (status & STATUS_ERRORS)) {
        return status & STATUS_ERRORS;
    }
    start_timeout("QF: ", &operationTimeout_, limitMs, 0);
    start_timeout("QF: ", &tickTimeout_, TICK_MS, 0);
    while ((status & STATUS_BUSY) && !(status & STATUS_ERRORS)) {
        if (timeout_expired(&operationTimeout_, 0, 0)) {
            printf("\n ERROR: flash still busy after %lld ms\n", static_cast<long long>(limitMs));
            return static_cast<uint8_t>((status & STATUS_ERRORS) | STATUS_BUSY);
        }
        if (timeout_expired(&tickTimeout_, TICK_MS, 0)) {
            printf(".");
            fflush(stdout);
        }
        spi_.commandRead(CMD_READ_STATUS_1, &status, 1);
    }
    return status & STATUS_ERRORS;
}

void QFlashProg::writeEnable() {
    spi_.command(CMD_WRITE_ENABLE);
}

int QFlashProg::erase() {
    printf("Erasing....");
    fflush(stdout);
    writeEnable();
    spi_.command(CMD_BULK_ERASE);
    const int result = rdsr1(waits_.eraseMs);
    printf("done res=%02x\n", result);
    return result;
}

int QFlashProg::openImage(const std::string& filename, PromFile& file) {
    if (!file.open(filename)) {
        printf(" ERROR: configfile not found\n");
        return PROGRAM_NO_FILE;
    }
    if (!jic_) {
        return PROGRAM_OK;
    }
    const long offset = file.skipJicHeader();
    if (offset < 0) {
        printf(" ERROR: no JIC header found in %s\n", filename.c_str());
        return PROGRAM_NO_JIC_HEADER;
    }
    printf("Found JIC header at offset %ld\n", offset);
    return PROGRAM_OK;
}

int QFlashProg::programEEPROM(const std::string& filename) {
    // The file is checked before the erase, so a file that cannot be programmed never
    // leaves an erased flash behind.
    PromFile file;
    if (int result = openImage(filename, file)) {
        return result;
    }
    // An empty or erased image (a failed export, a file cut short to nothing) would leave
    // the FPGA without a configuration while reporting success.
    if (!file.holdsData()) {
        printf(" ERROR: %s holds no data (empty or erased image): the flash is left as it is\n",
               filename.c_str());
        return PROGRAM_NO_DATA;
    }
    if (erase() != 0) {
        printf(" ERROR: whilst erasing EEPROM\n");
        return PROGRAM_ERASE_FAILED;
    }
    printf("Programming....\n");
    for (uint32_t address = 0; address <= FLASH_LAST_ADDRESS; address += PROM_PAGE_SIZE) {
        if (file.readPage(filePage_) == 0) {
            break;
        }
        reverseBits(filePage_, PROM_PAGE_SIZE);
        if (address == 0) {
            for (size_t i = 0; i < PROM_PAGE_SIZE; ++i) {
                printf("%02x%s", filePage_[i], (i + 1) % HEX_BYTES_PER_LINE ? " " : "\n");
            }
        }
        if (!isAllErased(filePage_, PROM_PAGE_SIZE)) {
            writeEnable();
            spi_.commandAddress(CMD_PAGE_PROGRAM, address, filePage_, PROM_PAGE_SIZE, nullptr, 0);
            if (rdsr1(waits_.programMs) != 0) {
                printf("FAILED\n");
                return PROGRAM_FAILED;
            }
        }
        if ((address + PROM_PAGE_SIZE) % PROGRESS_BYTES == 0) {
            printf(".");
            fflush(stdout);
        }
    }
    printf("done\n");
    return PROGRAM_OK;
}

bool QFlashProg::verifyBlock(uint32_t address, const uint8_t* expected, size_t length) {
    spi_.commandAddress(CMD_READ, address, nullptr, 0, flashPage_, length);
    reverseBits(flashPage_, length);
    if (memcmp(expected, flashPage_, length) == 0) {
        return true;
    }
    printf("\n ERROR: Verify mismatch in block at address %06x\n", address);
    printf("(expected/found)\n");
    int diffs = 0;
    for (size_t i = 0; i < length; ++i) {
        printf("%02x/%02x ", expected[i], flashPage_[i]);
        diffs += expected[i] != flashPage_[i];
        if ((i + 1) % PAIRS_PER_DIFF_COUNT == 0 || i + 1 == length) {
            printf(" diffs %d\n", diffs);
            diffs = 0;
        }
    }
    return false;
}

int QFlashProg::verifyEEPROM(const std::string& filename) {
    PromFile file;
    if (int result = openImage(filename, file)) {
        return result;
    }
    printf("Verifying...");
    fflush(stdout);
    int failures = 0;
    for (uint32_t address = 0; address <= FLASH_LAST_ADDRESS;) {
        const size_t length = file.readPage(filePage_);
        if (length == 0) {
            break;
        }
        while (!verifyBlock(address, filePage_, length)) {
            if (++failures == VERIFY_TRIES) {
                printf("FAILED\n");
                return 1;
            }
            printf("RETRY\n");
        }
        failures = 0;
        address += PROM_PAGE_SIZE;
        if (address % PROGRESS_BYTES == 0) {
            printf("v");
            fflush(stdout);
        }
    }
    printf("PASS\n");
    return 0;
}

int QFlashProg::readEEPROM(const std::string& filename) {
    FILE* out = fopen(filename.c_str(), "wb");
    if (!out) {
        printf(" ERROR: creating file %s\n", filename.c_str());
        return EXIT_FAILURE_STATUS;
    }
    uint8_t erasedPage[PROM_PAGE_SIZE];
    memset(erasedPage, PROM_ERASED, sizeof erasedPage);
    int pending = 0;
    int result = 0;
    for (uint32_t address = 0; address < FLASH_SIZE; address += PROM_PAGE_SIZE) {
        printf("%08x, %d\n", address, pending);
        spi_.commandAddress(CMD_READ, address, nullptr, 0, flashPage_, PROM_PAGE_SIZE);
        reverseBits(flashPage_, PROM_PAGE_SIZE);
        if (isAllErased(flashPage_, PROM_PAGE_SIZE)) {
            pending++;
            continue;
        }
        for (; pending > 0; --pending) {
            result |= fwrite(erasedPage, 1, PROM_PAGE_SIZE, out) != PROM_PAGE_SIZE;
        }
        result |= fwrite(flashPage_, 1, PROM_PAGE_SIZE, out) != PROM_PAGE_SIZE;
    }
    if (fclose(out) != 0 || result) {
        printf(" ERROR: writing file %s\n", filename.c_str());
        return EXIT_FAILURE_STATUS;
    }
    return 0;
}

void QFlashProg::releaseGPIO(bool waitForBoot) {
    for (int pin : {CFG_nCSO_Pin, CFG_ASD0_Pin, CFG_ASD1_Pin, CFG_ASD2_Pin, CFG_ASD3_Pin, CFG_DCLK_Pin}) {
        pinMode(pin, INPUT);
    }
    digitalWrite(CFG_nCONFIG_Pin, HIGH);
    if (digitalRead(CFG_CONF_DONE_Pin) == HIGH) {
        printf(" ERROR: conf_done still high\n");
    }
    digitalWrite(CFG_nCE_Pin, LOW);
    printf("FPGA Booting....\n");
    if (waitForBoot) {
        start_timeout("QF: ", &operationTimeout_, waits_.bootMs, 0);
        while (digitalRead(CFG_CONF_DONE_Pin) == LOW && !timeout_expired(&operationTimeout_, 0, 0)) {
            delay(BOOT_POLL_MS);
            printf("wait for fpga\n");
        }
        if (digitalRead(CFG_CONF_DONE_Pin) == LOW) {
            printf("fpga reconfiguration timeout\n");
        }
    }
    printf("\nCONF_DONE = %d\n", digitalRead(CFG_CONF_DONE_Pin));
    printf("nSTATUS = %d\n", digitalRead(CFG_nSTATUS_Pin));
}

int qflashprog_main(int argc, char** argv, FlashWaits waits) {
    printf("Ostrix display FPGA configuration flash tool\n");
    printf("   qflashprog/256 Programming Utility v%d.%d\n", QFLASHPROG_VERSION_MAJOR,
           QFLASHPROG_VERSION_MINOR);
    if (argc < 2 || argc > 3) {
        return usage();
    }
    const std::string_view first = argv[1];
    char mode = 0; // 0: program and verify
    std::string filename;
    if (first.size() == 2 && first[0] == '-') {
        mode = first[1];
        const bool needsFile = mode == 'p' || mode == 'v' || mode == 'r';
        if ((mode != 'e' && !needsFile) || argc != (needsFile ? 3 : 2)) {
            return usage();
        }
        filename = needsFile ? argv[2] : "";
    } else if (argc == 2 && !first.empty() && first[0] != '-') {
        filename = argv[1];
    } else {
        return usage();
    }

    QFlashProg prog(waits);
    if (mode != 'e' && mode != 'r') {
        if (!fileExists(filename)) {
            printf(" ERROR: configfile not found\n");
            return EXIT_FAILURE_STATUS;
        }
        if (isJicName(filename)) {
            printf("Its a .jic file\n");
            prog.setJic(true);
        }
    }
    if (!prog.initialise()) {
        return EXIT_FAILURE_STATUS;
    }
    const uint8_t manufacturer = prog.identify();
    if (manufacturer == NO_FLASH_LOW || manufacturer == NO_FLASH_HIGH) {
        printf(" ERROR: no flash found\n");
        prog.releaseGPIO(false);
        return EXIT_FAILURE_STATUS;
    }
    if (mode == 'e') {
        const int result = prog.erase();
        prog.releaseGPIO(false);
        return result;
    }
    if (mode == 'r') {
        const int result = prog.readEEPROM(filename);
        prog.releaseGPIO(false);
        return result;
    }
    if (mode != 'v') {
        const int result = prog.programEEPROM(filename);
        if (result != PROGRAM_OK) {
            printf(" EEPROM programming FAILED with error %d\n", result);
            prog.releaseGPIO(false);
            return EXIT_FAILURE_STATUS;
        }
        printf(" EEPROM programming Completed Successfully\n");
        if (mode == 'p') {
            prog.releaseGPIO(true);
            return 0;
        }
    }
    const int result = prog.verifyEEPROM(filename);
    if (result == 0) {
        printf(" EEPROM Verification Completed Successfully\n");
    } else {
        printf(" EEPROM Verification FAILED with error %d\n", result);
    }
    prog.releaseGPIO(false);
    return result == 0 ? 0 : EXIT_FAILURE_STATUS;
}
