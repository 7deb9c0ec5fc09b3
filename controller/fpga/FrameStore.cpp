// Frame store capture and stored-image display of the display FPGA: freezing the store,
// reading it out over SPI into PNG or BMP files, and writing pictures back into it.
// Captures stream the store line by line into the file, so a capture holds one line,
// never the whole picture, and encoding overlaps the reading.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/logfile.h"
#include "controller/core/OstrixPi.h"
#include "controller/fpga/FramePng.h"
#include "controller/fpga/fpga.h"
#include "controller/image/bitmap.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned FREEZE_INPUT_ENABLE = 14; // buffer 0 stops taking video
constexpr unsigned FREEZE_OUTPUT_ENABLE = 1; // and is the only one shown
constexpr unsigned FRAME_STORE_RUNNING = 15;
constexpr uint32_t LINE_ADDRESS_STEP = FRAME_STORE_LINE_BOUNDARY / 4; // 512 words of four pixels
constexpr int RGB_BYTES = 3;
constexpr int STEREO_WIDTH = 2 * FRAME_STORE_LINE_LEN;
constexpr uint32_t BMP_HEADER_BYTES = 14;
constexpr uint32_t BMP_INFO_BYTES = 40;
constexpr uint16_t BMP_BITS_PER_PIXEL = 24;
constexpr int DIAGNOSTIC_LINE = 10;
constexpr int DIAGNOSTIC_WORDS = 50;
constexpr int64_t NS_PER_SECOND = 1000000000;
constexpr int64_t NS_PER_US = 1000;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

uint32_t lineAddress(int line) {
    return LINE_ADDRESS_STEP * static_cast<uint32_t>(line);
}

bool validChannel(int channel) {
    return channel == LEFT || channel == RIGHT || channel == LEFTandRIGHT;
}

int captureWidth(int channel) {
    return channel == LEFTandRIGHT ? STEREO_WIDTH : FRAME_STORE_LINE_LEN;
}

// Captured files keep 8 bits per colour: the top bits of each 10:11:11 component.
uint8_t wordRed(uint32_t w) {
    return static_cast<uint8_t>(w >> 24);
}
uint8_t wordGreen(uint32_t w) {
    return static_cast<uint8_t>(w >> 14);
}
uint8_t wordBlue(uint32_t w) {
    return static_cast<uint8_t>(w >> 3);
}

// The 10:11:11 word of an 8-bit colour, as pixel::set_rgb then rgb32 give it.
uint32_t storeWord(uint8_t r, uint8_t g, uint8_t b) {
    pixel p;
    p.set_rgb(r, g, b);
    return p.rgb32();
}

long long milliseconds(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

template <typename T> bool allocate(std::vector<T>& v, size_t n) {
    try {
        v.assign(n, T{});
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

const char* eyeName(int channel) {
    switch (channel) {
    case LEFT:
        return "left";
    case RIGHT:
        return "right";
    default:
        return "left and right, side by side";
    }
}

std::string captureTime() {
    char text[64];
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return text;
}

void logLineWords(int line, const uint32_t* words) {
    std::string text;
    char word[16];
    for (int i = 0; i < DIAGNOSTIC_WORDS; ++i) {
        snprintf(word, sizeof word, "%08x ", words[i]);
        text += word;
    }
    logprintf("Line %d data\n", line);
    logprintf("%s\n", text.c_str());
}

} // namespace

void ostrixFpga::freezeFrame(unsigned freeze) {
    if (freeze) {
        logprintf("F: FreezeFrame\n");
        frameStoreInputEnable(FREEZE_INPUT_ENABLE);
        frameStoreOutputEnable(FREEZE_OUTPUT_ENABLE);
    } else {
        logprintf("F: UnFreezeFrame\n");
        frameStoreInputEnable(FRAME_STORE_RUNNING);
        frameStoreOutputEnable(FRAME_STORE_RUNNING);
    }
}

// The magnifier icon shows while zoom is on.
void ostrixFpga::digitalZoom(unsigned enable) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        shadowCR[c].bits.DigitalZoomEnable = enable ? 1 : 0;
    }
    writeBothControls();
    if (!enable) {
        hideStatusIcon(icon_magnifier);
        return;
    }
    icons[icon_magnifier].visible = true;
    repositionIcons();
    refreshIcons();
}

// One store line of the selected eye, or the left line followed by the right one.
void ostrixFpga::readStoreLine(int channel, int line, uint32_t* words) {
    if (channel == LEFTandRIGHT) {
        readVideoLine(LEFT, lineAddress(line), line, words);
        readVideoLine(RIGHT, lineAddress(line), line, words + FRAME_STORE_LINE_LEN);
    } else {
        readVideoLine(channel, lineAddress(line), line, words);
    }
}

void ostrixFpga::writeStoreLine(int channel, int line, const uint32_t* words) {
    readwriteReg32(DR_WRITE_ADDRESS_REG(channel), lineAddress(line));
    writeVideoLineWords(channel, words);
}

int ostrixFpga::frameStoreToPNG(int channel, const std::string& filename) {
    logprintf("F: frameStoreToPNG(%s)\n", filename.c_str());
    if (!validChannel(channel)) {
        logprintferror("F: ERROR: no frame store for channel %d", channel);
        return -1;
    }
    const int width = captureWidth(channel);
    logprintf("F: PNG - width %d height %d\n", width, FRAME_STORE_MAX_LINE);
    std::vector<uint32_t> words;
    std::vector<uint8_t> row;
    if (!allocate(words, width) || !allocate(row, size_t(width) * RGB_BYTES)) {
        logprintferror("F: ERROR: failed to allocate buffer of size %d", width * RGB_BYTES);
        return -1;
    }
    platform::shell("sudo chmod 666 " + platform::shellQuote(filename));
    logprintf("F: attempt to write PNG file '%s'\n", filename.c_str());
    FilePtr file(fopen(filename.c_str(), "wb"));
    if (!file) {
        logprintferror("F: ERROR: failed to open file '%s'", filename.c_str());
        return -1;
    }

    PngText text = {
        {"Software", "OstrixPi " + std::to_string(MAJORVERSION) + "." + std::to_string(MINORVERSION)},
        {"Creation Time", captureTime()},
        {"Comment", std::string("Eye: ") + eyeName(channel) +
                        "\nFPGA version: " + std::to_string(fpga_version) + "\n" + captureNotes}};
    PngRowWriter writer(file.get(), width, FRAME_STORE_MAX_LINE, png_compression, std::move(text));
    Clock::duration spiTime{}, encodeTime{};
    int code = writer.begin();
    for (int y = 0; y < FRAME_STORE_MAX_LINE && code == PNG_WRITE_OK; ++y) {
        const auto t0 = Clock::now();
        readStoreLine(channel, y, words.data());
        const auto t1 = Clock::now();
        uint8_t* out = row.data();
        for (int x = 0; x < width; ++x, out += RGB_BYTES) {
            out[0] = wordRed(words[x]);
            out[1] = wordGreen(words[x]);
            out[2] = wordBlue(words[x]);
        }
        code = writer.writeRow(row.data());
        spiTime += t1 - t0;
        encodeTime += Clock::now() - t1;
    }
    if (code == PNG_WRITE_OK) {
        code = writer.finish();
    }
    if (fclose(file.release()) != 0 && code == PNG_WRITE_OK) {
        code = PNG_WRITE_LIBPNG_ERROR;
    }
    logprintf("MAIN: It took %lld milliseconds to perform SPI read.\n", milliseconds(spiTime));
    if (code != PNG_WRITE_OK) {
        logprintferror("F: ERROR: Failed to write PNG file with code %d", code);
        std::remove(filename.c_str()); // no half-written picture is left to be copied
    } else {
        logprintfgreen("F: Written PNG file");
    }
    logprintf("MAIN: It took %lld milliseconds to write PNG locally.\n", milliseconds(encodeTime));
    return code == PNG_WRITE_OK ? 0 : -1;
}

int ostrixFpga::frameStoreToBMP(int channel, const std::string& filename) {
    uint8_t header[BMP_HEADER_BYTES] = {};
    uint8_t info[BMP_INFO_BYTES] = {};
    logprintf("F: HorizInvert %d VertInvert %d\n", iHorizontalInvert, iVerticalInvert);
    logprintf("F: Header @ %p size %d, Info @ %p size %d\n", static_cast<void*>(header),
              static_cast<int>(BMP_HEADER_BYTES), static_cast<void*>(info), static_cast<int>(BMP_INFO_BYTES));
    if (!validChannel(channel)) {
        logprintferror("F: ERROR: no frame store for channel %d", channel);
        return -1;
    }
    const int width = captureWidth(channel);
    const uint32_t rowBytes = uint32_t(width) * RGB_BYTES; // a multiple of four: no padding
    const uint32_t pixelBytes = rowBytes * FRAME_STORE_MAX_LINE;
    header[0] = 'B';
    header[1] = 'M';
    putLe32(header + 2, pixelBytes + BMP_HEADER_BYTES + BMP_INFO_BYTES);
    putLe32(header + 10, BMP_HEADER_BYTES + BMP_INFO_BYTES);
    putLe32(info + 0, BMP_INFO_BYTES);
    putLe32(info + 4, static_cast<uint32_t>(width));
    putLe32(info + 8, FRAME_STORE_MAX_LINE);
    putLe16(info + 12, 1);
    putLe16(info + 14, BMP_BITS_PER_PIXEL);

    std::vector<uint32_t> words;
    std::vector<uint8_t> row;
    if (!allocate(words, width) || !allocate(row, rowBytes)) {
        logprintferror("F: ERROR: failed to allocate buffer of size %d", static_cast<int>(rowBytes));
        return -1;
    }
    logprintf("F: BMP - width %d height %d\n", width, FRAME_STORE_MAX_LINE);
    FilePtr file(fopen(filename.c_str(), "wb"));
    if (!file) {
        logprintferror("F: ERROR: failed to open file '%s'", filename.c_str());
        return -1;
    }
    bool written = fwrite(header, 1, sizeof header, file.get()) == sizeof header &&
                   fwrite(info, 1, sizeof info, file.get()) == sizeof info;
    const int halves = width / FRAME_STORE_LINE_LEN;
    for (int i = 0; i < FRAME_STORE_MAX_LINE && written; ++i) {
        const int line = iVerticalInvert ? FRAME_STORE_MAX_LINE - 1 - i : i;
        readStoreLine(channel, line, words.data());
        if (line == DIAGNOSTIC_LINE) {
            logLineWords(line, words.data());
        }
        uint8_t* out = row.data();
        for (int h = 0; h < halves; ++h) {
            const uint32_t* half = words.data() + h * FRAME_STORE_LINE_LEN;
            for (int j = 0; j < FRAME_STORE_LINE_LEN; ++j, out += RGB_BYTES) {
                const uint32_t w = half[iHorizontalInvert ? FRAME_STORE_LINE_LEN - 1 - j : j];
                out[0] = wordBlue(w);
                out[1] = wordGreen(w);
                out[2] = wordRed(w);
            }
        }
        written = fwrite(row.data(), 1, rowBytes, file.get()) == rowBytes;
    }
    if (fclose(file.release()) != 0) {
        written = false;
    }
    if (!written) {
        logprintferror("F: ERROR: failed to write file '%s'", filename.c_str());
        std::remove(filename.c_str());
        return -1;
    }
    return 0;
}

int ostrixFpga::frameStoreDisplayPNG(int channel, const std::string& filename) {
    const auto start = Clock::now();
    if (!validChannel(channel)) {
        logprintferror("F: ERROR: no frame store for channel %d", channel);
        return -1;
    }
    StoreImage image;
    if (readStoreImagePNG(filename, image) != 0) {
        return -1;
    }
    std::vector<uint32_t> words(FRAME_STORE_LINE_LEN);
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (!channelSelected(channel, c)) {
            continue;
        }
        uint32_t offset = 0;
        if (channel == LEFTandRIGHT) {
            logprintf("Loop %d\n", c);
            if (c == RIGHT && image.width == STEREO_WIDTH) {
                logprintf("Add offset for Right hand picture\n");
                offset = FRAME_STORE_LINE_LEN;
            }
        }
        for (int y = 0; y < FRAME_STORE_MAX_LINE; ++y) {
            const uint8_t* in = image.rgb.data() + (size_t(y) * image.width + offset) * RGB_BYTES;
            for (int x = 0; x < FRAME_STORE_LINE_LEN; ++x, in += RGB_BYTES) {
                words[x] = storeWord(in[0], in[1], in[2]);
            }
            writeStoreLine(c, y, words.data());
        }
    }
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    logprintf("F: Frame Store write took %ld.%06ld sec\n", static_cast<long>(ns / NS_PER_SECOND),
              static_cast<long>(ns % NS_PER_SECOND / NS_PER_US));
    return 0;
}

namespace {

// The load results and what each tells the user.
const char* bitmapLoadMessage(int code) {
    switch (code) {
    case BM_NOT_OPENED:
        return "F: ERROR: bmp image '%s' not found";
    case BM_EMPTY:
        return "F: ERROR: bmp image '%s' has zero size";
    case BM_NO_MEMORY:
        return "F: ERROR: bmp image '%s' memory Error";
    case BM_SHORT_READ:
        return "F: ERROR: bmp image '%s' read error";
    case BM_NOT_BMP:
        return "F: ERROR: bmp image '%s' not a BMP file";
    case BM_COMPRESSED:
        return "F: ERROR: bmp image '%s' is compressed and not handled";
    default:
        return "F: ERROR: bmp image '%s' has an invalid header";
    }
}

} // namespace

// Rows and pixels go back to the store in the order the capture took them, so that a
// picture captured with either orientation setting is shown as it was.
int ostrixFpga::frameStoreDisplayBMP(int channel, const std::string& filename) {
    if (!validChannel(channel)) {
        logprintferror("F: ERROR: no frame store for channel %d", channel);
        return -1;
    }
    bitmap image;
    const int code = image.load(filename);
    if (code != BM_OK) {
        logprintferror(bitmapLoadMessage(code), filename.c_str());
        return -1;
    }
    const uint32_t width = image.width();
    const uint32_t height = image.height();
    logprintf(channel == LEFTandRIGHT ? "Stereo image %dx%d\n" : "Single image %dx%d\n",
              static_cast<int>(width), static_cast<int>(height));
    const int rows = static_cast<int>(std::min<uint32_t>(height, FRAME_STORE_MAX_LINE));
    std::vector<pixel> source(STEREO_WIDTH);
    std::vector<uint32_t> words(FRAME_STORE_LINE_LEN);
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (!channelSelected(channel, c)) {
            continue;
        }
        // A side-by-side picture gives each eye its half; a narrower one is shown on both.
        const int offset = channel == LEFTandRIGHT && c == RIGHT && width >= uint32_t(STEREO_WIDTH)
                               ? FRAME_STORE_LINE_LEN
                               : 0;
        for (int y = 0; y < rows; ++y) {
            image.getline(static_cast<unsigned>(y), source.data(), STEREO_WIDTH);
            for (int x = 0; x < FRAME_STORE_LINE_LEN; ++x) {
                const int from = iHorizontalInvert ? FRAME_STORE_LINE_LEN - 1 - x : x;
                words[x] = source[offset + from].rgb32();
            }
            writeStoreLine(c, iVerticalInvert ? FRAME_STORE_MAX_LINE - 1 - y : y, words.data());
        }
    }
    return 0;
}
