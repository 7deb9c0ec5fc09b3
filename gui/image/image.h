// Decoded images for the overlay drawing: a packed ARGB colour, an in-memory image with
// a polymorphic loader, and a rectangle inside an image that the frame buffer copies from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Ostrix {

// One packed colour 0xAARRGGBB, the layout of the frame buffer's pixels.
class Colour {
public:
    Colour(uint8_t r, uint8_t g, uint8_t b, uint8_t a = kOpaque)
        : mCol(uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b)) {}

    static constexpr uint8_t kOpaque = 255;

    static const Colour Red;
    static const Colour Green;
    static const Colour Blue;
    static const Colour Yellow;
    static const Colour Cyan;
    static const Colour Magenta;
    static const Colour White;
    static const Colour Black;

    uint32_t mCol;
};

class ImageRef;

// An image held in memory: one packed ARGB value per pixel, row by row.
class ImageFile {
public:
    ImageFile() = default;
    // A width x height image with every pixel set to `fill`.
    ImageFile(uint32_t width, uint32_t height, uint32_t fill = 0);
    virtual ~ImageFile() = default;

    // Replaces the content with the decoded file; the base class loads nothing.
    virtual bool load(const char* filename);

    uint32_t width() const { return mWidth; }
    uint32_t height() const { return mHeight; }

    // The rectangle from (upLeftX, upLeftY) up to (dnRightX, dnRightY) exclusive.
    ImageRef getRef(uint32_t upLeftX, uint32_t upLeftY, uint32_t dnRightX, uint32_t dnRightY) const;

    const uint32_t* data() const { return mBuf.data(); }
    uint32_t pixel(uint32_t x, uint32_t y) const { return mBuf[x + y * mWidth]; }
    void setPixel(uint32_t x, uint32_t y, uint32_t value) { mBuf[x + y * mWidth] = value; }

protected:
    std::vector<uint32_t> mBuf;
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
};

// An image loaded from a PNG file (colour only: grey images are refused).
class ImageFilePNG : public ImageFile {
public:
    bool load(const char* filename) override;
};

// An image loaded from an uncompressed Windows BMP file (1, 4, 8, 16, 24 or 32 bits per
// pixel). Malformed files are refused with a logged reason; nothing is read outside the
// file.
class ImageFileBMP : public ImageFile {
public:
    bool load(const char* filename) override;
    // Decodes a whole BMP file held in memory.
    bool decode(const uint8_t* data, size_t size);

    // Larger pictures are refused before anything is allocated (captures are 3840 x 1080).
    static constexpr uint32_t kMaxDimension = 8192;
};

// A rectangle inside an image. A rectangle that does not lie inside its image has no
// source: the drawing code skips it.
class ImageRef {
public:
    ImageRef() = default;
    ImageRef(const ImageFile* image, uint32_t x, uint32_t y, uint32_t width, uint32_t height);

    bool valid() const { return mSrc != nullptr; }

    const ImageFile* mSrc = nullptr;
    uint32_t mX = 0;
    uint32_t mY = 0;
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
};

} // namespace Ostrix
