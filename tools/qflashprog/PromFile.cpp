#include "tools/qflashprog/PromFile.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int BYTE_BITS = 8;
constexpr size_t MARKER_BYTES = 4;
} // namespace

uint8_t reverseBits(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < BYTE_BITS; ++i) {
        r = static_cast<uint8_t>((r << 1) | ((b >> i) & 1));
    }
    return r;
}

void reverseBits(uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = reverseBits(bytes[i]);
    }
}

bool isJicName(const std::string& name) {
    constexpr std::string_view ext = ".jic";
    return name.size() >= ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
}

long findJicMarker(const uint8_t* header, size_t length) {
    for (size_t at = JIC_FIRST_MARKER_OFFSET; at <= JIC_LAST_MARKER_OFFSET && at + MARKER_BYTES <= length;
         ++at) {
        uint32_t word = 0;
        for (size_t i = 0; i < MARKER_BYTES; ++i) {
            word |= uint32_t(header[at + i]) << (BYTE_BITS * i);
        }
        if (word == JIC_MARKER) {
            return static_cast<long>(at);
        }
    }
    return -1;
}

bool PromFile::open(const std::string& path) {
    file_.reset(fopen(path.c_str(), "rb"));
    return file_ != nullptr;
}

long PromFile::skipJicHeader() {
    if (!file_) {
        return -1;
    }
    uint8_t header[JIC_HEADER_BYTES];
    rewind(file_.get());
    const size_t got = fread(header, 1, sizeof header, file_.get());
    const long offset = findJicMarker(header, got);
    fseek(file_.get(), offset < 0 ? 0 : offset, SEEK_SET);
    return offset;
}

size_t PromFile::readPage(uint8_t page[PROM_PAGE_SIZE]) {
    size_t got = file_ ? fread(page, 1, PROM_PAGE_SIZE, file_.get()) : 0;
    memset(page + got, PROM_ERASED, PROM_PAGE_SIZE - got);
    return got;
}

bool PromFile::holdsData() {
    if (!file_) {
        return false;
    }
    const long start = ftell(file_.get());
    uint8_t page[PROM_PAGE_SIZE];
    bool found = false;
    for (size_t got = readPage(page); got != 0 && !found; got = readPage(page)) {
        found = std::any_of(page, page + got, [](uint8_t b) { return b != PROM_ERASED; });
    }
    fseek(file_.get(), start, SEEK_SET);
    return found;
}
