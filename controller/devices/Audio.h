// The audio codec at 0x18 on I2C bus 6: speaker, headset and key beeps from 48 kHz PCM.
// It is initialised from a register script or the built-in table, sets the speaker and
// headphone volumes, switches between speaker and headset when a headset is plugged in
// (interrupt line GPIO 21) and plays beeps with its own tone generator. Log prefix "AC: ".
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "controller/devices/AudioScript.h"

class i2c_handler;

constexpr uint8_t I2C_BASE_AUDIO_CONTROLS = 0x18;
constexpr int SampleRate = 48000;
constexpr int AUDIO_INT_Pin = 21;

constexpr int AIC31XX_REG(int page, int reg) {
    return page * AIC31XX_PAGE_SIZE + reg;
}
constexpr int AIC31XX_PAGECTL = AIC31XX_REG(0, 0);
constexpr int AIC31XX_NDAC = AIC31XX_REG(0, 11);
constexpr int AIC31XX_DACFLAG2 = AIC31XX_REG(0, 38);
constexpr int AIC31XX_INTRDACFLAG = AIC31XX_REG(0, 44);
constexpr int AIC31XX_INTRDACFLAG2 = AIC31XX_REG(0, 46);
constexpr int AIC31XX_DACMUTE = AIC31XX_REG(0, 64);
constexpr int AIC31XX_HSDETECT = AIC31XX_REG(0, 67);
constexpr int AIC31XX_LBEEPGEN = AIC31XX_REG(0, 71);
constexpr int AIC31XX_RBEEPGEN = AIC31XX_REG(0, 72);
constexpr int AIC31XX_BEEPLENGTH = AIC31XX_REG(0, 73); // three registers, MSB first
constexpr int AIC31XX_BEEPSINE = AIC31XX_REG(0, 76);   // two registers, MSB first
constexpr int AIC31XX_BEEPCOSINE = AIC31XX_REG(0, 78); // two registers, MSB first
constexpr int AIC31XX_LANALOGHPL = AIC31XX_REG(1, 36);
constexpr int AIC31XX_RANALOGHPR = AIC31XX_REG(1, 37);
constexpr int AIC31XX_LANALOGSPL = AIC31XX_REG(1, 38);
constexpr int AIC31XX_RANALOGSPR = AIC31XX_REG(1, 39);

constexpr uint32_t AUDIO_MAX_VOLUME = 100;

class audio {
public:
    // `i2c` is the controller's I2C handler; an empty script name uses the built-in table.
    audio(i2c_handler* i2c, const char* init_script);
    ~audio();
    audio(const audio&) = delete;
    audio& operator=(const audio&) = delete;

    // 0, or -1 when the codec could not be reached.
    int configure();
    // The codec lost its registers in standby: configure it again and give it back the
    // volumes and mute states it had.
    int wake_up();

    int select_register_page(int reg);
    int read_reg8(int reg, uint8_t* value);
    int write_reg8(int reg, uint8_t value);
    int write_reg16(int reg, uint16_t value);

    void setSpeakerVolume(uint32_t volume);
    void setHeadphoneVolume(uint32_t volume);
    void muteSpeakers();
    void muteHeadset();
    void unmuteSpeakers();
    void unmuteHeadset();
    int headsetDetected();
    int poll();
    int beep(uint16_t frequency, uint16_t cycles);

    uint32_t speaker_volume() const { return speakerVolume; }
    uint32_t headset_volume() const { return headsetVolume; }
    bool speakers_muted() const { return speakerMuted; }
    bool headset_muted() const { return headsetMuted; }
    int page() const { return current_page; }

private:
    int writePair(int left, uint8_t value);
    int writeTable(const std::vector<audio_register_entry>& entries, bool paced);
    // The script's table, or false when it is missing or malformed (logged).
    bool loadScript(std::vector<audio_register_entry>& entries) const;

    i2c_handler* i2c;
    int current_page = -1;
    uint8_t lastpoll = 0;
    uint32_t speakerVolume = 0;
    uint32_t headsetVolume = 0;
    bool speakerMuted = true;
    bool headsetMuted = true;
    timer_t timer;
    std::string ini_script;
    // What configure() writes: the built-in table until a script has been read, and the
    // last good script after that.
    std::vector<audio_register_entry> table;
    bool tableFromScript = false;
};
