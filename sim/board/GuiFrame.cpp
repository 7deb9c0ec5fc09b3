#include "sim/board/GuiFrame.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <png.h>

namespace sim {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr int kBitDepth = 8;
constexpr int kBytesPerPixel = 4;

bool readU32(FILE* f, uint32_t& v) {
    uint8_t b[4];
    if (fread(b, 1, sizeof b, f) != sizeof b) {
        return false;
    }
    v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
        static_cast<uint32_t>(b[3]) << 24;
    return true;
}

} // namespace

std::string readGuiFrame(const std::string& path, GuiFrame& frame) {
    FilePtr f(fopen(path.c_str(), "rb"));
    if (!f) {
        return "no GUI frame yet (" + path + ")";
    }
    char magic[sizeof kGuiFrameMagic];
    if (fread(magic, 1, sizeof magic, f.get()) != sizeof magic ||
        memcmp(magic, kGuiFrameMagic, sizeof magic) != 0) {
        return "not a GUI frame file: " + path;
    }
    if (!readU32(f.get(), frame.width) || !readU32(f.get(), frame.height) || frame.width == 0 ||
        frame.height == 0 || frame.width > kMaxGuiFrameSide || frame.height > kMaxGuiFrameSide) {
        return "GUI frame has a bad size: " + path;
    }
    frame.argb.resize(static_cast<size_t>(frame.width) * frame.height);
    if (fread(frame.argb.data(), sizeof(uint32_t), frame.argb.size(), f.get()) != frame.argb.size()) {
        return "GUI frame is cut short: " + path;
    }
    return {};
}

std::string writePng(const std::string& path, uint32_t width, uint32_t height,
                     const std::vector<uint32_t>& argb) {
    if (argb.size() != static_cast<size_t>(width) * height) {
        return "picture size does not match its pixels";
    }
    FilePtr f(fopen(path.c_str(), "wb"));
    if (!f) {
        return "cannot write " + path;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        return "out of memory writing " + path;
    }
    std::vector<uint8_t> row(static_cast<size_t>(width) * kBytesPerPixel);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return "failed writing " + path;
    }
    png_init_io(png, f.get());
    png_set_IHDR(png, info, width, height, kBitDepth, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t p = argb[static_cast<size_t>(y) * width + x];
            uint8_t* o = &row[static_cast<size_t>(x) * kBytesPerPixel];
            o[0] = static_cast<uint8_t>(p >> 16);
            o[1] = static_cast<uint8_t>(p >> 8);
            o[2] = static_cast<uint8_t>(p);
            o[3] = static_cast<uint8_t>(p >> 24);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return {};
}

std::string writeGuiSnapshot(const std::string& framePath, const std::string& pngPath) {
    GuiFrame frame;
    std::string error = readGuiFrame(framePath, frame);
    return error.empty() ? writePng(pngPath, frame.width, frame.height, frame.argb) : error;
}

} // namespace sim
