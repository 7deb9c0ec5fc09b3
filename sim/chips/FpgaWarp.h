// The display FPGA's warp engine as the simulated board models it: every output pixel
// takes the input pixel at its source position, moved by the channel's source offset
// registers and, with a line table loaded, rotated about the picture's centre.
//
// The rotation comes from the loaded line table itself: each record carries the per-pixel
// slope of the source line (minus the sine of the angle, in 1/65536), so the picture turns
// by whatever table was loaded, also when only its first lines were loaded.
#pragma once

#include <cstdint>

#include "sim/chips/FpgaTestPicture.h"

namespace sim {

// Word address of the line table in DDR, one 128-bit record per output line.
constexpr uint32_t kWarpLineTableAddress = 0x03000000;
constexpr int kWarpRecordLine = 0;  // lane holding the record's output line
constexpr int kWarpRecordSlope = 3; // lane holding the slope, signed, 1/65536
constexpr double kWarpSlopeScale = 65536;

struct WarpMap {
    bool enabled = false;
    int pixelOffset = 0;
    int lineOffset = 0;
    double sine = 0; // of the rotation angle
    double cosine = 1;

    // The source pixel of output pixel (x, y) of a width x height picture; false when it
    // lies outside the picture (the engine then outputs black).
    bool source(int x, int y, int width, int height, int& sx, int& sy) const;
};

// The map for a channel from its control word, offset registers and the first record of
// its line table (line field, slope field).
WarpMap makeWarpMap(uint32_t control, uint32_t pixelOffset, uint32_t lineOffset, uint32_t recordLine,
                    uint32_t recordSlope);

// Pixel (x, y) of eye `channel`'s live input in frame `frame` after the warp engine.
Rgb warpedTestPicturePixel(const WarpMap& map, int channel, int x, int y, uint32_t frame);

} // namespace sim
