// Feeds arbitrary bytes to the readers of the camera updates' outside data: the header of
// a ".jic" image and the board's flash and bridge checksum replies. None may crash, read
// outside its input or take a reply that does not answer the question asked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "controller/camera/CameraUpdate.h"

namespace {

constexpr uint32_t kStart = 0xF80000;
constexpr uint32_t kCount = 0x3EC;

void checkHeader(const uint8_t* data, size_t size) {
    const bool good = camera_update::jicHeaderGood(data, size);
    const std::string build = camera_update::jicBuildData(data, size);
    if ((good && size < camera_update::kJicHeaderSize) ||
        build.size() > camera_update::kJicHeaderSize - camera_update::kJicBuildDataOffset) {
        abort();
    }
}

void checkReplies(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    uint32_t sum = 0, stored = 0;
    for (char ch : {'L', 'R'}) {
        if (camera_update::parseFlashChecksum(reply.c_str(), reply.size(), ch, kStart, kCount, &sum) ==
                CMD_OK &&
            (reply.size() < 3 || reply[1] != ch)) {
            abort();
        }
    }
    for (char which : {'A', 'D'}) {
        if (camera_update::parseCrosslinkChecksum(reply.c_str(), reply.size(), which, &stored, &sum) ==
                CMD_OK &&
            (reply.size() < 3 || reply[1] != which)) {
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkHeader(data, size);
    checkReplies(data, size);
    return 0;
}
