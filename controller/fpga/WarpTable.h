// Warp table text files parsed into the 128-bit DDR words they load.
//
// Line tables (32-bit values): records " %d,%d,%d,%d", one DDR word each. Pixel tables
// (4-bit values): groups of eight values, " %d,%d,%d,%d,%d,%d,%d,%d," with the trailing
// comma left out for the last group of a line; eight values make one 32-bit word (first
// value in bits 0..3), four words one DDR word. The reader follows the stream reads the
// tables were made for: the end-of-file test comes before each DDR word, so a file that
// ends with a line end repeats its last record once, and a word met by the end of file
// keeps the values of the previous group. A group that yields neither all its values nor
// the end of the file makes the table malformed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct WarpTable {
    struct Word {
        std::array<uint32_t, 4> lanes; // lane 0 is sent first
        int line;                      // line of the file the word ends in (for reports)
        int pixel;                     // pixels of that line read before the word
    };
    std::vector<Word> words;
    int lines = 0;
    int pixelsPerLine = 0; // pixel tables
    bool malformed = false;
    int malformedLine = 0;
};

constexpr int WARP_LINE_VALUEBITS = 32;
constexpr int WARP_PIXEL_VALUEBITS = 4;

// Parses `size` bytes of table text. For pixel tables a `pixelsPerLine` of 0 takes the
// line length from the first line ((commas + 1) / 2), as an upload does; a comparison
// passes the fixed frame width.
WarpTable parseWarpTable(const char* text, size_t size, int valuebits, int pixelsPerLine = 0);

// Reads a whole file; false (errno set) when it cannot be read.
bool readWarpFile(const std::string& path, std::string& content);

// The name of a rotation's table in the warp folder or the warp archive: the angle
// ("%1.1f") inserted before the first '.' of the unrotated table's name. Empty when the
// name has no '.'.
std::string rotatedTableName(const std::string& name, float degrees);
