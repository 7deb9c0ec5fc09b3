// The GUI's picture as the board receives it: the GUI writes each rendered frame to
// <root>/run/ostrix-sim/gui-frame.raw ("OSTRIXFB", width, height as little-endian
// uint32, then width x height ARGB32 pixels), as the Pi's video output reaches the FPGA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr char kGuiFrameMagic[8] = {'O', 'S', 'T', 'R', 'I', 'X', 'F', 'B'};
constexpr uint32_t kMaxGuiFrameSide = 8192;
// Its name in the board's volatile folder.
constexpr const char* kGuiFrameFile = "gui-frame.raw";

struct GuiFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> argb;
};

// Reads a frame file; returns an error text or empty.
std::string readGuiFrame(const std::string& path, GuiFrame& frame);

// Writes ARGB32 pixels as an RGBA PNG; returns an error text or empty.
std::string writePng(const std::string& path, uint32_t width, uint32_t height,
                     const std::vector<uint32_t>& argb);

std::string writeGuiSnapshot(const std::string& framePath, const std::string& pngPath);

} // namespace sim
