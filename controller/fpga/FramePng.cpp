// libpng's error handling jumps back with longjmp: each function that calls into the
// library sets its own jump point and keeps only plain values in its frame.
#include "controller/fpga/FramePng.h"

#include <csetjmp>
#include <new>

#include "common/logfile.h"
#include "controller/fpga/fpga.h"

namespace {

constexpr int PNG_BIT_DEPTH = 8;

void writeToFile(png_structp png, png_bytep data, png_size_t length) {
    auto* file = static_cast<FILE*>(png_get_io_ptr(png));
    if (fwrite(data, 1, length, file) != length) {
        png_error(png, "write failed"); // a full stick must not give a file that looks written
    }
}

void flushFile(png_structp png) {
    auto* file = static_cast<FILE*>(png_get_io_ptr(png));
    if (fflush(file) != 0) {
        png_error(png, "flush failed");
    }
}

bool storeShape(uint32_t width, uint32_t height) {
    return (width == FRAME_STORE_LINE_LEN || width == 2 * FRAME_STORE_LINE_LEN) &&
           height == FRAME_STORE_MAX_LINE;
}

} // namespace

PngRowWriter::PngRowWriter(FILE* file, uint32_t width, uint32_t height, int level, PngText text)
    : file_(file), width_(width), height_(height), level_(level), text_(std::move(text)) {}

PngRowWriter::~PngRowWriter() {
    if (png_) {
        png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    }
}

int PngRowWriter::begin() {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png_) {
        return result_ = PNG_WRITE_NO_STRUCT;
    }
    info_ = png_create_info_struct(png_);
    if (!info_) {
        return result_ = PNG_WRITE_NO_INFO;
    }
    // The chunk table is built before the jump point; nothing is changed after it.
    std::vector<png_text> chunks(text_.size());
    for (size_t i = 0; i < text_.size(); ++i) {
        chunks[i] = png_text{};
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = text_[i].first.data();
        chunks[i].text = text_[i].second.data();
        chunks[i].text_length = text_[i].second.size();
    }
    png_textp chunkData = chunks.data();
    int chunkCount = static_cast<int>(chunks.size());
    if (setjmp(png_jmpbuf(png_))) {
        return result_ = PNG_WRITE_LIBPNG_ERROR;
    }
    png_set_write_fn(png_, file_, writeToFile, flushFile);
    png_set_IHDR(png_, info_, width_, height_, PNG_BIT_DEPTH, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png_, level_);
    png_set_filter(png_, 0, PNG_FILTER_NONE);
    if (chunkCount > 0) {
        png_set_text(png_, info_, chunkData, chunkCount);
    }
    png_write_info(png_, info_);
    return result_;
}

int PngRowWriter::writeRow(const uint8_t* rgb) {
    if (result_ != PNG_WRITE_OK || !png_ || !info_) {
        return result_;
    }
    if (rows_ >= height_) {
        return result_ = PNG_WRITE_NO_ROWS;
    }
    if (setjmp(png_jmpbuf(png_))) {
        return result_ = PNG_WRITE_LIBPNG_ERROR;
    }
    png_write_row(png_, rgb);
    ++rows_;
    return result_;
}

int PngRowWriter::finish() {
    if (result_ != PNG_WRITE_OK || !png_ || !info_) {
        return result_;
    }
    if (rows_ != height_) {
        return result_ = PNG_WRITE_NO_ROWS;
    }
    if (setjmp(png_jmpbuf(png_))) {
        return result_ = PNG_WRITE_LIBPNG_ERROR;
    }
    png_write_end(png_, nullptr);
    png_write_flush(png_);
    png_destroy_write_struct(&png_, &info_);
    png_ = nullptr;
    info_ = nullptr;
    logprintf("#### write_png end\n");
    return result_;
}

int readStoreImagePNG(const std::string& filename, StoreImage& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, filename.c_str())) {
        logprintferror("ERROR: PNG Read failed");
        return -1;
    }
    // The size is checked before the picture is allocated: a header can claim anything.
    if (!storeShape(png.width, png.height)) {
        png_image_free(&png);
        logprintferror("ERROR: PNG Image format incorrect");
        return -1;
    }
    png.format = PNG_FORMAT_RGB;
    const size_t bytes = PNG_IMAGE_SIZE(png);
    logprintf("F: image size %d\n", static_cast<int>(bytes));
    try {
        image.rgb.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        png_image_free(&png);
        logprintferror("F: ERROR: failed to allocate buffer of size %d", static_cast<int>(bytes));
        return -1;
    }
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
        png_image_free(&png);
        std::vector<uint8_t>().swap(image.rgb);
        logprintferror("ERROR: PNG Read failed");
        return -1;
    }
    image.width = png.width;
    image.height = png.height;
    return 0;
}
