#include "gui/image/image.h"

namespace Ostrix {

const Colour Colour::Red(255, 0, 0);
const Colour Colour::Green(0, 255, 0);
const Colour Colour::Blue(0, 0, 255);
const Colour Colour::Yellow(255, 255, 0);
const Colour Colour::Cyan(0, 255, 255);
const Colour Colour::Magenta(255, 0, 255);
const Colour Colour::White(255, 255, 255);
const Colour Colour::Black(0, 0, 0);

ImageFile::ImageFile(uint32_t width, uint32_t height, uint32_t fill)
    : mBuf(size_t(width) * height, fill), mWidth(width), mHeight(height) {}

bool ImageFile::load(const char* filename) {
    return false;
}

ImageRef ImageFile::getRef(uint32_t upLeftX, uint32_t upLeftY, uint32_t dnRightX, uint32_t dnRightY) const {
    // A lower-right corner left of or above the upper-left one wraps to a huge size,
    // which the validity rule refuses.
    return ImageRef(this, upLeftX, upLeftY, dnRightX - upLeftX, dnRightY - upLeftY);
}

ImageRef::ImageRef(const ImageFile* image, uint32_t x, uint32_t y, uint32_t width, uint32_t height)
    : mSrc(image), mX(x), mY(y), mWidth(width), mHeight(height) {
    if (image == nullptr) {
        return;
    }
    // Summed in 64 bits: a rectangle that wraps around 2^32 must not pass as inside.
    const uint64_t right = uint64_t(x) + width;
    const uint64_t bottom = uint64_t(y) + height;
    if (right > image->width() || bottom > image->height()) {
        mSrc = nullptr;
    }
}

} // namespace Ostrix
