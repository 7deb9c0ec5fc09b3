// PNG files of the frame store: a row-at-a-time writer, so that a capture encodes each
// line as it arrives from the store instead of holding the whole picture, and the reader
// of pictures to show, which checks a file's size before it allocates anything for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <png.h>

// Writer results; 0 is success.
constexpr int PNG_WRITE_OK = 0;
constexpr int PNG_WRITE_NO_STRUCT = -1;
constexpr int PNG_WRITE_NO_INFO = -2;
constexpr int PNG_WRITE_LIBPNG_ERROR = -3; // also a failed write to the file
constexpr int PNG_WRITE_NO_ROWS = -4;

using PngText = std::vector<std::pair<std::string, std::string>>;

// 8-bit RGB rows, no interlace, no filtering, written through a callback into `file`.
// Each step returns the writer result; after a failure the later steps do nothing and
// return the same code.
class PngRowWriter {
public:
    PngRowWriter(FILE* file, uint32_t width, uint32_t height, int level, PngText text);
    ~PngRowWriter();
    PngRowWriter(const PngRowWriter&) = delete;
    PngRowWriter& operator=(const PngRowWriter&) = delete;

    int begin();
    int writeRow(const uint8_t* rgb);
    int finish();
    int result() const { return result_; }

private:
    FILE* file_;
    uint32_t width_, height_;
    int level_;
    PngText text_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    uint32_t rows_ = 0;
    int result_ = PNG_WRITE_OK;
};

// A picture to show: 1920 or 3840 pixels wide, 1080 high, three bytes a pixel.
struct StoreImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

// Reads a picture for the frame store; 0, or -1 after logging why it was refused.
int readStoreImagePNG(const std::string& filename, StoreImage& image);
