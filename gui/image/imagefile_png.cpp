// PNG decoding with stb_image, built here with PNG support only.
#include "gui/image/image.h"

#include <memory>
#include <new>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

namespace Ostrix {
namespace {

constexpr int kRgbaChannels = 4;
constexpr int kFirstColourChannelCount = 3; // 1 and 2 are grey and grey with alpha

struct StbiFree {
    void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

} // namespace

bool ImageFilePNG::load(const char* filename) {
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
