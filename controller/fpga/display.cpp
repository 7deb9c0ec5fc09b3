// Display output control: the per-channel output stage of the display FPGA (backlight,
// contrast curve, sharpening, crosshair, blanking, 3D formats, sync polarity) and the
// switches of the HDMI output, the Pi video input and the overlay mixing.
#include <algorithm>

#include "common/logfile.h"
#include "controller/fpga/fpga.h"

namespace {

constexpr uint32_t PERCENT_FULL = 100;
constexpr uint32_t BACKLIGHT_SPAN = BACKLIGHTMAX - BACKLIGHTOFFSET; // 249
constexpr uint32_t BYTE_MASK = 0xFF;

// Contrast curve: C in -128..128 from the percentage, then the usual contrast factor.
constexpr int CONTRAST_LUT_ENTRIES = 256;
constexpr int CONTRAST_STEPS = 256;
constexpr int CONTRAST_MID = 128;
constexpr double CONTRAST_K1 = 255.0;
constexpr double CONTRAST_K2 = 259.0;
constexpr int LUT_MAX = 255;
constexpr uint32_t LUT_GREY = 0x10101; // the same value in red, green and blue

// Crosshair size setting to register code.
constexpr uint32_t CROSSHAIR_CODE_SIZE1 = 3;
constexpr uint32_t CROSSHAIR_CODE_SIZE2 = 1;
constexpr uint32_t CROSSHAIR_CODE_OFF = 0;

constexpr unsigned MODE_3D_MASK = 3;
constexpr uint32_t FPGA_MAGIC = 0xA;
constexpr int SYNC_TIME_BITS = 16;
constexpr uint32_t SYNC_TIME_MASK = 0xFFFF;
constexpr float SYNC_SHORT_PULSE = 0.5f;

const char* channelName(int c) {
    return c == LEFT ? "LEFT" : "RIGHT";
}

uint32_t crosshairCode(uint32_t size) {
    switch (size) {
    case 1:
        return CROSSHAIR_CODE_SIZE1;
    case 2:
        return CROSSHAIR_CODE_SIZE2;
    default:
        return CROSSHAIR_CODE_OFF;
    }
}

// The high part's share of a sync period. A period of zero (no input measured) counts as
// a long pulse, that is active low, instead of dividing by zero.
float dutyCycle(uint32_t high, uint32_t low) {
    uint32_t period = high + low;
    return period == 0 ? 1.0f : static_cast<float>(high) / static_cast<float>(period);
}

} // namespace

void ostrixFpga::setBacklightScaling(unsigned leftscale, unsigned rightscale) {
    backlightScale[LEFT] = leftscale;
    backlightScale[RIGHT] = rightscale;
}

void ostrixFpga::setBacklightBrightness(int channel, unsigned brightnessPercent, bool off) {
    uint32_t brightness = 0;
    if (!off && brightnessPercent <= PERCENT_FULL) {
        brightness = brightnessPercent * BACKLIGHT_SPAN / PERCENT_FULL + BACKLIGHTOFFSET;
    }
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (!channelSelected(channel, c)) {
            continue;
        }
        uint32_t level = std::min<uint32_t>(backlightScale[c] * brightness / PERCENT_FULL, BACKLIGHTMAX);
        readwriteReg32(BACKLIGHT_REG(c), level & BYTE_MASK);
        logprintf("F: Backlight[%s] @ %d\n ", channelName(c), level);
    }
}

void ostrixFpga::setContrast(int channel, uint8_t contrastPercent) {
    // Above 100 % the factor's denominator would reach zero and turn negative.
    const uint32_t percent = std::min<uint32_t>(contrastPercent, PERCENT_FULL);
    const int C = static_cast<int>(percent * CONTRAST_STEPS / PERCENT_FULL) - CONTRAST_MID;
    const double factor = (C + CONTRAST_K1) * CONTRAST_K2 / ((CONTRAST_K2 - C) * CONTRAST_K1);
    shadowContrastPercent = percent;
    logprintf("F: Contrast %d factor %f\n", percent, factor);
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (!channelSelected(channel, c)) {
            continue;
        }
        for (int i = 0; i < CONTRAST_LUT_ENTRIES; ++i) {
            int v = static_cast<int>((i - CONTRAST_MID) * factor + CONTRAST_MID);
            v = std::clamp(v, 0, LUT_MAX);
            readwriteReg32(CM_ADDRESS_REG(c), static_cast<uint32_t>(i));
            readwriteReg32(CM_DATA_REG(c), static_cast<uint32_t>(v) * LUT_GREY);
        }
    }
}

void ostrixFpga::setSharpness(uint8_t sharpness) {
    shadowSharpness = sharpness;
    if (sharpness > SHARPNESS_MAX) {
        return;
    }
    readwriteReg32(DISPLAY_SHARPNESS_REG(LEFT), sharpness);
    readwriteReg32(DISPLAY_SHARPNESS_REG(RIGHT), sharpness);
}

void ostrixFpga::setCrosshairColour(pixel colour) {
    crosshairColour = colour;
    readwriteReg32(CROSSHAIR_COLOUR_REG(LEFT), colour.rgb24());
    readwriteReg32(CROSSHAIR_COLOUR_REG(RIGHT), colour.rgb24());
}

void ostrixFpga::setCrosshairSize(unsigned size) {
    crosshairSize = size;
    readwriteReg32(CROSSHAIR_ENABLE_REG(LEFT), crosshairCode(size));
    readwriteReg32(CROSSHAIR_ENABLE_REG(RIGHT), crosshairCode(size));
}

void ostrixFpga::setScreenBlanking(int channel, bool on) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (!channelSelected(channel, c) || bool(shadowCR[c].bits.BlankVideoOut) == on) {
            continue;
        }
        logprintf("F: ScreenBlank[%s]=%d\n", channelName(c), on ? 1 : 0);
        shadowCR[c].bits.BlankVideoOut = on ? 1 : 0;
        writeControl(c);
    }
}

void ostrixFpga::set3DMode(unsigned mode) {
    shadowCR[LEFT].bits.inputMode3D = mode & MODE_3D_MASK;
    shadowCR[RIGHT].bits.inputMode3D = mode & MODE_3D_MASK;
    writeBothControls();
}

void ostrixFpga::setOutput3DMode(unsigned mode) {
    shadowCR[LEFT].bits.outputMode3D = mode & MODE_3D_MASK;
    shadowCR[RIGHT].bits.outputMode3D = mode & MODE_3D_MASK;
    writeBothControls();
}

void ostrixFpga::setSyncPolarity(bool VSyncActiveHigh, bool HSyncActiveHigh) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        shadowCR[c].bits.VSyncPolarity = VSyncActiveHigh ? 1 : 0;
        shadowCR[c].bits.HSyncPolarity = HSyncActiveHigh ? 1 : 0;
    }
    writeBothControls();
}

// A sync is active high when its high part is the short one: the pulse.
void ostrixFpga::syncPolarityUpdate() {
    for (int c = LEFT; c <= RIGHT; ++c) {
        STATUS_REG_UNION status{};
        status.word = readwriteReg32(STATUS_REG(c), 0);
        if (status.bits.FPGAMagicNibble != FPGA_MAGIC) {
            logprintforange("F %5s: read FPGA magic 4-bits, expected 0xA, got 0x%x\r\n", channelName(c),
                            status.bits.FPGAMagicNibble);
        }
        uint32_t hsync = readwriteReg32(HSYNC_LOHI_TIME_REG(c), 0);
        uint32_t vsyncLow = readwriteReg32(VSYNC_LO_TIME_REG(c), 0);
        uint32_t vsyncHigh = readwriteReg32(VSYNC_HI_TIME_REG(c), 0);
        bool hsyncActiveHigh = dutyCycle(hsync & SYNC_TIME_MASK, hsync >> SYNC_TIME_BITS) < SYNC_SHORT_PULSE;
        bool vsyncActiveHigh = dutyCycle(vsyncHigh, vsyncLow) < SYNC_SHORT_PULSE;
        logprintf("F %5s: Vsync %4s, Hsync %4s\n", channelName(c), vsyncActiveHigh ? "HIGH" : "LOW",
                  hsyncActiveHigh ? "HIGH" : "LOW");
        // Both channels' outputs follow the left input's timing.
        if (c == LEFT) {
            setSyncPolarity(vsyncActiveHigh, hsyncActiveHigh);
        }
    }
}

void ostrixFpga::enableHDMITx(int channel, unsigned connected) {
    const unsigned enable = connected & 1;
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (!channelSelected(channel, c) || shadowCR[c].bits.HDMIOutputEnable == enable) {
            continue;
        }
        logprintf("F: enableHDMITx new %u was %u\n", enable, unsigned(shadowCR[c].bits.HDMIOutputEnable));
        shadowCR[c].bits.HDMIOutputEnable = enable;
        writeControl(c);
    }
}

void ostrixFpga::enablePiVideo(bool enable) {
    shadowCR[LEFT].bits.PiVideoInEnable = enable ? 1 : 0;
    shadowCR[RIGHT].word = shadowCR[LEFT].word;
    writeBothControls();
}

void ostrixFpga::enableVideoOverlay(bool enable) {
    shadowCR[LEFT].bits.OverlayEnable = enable ? 1 : 0;
    shadowCR[RIGHT].word = shadowCR[LEFT].word;
    writeBothControls();
}
