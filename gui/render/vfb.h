// The virtual frame buffer: all overlay graphics are drawn into it, then copied in one
// piece into the image the window shows. Pixels are 0xAARRGGBB; 0 is an empty pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gui/image/image.h"

namespace Ostrix {

class VFB {
public:
    // width x height pixels, all 0; pixel (x, y) is at x + stride * y.
    VFB(uint32_t width, uint32_t height, uint32_t stride);

    // Blends `colour` into `pixel` by the colour's alpha (0 leaves it, 255 replaces it).
    static void DrawPixel(uint32_t colour, uint32_t& pixel);

    // Writes `colour` unchanged into the rectangle (clipped to the buffer).
    void DrawRect(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t colour);

    // One-pixel opaque lines to the right / downwards, clamped to the buffer. Without
    // `overwrite` only empty pixels are written; `dashed` writes every other pixel.
    void DrawHLine(uint32_t x, uint32_t y, uint32_t length, uint32_t colour, bool overwrite, bool dashed);
    void DrawVLine(uint32_t x, uint32_t y, uint32_t length, uint32_t colour, bool overwrite, bool dashed);

    // Copies the rectangle to (x, y): blended, or with `underlay` copied unchanged into
    // empty pixels only, beneath what is drawn already. Invalid rectangles draw nothing.
    void CopyImage(uint32_t x, uint32_t y, const ImageRef& image, bool underlay);

    // A 1920-pixel-wide picture at a quarter of its size: every fourth row and column,
    // rows of 480 pixels.
    void DisplayImage(uint32_t x, uint32_t y, const ImageRef& image);

    // Copies the whole store to `destination` (which holds stride x height pixels).
    void Update(void* destination) const;

    void Clear();

    uint32_t width() const { return mWidth; }
    uint32_t height() const { return mHeight; }
    uint32_t stride() const { return mStride; }
    uint32_t pixel(uint32_t x, uint32_t y) const { return mBuffer[index(x, y)]; }
    uint32_t* data() { return mBuffer.data(); }
    const uint32_t* data() const { return mBuffer.data(); }

private:
    size_t index(uint32_t x, uint32_t y) const { return x + size_t(mStride) * y; }
    // The line walk shared by both directions: n pixels from `first`, `step` apart.
    static void drawLine(uint32_t* first, size_t step, uint32_t n, uint32_t colour, bool overwrite,
                         bool dashed);

    std::vector<uint32_t> mBuffer;
    uint32_t mWidth;
    uint32_t mHeight;
    uint32_t mStride;
};

} // namespace Ostrix
