// The image file qflashprog writes to or compares with the configuration flash: raw
// programming data, or a ".jic" file whose header ends at a marker word. The flash holds
// every byte with its bit order reversed relative to the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

constexpr size_t PROM_PAGE_SIZE = 256;
constexpr uint8_t PROM_ERASED = 0xFF;

// The marker that ends a ".jic" header: the 32-bit little-endian word 0xA6A6A6AF.
constexpr uint32_t JIC_MARKER = 0xA6A6A6AF;
constexpr size_t JIC_HEADER_BYTES = 512;
constexpr size_t JIC_FIRST_MARKER_OFFSET = 128;
constexpr size_t JIC_LAST_MARKER_OFFSET = 507;

// Bit 7 <-> bit 0, 6 <-> 1, ...
uint8_t reverseBits(uint8_t b);
void reverseBits(uint8_t* bytes, size_t count);

// Whether the file name ends in ".jic".
bool isJicName(const std::string& name);

// The offset of the first marker in a ".jic" header (the bytes read from the file start,
// at most JIC_HEADER_BYTES), or -1 when there is none.
long findJicMarker(const uint8_t* header, size_t length);

class PromFile {
public:
    // Opens the file; false when it cannot be read.
    bool open(const std::string& path);
    // Skips a ".jic" header: the image data starts at its marker. Returns the offset, or
    // -1 (file position unchanged) when the marker is missing.
    long skipJicHeader();
    // Reads up to one page in file bit order; a short page is filled up with 0xFF.
    // Returns the number of file bytes read (0 at the end).
    size_t readPage(uint8_t page[PROM_PAGE_SIZE]);
    // Whether the image from the current position on holds a byte that is not erased
    // (0xFF); the position is kept.
    bool holdsData();

private:
    struct Closer {
        void operator()(FILE* f) const { fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file_;
};
