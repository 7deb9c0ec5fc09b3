// Feeds arbitrary bytes to the keyboard and mouse readers as if a USB device delivered
// them: splitting into records, key and preset timing state, wheel and button events
// must neither crash nor hang, whatever a device sends. The first byte picks the reader
// (keyboard slots 0..4, or the mouse); the rest arrives as reads of at most one
// reader's buffer, as the kernel hands them over.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "controller/input/Kbd.h"
#include "controller/input/Mouse.h"

namespace {

constexpr size_t MAX_READS = 8;

// One pair of readers for the whole run: a held key carries over from input to input.
Kbd& keyboard() {
    static Kbd kbd;
    return kbd;
}
Mouse& mouse() {
    static Mouse reader{Mouse::WithoutReader{}};
    return reader;
}

void drain() {
    char c = 0;
    while (keyboard().popMessage(&c) == 1) {
    }
    mouseMessage m{};
    while (mouse().popMessage(&m) == 1) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const int target = data[0] % (Kbd::MAX_KBDS + 1);
    ++data;
    --size;
    for (size_t read = 0; read < MAX_READS; ++read) {
        const size_t length = std::min(size, INPUT_READ_BYTES);
        if (target == Kbd::MAX_KBDS) {
            mouse().handle_read(data, length);
        } else {
            keyboard().handle_read(target, data, length);
        }
        drain();
        data += length;
        size -= length;
        if (size == 0) {
            break;
        }
    }
    return 0;
}
