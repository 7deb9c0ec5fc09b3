// BMP files for the GUI's picture tests, built byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct BmpFile {
    int32_t width = 2;
    int32_t height = 2; // negative: top row first
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t infoSize = 40;
    std::vector<uint8_t> palette;   // B, G, R, 0 per entry
    std::vector<uint8_t> pixelData; // rows as stored, padding included
    int64_t offBitsAdjust = 0;

    static void put16(std::string& s, uint32_t v) {
        s += char(v & 0xFF);
        s += char(v >> 8 & 0xFF);
    }
    static void put32(std::string& s, uint32_t v) {
        put16(s, v & 0xFFFF);
        put16(s, v >> 16);
    }
    std::string bytes() const {
        const uint32_t offBits = uint32_t(14 + infoSize + palette.size() + offBitsAdjust);
        std::string s = "BM";
        put32(s, uint32_t(offBits + pixelData.size()));
        put32(s, 0);
        put32(s, offBits);
        put32(s, infoSize);
        put32(s, uint32_t(width));
        put32(s, uint32_t(height));
        put16(s, 1);
        put16(s, bits);
        put32(s, compression);
        put32(s, uint32_t(pixelData.size()));
        put32(s, 0);
        put32(s, 0);
        put32(s, uint32_t(palette.size() / 4));
        put32(s, 0);
        s.resize(14 + infoSize, '\0');
        s.append(palette.begin(), palette.end());
        s.resize(offBits, '\0');
        s.append(pixelData.begin(), pixelData.end());
        return s;
    }
};

} // namespace testing_support
