// The display FPGA: SPI register access, bring-up, warp tables and display geometry.
// ostrixFpga owns the SPI link (channel 0) and the configuration and reset lines. Every
// writable register has a shadow here that holds the last value applied, so that a word
// is always written whole and wake-up can replay everything after standby.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "common/channel.h"
#include "common/timeout.h"
#include "controller/core/pin_nums.h"
#include "controller/image/pixel.h"

// A per-channel operation treats channel i as selected when its argument is i or
// LEFTandRIGHT; left is handled before right.
inline bool channelSelected(int argument, int c) {
    return argument == c || argument == LEFTandRIGHT;
}

constexpr int SPI_CHANNEL = 0;

// Register numbers; bit 7 of the address byte selects the channel.
constexpr uint8_t FPGA_CHANNEL_BIT = 0x80;
constexpr uint8_t fpgaRegister(uint8_t reg, int channel) {
    return static_cast<uint8_t>(reg | (channel == RIGHT ? FPGA_CHANNEL_BIT : 0));
}
constexpr uint8_t CONTROL_REG(int c) {
    return fpgaRegister(0x00, c);
}
constexpr uint8_t BACKLIGHT_REG(int c) {
    return fpgaRegister(0x01, c);
}
constexpr uint8_t OVERLAY_TRANSPARENT_COLOUR_REG(int c) {
    return fpgaRegister(0x02, c);
}
constexpr uint8_t OVERLAY_BACKGROUND_COLOUR_REG(int c) {
    return fpgaRegister(0x03, c);
}
constexpr uint8_t OVERLAY_BACKGROUND_TRANSPARENCY_REG(int c) {
    return fpgaRegister(0x04, c);
}
constexpr uint8_t OVERLAY_LOCATION_REG(int c) {
    return fpgaRegister(0x05, c);
}
constexpr uint8_t OVERLAY_SCALED_BACKGROUND_COLOUR_REG(int c) {
    return fpgaRegister(0x07, c);
}
constexpr uint8_t WARP_PIXEL_SOURCE_OFFSET_REG(int c) {
    return fpgaRegister(0x08, c);
}
constexpr uint8_t WARP_LINE_SOURCE_OFFSET_REG(int c) {
    return fpgaRegister(0x09, c);
}
constexpr uint8_t FRAME_STORE_ENABLE_REG(int c) {
    return fpgaRegister(0x0C, c);
}
constexpr uint8_t CROSSHAIR_ENABLE_REG(int c) {
    return fpgaRegister(0x0D, c);
}
constexpr uint8_t CROSSHAIR_COLOUR_REG(int c) {
    return fpgaRegister(0x0E, c);
}
constexpr uint8_t DISPLAY_SHARPNESS_REG(int c) {
    return fpgaRegister(0x0F, c);
}
constexpr uint8_t DR_WRITE_ADDRESS_REG(int c) {
    return fpgaRegister(0x10, c);
}
constexpr uint8_t DR_READ_ADDRESS_REG(int c) {
    return fpgaRegister(0x11, c);
}
constexpr uint8_t DR_DATA_REG_0(int c) {
    return fpgaRegister(0x14, c);
}
constexpr uint8_t DR_DATA_REG_1(int c) {
    return fpgaRegister(0x15, c);
}
constexpr uint8_t DR_DATA_REG_2(int c) {
    return fpgaRegister(0x16, c);
}
constexpr uint8_t DR_DATA_REG_3(int c) {
    return fpgaRegister(0x17, c);
}
constexpr uint8_t CM_ADDRESS_REG(int c) {
    return fpgaRegister(0x20, c);
}
constexpr uint8_t CM_DATA_REG(int c) {
    return fpgaRegister(0x21, c);
}
constexpr uint8_t STATUS_REG(int c) {
    return fpgaRegister(0x30, c);
}
constexpr uint8_t HSYNC_LOHI_TIME_REG(int c) {
    return fpgaRegister(0x3D, c);
}
constexpr uint8_t VSYNC_HI_TIME_REG(int c) {
    return fpgaRegister(0x3E, c);
}
constexpr uint8_t VSYNC_LO_TIME_REG(int c) {
    return fpgaRegister(0x3F, c);
}
constexpr uint8_t CONTROL_READBACK_REG(int c) {
    return fpgaRegister(0x40, c);
}
constexpr uint8_t OVERLAY_READBACK_REG(int c) {
    return fpgaRegister(0x42, c);
}
constexpr uint8_t WARP_STATUS_REGION(int c) {
    return fpgaRegister(0x50, c);
}
constexpr int WARP_STATUS_WORDS = 15;
constexpr uint8_t WARP_STATUS_STROBE_REG(int c) {
    return fpgaRegister(0x5F, c);
}
constexpr uint8_t PI_RX_FRAME_COUNT = 0x63;
constexpr uint8_t PI_RX_CONTROL_REG = 0x66;
constexpr uint8_t SR_FPGA_REV = 0x7F;

// DDR word addresses (one word = 128 bits = four 32-bit pixels).
constexpr uint32_t DDR_ADDR_FRAME_BUFFER = 0x00000000;
constexpr uint32_t DDR_ADDR_FRAME_BUFFER_1 = 0x00100000;
constexpr uint32_t DDR_ADDR_FRAME_BUFFER_2 = 0x00200000;
constexpr uint32_t DDR_ADDR_FRAME_BUFFER_3 = 0x00300000;
constexpr uint32_t DDR_ADDR_OVERLAY_BUFFER = 0x01F00000;
constexpr uint32_t PIXEL_FILE_START_ADDRESS = 0x02000000;
constexpr uint32_t LINE_FILE_START_ADDRESS = 0x03000000;

constexpr int FRAME_STORE_LINE_LEN = 1920;
constexpr int FRAME_STORE_MAX_LINE = 1080;
constexpr int FRAME_STORE_LINE_BOUNDARY = 2048;
constexpr int FPGA_CONFIGURATION_TIMEOUT = 4000;
constexpr uint32_t HIGH_SPEED_SPI_FPGA_VERSION = 31;
constexpr int CHUNKS = 8;
constexpr uint32_t BACKLIGHTMAX = 255;
constexpr uint32_t BACKLIGHTOFFSET = 6;

struct CONTROL_REG_STRUCT {
    uint32_t VideoReset : 1;
    uint32_t EnableHDMIRx : 1;
    uint32_t EnableWarp : 1;
    uint32_t FixedWarp : 1;
    uint32_t LCDOutputEnable : 1;
    uint32_t HDMIOutputEnable : 1;
    uint32_t OverlayEnable : 1;
    uint32_t PiVideoInEnable : 1;
    uint32_t DigitalZoomEnable : 1;
    uint32_t inputMode3D : 2;
    uint32_t BlankVideoOut : 1;
    uint32_t outputMode3D : 2;
    uint32_t HSyncPolarity : 1;
    uint32_t VSyncPolarity : 1;
    uint32_t unused : 16;
};
union CONTROL_REG_UNION {
    CONTROL_REG_STRUCT bits;
    uint32_t word;
};

struct OVERLAY_REG_STRUCT {
    uint32_t bgcolour : 24;
    uint32_t position : 8;
};
union OVERLAY_REG_UNION {
    OVERLAY_REG_STRUCT bits;
    uint32_t word;
};

struct FRAME_STORE_ENABLE_STRUCT {
    uint32_t inputEnable : 4;
    uint32_t unused1 : 12;
    uint32_t outputEnable : 4;
    uint32_t unused2 : 12;
};
union FRAME_STORE_ENABLE_UNION {
    FRAME_STORE_ENABLE_STRUCT bits;
    uint32_t word;
};

struct STATUS_REG_STRUCT {
    uint32_t CalFail : 1;
    uint32_t CalSuccess : 1;
    uint32_t PLLLocked : 1;
    uint32_t InitDone : 1;
    uint32_t MemTestBusy : 1;
    uint32_t MemTestFail : 1;
    uint32_t MemTestPass : 1;
    uint32_t MemTestDone : 1;
    uint32_t HDMIVSyncPol : 1;
    uint32_t HDMIHSyncPol : 1;
    uint32_t HDMIVSyncError : 1;
    uint32_t HDMIHSyncError : 1;
    uint32_t FPGAMagicNibble : 4;
    uint32_t unused : 16;
};
union STATUS_REG_UNION {
    STATUS_REG_STRUCT bits;
    uint32_t word;
};

static_assert(sizeof(CONTROL_REG_UNION) == 4 && sizeof(OVERLAY_REG_UNION) == 4 &&
              sizeof(FRAME_STORE_ENABLE_UNION) == 4 && sizeof(STATUS_REG_UNION) == 4);

// One icon slot of the overlay store: the bitmap held in the order the store receives
// it (pixels swapped in pairs), drawn with every `background` pixel left see-through.
enum icon_id_t {
    icon_magnifier = 0,
    icon_alignmentmode = 1,
    icon_divergentmode = 2,
    icon_brightnessmode = 3
};
constexpr int MAX_ICONS = 4;
struct ICON_STRUCT {
    uint32_t width = 0;
    uint32_t height = 0;
    std::unique_ptr<pixel[]> bitmap; // width x height; null when the slot is empty
    bool visible = false;
    uint32_t xpos = 0;
    uint32_t ypos = 0;
    pixel background;
};

// Overlay store geometry: RGB565 pixels, eight to a DDR word, 512 words a line.
constexpr int OVERLAY_WIDTH = 1920;
constexpr int OVERLAY_HEIGHT = 1080;
constexpr uint32_t OVERLAY_LINE_PITCH = 512;
constexpr int OVERLAY_QUADRANTS = 4;

// readICON results besides 0 and -1.
constexpr int ICON_SLOT_OUT_OF_RANGE = 44;
constexpr int ICON_IMAGE_TOO_LARGE = 75;

// Reads an icon picture into a slot (emptied first): 0, ICON_IMAGE_TOO_LARGE, or -1 when
// the file is not a readable PNG. The size is checked before the bitmap is allocated.
int readIconImage(const std::string& pngfile, ICON_STRUCT& icon);

// Sharpness values above this are kept but not written.
constexpr uint32_t SHARPNESS_MAX = 5;

struct WarpTable;

class ostrixFpga {
public:
    ostrixFpga(const std::string& fpga_file, bool assertReset);
    ~ostrixFpga();
    ostrixFpga(const ostrixFpga&) = delete;
    ostrixFpga& operator=(const ostrixFpga&) = delete;

    // Register access on SPI channel 0.
    int openSPI();
    uint32_t readwriteReg32(uint8_t address, uint32_t data);
    int writeReg128(uint8_t address, const uint32_t data[4]);
    void readReg128(uint8_t address, uint32_t data[4]);
    // Line bursts: CHUNKS transfers to the data port. The write forms take frame-store
    // words (1920 per line) or overlay words (960 per half line) already converted from
    // pixels; the caller sets the write address first.
    void writeVideoLineWords(int channel, const uint32_t* words);
    void writeHalfVideoLineWords16(int channel, const uint16_t* words);
    void readVideoLine(int channel, uint32_t start_address, int lineno, uint32_t* data);
    void readOverlayLine(int channel, uint32_t start_address, int lineno, uint16_t* data);

    // Bring-up and status.
    void setFPGAfile(const std::string& file) { jicFileName = file; }
    int reconfigure();
    void programFPGA();
    uint32_t version();
    bool versionValid() const { return fpga_version_valid; }
    uint32_t fpgaVersion() const { return fpga_version; }
    void Reset();
    int waitDDRInitDone();
    int waitMemoryTestComplete(int channel);
    void wake_up();
    void VideoReset(int channel);
    void checkPiDisplay();

    // Frame store enables, image options and backlight scaling kept for the capture and
    // display output code.
    void frameStoreInputEnable(unsigned mask);
    void frameStoreOutputEnable(unsigned mask);
    void setPngCompression(int level);
    void setSaveImageOrientation(bool horizontal_invert, bool vertical_invert);
    void setBacklightScaling(unsigned leftscale, unsigned rightscale);

    // Frame store capture and stored-image display. Captures and displays return 0, or
    // -1 after logging why nothing (or no whole file) was written.
    void freezeFrame(unsigned freeze);
    void digitalZoom(unsigned enable);
    int frameStoreToPNG(int channel, const std::string& filename);
    int frameStoreToBMP(int channel, const std::string& filename);
    int frameStoreDisplayPNG(int channel, const std::string& filename);
    int frameStoreDisplayBMP(int channel, const std::string& filename);
    // One line per setting, carried in the next captured PNG's comment so that a picture
    // still says how it was taken.
    void setCaptureNotes(const std::string& notes) { captureNotes = notes; }

    // Warp tables and display geometry.
    void setWarpFileNames(const std::string& line_left, const std::string& pixel_left,
                          const std::string& line_right, const std::string& pixel_right,
                          const std::string& folder);
    void setWarpZipFileName(const std::string& zip) { warp_zip_filename = zip; }
    int copyFileToSPI(const std::string& filename, uint32_t start_address, int valuebits, int channel);
    int compareFileToSPI(const std::string& filename, uint32_t start_address, int valuebits, int channel);
    int setDisplayRotation(int channel, float degrees);
    int verifyWarp(int channel);
    void initialiseWarp();
    void setDisplayShift(int channel, int pixel_offset, int line_offset);
    void setEnableWarp(int channel, bool enabled);
    void displayWarpDebug();
    void alignmentmode(unsigned mode);

    // Overlay store, icons and the GUI's colours and position.
    void setGUIbgcolour(pixel colour);
    void setMenubgcolour(pixel colour);
    void setMenubgtransparency(uint8_t percent);
    void setGUIPosition(unsigned position);
    int readICON(int iconNo, const std::string& pngfile);
    int renderIcon(int iconNo, uint32_t xpos, uint32_t ypos);
    int hideIcon(int iconNo);
    void refreshIcons();
    void repositionIcons();
    void display_bitmap(uint32_t xoffs, uint32_t yoffs, uint32_t height, uint32_t width, const pixel* bitmap,
                        pixel transparentcolour);
    void erase_bitmap(uint32_t xoffs, uint32_t yoffs, uint32_t height, uint32_t width, pixel colour);
    void fillOverlayStoreQuadrant(unsigned quadrant, pixel colour, bool testpattern);
    int checkOverlayStore(pixel colour);

    // Display output: backlight, contrast, sharpness, crosshair, blanking, 3D modes, sync
    // polarity and the output and input enables.
    void setBacklightBrightness(int channel, unsigned brightnessPercent, bool off);
    void setContrast(int channel, uint8_t contrastPercent);
    void setSharpness(uint8_t sharpness);
    void setCrosshairColour(pixel colour);
    void setCrosshairSize(unsigned size);
    void setScreenBlanking(int channel, bool on);
    void set3DMode(unsigned mode);
    void setOutput3DMode(unsigned mode);
    void setSyncPolarity(bool VSyncActiveHigh, bool HSyncActiveHigh);
    void syncPolarityUpdate();
    void enableHDMITx(int channel, unsigned connected);
    void enablePiVideo(bool enable);
    void enableVideoOverlay(bool enable);

    // Read-only views for the controller and tests.
    const CONTROL_REG_UNION& controlShadow(int c) const { return shadowCR[c]; }
    const OVERLAY_REG_UNION& overlayShadow(int c) const { return shadowOVERLAY[c]; }
    const FRAME_STORE_ENABLE_UNION& frameStoreEnableShadow() const { return shadowFrameStoreEnable; }
    int warpPixelSourceOffset(int c) const { return shadowWarpPixelSourceOffset[c]; }
    int warpLineSourceOffset(int c) const { return shadowWarpLineSourceOffset[c]; }
    float warpRotation(int c) const { return shadowWarpRotation[c]; }
    const ICON_STRUCT& icon(int i) const { return icons[i]; }
    unsigned backlightScaling(int c) const { return backlightScale[c]; }
    pixel guiBgColour() const { return shadowGuiBGColour; }
    pixel menuBgColour() const { return shadowMenuBGColour; }
    uint32_t menuTransparency() const { return shadowMenuTransparency; }
    uint32_t menuPosition() const { return guiPosition; }
    uint32_t contrastPercent() const { return shadowContrastPercent; }
    uint32_t sharpness() const { return shadowSharpness; }
    pixel crosshairColourShadow() const { return crosshairColour; }
    uint32_t crosshairSizeShadow() const { return crosshairSize; }
    int pngCompression() const { return png_compression; }
    bool horizontalInvert() const { return iHorizontalInvert; }
    bool verticalInvert() const { return iVerticalInvert; }
    uint32_t stuckFrames() const { return stuckFrameCount; }
    uint32_t mipiResets() const { return mipiResetCount; }
    const std::string& warpFolder() const { return warpfolder; }

private:
    void writeControl(int channel);
    void writeBothControls();
    void writeFrameStoreEnable();
    void resetShadows();
    void clearIcons();
    uint32_t pollStatus(int channel, bool checkStuck, bool (*done)(const STATUS_REG_UNION&));
    void waitMemoryTests();
    void lineBurst(int channel, unsigned char* chunk, int chunkBytes);
    void uploadTable(const std::string& filename, const WarpTable& table, uint32_t start_address,
                     int valuebits, int channel);
    int uploadRotationFiles(const std::string& line_file, const std::string& pixel_file, const char* lineNote,
                            const char* pixelNote, int channel);
    void extractFromZip(const std::string& member, const char* temp_name);
    void readStoreLine(int channel, int line, uint32_t* words);
    void loadIcons();
    void hideStatusIcon(int iconNo);
    void writeScaledBackground();
    void sendOverlayRows(uint32_t xoffs, uint32_t yoffs, uint32_t height, uint32_t width,
                         const std::function<uint16_t(uint32_t row, uint32_t column)>& colourAt,
                         pixel padding);
    void overlayTestLine(pixel colour, bool testpattern, uint16_t* line) const;
    void writeStoreLine(int channel, int line, const uint32_t* words);

    int spifd = -1;
    std::string warp_line_filename[2];
    std::string warp_pixel_filename[2];
    std::string warp_zip_filename;
    pixel crosshairColour;
    uint32_t crosshairSize = 0;
    CONTROL_REG_UNION shadowCR[2] = {};
    OVERLAY_REG_UNION shadowOVERLAY[2] = {};
    pixel shadowMenuBGColour;
    pixel shadowGuiBGColour;
    uint32_t shadowMenuTransparency = 0;
    uint32_t shadowContrastPercent = 0;
    uint32_t shadowSharpness = 0;
    uint32_t guiPosition = 1;
    FRAME_STORE_ENABLE_UNION shadowFrameStoreEnable = {};
    int shadowWarpPixelSourceOffset[2] = {};
    int shadowWarpLineSourceOffset[2] = {};
    float shadowWarpRotation[2] = {};
    uint32_t previousFrameCount = 0;
    uint32_t stuckFrameCount = 0;
    uint32_t mipiResetCount = 0;
    std::string jicFileName;
    std::string warpfolder = "./warp/";
    bool fpga_version_valid = false;
    uint32_t fpga_version = 0;
    bool iHorizontalInvert = false;
    bool iVerticalInvert = false;
    timer_t timeout = no_timeout();
    int icon_count = 0;
    ICON_STRUCT icons[MAX_ICONS];
    uint32_t backlightScale[2] = {100, 100};
    int png_compression = 9;
    std::string captureNotes;
    int fpga_id = 0;
};
