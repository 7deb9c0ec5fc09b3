// The controller's colour value: three 16-bit components, with the packed forms the
// display FPGA and image files use. An 8-bit component v is held as v x 256.
#pragma once

#include <cstdint>

class pixel {
public:
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;

    pixel() = default;
    pixel(uint32_t col24) { set24(col24); } // NOLINT: a colour converts from RGB888
    pixel& operator=(uint32_t col24) {
        set24(col24);
        return *this;
    }

    // RGB565, the overlay-store word.
    uint16_t rgb16() const {
        return static_cast<uint16_t>((red & 0xF800u) | ((uint32_t(green) >> 10) << 5) |
                                     (uint32_t(blue) >> 11));
    }
    // RGB888, the register colour format.
    uint32_t rgb24() const { return (uint32_t(red24()) << 16) | (uint32_t(green24()) << 8) | blue24(); }
    // 10:11:11, the frame-store word.
    uint32_t rgb32() const {
        return ((uint32_t(red) >> 6) << 22) | ((uint32_t(green) >> 5) << 11) | (uint32_t(blue) >> 5);
    }

    uint8_t red24() const { return static_cast<uint8_t>(red >> 8); }
    uint8_t green24() const { return static_cast<uint8_t>(green >> 8); }
    uint8_t blue24() const { return static_cast<uint8_t>(blue >> 8); }
    uint16_t red16() const { return red; }
    uint16_t green16() const { return green; }
    uint16_t blue16() const { return blue; }

    void set_rgb(uint8_t r, uint8_t g, uint8_t b) {
        red = static_cast<uint16_t>(r << 8);
        green = static_cast<uint16_t>(g << 8);
        blue = static_cast<uint16_t>(b << 8);
    }
    void set_rgb(uint16_t r, uint16_t g, uint16_t b) {
        red = r;
        green = g;
        blue = b;
    }

    void set16(uint32_t v) {
        red = static_cast<uint16_t>(v & 0xF800u);
        green = static_cast<uint16_t>(((v >> 5) & 0x3Fu) << 10);
        blue = static_cast<uint16_t>((v & 0x1Fu) << 11);
    }
    void set24(uint32_t v) {
        red = static_cast<uint16_t>(((v >> 16) & 0xFFu) << 8);
        green = static_cast<uint16_t>(v & 0xFF00u);
        blue = static_cast<uint16_t>((v & 0xFFu) << 8);
    }
    void set32(uint32_t v) {
        red = static_cast<uint16_t>((v >> 22) << 6);
        green = static_cast<uint16_t>(((v >> 11) & 0x7FFu) << 5);
        blue = static_cast<uint16_t>((v & 0x7FFu) << 5);
    }

    bool bright(unsigned minlevel) const { return red > minlevel || green > minlevel || blue > minlevel; }

    bool operator==(const pixel& o) const { return red == o.red && green == o.green && blue == o.blue; }
    bool operator!=(const pixel& o) const { return !(*this == o); }
};
