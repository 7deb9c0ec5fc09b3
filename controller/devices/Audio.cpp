#include "controller/devices/Audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/logfile.h"
#include "common/timeout.h"
#include "controller/core/devices.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"

std::unique_ptr<audio> audio_codec;

namespace {

constexpr uint8_t kPageMuted = 0x7F; // volume register: output muted
constexpr uint8_t kRouteOn = 0x80;
constexpr uint32_t kSpeakerSteps = 101;
constexpr uint32_t kHeadphoneSteps = 127;
constexpr uint8_t kHeadsetBits = 0x60;
constexpr int kHeadsetShift = 5;
constexpr uint8_t kHeadsetPlugged = 0x10;
constexpr uint8_t kPairHighNibble = 0x0F;
constexpr unsigned kTablePacingMs = 1;
// A script is a few hundred bytes; anything far larger is not one.
constexpr long kMaxScriptBytes = 1 << 20;

// Beep generator.
constexpr uint16_t kMaxBeepFrequency = 12000; // refused from here on
constexpr uint8_t kBothDacsMuted = 0x0C;
constexpr uint8_t kDacsUnmuted = 0x00;
constexpr uint8_t kBothDacsReady = 0x11;
constexpr int kDacFlagWaitMs = 1000;
constexpr uint8_t kNdacOff = 0x02;
constexpr uint8_t kNdacOn = 0x82;
constexpr uint8_t kBeepEnable = 0x80;
constexpr uint32_t kMaxBeepLength = 0xFFFFFF; // 24-bit sample count
constexpr double kFullScale = 32768.0;
constexpr double kTwoPi = 6.283185307179586;

// round(x * 32768) held in a signed 16-bit register: +1.0 has no exact code.
uint16_t toneWord(double x) {
    const long long v = std::llround(x * kFullScale);
    return static_cast<uint16_t>(static_cast<int16_t>(std::clamp<long long>(v, INT16_MIN, INT16_MAX)));
}

uint8_t speakerValue(uint32_t volume) {
    return static_cast<uint8_t>(kRouteOn | (kSpeakerSteps - volume));
}

uint8_t headphoneValue(uint32_t volume) {
    return static_cast<uint8_t>(kRouteOn | (kHeadphoneSteps - volume));
}

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

} // namespace

audio::audio(i2c_handler* i2c_, const char* init_script)
    : i2c(i2c_), timer(no_timeout()), ini_script(init_script ? init_script : ""),
      table(audio_initialisation) {
    logprintf("AC: Constructing Audio interface\n");
    if (i2c) {
        i2c->register_device(I2C_BUS_AUDIO_CONTROLS, I2C_BASE_AUDIO_CONTROLS, "audio", "audio");
    }
    pinMode(AUDIO_INT_Pin, INPUT);
    configure();
    logprintf("AC: Audio Interface Constructed\n");
}

audio::~audio() {
    muteSpeakers();
    muteHeadset();
    delete_timeout(&timer);
}

int audio::select_register_page(int reg) {
    const int page = reg / AIC31XX_PAGE_SIZE;
    if (page == current_page) {
        return 0;
    }
    if (!i2c || i2c->write_byte(I2C_BUS_AUDIO_CONTROLS, I2C_BASE_AUDIO_CONTROLS, AIC31XX_PAGECTL,
                                static_cast<uint8_t>(page), true) != 0) {
        current_page = -1; // the chip may or may not have taken it
        return -1;
    }
    current_page = page;
    return 0;
}

int audio::read_reg8(int reg, uint8_t* value) {
    if (reg < 0 || reg >= AIC31XX_REGISTERS || select_register_page(reg) != 0) {
        return -1;
    }
    return i2c->read_byte(I2C_BUS_AUDIO_CONTROLS, I2C_BASE_AUDIO_CONTROLS,
                          static_cast<uint8_t>(reg % AIC31XX_PAGE_SIZE), value) == 0
               ? 0
               : -1;
}

int audio::write_reg8(int reg, uint8_t value) {
    if (reg < 0 || reg >= AIC31XX_REGISTERS || select_register_page(reg) != 0) {
        return -1;
    }
    return i2c->write_byte(I2C_BUS_AUDIO_CONTROLS, I2C_BASE_AUDIO_CONTROLS,
                           static_cast<uint8_t>(reg % AIC31XX_PAGE_SIZE), value, true) == 0
               ? 0
               : -2;
}

// The pair takes the high byte's low nibble, then the low byte, in one transfer; the
// handler sends a word low byte first.
int audio::write_reg16(int reg, uint16_t value) {
    if (reg < 0 || reg >= AIC31XX_REGISTERS || select_register_page(reg) != 0) {
        return -1;
    }
    const auto first = static_cast<uint8_t>((value >> 8) & kPairHighNibble);
    const auto second = static_cast<uint8_t>(value & 0xFF);
    return i2c->write_word(I2C_BUS_AUDIO_CONTROLS, I2C_BASE_AUDIO_CONTROLS,
                           static_cast<uint8_t>(reg % AIC31XX_PAGE_SIZE),
                           static_cast<uint16_t>(second << 8 | first)) == 0
               ? 0
               : -2;
}

int audio::writeTable(const std::vector<audio_register_entry>& entries, bool paced) {
    int result = 0;
    for (const audio_register_entry& e : entries) {
        const int res =
            e.width == 2 ? write_reg16(e.reg, e.value) : write_reg8(e.reg, static_cast<uint8_t>(e.value));
        if (res != 0) {
            logprintf("\033[38;5;196mAC: ERROR %d writing 0x%04x to Audio Register %03x\033[38;5;248m\n", res,
                      e.value, e.reg);
            result = res;
        }
        if (paced) {
            delay(kTablePacingMs);
        }
    }
    return result;
}

bool audio::loadScript(std::vector<audio_register_entry>& entries) const {
    std::unique_ptr<FILE, FileCloser> file(fopen(ini_script.c_str(), "rb"));
    if (!file) {
        logprintf("\033[38;5;196mAC: ERROR opening Audio Init script %s\033[38;5;248m\n", ini_script.c_str());
        return false;
    }
    std::string text;
    for (int c = fgetc(file.get()); c != EOF; c = fgetc(file.get())) {
        if (static_cast<long>(text.size()) >= kMaxScriptBytes) {
            logprintf("\033[38;5;196mAC: ERROR unexpected character in script file\033[38;5;248m\n");
            return false;
        }
        text.push_back(static_cast<char>(c));
    }
    return parse_audio_script(text, entries);
}

// A missing or malformed script changes nothing: the codec gets the table it had.
int audio::configure() {
    current_page = -1;
    const int res = select_register_page(AIC31XX_PAGECTL);
    if (res != 0) {
        logprintf("\033[38;5;196mAC: ERROR %d setting page on Audio device\033[38;5;248m\n", res);
    }
    if (!ini_script.empty()) {
        logprintf("AC: Initialising Audio from script file %s\n", ini_script.c_str());
        std::vector<audio_register_entry> entries;
        if (loadScript(entries)) {
            table = std::move(entries);
            tableFromScript = true;
        }
    }
    const int written = writeTable(table, !tableFromScript);
    logprintf("AC: Configuration somplete\n");
    return res != 0 || written != 0 ? -1 : 0;
}

int audio::wake_up() {
    const int res = configure();
    setSpeakerVolume(speakerVolume);
    setHeadphoneVolume(headsetVolume);
    return res;
}

int audio::writePair(int left, uint8_t value) {
    const int res = write_reg8(left, value);
    const int second = write_reg8(left + 1, value);
    return res != 0 ? res : second;
}

void audio::setSpeakerVolume(uint32_t volume) {
    volume = std::min(volume, AUDIO_MAX_VOLUME);
    logprintf("AC: SpeakerVolumeSetting %d\n", static_cast<int>(volume));
    speakerVolume = volume;
    if (volume == 0 || speakerMuted) {
        writePair(AIC31XX_LANALOGSPL, kPageMuted);
        if (speakerMuted) {
            logprintf("AC: Speakers Muted\n");
        }
        return;
    }
    const uint8_t value = speakerValue(volume);
    writePair(AIC31XX_LANALOGSPL, value);
    logprintf("AC: Set Speaker Volume to %d\n", value);
}

void audio::setHeadphoneVolume(uint32_t volume) {
    volume = std::min(volume, AUDIO_MAX_VOLUME);
    logprintf("AC: HeadphoneVolumeSetting %d\n", static_cast<int>(volume));
    headsetVolume = volume;
    if (volume != 0 && !headsetMuted) {
        const uint8_t value = headphoneValue(volume);
        writePair(AIC31XX_LANALOGHPL, value);
        logprintf("AC: Set Headphone Volume to %d\n", value);
        return;
    }
    writePair(AIC31XX_LANALOGHPL, kPageMuted);
}

void audio::muteSpeakers() {
    writePair(AIC31XX_LANALOGSPL, kPageMuted);
    speakerMuted = true;
}

void audio::muteHeadset() {
    writePair(AIC31XX_LANALOGHPL, kPageMuted);
    headsetMuted = true;
}

void audio::unmuteSpeakers() {
    writePair(AIC31XX_LANALOGSPL, speakerVolume == 0 ? kPageMuted : speakerValue(speakerVolume));
    speakerMuted = false;
}

void audio::unmuteHeadset() {
    writePair(AIC31XX_LANALOGHPL, headsetVolume == 0 ? kPageMuted : headphoneValue(headsetVolume));
    headsetMuted = false;
}

int audio::headsetDetected() {
    uint8_t value = 0;
    if (read_reg8(AIC31XX_HSDETECT, &value) != 0) {
        return -1;
    }
    if (value & kHeadsetBits) {
        logprintf("AC: Using Headset\n");
        muteSpeakers();
        setHeadphoneVolume(headsetVolume);
    } else {
        logprintf("AC: Using Speakers\n");
        muteHeadset();
        setSpeakerVolume(speakerVolume);
    }
    return (value >> kHeadsetShift) & 3;
}

int audio::poll() {
    if (digitalRead(AUDIO_INT_Pin) == LOW) {
        return 0;
    }
    if (read_reg8(AIC31XX_INTRDACFLAG, &lastpoll) != 0) {
        logprintf("\033[38;5;196mAC: ERROR reading AIC31XX_INTRDACFLAG\033[38;5;248m\n");
        return -1;
    }
    uint8_t flags = 0;
    if (read_reg8(AIC31XX_INTRDACFLAG2, &flags) != 0) {
        logprintf("\033[38;5;196mAC: ERROR reading AIC31XX_INTRDACFLAG2\033[38;5;248m\n");
        return -1;
    }
    if (!(lastpoll & kHeadsetPlugged)) {
        muteHeadset();
        unmuteSpeakers();
        return 2;
    }
    logprintf("AC: Headset Inserted\n");
    muteSpeakers();
    unmuteHeadset();
    return 1;
}

int audio::beep(uint16_t frequency, uint16_t cycles) {
    logprintf("<<BEEP>>\n");
    if (frequency >= kMaxBeepFrequency || frequency < 1) {
        return -1;
    }
    const double angle = kTwoPi * frequency / SampleRate;
    const uint16_t sine = toneWord(std::sin(angle));
    const uint16_t cosine = toneWord(std::cos(angle));
    const auto length =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{cycles} * SampleRate / frequency, kMaxBeepLength));

    // The tone generator is set up with both DACs muted and settled.
    int res = write_reg8(AIC31XX_DACMUTE, kBothDacsMuted);
    start_timeout("AC: Beep ", &timer, kDacFlagWaitMs, 0);
    for (;;) {
        uint8_t flags = 0;
        if (read_reg8(AIC31XX_DACFLAG2, &flags) != 0) {
            break;
        }
        printf(".");
        if ((flags & kBothDacsReady) == kBothDacsReady || timeout_expired(&timer, 0, 0)) {
            break;
        }
    }
    const std::pair<int, uint8_t> writes[] = {
        {AIC31XX_NDAC, kNdacOff},
        {AIC31XX_BEEPLENGTH, static_cast<uint8_t>(length >> 16)},
        {AIC31XX_BEEPLENGTH + 1, static_cast<uint8_t>(length >> 8)},
        {AIC31XX_BEEPLENGTH + 2, static_cast<uint8_t>(length)},
        {AIC31XX_BEEPSINE, static_cast<uint8_t>(sine >> 8)},
        {AIC31XX_BEEPSINE + 1, static_cast<uint8_t>(sine)},
        {AIC31XX_BEEPCOSINE, static_cast<uint8_t>(cosine >> 8)},
        {AIC31XX_BEEPCOSINE + 1, static_cast<uint8_t>(cosine)},
        {AIC31XX_LBEEPGEN, kBeepEnable},
        {AIC31XX_RBEEPGEN, kBeepEnable},
        {AIC31XX_NDAC, kNdacOn},
        {AIC31XX_DACMUTE, kDacsUnmuted},
    };
    for (const auto& [reg, value] : writes) {
        const int r = write_reg8(reg, value);
        res = res != 0 ? res : r;
    }
    return res;
}
