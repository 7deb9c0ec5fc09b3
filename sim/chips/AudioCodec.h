// The audio codec at 0x18 on switch channel 6. Its registers are paged: register 0 of
// every page selects the page the others refer to (the controller numbers a register
// page x 128 + register). What the controller relies on:
//   page 0  11 NDAC divider (bit 7 powers the DAC clock), 38 DAC flags (0x10 left and
//           0x01 right DAC powered, from the power bits 7 and 6 of register 63), 44
//           sticky interrupt flags (bit 4: a headset is in; reading it clears the
//           interrupt), 46 interrupt flags as they are now, 64 DAC mute, 67 headset
//           detect (bits 5..6: what is plugged), 71/72 beep enable (bit 7), 73..75 beep
//           length in samples, 76/77 beep sine and 78/79 beep cosine (most significant
//           byte first; the tone is the angle between them at 48 kHz)
//   page 1  36/37 (164/165) headphone and 38/39 (166/167) speaker volume: bit 7 routes
//           the output, the low bits attenuate it, 0x7F mutes it
// The codec raises its interrupt line (GPIO 21) when a headset is plugged in or pulled
// out, until register 44 is read.
//
// Test side: plug and unplug a headset ("headset plug|unplug"), the last beep (tone,
// length), the volumes and which output is live, all in the status.
#pragma once

#include <cstdint>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

class AudioCodec : public RegisterFileDevice {
public:
    static constexpr uint8_t kAddress = 0x18;
    static constexpr int kChannel = 6;
    static constexpr int kPages = 256;
    static constexpr int kInterruptPin = 21;
    static constexpr double kSampleRate = 48000.0;

    // Page 0.
    static constexpr uint8_t kPageSelect = 0;
    static constexpr uint8_t kNdac = 11;
    static constexpr uint8_t kDacFlag = 38;
    static constexpr uint8_t kStickyFlags = 44;
    static constexpr uint8_t kFlags = 46;
    static constexpr uint8_t kDacPower = 63;
    static constexpr uint8_t kDacMute = 64;
    static constexpr uint8_t kHeadsetDetect = 67;
    static constexpr uint8_t kBeepLeft = 71;
    static constexpr uint8_t kBeepRight = 72;
    static constexpr uint8_t kBeepLength = 73; // three bytes
    static constexpr uint8_t kBeepSine = 76;   // two bytes
    static constexpr uint8_t kBeepCosine = 78; // two bytes
    // Page 1.
    static constexpr uint8_t kHeadphoneLeft = 36;
    static constexpr uint8_t kHeadphoneRight = 37;
    static constexpr uint8_t kSpeakerLeft = 38;
    static constexpr uint8_t kSpeakerRight = 39;

    static constexpr uint8_t kHeadsetFlag = 0x10;
    static constexpr uint8_t kMuted = 0x7F;
    static constexpr uint8_t kRouteOn = 0x80;

    struct Beep {
        uint32_t count = 0;   // beeps started since power-on
        double frequency = 0; // Hz
        uint32_t samples = 0;
        double milliseconds() const { return samples * 1000.0 / kSampleRate; }
    };

    AudioCodec(Board& board, I2cBus& bus);

    void powerOn() override;
    void stop() override;
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Test side.
    void plugHeadset(bool plugged);
    // What the detect bits 5..6 of register 67 read while plugged (0: unplugged).
    void plugHeadsetType(uint8_t detectBits);
    bool headsetPlugged() const;
    bool interruptPending() const;
    uint8_t page() const;
    Beep lastBeep() const;
    // A register by its number page x 128 + register, as stored.
    uint8_t reg(int number) const;
    // Volume 0..100 an output plays at (0 when muted or not routed), as the controller
    // sets it: speaker 0x80 | (101 - v), headphone 0x80 | (127 - v).
    int speakerVolume() const;
    int headphoneVolume() const;

protected:
    int bankOf(int addressIndex, uint8_t reg) const override;
    void written(int bank, uint8_t reg, uint16_t value) override;
    uint16_t readValue(int bank, uint8_t reg) override;

private:
    struct State {
        uint8_t page;
        uint8_t headset;     // 0 unplugged, else the detect bits 5..6
        uint8_t pending;     // interrupt not yet read
        uint8_t stickyFlags; // what register 44 reads next
        uint32_t beepCount;
        uint32_t beepSamples;
        double beepFrequency;
    };
    static_assert(sizeof(State) == 24, "shared state layout");
    void startBeep(); // caller holds the lock
    std::string registerPair(uint8_t left) const;
    void updateInterruptLine();
};

} // namespace sim
