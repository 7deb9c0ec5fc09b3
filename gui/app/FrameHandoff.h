// On the simulated board the GUI's picture reaches the board as a file, the way the Pi's
// video output reaches the display FPGA: each rendered frame is written to the system
// root as "OSTRIXFB", width and height (little-endian uint32), then the ARGB32 pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Ostrix {

class FrameHandoff {
public:
    // The file the simulated board reads the GUI's picture from.
    static std::string boardFramePath();

    explicit FrameHandoff(std::string path);

    // Writes the frame (rows of `bytesPerLine` bytes) through a temporary file renamed
    // over the old one, so the board never reads half a frame. A frame equal to the one
    // written last is not written again. False when the file could not be written.
    bool write(const uint8_t* pixels, uint32_t width, uint32_t height, size_t bytesPerLine);

    const std::string& path() const { return path_; }
    // Failed writes since the last one that succeeded.
    int failuresInARow() const { return failuresInARow_; }

private:
    bool writeFile(const std::vector<uint8_t>& contents) const;

    std::string path_;
    std::vector<uint8_t> last_;
    std::vector<uint8_t> scratch_;
    int failuresInARow_ = 0;
};

} // namespace Ostrix
