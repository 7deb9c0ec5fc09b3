// Framing of the camera board's serial protocol as the board's firmware sees it: bytes
// before "$" are ignored, a command ends at "\n", and the page-write commands carry a
// payload whose items are two hexadecimal digits, "!" n and n + 1 raw bytes, or "*" n and
// one byte repeated n + 1 times, so raw bytes (even "\n") inside "!" and "*" items do not
// end the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/camera/CameraBoardModel.h"

namespace sim {

class CameraLineParser {
public:
    // Longest line the firmware buffers; the rest of a longer line is dropped.
    static constexpr size_t kMaxLine = 4096;

    // Takes received bytes; completed command lines are appended to `done`.
    void feed(const uint8_t* data, size_t length, std::vector<CameraCommand>& done);

private:
    enum class Stage { Idle, Text, Item, HexLow, BinaryLength, BinaryData, RunLength, RunByte };

    void keep(uint8_t byte);
    void payloadByte(uint8_t byte);
    bool payloadHeader() const;
    void finish(std::vector<CameraCommand>& done);

    Stage stage_ = Stage::Idle;
    CameraCommand current_;
    int pending_ = 0; // raw bytes still to come in a "!" item, or the run count of "*"
    uint8_t high_ = 0;
};

} // namespace sim
