// The overlay store, its status icons and the GUI's colours and position.
//
// The Pi's video output carries the GUI picture; the FPGA keys out the GUI background
// colour as transparent, tints the menu window with the menu colour and places the window
// at one of five positions. The controller's own status icons are drawn straight into the
// overlay store in DDR, identically for both channels.
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "common/logfile.h"
#include "controller/fpga/fpga.h"
#include "platform/wiringPi.h"

namespace {

// A horizontal position maps to a word offset in steps of 64 pixels (eight words).
constexpr uint32_t OVERLAY_X_STEP = 64;
constexpr uint32_t OVERLAY_WORDS_PER_X_STEP = 8;
// Icons are placed on multiples of eight pixels.
constexpr uint32_t ICON_X_STEP = 8;
// A row goes out in whole units of four pixels.
constexpr uint32_t ROW_PIXEL_UNIT = 4;
constexpr int BYTES_PER_PIXEL = 2;
constexpr int BYTE_BITS = 8;

constexpr int QUADRANT_WIDTH = OVERLAY_WIDTH / 2;
constexpr int QUADRANT_HEIGHT = OVERLAY_HEIGHT / 2;
constexpr uint32_t QUADRANT_RIGHT_WORDS = 120;
constexpr uint32_t QUADRANT_BOTTOM_ADDRESS = DDR_ADDR_OVERLAY_BUFFER + QUADRANT_HEIGHT * OVERLAY_LINE_PITCH;

// Test pattern: the colour, inverted in every other group of eight pixels, plus one step
// of red, green and blue per pixel within the group.
constexpr unsigned TEST_PATTERN_INVERT_BIT = 1u << 3;
constexpr unsigned TEST_PATTERN_PERIOD = 8;
constexpr uint16_t TEST_PATTERN_STEP = 0x0821;

constexpr uint32_t COLOUR_COMPONENT_MASK = 0xFF;
constexpr uint32_t TRANSPARENCY_FULL = 255;
constexpr uint32_t PERCENT_FULL = 100;
constexpr int LINE_SHIFT = 16;
constexpr int RED_SHIFT = 16;
constexpr int GREEN_SHIFT = 8;

// Where the menu window sits, and where the icons go so that they stay clear of it.
struct MenuPlacement {
    uint32_t pixel;
    uint32_t line;
    bool iconsRight;
    bool iconsTop;
};
constexpr MenuPlacement MENU_PLACEMENTS[] = {
    {0, 0, true, true},        // 1
    {1120, 0, false, true},    // 2
    {0, 600, true, false},     // 3
    {1120, 600, false, false}, // 4
    {560, 300, false, false},  // 5
};
constexpr MenuPlacement MENU_PLACEMENT_OTHER = {0, 0, false, false};
constexpr unsigned MENU_POSITIONS = sizeof(MENU_PLACEMENTS) / sizeof(MENU_PLACEMENTS[0]);

const MenuPlacement& placementFor(unsigned position) {
    if (position >= 1 && position <= MENU_POSITIONS) {
        return MENU_PLACEMENTS[position - 1];
    }
    return MENU_PLACEMENT_OTHER;
}

uint32_t quadrantStart(unsigned quadrant) {
    uint32_t start = (quadrant & 2) ? QUADRANT_BOTTOM_ADDRESS : DDR_ADDR_OVERLAY_BUFFER;
    return start + ((quadrant & 1) ? QUADRANT_RIGHT_WORDS : 0);
}

const char* const ICON_FILES[MAX_ICONS] = {
    "resources/icon_magnifier.png",
    "resources/icon_alignmentmode.png",
    "resources/icon_divergentmode.png",
    "resources/icon_brightnessmode.png",
};

// libpng's simplified reader, freed on every path.
struct PngImage {
    png_image image{};
    PngImage() { image.version = PNG_IMAGE_VERSION; }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
};

constexpr int LINEAR_COMPONENTS = 3;

} // namespace

// ---- GUI colours and position ----

void ostrixFpga::setGUIbgcolour(pixel colour) {
    shadowOVERLAY[LEFT].bits.bgcolour = colour.rgb24();
    shadowOVERLAY[RIGHT].word = shadowOVERLAY[LEFT].word;
    readwriteReg32(OVERLAY_TRANSPARENT_COLOUR_REG(LEFT), shadowOVERLAY[LEFT].word);
    readwriteReg32(OVERLAY_TRANSPARENT_COLOUR_REG(RIGHT), shadowOVERLAY[RIGHT].word);
    shadowGuiBGColour = colour;
    for (unsigned q = 0; q < OVERLAY_QUADRANTS; ++q) {
        fillOverlayStoreQuadrant(q, colour, false);
    }
}

void ostrixFpga::setMenubgcolour(pixel colour) {
    logprintf("F: Set Menu Background Colour to 0x%06X\n", colour.rgb24());
    shadowMenuBGColour = colour;
    readwriteReg32(OVERLAY_BACKGROUND_COLOUR_REG(LEFT), colour.rgb24());
    readwriteReg32(OVERLAY_BACKGROUND_COLOUR_REG(RIGHT), colour.rgb24());
    writeScaledBackground();
}

void ostrixFpga::setMenubgtransparency(uint8_t percent) {
    // A percentage above 100 would give a factor beyond the register's 8 bits.
    shadowMenuTransparency = std::min<uint32_t>(percent, PERCENT_FULL);
    uint32_t factor = shadowMenuTransparency * TRANSPARENCY_FULL / PERCENT_FULL;
    logprintf("F: Transparency factor %d\n", factor);
    readwriteReg32(OVERLAY_BACKGROUND_TRANSPARENCY_REG(LEFT), factor);
    readwriteReg32(OVERLAY_BACKGROUND_TRANSPARENCY_REG(RIGHT), factor);
    writeScaledBackground();
}

// The menu colour pre-multiplied by the opacity that the transparency leaves.
void ostrixFpga::writeScaledBackground() {
    uint32_t factor = shadowMenuTransparency * TRANSPARENCY_FULL / PERCENT_FULL;
    auto scale = [factor](uint32_t component) {
        return ((TRANSPARENCY_FULL - factor) * component >> BYTE_BITS) & COLOUR_COMPONENT_MASK;
    };
    uint32_t scaled = scale(shadowMenuBGColour.red24()) << RED_SHIFT |
                      scale(shadowMenuBGColour.green24()) << GREEN_SHIFT | scale(shadowMenuBGColour.blue24());
    logprintf("F: Scaled BG Colour 0x%06x\n", scaled);
    readwriteReg32(OVERLAY_SCALED_BACKGROUND_COLOUR_REG(LEFT), scaled);
    readwriteReg32(OVERLAY_SCALED_BACKGROUND_COLOUR_REG(RIGHT), scaled);
}

void ostrixFpga::setGUIPosition(unsigned position) {
    const uint32_t previous = guiPosition;
    guiPosition = position;
    logprintf("F: Menu Position %d\n", position);
    const MenuPlacement& place = placementFor(position);
    const bool changed = previous != position;
    if (changed) {
        repositionIcons();
    }
    uint32_t location = place.line << LINE_SHIFT | place.pixel;
    logprintf("F: Menu Position (Pixel,Line) %d,%d = 0x%08x\n", place.pixel, place.line, location);
    readwriteReg32(OVERLAY_LOCATION_REG(LEFT), location);
    readwriteReg32(OVERLAY_LOCATION_REG(RIGHT), location);
    if (changed) {
        // Positions 1..4 own quadrants 0..3; anything else has none to clear.
        pixel background(static_cast<uint32_t>(shadowOVERLAY[LEFT].bits.bgcolour));
        fillOverlayStoreQuadrant(previous - 1, background, false);
        refreshIcons();
    }
}

// ---- Icons ----

void ostrixFpga::loadIcons() {
    for (int i = 0; i < MAX_ICONS; ++i) {
        readICON(i, ICON_FILES[i]);
    }
}

int ostrixFpga::readICON(int iconNo, const std::string& pngfile) {
    logprintf("F: readIcon %s\n", pngfile.c_str());
    if (iconNo < 0 || iconNo >= MAX_ICONS) {
        return ICON_SLOT_OUT_OF_RANGE;
    }
    return readIconImage(pngfile, icons[iconNo]);
}

int readIconImage(const std::string& pngfile, ICON_STRUCT& icon) {
    icon.bitmap.reset();
    icon.width = icon.height = 0;
    icon.visible = false;

    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, pngfile.c_str())) {
        logprintferror("ERROR: PNG Read failed");
        return -1;
    }
    // The size is checked before anything is allocated for the picture.
    if (png.image.width > uint32_t(OVERLAY_WIDTH) || png.image.height > uint32_t(OVERLAY_HEIGHT)) {
        logprintferror("ERROR: PNG Icon Image format incorrect");
        return ICON_IMAGE_TOO_LARGE;
    }
    png.image.format = PNG_FORMAT_LINEAR_RGB;
    const size_t size = PNG_IMAGE_SIZE(png.image);
    logprintf("F: icon image size %d\n", static_cast<int>(size));
    std::vector<uint16_t> components(size / sizeof(uint16_t));
    if (!png_image_finish_read(&png.image, nullptr, components.data(), 0, nullptr)) {
        logprintferror("ERROR: PNG Read failed");
        return -1;
    }
    const uint32_t width = png.image.width;
    const uint32_t height = png.image.height;
    logprintf("F: finished Reading Icon PNG %dx%d\n", width, height);

    // The store takes two pixels per 32-bit unit, second one first: the pairs are
    // swapped here once, so that drawing sends the bitmap as it is.
    auto bitmap = std::make_unique<pixel[]>(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t source = (x % 2 == 0 && x + 1 < width) ? x + 1 : (x % 2 == 1 ? x - 1 : x);
            const uint16_t* c = &components[(size_t(y) * width + source) * LINEAR_COMPONENTS];
            bitmap[size_t(y) * width + x].set_rgb(c[0], c[1], c[2]);
        }
    }
    icon.width = width;
    icon.height = height;
    icon.bitmap = std::move(bitmap);
    icon.background = pixel();
    return 0;
}

int ostrixFpga::renderIcon(int iconNo, uint32_t xpos, uint32_t ypos) {
    logprintf("F: renderIcon\n");
    if (iconNo < 0 || iconNo >= MAX_ICONS || !icons[iconNo].bitmap) {
        return -1;
    }
    ICON_STRUCT& icon = icons[iconNo];
    xpos = xpos / ICON_X_STEP * ICON_X_STEP;
    display_bitmap(xpos, ypos, icon.height, icon.width, icon.bitmap.get(), icon.background);
    icon.visible = true;
    icon.xpos = xpos;
    icon.ypos = ypos;
    return 0;
}

int ostrixFpga::hideIcon(int iconNo) {
    logprintf("F: hideIcon\n");
    if (iconNo < 0 || iconNo >= MAX_ICONS || !icons[iconNo].bitmap || !icons[iconNo].visible) {
        return -1;
    }
    ICON_STRUCT& icon = icons[iconNo];
    erase_bitmap(icon.xpos, icon.ypos, icon.height, icon.width, shadowGuiBGColour);
    icon.visible = false;
    return 0;
}

// A status that goes off hides its icon; a slot whose picture did not load is marked
// hidden all the same, so that it does not come back with the next refresh.
void ostrixFpga::hideStatusIcon(int iconNo) {
    hideIcon(iconNo);
    icons[iconNo].visible = false;
}

void ostrixFpga::refreshIcons() {
    logprintf("F: refreshIcons\n");
    for (int i = 0; i < MAX_ICONS; ++i) {
        if (icons[i].visible) {
            renderIcon(i, icons[i].xpos, icons[i].ypos);
        }
    }
}

void ostrixFpga::repositionIcons() {
    logprintf("F: repositionIcons\n");
    const MenuPlacement& place = placementFor(guiPosition);
    for (int i = 0; i < MAX_ICONS; ++i) {
        ICON_STRUCT& icon = icons[i];
        const bool wasVisible = icon.visible;
        if (wasVisible) {
            hideIcon(i);
        }
        icon.xpos = place.iconsRight ? OVERLAY_WIDTH - std::min<uint32_t>(icon.width, OVERLAY_WIDTH) : 0;
        icon.ypos = place.iconsTop ? 0 : OVERLAY_HEIGHT - std::min<uint32_t>(icon.height, OVERLAY_HEIGHT);
        icon.visible = wasVisible;
    }
}

// ---- Drawing ----

// Sends a rectangle row by row to both channels, starting at x rounded down to the
// store's 64-pixel step. Rows are clipped to the store and padded with `padding` to
// whole units of four pixels.
void ostrixFpga::sendOverlayRows(uint32_t xoffs, uint32_t yoffs, uint32_t height, uint32_t width,
                                 const std::function<uint16_t(uint32_t row, uint32_t column)>& colourAt,
                                 pixel padding) {
    const uint32_t start = xoffs / OVERLAY_X_STEP * OVERLAY_X_STEP;
    if (start >= uint32_t(OVERLAY_WIDTH) || yoffs >= uint32_t(OVERLAY_HEIGHT)) {
        return;
    }
    const uint32_t columns = std::min<uint32_t>(width, OVERLAY_WIDTH - start);
    const uint32_t rows = std::min<uint32_t>(height, OVERLAY_HEIGHT - yoffs);
    const uint32_t sent = (columns + ROW_PIXEL_UNIT - 1) / ROW_PIXEL_UNIT * ROW_PIXEL_UNIT;
    const uint16_t pad = padding.rgb16();
    std::vector<unsigned char> buffer(1 + size_t(sent) * BYTES_PER_PIXEL);
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t address = DDR_ADDR_OVERLAY_BUFFER + (yoffs + r) * OVERLAY_LINE_PITCH +
                                 xoffs / OVERLAY_X_STEP * OVERLAY_WORDS_PER_X_STEP;
        for (int c = LEFT; c <= RIGHT; ++c) {
            readwriteReg32(DR_WRITE_ADDRESS_REG(c), address);
            buffer[0] = DR_DATA_REG_0(c);
            for (uint32_t k = 0; k < sent; ++k) {
                uint16_t v = k < columns ? colourAt(r, k) : pad;
                buffer[1 + BYTES_PER_PIXEL * k] = static_cast<unsigned char>(v >> BYTE_BITS);
                buffer[2 + BYTES_PER_PIXEL * k] = static_cast<unsigned char>(v);
            }
            wiringPiSPIDataRW(SPI_CHANNEL, buffer.data(), static_cast<int>(buffer.size()));
        }
    }
}

void ostrixFpga::display_bitmap(uint32_t xoffs, uint32_t yoffs, uint32_t height, uint32_t width,
                                const pixel* bitmap, pixel transparentcolour) {
    logprintf("F: display_bitmap at (%d,%d)\n", xoffs, yoffs);
    if (!bitmap) {
        return;
    }
    const uint16_t transparent = transparentcolour.rgb16();
    const uint16_t key = shadowGuiBGColour.rgb16();
    sendOverlayRows(
        xoffs, yoffs, height, width,
        [&](uint32_t r, uint32_t k) {
            uint16_t v = bitmap[size_t(r) * width + k].rgb16();
            return v == transparent ? key : v;
        },
        shadowGuiBGColour);
}

void ostrixFpga::erase_bitmap(uint32_t xoffs, uint32_t yoffs, uint32_t height, uint32_t width, pixel colour) {
    logprintf("FPGA: erase_bitmap\n");
    const uint16_t v = colour.rgb16();
    sendOverlayRows(
        xoffs, yoffs, height, width, [v](uint32_t, uint32_t) { return v; }, colour);
}

// ---- Quadrant fills and the self-test ----

void ostrixFpga::overlayTestLine(pixel colour, bool testpattern, uint16_t* line) const {
    const uint16_t plain = colour.rgb16();
    for (unsigned k = 0; k < unsigned(QUADRANT_WIDTH); ++k) {
        if (!testpattern) {
            line[k] = plain;
            continue;
        }
        uint16_t base = (k & TEST_PATTERN_INVERT_BIT) ? static_cast<uint16_t>(~plain) : plain;
        line[k] = static_cast<uint16_t>(base + (k % TEST_PATTERN_PERIOD) * TEST_PATTERN_STEP);
    }
}

void ostrixFpga::fillOverlayStoreQuadrant(unsigned quadrant, pixel colour, bool testpattern) {
    if (quadrant >= unsigned(OVERLAY_QUADRANTS)) {
        return;
    }
    uint16_t line[QUADRANT_WIDTH];
    overlayTestLine(colour, testpattern, line);
    uint32_t address = quadrantStart(quadrant);
    logprintf("F: Quad %d Start Address 0x%08x\n", quadrant, address);
    for (int y = 0; y < QUADRANT_HEIGHT; ++y, address += OVERLAY_LINE_PITCH) {
        for (int c = LEFT; c <= RIGHT; ++c) {
            readwriteReg32(DR_WRITE_ADDRESS_REG(c), address);
            writeHalfVideoLineWords16(c, line);
        }
    }
}

int ostrixFpga::checkOverlayStore(pixel colour) {
    logprintf("F: Checking Overlay Store\n");
    for (unsigned q = 0; q < OVERLAY_QUADRANTS; ++q) {
        fillOverlayStoreQuadrant(q, colour, true);
    }
    uint16_t expected[QUADRANT_WIDTH];
    overlayTestLine(colour, true, expected);
    std::vector<uint16_t> line(OVERLAY_WIDTH);
    int errors[2] = {0, 0};
    for (int y = 0; y < OVERLAY_HEIGHT; ++y) {
        const uint32_t address = DDR_ADDR_OVERLAY_BUFFER + uint32_t(y) * OVERLAY_LINE_PITCH;
        for (int c = LEFT; c <= RIGHT; ++c) {
            readOverlayLine(c, address, y, line.data());
            for (int k = 0; k < OVERLAY_WIDTH; ++k) {
                const uint16_t want = expected[k % QUADRANT_WIDTH];
                if (line[k] == want) {
                    continue;
                }
                if (errors[c] == 0) {
                    logprintf("F: got %04x exp %04x\n", line[k], want);
                }
                errors[c]++;
            }
        }
    }
    logprintf("F: Error Count left=%d right=%d\n", errors[LEFT], errors[RIGHT]);
    return errors[LEFT] + errors[RIGHT];
}
