#include "sim/chips/FpgaWarp.h"

#include <cmath>

#include "sim/chips/DisplayFpga.h"

namespace sim {

namespace {

constexpr uint32_t kEnableWarp = 1u << 2;

} // namespace

WarpMap makeWarpMap(uint32_t control, uint32_t pixelOffset, uint32_t lineOffset, uint32_t recordLine,
                    uint32_t recordSlope) {
    WarpMap map;
    map.enabled = control & kEnableWarp;
    map.pixelOffset = static_cast<int32_t>(pixelOffset);
    map.lineOffset = static_cast<int32_t>(lineOffset);
    // A table whose first record is not line 0 was never loaded: no rotation.
    const double sine = recordLine == 0 ? -static_cast<int32_t>(recordSlope) / kWarpSlopeScale : 0;
    if (std::fabs(sine) < 1) {
        map.sine = sine;
        map.cosine = std::sqrt(1 - sine * sine);
    }
    return map;
}

bool WarpMap::source(int x, int y, int width, int height, int& sx, int& sy) const {
    if (!enabled) {
        sx = x;
        sy = y;
        return true;
    }
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double dx = x - cx, dy = y - cy;
    sx = static_cast<int>(std::lround(cx + cosine * dx + sine * dy)) + pixelOffset;
    sy = static_cast<int>(std::lround(cy - sine * dx + cosine * dy)) + lineOffset;
    return sx >= 0 && sy >= 0 && sx < width && sy < height;
}

Rgb warpedTestPicturePixel(const WarpMap& map, int channel, int x, int y, uint32_t frame) {
    int sx = 0, sy = 0;
    if (!map.source(x, y, kTestPictureWidth, kTestPictureHeight, sx, sy)) {
        return Rgb{0, 0, 0};
    }
    return testPicturePixel(channel, sx, sy, frame);
}

WarpMap DisplayFpga::warpMap(const State& s, int channel) const {
    const auto& regs = s.channels[channel].regs;
    return makeWarpMap(regs[fpga_regs::kControl], regs[fpga_regs::kWarpPixelOffset],
                       regs[fpga_regs::kWarpLineOffset],
                       ddr_.read(channel, kWarpLineTableAddress, kWarpRecordLine),
                       ddr_.read(channel, kWarpLineTableAddress, kWarpRecordSlope));
}

} // namespace sim
