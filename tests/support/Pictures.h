// 8-bit RGB pictures for tests that check what the programs save and show: read from and
// written to PNG files, made up as patterns, and taken from the simulated frame store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct RgbImage {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;

    const uint8_t* at(uint32_t x, uint32_t y) const { return &rgb[(size_t(y) * width + x) * 3]; }
    bool operator==(const RgbImage&) const = default;
};

// The picture in a PNG file, converted to 8-bit RGB; empty (width 0) when it cannot be read.
RgbImage readPng(const std::string& path);
// False when the file could not be written.
bool writePng(const std::string& path, const RgbImage& image);

// A picture unlike the live input and different for every seed, each pixel unlike its
// neighbours.
RgbImage pattern(uint32_t width, uint32_t height, int seed);
// Columns [from, from + width) of a picture.
RgbImage columns(const RgbImage& image, uint32_t from, uint32_t width);
// The 8-bit picture of a frame store's words (one line of `width` words after another), as
// a capture writes it.
RgbImage storeImage(const std::vector<uint32_t>& words, uint32_t width = 1920);

} // namespace testing_support
