// Warp tables, rotation and display geometry of the display FPGA.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "common/logfile.h"
#include "controller/fpga/WarpTable.h"
#include "controller/fpga/fpga.h"
#include "platform/platform.h"

namespace {

constexpr float ROTATION_EPSILON = 0.001f;
constexpr int REPORTED_DIFFERENCES = 9;
constexpr const char* TEMP_LINE_FILE = "templine.txt";
constexpr const char* TEMP_PIXEL_FILE = "temppixel.txt";
constexpr uint32_t WARP_HEADROOM_MASK = 0xFF;
constexpr int WARP_FLAGS_SHIFT = 16;
constexpr uint32_t WARP_FLAGS_MASK = 0xF;

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// unzip reads a member name as a wildcard pattern: "table[1].txt" would extract
// "table1.txt" instead. Each wildcard character becomes a one-character class that
// matches only itself.
std::string literalMemberPattern(const std::string& member) {
    std::string pattern;
    for (char c : member) {
        if (c == '[' || c == '*' || c == '?') {
            pattern += '[';
            pattern += c;
            pattern += ']';
        } else {
            pattern += c;
        }
    }
    return pattern;
}

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// Loads and parses one table; 0, or the errno value / EINVAL (malformed) after logging.
int loadTable(const std::string& filename, int valuebits, int pixelsPerLine, WarpTable& table) {
    std::string text;
    if (!readWarpFile(filename, text)) {
        int error = errno;
        logprintferror("ERROR: file '%s' not found", filename.c_str());
        return error;
    }
    table = parseWarpTable(text.data(), text.size(), valuebits, pixelsPerLine);
    if (table.malformed) {
        logprintferror("F: ERROR: warp table '%s' is malformed at line %d, not loaded", filename.c_str(),
                       table.malformedLine);
        return EINVAL;
    }
    return 0;
}

} // namespace

void ostrixFpga::setWarpFileNames(const std::string& line_left, const std::string& pixel_left,
                                  const std::string& line_right, const std::string& pixel_right,
                                  const std::string& folder) {
    warp_line_filename[LEFT] = line_left;
    warp_pixel_filename[LEFT] = pixel_left;
    warp_line_filename[RIGHT] = line_right;
    warp_pixel_filename[RIGHT] = pixel_right;
    warpfolder = folder;
}

void ostrixFpga::uploadTable(const std::string& filename, const WarpTable& table, uint32_t start_address,
                             int valuebits, int channel) {
    printf("copyFileToSPI(%s) valuebits=%d\r\n", filename.c_str(), valuebits);
    if (valuebits == WARP_PIXEL_VALUEBITS) {
        printf("pixels_per_line=%d\r\n", table.pixelsPerLine);
    }
    readwriteReg32(DR_WRITE_ADDRESS_REG(channel), start_address);
    for (const auto& w : table.words) {
        writeReg128(DR_DATA_REG_0(channel), w.lanes.data());
    }
    logprintf("F: lines %04d\n", table.lines);
}

int ostrixFpga::copyFileToSPI(const std::string& filename, uint32_t start_address, int valuebits,
                              int channel) {
    if (channel > RIGHT) {
        return -1;
    }
    // The whole table is checked before the first word moves: a malformed file leaves
    // the loaded table as it was.
    WarpTable table;
    if (int error = loadTable(filename, valuebits, 0, table)) {
        return error;
    }
    uploadTable(filename, table, start_address, valuebits, channel);
    return 0;
}

int ostrixFpga::compareFileToSPI(const std::string& filename, uint32_t start_address, int valuebits,
                                 int channel) {
    if (channel > RIGHT) {
        return -1;
    }
    WarpTable table;
    if (int error = loadTable(filename, valuebits, FRAME_STORE_LINE_LEN, table)) {
        return error;
    }
    readwriteReg32(DR_READ_ADDRESS_REG(channel), start_address);
    int differences = 0;
    for (const auto& w : table.words) {
        uint32_t found[4];
        readReg128(DR_DATA_REG_0(channel), found);
        for (int i = 0; i < 4; ++i) {
            if (found[i] == w.lanes[i]) {
                continue;
            }
            if (differences < REPORTED_DIFFERENCES) {
                logprintf("Line %04d Pixel %04d i=%d Expected %08x Found %08x\n", w.line, w.pixel, i,
                          w.lanes[i], found[i]);
            }
            differences++;
        }
    }
    logprintf("F: lines %04d\n", table.lines);
    if (differences) {
        logprintf("F: Verify FAILED with %d differences\n", differences);
    } else {
        logprintf("F: Verify SUCCESS\n");
    }
    return differences;
}

int ostrixFpga::verifyWarp(int channel) {
    if (channel > RIGHT) {
        return -1;
    }
    const char* name = channel == LEFT ? "LEFT" : "RIGHT";
    std::string pixel = warpfolder + warp_pixel_filename[channel];
    std::string line = warpfolder + warp_line_filename[channel];
    logprintf("F: Verify %s Warp Pixel against '%s'\n", name, pixel.c_str());
    compareFileToSPI(pixel, PIXEL_FILE_START_ADDRESS, WARP_PIXEL_VALUEBITS, channel);
    logprintf("F: Verify %s Warp Line  against '%s'\n", name, line.c_str());
    return compareFileToSPI(line, LINE_FILE_START_ADDRESS, WARP_LINE_VALUEBITS, channel);
}

// Uploads a line and a pixel table as a pair: both are parsed first, so a bad file in
// the pair leaves both loaded tables as they were.
int ostrixFpga::uploadRotationFiles(const std::string& line_file, const std::string& pixel_file,
                                    const char* lineNote, const char* pixelNote, int channel) {
    WarpTable line, pixel;
    if (loadTable(line_file, WARP_LINE_VALUEBITS, 0, line) != 0 ||
        loadTable(pixel_file, WARP_PIXEL_VALUEBITS, 0, pixel) != 0) {
        return -1;
    }
    if (lineNote) {
        logprintf("%s", lineNote);
    }
    uploadTable(line_file, line, LINE_FILE_START_ADDRESS, WARP_LINE_VALUEBITS, channel);
    if (pixelNote) {
        logprintf("%s", pixelNote);
    }
    uploadTable(pixel_file, pixel, PIXEL_FILE_START_ADDRESS, WARP_PIXEL_VALUEBITS, channel);
    return 0;
}

// Extracts one member of the warp archive into a temporary file of the warp folder.
void ostrixFpga::extractFromZip(const std::string& member, const char* temp_name) {
    const std::string temp = warpfolder + temp_name;
    platform::shell("sudo chmod 666 " + platform::shellQuote(temp));
    int result = platform::shell("sudo unzip -p " + platform::shellQuote(warpfolder + warp_zip_filename) +
                                 " " + platform::shellQuote(literalMemberPattern(member)) + " > " +
                                 platform::shellQuote(temp));
    logprintf("F: unzip result = %d\n", result);
}

int ostrixFpga::setDisplayRotation(int channel, float degrees) {
    logprintf("F: setDisplayRotation(%1.1f)\n", degrees);
    if (channel > RIGHT) {
        return -1;
    }
    std::string line = warp_line_filename[channel];
    std::string pixel = warp_pixel_filename[channel];
    shadowWarpRotation[channel] = degrees;
    if (std::fabs(degrees) > ROTATION_EPSILON) {
        for (std::string* name : {&line, &pixel}) {
            std::string rotated;
            try {
                rotated = rotatedTableName(*name, degrees);
            } catch (const std::exception&) {
                logprintf("F: filename insert failed\n");
                return -1;
            }
            if (rotated.empty()) {
                logprintf("F: failed to find '.' in '%s'\n", name->c_str());
                return -1;
            }
            *name = rotated;
        }
    }
    logprintf("F: new rotation files '%s' and  '%s'\n", line.c_str(), pixel.c_str());
    if (line.empty() || pixel.empty()) {
        logprintf("F: zero length filename(s)\n");
        return -1;
    }
    if (fileExists(warpfolder + line) && fileExists(warpfolder + pixel)) {
        return uploadRotationFiles(warpfolder + line, warpfolder + pixel, nullptr, nullptr, channel);
    }
    logprintf("F: rotation files '%s' '%s' do not exist\n", line.c_str(), pixel.c_str());
    if (warp_zip_filename.empty() || !fileExists(warpfolder + warp_zip_filename)) {
        return -1;
    }
    logprintf("F: try unzipping line file '%s'\n", line.c_str());
    extractFromZip(line, TEMP_LINE_FILE);
    logprintf("F: try unzipping pixel file '%s'\n", pixel.c_str());
    extractFromZip(pixel, TEMP_PIXEL_FILE);
    const std::string templine = warpfolder + TEMP_LINE_FILE;
    const std::string temppixel = warpfolder + TEMP_PIXEL_FILE;
    if (fileSize(templine) <= 0 || fileSize(temppixel) <= 0) {
        logprintf("F: rotation files '%s' '%s' do not exist in zip '%s'\n", line.c_str(), pixel.c_str(),
                  warp_zip_filename.c_str());
        return -1;
    }
    if (uploadRotationFiles(templine, temppixel, "F: copy line file to SPI\n", "F: copy pixel file to SPI\n",
                            channel) != 0) {
        return -1;
    }
    logprintf("F: warp complete\n");
    return 0;
}

void ostrixFpga::initialiseWarp() {
    waitDDRInitDone();
    waitMemoryTests();
    logprintf("F: Warp DDR Checks complete\n");
}

void ostrixFpga::setDisplayShift(int channel, int pixel_offset, int line_offset) {
    if (channel > RIGHT) {
        return;
    }
    shadowWarpPixelSourceOffset[channel] = pixel_offset;
    shadowWarpLineSourceOffset[channel] = line_offset;
    readwriteReg32(WARP_PIXEL_SOURCE_OFFSET_REG(channel), static_cast<uint32_t>(pixel_offset));
    readwriteReg32(WARP_LINE_SOURCE_OFFSET_REG(channel), static_cast<uint32_t>(line_offset));
}

void ostrixFpga::setEnableWarp(int channel, bool enabled) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (channelSelected(channel, c)) {
            logprintf("F: EnableWarp[%s]=%d\n", c == LEFT ? "LEFT" : "RIGHT", enabled ? 1 : 0);
            shadowCR[c].bits.EnableWarp = enabled ? 1 : 0;
            writeControl(c);
        }
    }
}

void ostrixFpga::displayWarpDebug() {
    for (int c = LEFT; c <= RIGHT; ++c) {
        uint32_t words[WARP_STATUS_WORDS];
        for (int i = 0; i < WARP_STATUS_WORDS; ++i) {
            words[i] = readwriteReg32(static_cast<uint8_t>(WARP_STATUS_REGION(c) + i), 0);
        }
        readwriteReg32(WARP_STATUS_STROBE_REG(c), 1);
        readwriteReg32(WARP_STATUS_STROBE_REG(c), 0);
        std::string text = c == LEFT ? "Warp L Headroom " : "Warp R Headroom ";
        bool error = false;
        for (uint32_t w : words) {
            uint32_t headroom = w & WARP_HEADROOM_MASK;
            error = error || headroom < 1;
            text += std::to_string(headroom) + " ";
        }
        text += " Flags ";
        for (uint32_t w : words) {
            uint32_t flags = (w >> WARP_FLAGS_SHIFT) & WARP_FLAGS_MASK;
            error = error || flags != 0;
            text += std::to_string(flags) + " ";
        }
        if (error) {
            logprintferror("%sWarp Buffer Status Error\n", text.c_str());
        } else {
            logprintf("%s\n", text.c_str());
        }
    }
}

void ostrixFpga::alignmentmode(unsigned mode) {
    logprintf("F:alignmentmode %d\n", mode);
    switch (mode) {
    case 1:
        hideStatusIcon(icon_brightnessmode);
        icons[icon_alignmentmode].visible = true;
        break;
    case 2:
        hideStatusIcon(icon_alignmentmode);
        icons[icon_divergentmode].visible = true;
        break;
    case 3:
        hideStatusIcon(icon_divergentmode);
        icons[icon_brightnessmode].visible = true;
        break;
    default:
        hideStatusIcon(icon_alignmentmode);
        hideStatusIcon(icon_divergentmode);
        hideStatusIcon(icon_brightnessmode);
        return;
    }
    repositionIcons();
    refreshIcons();
}
