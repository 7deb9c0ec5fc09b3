#include "tools/spiload/spiload.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "platform/wiringPi.h"

namespace {

constexpr int SPI_CHANNEL = 0;
constexpr int SPI_SPEED_HZ = 10000000;
constexpr int REG32_TRANSFER = 5;
constexpr int BYTE_BITS = 8;
constexpr int WORD_BYTES = 4;

// Data-port registers of the left channel; the right channel's bank adds 0x80.
constexpr uint8_t DR_WRITE_ADDRESS_REG = 0x10;
constexpr uint8_t DR_DATA_REG_0 = 0x14;
constexpr uint8_t RIGHT_BANK = 0x80;
constexpr int DATA_REGISTERS = 4;

constexpr int EXIT_USAGE = -1;
constexpr int EXIT_LOAD_FAILED = -2;
constexpr int EXIT_MALFORMED_TABLE = 1;

void banner() {
    printf("Ostrix display FPGA warp table loader\n");
    printf("     Spiload v%d.%d\n", SPILOAD_VERSION_MAJOR, SPILOAD_VERSION_MINOR);
}

int usage() {
    banner();
    printf("Useage: spiload -L <line_file> <pixel_file\n");
    printf("        spiload -R <line_file> <pixel_file\n");
    printf("        spiload -a <reg_address_8bit> [<reg_data_32bit>]\n");
    return EXIT_USAGE;
}

// A 32-bit number with base detection (decimal, 0x hexadecimal, leading-0 octal).
bool parseWord(const char* text, uint32_t& value) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = strtoull(text, &end, 0);
    if (errno || end == text || *end != '\0' || v > UINT32_MAX || text[0] == '-') {
        return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

bool readable(const char* path) {
    FILE* f = fopen(path, "r");
    if (!f) {
        return false;
    }
    fclose(f);
    return true;
}

int openSpi() {
    const int fd = wiringPiSPISetup(SPI_CHANNEL, SPI_SPEED_HZ);
    if (fd < 0) {
        printf(" ERROR: err %d setting up SPI Channel %d\n", errno, SPI_CHANNEL);
    }
    return fd;
}

// One 5-byte register transfer; returns the word the FPGA shifted out.
uint32_t readwriteReg32(uint8_t address, uint32_t data) {
    unsigned char buffer[REG32_TRANSFER];
    buffer[0] = address;
    for (int i = 0; i < WORD_BYTES; ++i) {
        buffer[1 + i] = static_cast<unsigned char>(data >> (BYTE_BITS * (WORD_BYTES - 1 - i)));
    }
    wiringPiSPIDataRW(SPI_CHANNEL, buffer, REG32_TRANSFER);
    uint32_t out = 0;
    for (int i = 0; i < WORD_BYTES; ++i) {
        out = (out << BYTE_BITS) | buffer[1 + i];
    }
    return out;
}

int registerTransfer(int argc, char** argv) {
    uint32_t address = 0;
    uint32_t data = 0;
    if (argc > 4 || !parseWord(argv[2], address) || (argc == 4 && !parseWord(argv[3], data))) {
        return usage();
    }
    if (openSpi() < 0) {
        return EXIT_USAGE;
    }
    const uint8_t reg = static_cast<uint8_t>(address);
    printf("Address = 0x%02x, Data = 0x%08x\n", unsigned(reg), unsigned(data));
    printf("0x%08x\n", unsigned(readwriteReg32(reg, data)));
    return 0;
}

int commasOfFirstLine(const std::string& text) {
    int commas = 0;
    for (char c : text) {
        if (c == '\n') {
            break;
        }
        commas += c == ',';
    }
    return commas;
}

// Sends the table word by word: the word's address, then its four data registers.
void sendTable(const WarpTable& table, uint32_t startAddress, uint8_t bank) {
    uint32_t address = startAddress;
    for (const WarpTable::Word& w : table.words) {
        readwriteReg32(bank | DR_WRITE_ADDRESS_REG, address++);
        for (int i = 0; i < DATA_REGISTERS; ++i) {
            readwriteReg32(static_cast<uint8_t>(bank | (DR_DATA_REG_0 + i)), w.lanes[i]);
        }
    }
    const WarpTable::Word last =
        table.words.empty() ? WarpTable::Word{{0, 0, 0, 0}, 0, 0} : table.words.back();
    printf("%04d: %d,%d,%d,%d\n", table.lines, int(last.lanes[0]), int(last.lanes[1]), int(last.lanes[2]),
           int(last.lanes[3]));
}

int loadTables(char side, const char* lineFile, const char* pixelFile) {
    banner();
    if (!readable(lineFile)) {
        const int error = errno;
        printf(" ERROR: line_file not found\n");
        return error;
    }
    if (!readable(pixelFile)) {
        const int error = errno;
        printf(" ERROR: pixel_file not found\n");
        return error;
    }
    if (openSpi() < 0) {
        return EXIT_USAGE;
    }
    // Both tables are read whole before the first word moves: a malformed table leaves
    // the FPGA's tables as they were.
    WarpTable lines;
    WarpTable pixels;
    for (auto [file, bits, table] : {std::tuple{lineFile, WARP_LINE_VALUEBITS, &lines},
                                     std::tuple{pixelFile, WARP_PIXEL_VALUEBITS, &pixels}}) {
        if (readSpiloadTable(file, bits, *table) != 0) {
            return table->malformed ? EXIT_MALFORMED_TABLE : EXIT_LOAD_FAILED;
        }
    }
    const uint8_t bank = side == 'R' ? RIGHT_BANK : 0;
    sendTable(lines, LINE_FILE_START_ADDRESS, bank);
    sendTable(pixels, PIXEL_FILE_START_ADDRESS, bank);
    return 0;
}

} // namespace

int readSpiloadTable(const std::string& filename, int valuebits, WarpTable& table) {
    printf("copyFileToSPI(%s) valuebits=%d\r\n", filename.c_str(), valuebits);
    std::string text;
    if (!readWarpFile(filename, text)) {
        const int error = errno;
        printf(" ERROR: file not found\n");
        return error ? error : ENOENT;
    }
    table = parseWarpTable(text.data(), text.size(), valuebits);
    if (valuebits == WARP_PIXEL_VALUEBITS) {
        printf("commas=%d, pixels_per_line=%d\r\n", commasOfFirstLine(text), table.pixelsPerLine);
    }
    if (table.malformed) {
        printf(" ERROR: table %s is malformed at line %d, nothing loaded\n", filename.c_str(),
               table.malformedLine);
        return EXIT_MALFORMED_TABLE;
    }
    return 0;
}

int spiload_main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string_view mode = argv[1];
    if (mode == "-a") {
        return registerTransfer(argc, argv);
    }
    if ((mode == "-L" || mode == "-R") && argc == 4) {
        return loadTables(mode[1], argv[2], argv[3]);
    }
    return usage();
}
