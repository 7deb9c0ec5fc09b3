#include "gui/render/vfb.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gui/app/guiprint.h"

namespace Ostrix {
namespace {

constexpr uint32_t kAlphaShift = 24;
constexpr uint32_t kOpaqueAlpha = 0xFF;
constexpr uint32_t kOpaqueBits = 0xFF000000u;
constexpr uint32_t kChannelMask = 0xFF;
constexpr int kColourShifts[] = {16, 8, 0}; // red, green, blue

// DisplayImage shows every fourth row and column in rows of 480 pixels.
constexpr uint32_t kPreviewStep = 4;
constexpr uint32_t kPreviewRowPixels = 480;

// The number of pixels of a span from `start` with `length` that lie below `limit`.
uint32_t clipSpan(uint32_t start, uint32_t length, uint32_t limit) {
    if (start >= limit) {
        return 0;
    }
    return std::min(length, limit - start);
}

} // namespace

VFB::VFB(uint32_t width, uint32_t height, uint32_t stride)
    // The store holds whole rows of `stride` pixels, so that x + stride * y is inside it
    // for every pixel of the picture even when the rows are padded.
    : mBuffer(size_t(std::max(width, stride)) * height, 0), mWidth(width), mHeight(height),
      mStride(std::max(width, stride)) {}

void VFB::DrawPixel(uint32_t colour, uint32_t& pixel) {
    const int alpha = int(colour >> kAlphaShift);
    if (alpha == int(kOpaqueAlpha)) {
        pixel = colour;
        return;
    }
    if (alpha == 0) {
        return;
    }
    uint32_t blended = std::min<uint32_t>(uint32_t(alpha) + (pixel >> kAlphaShift), kOpaqueAlpha)
                       << kAlphaShift;
    for (int shift : kColourShifts) {
        const int oldChannel = int((pixel >> shift) & kChannelMask);
        const int newChannel = int((colour >> shift) & kChannelMask);
        // Signed, truncating toward zero: the result lies between the two channels.
        const int value = oldChannel + alpha * (newChannel - oldChannel) / int(kOpaqueAlpha);
        blended |= (uint32_t(value) & kChannelMask) << shift;
    }
    pixel = blended;
}

void VFB::DrawRect(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t colour) {
    const uint32_t columns = clipSpan(x, width, mWidth);
    const uint32_t rows = clipSpan(y, height, mHeight);
    if (columns == 0) {
        return;
    }
    for (uint32_t r = 0; r < rows; ++r) {
        uint32_t* row = &mBuffer[index(x, y + r)];
        std::fill(row, row + columns, colour);
    }
}

void VFB::drawLine(uint32_t* first, size_t step, uint32_t n, uint32_t colour, bool overwrite, bool dashed) {
    const uint32_t value = colour | kOpaqueBits;
    uint32_t* p = first;
    for (uint32_t counter = n; counter-- > 0; p += step) {
        if ((*p == 0 || overwrite) && (!dashed || (counter & 1) != 0)) {
            *p = value;
        }
    }
}

void VFB::DrawHLine(uint32_t x, uint32_t y, uint32_t length, uint32_t colour, bool overwrite, bool dashed) {
    if (mWidth == 0 || mHeight == 0) {
        return;
    }
    x = std::min(x, mWidth - 1);
    y = std::min(y, mHeight - 1);
    // A line that passes the last column stops before it.
    const uint32_t n = uint64_t(x) + length > mWidth - 1 ? (mWidth - 1) - x : length;
    drawLine(&mBuffer[index(x, y)], 1, n, colour, overwrite, dashed);
}

void VFB::DrawVLine(uint32_t x, uint32_t y, uint32_t length, uint32_t colour, bool overwrite, bool dashed) {
    if (mWidth == 0 || mHeight == 0) {
        return;
    }
    x = std::min(x, mWidth - 1);
    y = std::min(y, mHeight - 1);
    const uint32_t n = uint64_t(y) + length > mHeight - 1 ? (mHeight - 1) - y : length;
    drawLine(&mBuffer[index(x, y)], mStride, n, colour, overwrite, dashed);
}

void VFB::CopyImage(uint32_t x, uint32_t y, const ImageRef& image, bool underlay) {
    if (!image.valid()) {
        return;
    }
    const uint32_t columns = clipSpan(x, image.mWidth, mWidth);
    const uint32_t rows = clipSpan(y, image.mHeight, mHeight);
    if (columns == 0) {
        return;
    }
    const uint32_t srcWidth = image.mSrc->width();
    const uint32_t* src = image.mSrc->data();
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t* in = src + image.mX + size_t(srcWidth) * (image.mY + r);
        uint32_t* out = &mBuffer[index(x, y + r)];
        for (uint32_t c = 0; c < columns; ++c) {
            if (underlay) {
                if (out[c] == 0) {
                    out[c] = in[c];
                }
            } else {
                DrawPixel(in[c], out[c]);
            }
        }
    }
}

void VFB::DisplayImage(uint32_t x, uint32_t y, const ImageRef& image) {
    guiDetail("VFB: DisplayImage");
    if (!image.valid()) {
        return;
    }
    const ImageFile& src = *image.mSrc;
    guiDetail("image.mSrc is %d x %d", int(src.width()), int(src.height()));
    guiDetail("image      is %d x %d", int(image.mWidth), int(image.mHeight));
    // Every fourth column from the rectangle's origin, as far as the picture and the
    // buffer reach (a picture narrower than 1920 pixels gives a shorter row).
    const uint32_t sourceColumns = (src.width() - image.mX + kPreviewStep - 1) / kPreviewStep;
    const uint32_t columns =
        std::min({kPreviewRowPixels, sourceColumns, clipSpan(x, kPreviewRowPixels, mWidth)});
    if (columns == 0) {
        guiDetail("VFB: DisplayImage Complete");
        return;
    }
    uint32_t row = y;
    for (uint32_t srcRow = image.mY; srcRow < src.height() && row < mHeight; srcRow += kPreviewStep, ++row) {
        const uint32_t* in = src.data() + image.mX + size_t(src.width()) * srcRow;
        uint32_t* out = &mBuffer[index(x, row)];
        for (uint32_t c = 0; c < columns; ++c) {
            out[c] = in[size_t(c) * kPreviewStep];
        }
    }
    guiDetail("VFB: DisplayImage Complete");
}

void VFB::Update(void* destination) const {
    std::memcpy(destination, mBuffer.data(), mBuffer.size() * sizeof(uint32_t));
}

void VFB::Clear() {
    std::fill(mBuffer.begin(), mBuffer.end(), 0);
}

} // namespace Ostrix
