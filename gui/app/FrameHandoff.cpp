#include "gui/app/FrameHandoff.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/platform.h"

namespace Ostrix {
namespace {

constexpr const char* kBoardFrameFile = "/run/ostrix-sim/gui-frame.raw";
constexpr char kMagic[8] = {'O', 'S', 'T', 'R', 'I', 'X', 'F', 'B'};
constexpr size_t kHeaderSize = sizeof kMagic + 2 * sizeof(uint32_t);
constexpr size_t kPixelSize = sizeof(uint32_t);

void putLittleEndian32(uint8_t* out, uint32_t value) {
    for (size_t i = 0; i < sizeof value; ++i) {
        out[i] = uint8_t(value >> (8 * i));
    }
}

} // namespace

std::string FrameHandoff::boardFramePath() {
    return platform::sysPath(kBoardFrameFile);
}

FrameHandoff::FrameHandoff(std::string path) : path_(std::move(path)) {}

bool FrameHandoff::write(const uint8_t* pixels, uint32_t width, uint32_t height, size_t bytesPerLine) {
    const size_t rowBytes = size_t(width) * kPixelSize;
    // Built in a buffer kept from frame to frame: no fresh pages per frame.
    std::vector<uint8_t>& contents = scratch_;
    contents.resize(kHeaderSize + rowBytes * height);
    std::memcpy(contents.data(), kMagic, sizeof kMagic);
    putLittleEndian32(&contents[sizeof kMagic], width);
    putLittleEndian32(&contents[sizeof kMagic + sizeof(uint32_t)], height);
    uint8_t* out = contents.data() + kHeaderSize;
    for (uint32_t y = 0; y < height; ++y, out += rowBytes) {
        const uint8_t* row = pixels + y * bytesPerLine;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out, row, rowBytes);
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                uint32_t value;
                std::memcpy(&value, row + x * kPixelSize, kPixelSize);
                putLittleEndian32(out + x * kPixelSize, value);
            }
        }
    }
    // Every controller message re-renders; most renders give the same picture.
    if (contents == last_) {
        return true;
    }
    if (!writeFile(contents)) {
        ++failuresInARow_;
        return false;
    }
    failuresInARow_ = 0;
    last_.swap(contents);
    return true;
}

bool FrameHandoff::writeFile(const std::vector<uint8_t>& contents) const {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    const std::string temporary = path_ + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    written = (std::fclose(file) == 0) && written;
    if (!written) {
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace Ostrix
