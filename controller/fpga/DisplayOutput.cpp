// The display FPGA's output stage as the HDMI input handling drives it: the backlight,
// blanking, the 3D input and output formats, the sync polarity taken from the measured
// HDMI syncs, and the HDMI transmitter output enable. Blanking and the output enable
// write nothing when the bit already holds the value.
#include <cstdint>

#include "common/logfile.h"
#include "controller/fpga/fpga.h"

namespace {

constexpr unsigned MAX_PERCENT = 100;
constexpr unsigned BACKLIGHT_SPAN = BACKLIGHTMAX - BACKLIGHTOFFSET;
constexpr uint32_t MODE3D_MASK = 3;
constexpr uint32_t FPGA_MAGIC = 0xA;
constexpr uint32_t SYNC_TIME_MASK = 0xFFFF;
constexpr int SYNC_LOW_SHIFT = 16;
constexpr float HALF_DUTY = 0.5f;

const char* channelName(int c) {
    return c == RIGHT ? "RIGHT" : "LEFT";
}

// A sync is active high when its high part is the short part of the period.
bool activeHigh(uint32_t high, uint32_t low) {
    const uint32_t period = high + low;
    return period != 0 && static_cast<float>(high) / static_cast<float>(period) < HALF_DUTY;
}

} // namespace

void ostrixFpga::setBacklightBrightness(int channel, unsigned brightnessPercent, bool off) {
    const unsigned brightness = off || brightnessPercent > MAX_PERCENT
                                    ? 0
                                    : brightnessPercent * BACKLIGHT_SPAN / MAX_PERCENT + BACKLIGHTOFFSET;
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (!channelSelected(channel, c)) {
            continue;
        }
        unsigned level = backlightScale[c] * brightness / MAX_PERCENT;
        if (level > BACKLIGHTMAX) {
            level = BACKLIGHTMAX;
        }
        readwriteReg32(BACKLIGHT_REG(c), level & BACKLIGHTMAX);
        logprintf("F: Backlight[%s] @ %d\n ", channelName(c), static_cast<int>(level));
    }
}

void ostrixFpga::setScreenBlanking(int channel, bool on) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (channelSelected(channel, c) && shadowCR[c].bits.BlankVideoOut != (on ? 1u : 0u)) {
            logprintf("F: ScreenBlank[%s]=%d\n", channelName(c), on ? 1 : 0);
            shadowCR[c].bits.BlankVideoOut = on ? 1 : 0;
            writeControl(c);
        }
    }
}

void ostrixFpga::set3DMode(unsigned mode) {
    shadowCR[LEFT].bits.inputMode3D = mode & MODE3D_MASK;
    shadowCR[RIGHT].bits.inputMode3D = mode & MODE3D_MASK;
    writeBothControls();
}

void ostrixFpga::setOutput3DMode(unsigned mode) {
    shadowCR[LEFT].bits.outputMode3D = mode & MODE3D_MASK;
    shadowCR[RIGHT].bits.outputMode3D = mode & MODE3D_MASK;
    writeBothControls();
}

void ostrixFpga::setSyncPolarity(bool VSyncActiveHigh, bool HSyncActiveHigh) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        shadowCR[c].bits.VSyncPolarity = VSyncActiveHigh ? 1 : 0;
        shadowCR[c].bits.HSyncPolarity = HSyncActiveHigh ? 1 : 0;
    }
    writeBothControls();
}

void ostrixFpga::syncPolarityUpdate() {
    for (int c = LEFT; c <= RIGHT; ++c) {
        STATUS_REG_UNION status{};
        status.word = readwriteReg32(STATUS_REG(c), 0);
        if (status.bits.FPGAMagicNibble != FPGA_MAGIC) {
            logprintforange("F %5s: read FPGA magic 4-bits, expected 0xA, got 0x%x\r\n", channelName(c),
                            static_cast<unsigned>(status.bits.FPGAMagicNibble));
        }
        const uint32_t hsync = readwriteReg32(HSYNC_LOHI_TIME_REG(c), 0);
        const uint32_t vsyncLow = readwriteReg32(VSYNC_LO_TIME_REG(c), 0);
        const uint32_t vsyncHighTime = readwriteReg32(VSYNC_HI_TIME_REG(c), 0);
        const bool hsyncHigh = activeHigh(hsync & SYNC_TIME_MASK, hsync >> SYNC_LOW_SHIFT);
        const bool vsyncHigh = activeHigh(vsyncHighTime, vsyncLow);
        logprintf("F %5s: Vsync %4s, Hsync %4s\n", channelName(c), vsyncHigh ? "HIGH" : "LOW",
                  hsyncHigh ? "HIGH" : "LOW");
        if (c == LEFT) {
            setSyncPolarity(vsyncHigh, hsyncHigh);
        }
    }
}

void ostrixFpga::enableHDMITx(int channel, unsigned connected) {
    const unsigned enable = connected & 1;
    if (channel < LEFT || channel > RIGHT || shadowCR[channel].bits.HDMIOutputEnable == enable) {
        return;
    }
    logprintf("F: enableHDMITx new %u was %u\n", enable,
              static_cast<unsigned>(shadowCR[channel].bits.HDMIOutputEnable));
    shadowCR[channel].bits.HDMIOutputEnable = enable;
    writeControl(channel);
}
