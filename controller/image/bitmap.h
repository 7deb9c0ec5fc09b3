// An uncompressed Windows BMP file read into memory, its pixels handed out as `pixel`
// values. Headers are read field by field, little-endian, and every offset and size they
// give is checked against the file before it is used: a picture from a stick can be
// anything, and a header that lies is refused instead of being read past its end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controller/image/pixel.h"

// Compression codes of the info header; only BI_RGB is read.
enum BM_COMPRESSION_METHOD : uint32_t {
    BI_RGB = 0,
    BI_RLE8 = 1,
    BI_RLE4 = 2,
    BI_BITFILEDS = 3,
    BI_JPEG = 4,
    BI_PNG = 5,
    BI_ALPHABITFIELDS = 6,
    BI_CMYK = 11,
    BI_CMYKRLE8 = 12,
    BI_CMYKRLE4 = 13
};

// load() results.
constexpr int BM_OK = 0;
constexpr int BM_NOT_OPENED = -1;
constexpr int BM_EMPTY = -2;
constexpr int BM_NO_MEMORY = -3;
constexpr int BM_SHORT_READ = -4;
constexpr int BM_NOT_BMP = -5;
constexpr int BM_COMPRESSED = -6;
constexpr int BM_BAD_HEADER = -7; // sizes, offsets, palette or depth outside the file

constexpr uint32_t BMP_FILE_HEADER_SIZE = 14;
constexpr uint32_t BMP_INFO_HEADER_SIZE = 40;
// Larger than any picture this system shows (3840 x 1080 at 32 bits is under 17 MB); a
// bigger file is refused before anything is allocated for it.
constexpr uint64_t BMP_MAX_FILE_SIZE = 64u << 20;

// The header fields this reader uses, as read from the file.
struct BMP_HEADERS {
    uint32_t bfSize = 0;
    uint32_t bfOffBits = 0;
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0; // negative: rows stored top first
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biClrUsed = 0;
};

class bitmap {
public:
    bitmap();
    ~bitmap();
    bitmap(const bitmap&) = delete;
    bitmap& operator=(const bitmap&) = delete;

    int load(const std::string& filename);
    uint32_t width() const;
    uint32_t height() const;
    uint16_t bitCount() const { return headers.biBitCount; }
    bool loaded() const { return !buffer.empty(); }

    // Pixel at column x of stored row y (rows in file order); black outside the picture
    // or with nothing loaded.
    pixel pixelColour(unsigned x, unsigned y) const;
    // Fills the first width() entries of `out` with stored row `linenum`.
    void getline(unsigned linenum, pixel* out) const;
    // Fills `count` entries: the row's pixels, then black where the row is shorter.
    void getline(unsigned linenum, pixel* out, unsigned count) const;

private:
    void release();
    int parse();
    pixel paletteColour(uint32_t index) const;

    std::vector<uint8_t> buffer; // the whole file
    BMP_HEADERS headers;
    uint32_t palette = 0; // offset of the palette in the buffer
    uint32_t palette_size = 0;
    uint32_t bmpimage = 0; // offset of the pixel array
    uint32_t rowBytes = 0; // stored row length, padded to four bytes
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
};
