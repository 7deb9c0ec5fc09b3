#include "sim/buses/BitBangI2cTarget.h"

#include <cstdio>

#include "platform/wiringPi.h"

namespace sim {

namespace {
constexpr int kSda = I2cBus::kSdaPin;
constexpr int kScl = I2cBus::kSclPin;
constexpr int kBitsPerByte = 8;
constexpr uint8_t kTopBit = 0x80;
constexpr uint8_t kReadBit = 0x01;
} // namespace

BitBangI2cTarget::BitBangI2cTarget(PinBank& pins, I2cBus& bus) : pins_(pins), bus_(bus) {
    sdaHook_ = pins_.addEdgeHook(kSda, [this](int, int level) { onSda(level); });
    sclHook_ = pins_.addEdgeHook(kScl, [this](int, int level) { onScl(level); });
}

BitBangI2cTarget::~BitBangI2cTarget() {
    pins_.removeEdgeHook(sdaHook_);
    pins_.removeEdgeHook(sclHook_);
}

void BitBangI2cTarget::setEdgeTracing(bool on) {
    traceEdges_ = on;
    if (on) {
        quiet(false);
    }
}

void BitBangI2cTarget::setClockLimits(std::chrono::nanoseconds minHigh, std::chrono::nanoseconds minLow) {
    minHigh_ = minHigh;
    minLow_ = minLow;
}

std::string BitBangI2cTarget::lastRefusal() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastRefusal_;
}

void BitBangI2cTarget::quiet(bool on) {
    const bool traced = !on || traceEdges_;
    pins_.setEdgeTracing(kSda, traced);
    pins_.setEdgeTracing(kScl, traced);
}

void BitBangI2cTarget::applyDrive() {
    const Drive sda = pullSdaLow_ || bus_.lineHeld(kSda) ? Drive::Low : Drive::None;
    const Drive scl = bus_.lineHeld(kScl) ? Drive::Low : Drive::None;
    if (pins_.driven(kSda) != sda) {
        pins_.drive(kSda, sda);
    }
    if (pins_.driven(kScl) != scl) {
        pins_.drive(kScl, scl);
    }
}

void BitBangI2cTarget::reset() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = Phase::Idle;
        sclEdgeSeen_ = false;
        refused_ = 0;
        lastRefusal_.clear();
        pullSdaLow_ = false;
        transfer_.clear();
        quiet(false);
    }
    applyDrive();
}

void BitBangI2cTarget::linesHandedBack() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phase_ == Phase::Idle && !transfer_.active()) {
            return;
        }
        endTransfer(false);
        phase_ = Phase::Idle;
        pullSdaLow_ = false;
    }
    applyDrive();
}

void BitBangI2cTarget::endTransfer(bool stopSeen) {
    bus_.stop(transfer_, "bit-banged", true, stopSeen);
    quiet(false);
}

// SDA moving while SCL is high is a START (falling) or a STOP (rising); while SCL is
// low it is only data being set up, ours included.
void BitBangI2cTarget::onSda(int level) {
    bool was;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pins_.read(kScl) != HIGH) {
            return;
        }
        was = pullSdaLow_;
        if (level == LOW) {
            phase_ = Phase::Address;
            bits_ = 0;
            shift_ = 0;
            quiet(true);
        } else {
            endTransfer(true);
            phase_ = Phase::Idle;
        }
        pullSdaLow_ = false;
    }
    if (was) {
        applyDrive();
    }
}

// A rising edge ends a low period of SCL, a falling edge a high one. Only clocks within a
// transfer the chips take part in are held to the limits.
bool BitBangI2cTarget::clockInLimits(int level) {
    const Clock::time_point now = Clock::now();
    const Clock::duration since = now - lastSclEdge_;
    const bool measured = sclEdgeSeen_;
    lastSclEdge_ = now;
    sclEdgeSeen_ = true;
    if (!measured || phase_ == Phase::Idle || phase_ == Phase::Ignore) {
        return true;
    }
    const bool endsLow = level == HIGH;
    const std::chrono::nanoseconds limit = endsLow ? minLow_.load() : minHigh_.load();
    if (since >= limit) {
        return true;
    }
    char why[96];
    std::snprintf(why, sizeof why, "clock too fast: SCL %s %.2f us, at least %.2f us",
                  endsLow ? "low" : "high", std::chrono::duration<double, std::micro>(since).count(),
                  std::chrono::duration<double, std::micro>(limit).count());
    refuse(why);
    return false;
}

// The chips stop answering: SDA is let go and the rest of the transfer ignored.
void BitBangI2cTarget::refuse(const std::string& why) {
    ++refused_;
    lastRefusal_ = why;
    const std::string what = "bit-banged, refused, " + why;
    if (transfer_.active()) {
        bus_.stop(transfer_, what.c_str(), true, false);
    } else {
        bus_.note(what); // refused within the address byte
    }
    quiet(false);
    phase_ = Phase::Ignore;
    pullSdaLow_ = false;
}

void BitBangI2cTarget::onScl(int level) {
    bool was, now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        was = pullSdaLow_;
        if (!clockInLimits(level)) {
            // refused: nothing more is decoded until the next START
        } else if (level == HIGH) {
            if (phase_ == Phase::Address || phase_ == Phase::Write) {
                shift_ = static_cast<uint8_t>(shift_ << 1 | (pins_.read(kSda) == HIGH ? 1 : 0));
                bits_++;
            } else if (phase_ == Phase::ReadAck) {
                masterAcked_ = pins_.read(kSda) == LOW;
            }
        } else {
            sclFalling();
        }
        now = pullSdaLow_;
    }
    if (was != now) {
        applyDrive();
    }
}

// The chips change SDA only while SCL is low, right after its falling edge.
void BitBangI2cTarget::sclFalling() {
    switch (phase_) {
    case Phase::Address:
        if (bits_ == kBitsPerByte) {
            const bool read = shift_ & kReadBit;
            const bool ack = bus_.start(transfer_, static_cast<uint8_t>(shift_ >> 1), read);
            pullSdaLow_ = ack;
            afterAck_ = !ack ? Phase::Ignore : read ? Phase::Read : Phase::Write;
            phase_ = Phase::AddressAck;
        }
        break;
    case Phase::Write:
        if (bits_ == kBitsPerByte) {
            pullSdaLow_ = bus_.send(transfer_, shift_);
            afterAck_ = Phase::Write;
            phase_ = Phase::WriteAck;
        }
        break;
    case Phase::AddressAck:
    case Phase::WriteAck:
        pullSdaLow_ = false;
        bits_ = 0;
        shift_ = 0;
        if (afterAck_ == Phase::Read) {
            loadReadByte();
        } else {
            phase_ = afterAck_;
        }
        break;
    case Phase::Read:
        if (bits_ < kBitsPerByte) {
            pullSdaLow_ = !(readByte_ & (kTopBit >> bits_));
            bits_++;
        } else {
            pullSdaLow_ = false;
            masterAcked_ = false;
            phase_ = Phase::ReadAck;
        }
        break;
    case Phase::ReadAck:
        if (masterAcked_) {
            loadReadByte();
        } else {
            phase_ = Phase::Ignore;
        }
        break;
    case Phase::Idle:
    case Phase::Ignore:
        break;
    }
}

// Fetches the next byte from the chip and puts its top bit on SDA.
void BitBangI2cTarget::loadReadByte() {
    readByte_ = bus_.receive(transfer_);
    pullSdaLow_ = !(readByte_ & kTopBit);
    bits_ = 1;
    phase_ = Phase::Read;
}

} // namespace sim
