// The 8-byte wire form of a message.
#include "common/messages.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> wireOf(uint32_t command, uint32_t data) {
    uint8_t wire[MESSAGE_WIRE_SIZE];
    encodeMessage(message_s{command, data}, wire);
    return std::vector<uint8_t>(wire, wire + MESSAGE_WIRE_SIZE);
}

TEST(MessageWire, WordsGoMostSignificantByteFirst) {
    EXPECT_EQ(wireOf(0x01000013, 0), (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(wireOf(0x12345678, 0x9ABCDEF0),
              (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}));
}

TEST(MessageWire, DecodingInvertsEncoding) {
    for (const message_s msg :
         {message_s{0xA0000035, 10}, message_s{0xFFFFFFFF, 0x80000001}, message_s{0, 0}}) {
        const auto wire = wireOf(msg.command, msg.data);
        const message_s back = decodeMessage(wire.data());
        EXPECT_EQ(back.command, msg.command);
        EXPECT_EQ(back.data, msg.data);
    }
}

} // namespace
