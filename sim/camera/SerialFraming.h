// What a UART makes of bytes another UART framed differently. The link to the camera
// board is a pseudo-terminal that carries plain bytes, so the framing the controller set
// on its port (data bits, parity, stop bits) is applied here, bit by bit: a port set up
// other than the boot loader's 8E1 garbles what the loader receives and what comes back.
#pragma once

#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

namespace sim {

enum class Parity { None, Even, Odd };

struct SerialFraming {
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;

    static SerialFraming fromTermios(const termios& t);
    bool operator==(const SerialFraming& o) const {
        return dataBits == o.dataBits && parity == o.parity && stopBits == o.stopBits;
    }
    std::string name() const; // "8E1"
};

// The microcontroller boot loader's UART: 8 data bits, even parity, one stop bit.
constexpr SerialFraming kBootLoaderFraming{8, Parity::Even, 1};

// One character as the receiver decodes it.
struct ReceivedChar {
    uint8_t value = 0;
    bool parityError = false;
    bool framingError = false;
};

// The characters a receiver set to `to` decodes from one byte sent with `from` and the
// idle line after it (none, one, or a phantom second one started by a stray 0 bit).
std::vector<ReceivedChar> reframe(uint8_t byte, const SerialFraming& from, const SerialFraming& to);

} // namespace sim
