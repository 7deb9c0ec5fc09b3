// PNG decoding with stb_image, built here with PNG support only.
#include "gui/image/image.h"

#include <fstream>
#include <memory>
#include <new>

#include "gui/app/guiprint.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

namespace Ostrix {
namespace {

constexpr int kRgbaChannels = 4;
constexpr int kFirstColourChannelCount = 3; // 1 and 2 are grey and grey with alpha

constexpr size_t kSignatureBytes = 8;
// Length and type before a chunk's data, its CRC after it.
constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kChunkCrcBytes = 4;
constexpr uint32_t kEndChunk = 0x49454E44; // "IEND"

uint32_t bigEndian(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Whether every chunk lies inside the file. stb_image reserves the stated length of an
// image data chunk before it reads it, so a damaged length word (a picture cut short on
// a stick, a stray file) would cost gigabytes of memory for a picture that cannot decode.
bool chunksInsideFile(const char* filename) {
    std::ifstream in(filename, std::ios::binary | std::ios::ate);
    if (!in) {
        return true; // stb_image reports the missing file
    }
    const uint64_t size = uint64_t(in.tellg());
    uint64_t at = kSignatureBytes;
    unsigned char header[kChunkHeaderBytes];
    while (at + kChunkHeaderBytes <= size) {
        in.seekg(std::streamoff(at));
        if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
            return false;
        }
        const uint64_t end = at + kChunkHeaderBytes + bigEndian(header) + kChunkCrcBytes;
        if (end > size) {
            return false;
        }
        if (bigEndian(header + sizeof(uint32_t)) == kEndChunk) {
            break;
        }
        at = end;
    }
    return true;
}

struct StbiFree {
    void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

} // namespace

bool ImageFilePNG::load(const char* filename) {
    if (!chunksInsideFile(filename)) {
        guiPrint("GUI: PNG picture refused: a chunk runs past the end of the file");
        return false;
    }
    int width = 0, height = 0, channelsInFile = 0;
    std::unique_ptr<stbi_uc, StbiFree> decoded(
        stbi_load(filename, &width, &height, &channelsInFile, kRgbaChannels));
    if (!decoded || channelsInFile < kFirstColourChannelCount || width <= 0 || height <= 0) {
        return false;
    }
    const size_t count = size_t(width) * size_t(height);
    try {
        mBuf.resize(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    mWidth = uint32_t(width);
    mHeight = uint32_t(height);
    const stbi_uc* p = decoded.get();
    for (size_t i = 0; i < count; ++i, p += kRgbaChannels) {
        mBuf[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
    }
    return true;
}

} // namespace Ostrix
