// BMP decoding for the stored pictures a user brings on a USB stick. The headers are read
// byte by byte, little-endian; every size and offset is checked against the file before
// anything is allocated or read.
#include "gui/image/image.h"

#include <fstream>
#include <iterator>
#include <new>
#include <vector>

#include "gui/app/guiprint.h"

namespace Ostrix {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kOffBitsAt = 10;
constexpr size_t kInfoSizeAt = 14;
constexpr size_t kWidthAt = 18;
constexpr size_t kHeightAt = 22;
constexpr size_t kBitCountAt = 28;
constexpr size_t kCompressionAt = 30;
constexpr size_t kColoursUsedAt = 46;
constexpr uint32_t kMinInfoSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kPaletteEntrySize = 4;
constexpr uint32_t kRowAlignment = 4;
constexpr uint32_t kOpaque = 0xFF000000;
constexpr uint32_t kFiveBits = 0x1F;
// The file size we read at most: the largest picture at 32 bits per pixel and its headers.
constexpr size_t kMaxFileSize = size_t(ImageFileBMP::kMaxDimension) * ImageFileBMP::kMaxDimension * 4 + 4096;

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return kOpaque | r << 16 | g << 8 | b;
}
// 5-bit channel to 8 bits, so that 31 gives 255.
uint32_t widen5(uint32_t v) {
    return (v << 3) | (v >> 2);
}

struct Layout {
    uint32_t width;
    uint32_t height;
    bool topDown;
    uint32_t bits;
    uint32_t offBits;
    uint32_t rowBytes;
    size_t paletteAt;
    uint32_t paletteEntries;
};

bool refuse(const char* reason) {
    guiPrint("GUI: BMP picture refused: %s", reason);
    return false;
}

bool readLayout(const uint8_t* data, size_t size, Layout& l) {
    if (size < kFileHeaderSize + kMinInfoSize || data[0] != 'B' || data[1] != 'M') {
        return refuse("not a BMP file");
    }
    const uint32_t infoSize = le32(data + kInfoSizeAt);
    const int32_t width = int32_t(le32(data + kWidthAt));
    const int32_t height = int32_t(le32(data + kHeightAt));
    l.bits = le16(data + kBitCountAt);
    l.offBits = le32(data + kOffBitsAt);
    if (infoSize < kMinInfoSize || infoSize > size - kFileHeaderSize) {
        return refuse("bad header size");
    }
    if (le32(data + kCompressionAt) != kBiRgb) {
        return refuse("compressed");
    }
    if (width <= 0 || height == 0 || height == INT32_MIN || uint32_t(width) > ImageFileBMP::kMaxDimension ||
        uint32_t(height < 0 ? -height : height) > ImageFileBMP::kMaxDimension) {
        return refuse("bad size");
    }
    l.width = uint32_t(width);
    l.topDown = height < 0;
    l.height = uint32_t(height < 0 ? -height : height);
    if (l.bits != 1 && l.bits != 4 && l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32) {
        return refuse("unsupported bits per pixel");
    }
    const uint64_t rowBits = uint64_t(l.width) * l.bits;
    l.rowBytes = uint32_t((rowBits + 8 * kRowAlignment - 1) / (8 * kRowAlignment) * kRowAlignment);
    if (l.offBits > size || uint64_t(l.rowBytes) * l.height > size - l.offBits) {
        return refuse("pixels outside the file");
    }
    // The palette follows the info header, whatever its size.
    l.paletteAt = kFileHeaderSize + infoSize;
    l.paletteEntries = 0;
    if (l.bits <= 8) {
        const uint32_t used = le32(data + kColoursUsedAt);
        const uint32_t full = 1u << l.bits;
        l.paletteEntries = used == 0 || used > full ? full : used;
        if (l.paletteAt + size_t(l.paletteEntries) * kPaletteEntrySize > l.offBits) {
            return refuse("palette outside the file");
        }
    }
    return true;
}

uint32_t pixelAt(const uint8_t* row, uint32_t x, const Layout& l, const uint8_t* palette) {
    switch (l.bits) {
    case 32:
    case 24: {
        const uint8_t* p = row + size_t(x) * (l.bits / 8);
        return rgb(p[2], p[1], p[0]);
    }
    case 16: {
        const uint32_t v = le16(row + size_t(x) * 2);
        return rgb(widen5(v >> 10 & kFiveBits), widen5(v >> 5 & kFiveBits), widen5(v & kFiveBits));
    }
    default: {
        const uint32_t perByte = 8 / l.bits;
        const uint32_t shift = 8 - l.bits * (x % perByte + 1);
        const uint32_t index = (row[x / perByte] >> shift) & ((1u << l.bits) - 1);
        if (index >= l.paletteEntries) {
            return rgb(0, 0, 0);
        }
        const uint8_t* e = palette + size_t(index) * kPaletteEntrySize;
        return rgb(e[2], e[1], e[0]);
    }
    }
}

} // namespace

bool ImageFileBMP::decode(const uint8_t* data, size_t size) {
    Layout l{};
    if (data == nullptr || !readLayout(data, size, l)) {
        return false;
    }
    std::vector<uint32_t> pixels;
    try {
        pixels.resize(size_t(l.width) * l.height);
    } catch (const std::bad_alloc&) {
        return refuse("out of memory");
    }
    for (uint32_t y = 0; y < l.height; ++y) {
        // Rows are stored bottom row first unless the height is negative.
        const uint32_t fileRow = l.topDown ? y : l.height - 1 - y;
        const uint8_t* row = data + l.offBits + size_t(fileRow) * l.rowBytes;
        for (uint32_t x = 0; x < l.width; ++x) {
            pixels[size_t(y) * l.width + x] = pixelAt(row, x, l, data + l.paletteAt);
        }
    }
    mBuf = std::move(pixels);
    mWidth = l.width;
    mHeight = l.height;
    return true;
}

bool ImageFileBMP::load(const char* filename) {
    std::ifstream in(filename, std::ios::binary | std::ios::ate);
    if (!in) {
        return refuse("cannot open the file");
    }
    const std::streamoff size = in.tellg();
    if (size <= 0 || size_t(size) > kMaxFileSize) {
        return refuse("bad file size");
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        return refuse("out of memory");
    }
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        return refuse("short read");
    }
    return decode(bytes.data(), bytes.size());
}

} // namespace Ostrix
