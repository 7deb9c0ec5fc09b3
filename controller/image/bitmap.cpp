// Reading uncompressed BMP files.
#include "controller/image/bitmap.h"

#include <cstdio>
#include <memory>
#include <new>
#include <sys/stat.h>

#include "common/logfile.h"

namespace {

constexpr uint32_t BF_OFF_BITS_AT = 10;
constexpr uint32_t BF_SIZE_AT = 2;
constexpr uint32_t BI_SIZE_AT = 14;
constexpr uint32_t BI_WIDTH_AT = 18;
constexpr uint32_t BI_HEIGHT_AT = 22;
constexpr uint32_t BI_PLANES_AT = 26;
constexpr uint32_t BI_BITCOUNT_AT = 28;
constexpr uint32_t BI_COMPRESSION_AT = 30;
constexpr uint32_t BI_CLRUSED_AT = 46;
constexpr uint32_t PALETTE_ENTRY_BYTES = 4;
constexpr int MAX_PALETTE_BITS = 8;
constexpr uint32_t ROW_ALIGN_BITS = 32;
constexpr int BYTE_BITS = 8;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool validDepth(uint16_t bits) {
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

// Five bits of a 5-5-5 word scaled to 16 bits.
uint16_t five(uint32_t v) {
    return static_cast<uint16_t>((v & 0x1Fu) << 11);
}

} // namespace

bitmap::bitmap() {
    logprintf("BM: Creating BitMap\n");
}

bitmap::~bitmap() {
    logprintf("BM: Disposing BitMap\n");
}

void bitmap::release() {
    std::vector<uint8_t>().swap(buffer);
    headers = BMP_HEADERS{};
    palette = palette_size = bmpimage = rowBytes = imageWidth = imageHeight = 0;
}

int bitmap::load(const std::string& filename) {
    logprintf("BM: Loading BitMap '%s'\n", filename.c_str());
    release();
    std::unique_ptr<FILE, FileCloser> file(fopen(filename.c_str(), "rb"));
    struct stat info {};
    if (!file || fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
        return BM_NOT_OPENED; // a folder or a device is no picture
    }
    if (fseek(file.get(), 0, SEEK_END) != 0) {
        return BM_SHORT_READ;
    }
    long size = ftell(file.get());
    if (size < 0) {
        return BM_SHORT_READ;
    }
    if (size == 0) {
        return BM_EMPTY;
    }
    if (static_cast<uint64_t>(size) > BMP_MAX_FILE_SIZE) {
        return BM_NO_MEMORY;
    }
    rewind(file.get());
    try {
        buffer.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        release();
        return BM_NO_MEMORY;
    }
    if (fread(buffer.data(), 1, buffer.size(), file.get()) != buffer.size()) {
        release();
        return BM_SHORT_READ;
    }
    int result = parse();
    if (result != BM_OK) {
        release();
    }
    return result;
}

// Reads the headers and checks that the palette and every row lie inside the file.
int bitmap::parse() {
    const uint64_t size = buffer.size();
    const uint8_t* b = buffer.data();
    if (size < 2 || b[0] != 'B' || b[1] != 'M') {
        return BM_NOT_BMP;
    }
    if (size < BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE) {
        return BM_BAD_HEADER;
    }
    headers.bfSize = le32(b + BF_SIZE_AT);
    headers.bfOffBits = le32(b + BF_OFF_BITS_AT);
    headers.biSize = le32(b + BI_SIZE_AT);
    headers.biWidth = static_cast<int32_t>(le32(b + BI_WIDTH_AT));
    headers.biHeight = static_cast<int32_t>(le32(b + BI_HEIGHT_AT));
    headers.biPlanes = le16(b + BI_PLANES_AT);
    headers.biBitCount = le16(b + BI_BITCOUNT_AT);
    headers.biCompression = le32(b + BI_COMPRESSION_AT);
    headers.biClrUsed = le32(b + BI_CLRUSED_AT);

    if (headers.biCompression != BI_RGB) {
        return BM_COMPRESSED;
    }
    const uint64_t infoEnd = uint64_t(BMP_FILE_HEADER_SIZE) + headers.biSize;
    if (headers.biSize < BMP_INFO_HEADER_SIZE || infoEnd > size || !validDepth(headers.biBitCount) ||
        headers.biWidth <= 0 || headers.biHeight == 0 || headers.biHeight == INT32_MIN) {
        return BM_BAD_HEADER;
    }
    imageWidth = static_cast<uint32_t>(headers.biWidth);
    imageHeight = static_cast<uint32_t>(headers.biHeight < 0 ? -headers.biHeight : headers.biHeight);

    // The palette follows the info header, whatever that header's size.
    palette = static_cast<uint32_t>(infoEnd);
    palette_size = 0;
    uint64_t pixelsFrom = infoEnd;
    if (headers.biBitCount <= MAX_PALETTE_BITS) {
        palette_size = headers.biClrUsed ? headers.biClrUsed : (1u << headers.biBitCount);
        pixelsFrom += uint64_t(palette_size) * PALETTE_ENTRY_BYTES;
        if (pixelsFrom > size) {
            return BM_BAD_HEADER;
        }
    }
    const uint64_t stride = (uint64_t(imageWidth) * headers.biBitCount + ROW_ALIGN_BITS - 1) /
                            ROW_ALIGN_BITS * (ROW_ALIGN_BITS / BYTE_BITS);
    if (headers.bfOffBits < pixelsFrom || headers.bfOffBits + stride * imageHeight > size) {
        return BM_BAD_HEADER;
    }
    bmpimage = headers.bfOffBits;
    rowBytes = static_cast<uint32_t>(stride);
    return BM_OK;
}

uint32_t bitmap::width() const {
    logprintf("BM: BitMap width %d\n", static_cast<int>(imageWidth));
    return imageWidth;
}

uint32_t bitmap::height() const {
    logprintf("BM: BitMap height %d\n", static_cast<int>(imageHeight));
    return imageHeight;
}

pixel bitmap::paletteColour(uint32_t index) const {
    pixel p;
    if (index < palette_size) {
        const uint8_t* e = buffer.data() + palette + size_t(index) * PALETTE_ENTRY_BYTES;
        p.set_rgb(e[2], e[1], e[0]); // blue, green, red, reserved
    }
    return p;
}

pixel bitmap::pixelColour(unsigned x, unsigned y) const {
    pixel p;
    if (buffer.empty() || x >= imageWidth || y >= imageHeight) {
        return p;
    }
    const uint8_t* row = buffer.data() + bmpimage + size_t(y) * rowBytes;
    switch (headers.biBitCount) {
    case 1:
        return paletteColour((row[x / 8] >> (7 - x % 8)) & 0x1u);
    case 2:
        return paletteColour((row[x / 4] >> (6 - 2 * (x % 4))) & 0x3u);
    case 4:
        return paletteColour((x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2]) & 0xFu);
    case 8:
        return paletteColour(row[x]);
    case 16: {
        uint32_t v = le16(row + 2 * size_t(x)); // 5-5-5, top bit unused
        p.set_rgb(five(v >> 10), five(v >> 5), five(v));
        return p;
    }
    case 24: {
        const uint8_t* q = row + 3 * size_t(x);
        p.set_rgb(q[2], q[1], q[0]);
        return p;
    }
    case 32: {
        const uint8_t* q = row + 4 * size_t(x);
        p.set_rgb(q[2], q[1], q[0]);
        return p;
    }
    default:
        return p;
    }
}

void bitmap::getline(unsigned linenum, pixel* out) const {
    getline(linenum, out, imageWidth);
}

void bitmap::getline(unsigned linenum, pixel* out, unsigned count) const {
    for (unsigned x = 0; x < count; ++x) {
        out[x] = pixelColour(x, linenum);
    }
}
