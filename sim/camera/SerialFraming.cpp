#include "sim/camera/SerialFraming.h"

#include <bitset>

namespace sim {

namespace {

constexpr int kIdleBits = 12; // the line rests high for at least a character after each byte

bool parityBit(unsigned value, int bits, Parity parity) {
    const bool odd = std::bitset<16>(value & ((1u << bits) - 1)).count() % 2 != 0;
    return parity == Parity::Even ? odd : !odd;
}

std::vector<bool> frameBits(uint8_t byte, const SerialFraming& f) {
    std::vector<bool> bits{false}; // start bit
    for (int i = 0; i < f.dataBits; ++i) {
        bits.push_back((byte >> i) & 1);
    }
    if (f.parity != Parity::None) {
        bits.push_back(parityBit(byte, f.dataBits, f.parity));
    }
    bits.insert(bits.end(), static_cast<size_t>(f.stopBits) + kIdleBits, true);
    return bits;
}

} // namespace

SerialFraming SerialFraming::fromTermios(const termios& t) {
    SerialFraming f;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        f.dataBits = 5;
        break;
    case CS6:
        f.dataBits = 6;
        break;
    case CS7:
        f.dataBits = 7;
        break;
    default:
        f.dataBits = 8;
        break;
    }
    if (t.c_cflag & PARENB) {
        f.parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    }
    f.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return f;
}

std::string SerialFraming::name() const {
    const char p = parity == Parity::None ? 'N' : parity == Parity::Even ? 'E' : 'O';
    return std::to_string(dataBits) + p + std::to_string(stopBits);
}

std::vector<ReceivedChar> reframe(uint8_t byte, const SerialFraming& from, const SerialFraming& to) {
    const std::vector<bool> bits = frameBits(byte, from);
    const size_t frameLength = 1 + static_cast<size_t>(to.dataBits) + (to.parity != Parity::None ? 1 : 0) + 1;
    std::vector<ReceivedChar> out;
    size_t at = 0;
    while (true) {
        while (at < bits.size() && bits[at]) {
            ++at; // the receiver waits for a start bit
        }
        if (at + frameLength > bits.size()) {
            return out;
        }
        ReceivedChar c;
        unsigned value = 0;
        for (int i = 0; i < to.dataBits; ++i) {
            value |= static_cast<unsigned>(bits[at + 1 + i]) << i;
        }
        c.value = static_cast<uint8_t>(value);
        size_t next = at + 1 + static_cast<size_t>(to.dataBits);
        if (to.parity != Parity::None) {
            c.parityError = bits[next] != parityBit(value, to.dataBits, to.parity);
            ++next;
        }
        c.framingError = !bits[next]; // a receiver checks only the first stop bit
        out.push_back(c);
        at = next + 1;
    }
}

} // namespace sim
