#include "sim/chips/AudioCodec.h"

#include <cmath>

#include "sim/board/Json.h"
#include "sim/board/PinBank.h"

namespace sim {

namespace {

constexpr int kPageSize = 128;
constexpr uint8_t kBeepEnable = 0x80;
constexpr uint8_t kLeftDacPowered = 0x80, kRightDacPowered = 0x40;
constexpr uint8_t kLeftDacFlag = 0x10, kRightDacFlag = 0x01;
constexpr uint8_t kHeadsetDetectBits = 0x60;
constexpr uint8_t kHeadsetWithMicrophone = 0x60;
constexpr uint8_t kHeadphonesOnly = 0x20;
constexpr int kSpeakerSteps = 101;
constexpr int kHeadphoneSteps = 127;
constexpr int kMaxVolume = 100;
constexpr uint8_t kAttenuation = 0x7F;
constexpr double kTwoPi = 6.283185307179586;

const char* kHelp = "headset plug [headphones]  plugs a headset (with microphone unless headphones)\n"
                    "headset unplug             pulls it out\n";

// Volume 0..100 an output register plays at; 0 when muted or not routed.
int volumeOf(uint8_t value, int steps) {
    if (!(value & AudioCodec::kRouteOn) || value == AudioCodec::kMuted) {
        return 0;
    }
    const int volume = steps - (value & kAttenuation);
    return volume < 0 ? 0 : volume > kMaxVolume ? kMaxVolume : volume;
}

} // namespace

AudioCodec::AudioCodec(Board& board, I2cBus& bus)
    : RegisterFileDevice(board, bus,
                         RegisterFileLayout{"audio-codec",
                                            kChannel,
                                            {kAddress},
                                            kPages,
                                            sizeof(State),
                                            {{1, kHeadphoneLeft, kMuted},
                                             {1, kHeadphoneRight, kMuted},
                                             {1, kSpeakerLeft, kMuted},
                                             {1, kSpeakerRight, kMuted}}}) {}

void AudioCodec::powerOn() {
    RegisterFileDevice::powerOn();
    board().pins().drive(kInterruptPin, Drive::Low);
}

int AudioCodec::bankOf(int, uint8_t) const {
    return extra<State>().page;
}

void AudioCodec::written(int bank, uint8_t reg, uint16_t value) {
    State& s = extra<State>();
    if (reg == kPageSelect) {
        s.page = static_cast<uint8_t>(value);
        return;
    }
    if (bank == 0 && reg == kBeepLeft && (value & kBeepEnable)) {
        startBeep();
    }
}

// The tone is the angle the sine and cosine words span per sample.
void AudioCodec::startBeep() {
    State& s = extra<State>();
    const auto sine = static_cast<int16_t>(cell(0, kBeepSine) << 8 | cell(0, kBeepSine + 1));
    const auto cosine = static_cast<int16_t>(cell(0, kBeepCosine) << 8 | cell(0, kBeepCosine + 1));
    s.beepFrequency =
        std::atan2(static_cast<double>(sine), static_cast<double>(cosine)) * kSampleRate / kTwoPi;
    s.beepSamples = static_cast<uint32_t>(cell(0, kBeepLength) << 16 | cell(0, kBeepLength + 1) << 8 |
                                          cell(0, kBeepLength + 2));
    s.beepCount++;
}

uint16_t AudioCodec::readValue(int bank, uint8_t reg) {
    State& s = extra<State>();
    if (reg == kPageSelect) {
        return s.page;
    }
    if (bank != 0) {
        return cell(bank, reg);
    }
    switch (reg) {
    case kDacFlag: {
        const uint16_t power = cell(0, kDacPower);
        return static_cast<uint16_t>(((power & kLeftDacPowered) ? kLeftDacFlag : 0) |
                                     ((power & kRightDacPowered) ? kRightDacFlag : 0));
    }
    case kStickyFlags: {
        const uint8_t flags = s.stickyFlags;
        s.stickyFlags = 0;
        s.pending = 0;
        return flags;
    }
    case kFlags:
        return s.headset ? kHeadsetFlag : 0;
    case kHeadsetDetect:
        return static_cast<uint16_t>((cell(0, reg) & ~kHeadsetDetectBits) | s.headset);
    default:
        return cell(0, reg);
    }
}

// The line follows the chip's state at the end of each transfer, outside its lock.
void AudioCodec::stop() {
    RegisterFileDevice::stop();
    updateInterruptLine();
}

void AudioCodec::updateInterruptLine() {
    const bool pending = interruptPending();
    board().pins().drive(kInterruptPin, pending ? Drive::High : Drive::Low);
}

void AudioCodec::plugHeadset(bool plugged) {
    plugHeadsetType(plugged ? kHeadsetWithMicrophone : 0);
}

void AudioCodec::plugHeadsetType(uint8_t detectBits) {
    {
        auto held = lock();
        State& s = extra<State>();
        s.headset = detectBits & kHeadsetDetectBits;
        s.stickyFlags = s.headset ? kHeadsetFlag : 0;
        s.pending = 1;
    }
    updateInterruptLine();
}

bool AudioCodec::headsetPlugged() const {
    auto held = lock();
    return extra<State>().headset != 0;
}

bool AudioCodec::interruptPending() const {
    auto held = lock();
    return extra<State>().pending != 0;
}

uint8_t AudioCodec::page() const {
    auto held = lock();
    return extra<State>().page;
}

AudioCodec::Beep AudioCodec::lastBeep() const {
    auto held = lock();
    const State& s = extra<State>();
    Beep beep;
    beep.count = s.beepCount;
    beep.frequency = s.beepFrequency;
    beep.samples = s.beepSamples;
    return beep;
}

uint8_t AudioCodec::reg(int number) const {
    if (number < 0 || number >= kPages * kPageSize) {
        return 0;
    }
    return static_cast<uint8_t>(value(number / kPageSize, static_cast<uint8_t>(number % kPageSize)));
}

int AudioCodec::speakerVolume() const {
    return volumeOf(static_cast<uint8_t>(value(1, kSpeakerLeft)), kSpeakerSteps);
}

int AudioCodec::headphoneVolume() const {
    return volumeOf(static_cast<uint8_t>(value(1, kHeadphoneLeft)), kHeadphoneSteps);
}

// Left and right volume registers of page 1, as a JSON array.
std::string AudioCodec::registerPair(uint8_t left) const {
    JsonArray pair;
    pair.add(value(1, left)).add(value(1, static_cast<uint8_t>(left + 1)));
    return pair.str();
}

void AudioCodec::addStatus(JsonObject& status) const {
    const Beep beep = lastBeep();
    JsonObject beepJson;
    beepJson.add("count", static_cast<unsigned>(beep.count))
        .add("frequency_hz", beep.frequency)
        .add("length_samples", static_cast<unsigned>(beep.samples))
        .add("length_ms", beep.milliseconds());
    const int speaker = speakerVolume();
    const int headphone = headphoneVolume();
    const char* output = speaker && headphone ? "both"
                         : speaker            ? "speakers"
                         : headphone          ? "headset"
                                              : "none";
    JsonObject o;
    o.add("page", static_cast<int>(page()))
        .add("headset_plugged", headsetPlugged())
        .add("interrupt", interruptPending())
        .add("speaker_volume", speaker)
        .add("headphone_volume", headphone)
        .addRaw("speaker_registers", registerPair(kSpeakerLeft))
        .addRaw("headphone_registers", registerPair(kHeadphoneLeft))
        .add("output", output)
        .addRaw("beep", beepJson.str());
    status.addRaw("audio", o.str());
}

std::string AudioCodec::help() const {
    return kHelp;
}

std::optional<CommandResult> AudioCodec::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "headset") {
        return std::nullopt;
    }
    if (args.size() == 2 && args[1] == "unplug") {
        plugHeadset(false);
        return CommandResult{true, "headset unplugged\n"};
    }
    if (args.size() == 2 && args[1] == "plug") {
        plugHeadset(true);
        return CommandResult{true, "headset plugged\n"};
    }
    if (args.size() == 3 && args[1] == "plug" && args[2] == "headphones") {
        plugHeadsetType(kHeadphonesOnly);
        return CommandResult{true, "headphones plugged\n"};
    }
    return CommandResult{false, std::string("usage:\n") + kHelp};
}

} // namespace sim
