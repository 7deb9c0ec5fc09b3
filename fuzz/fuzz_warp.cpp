// Feeds arbitrary bytes to the display FPGA's warp-table reader and to the naming of a
// rotation's tables in the warp folder and archive. The first line is a table's name as
// the configuration gives it, the first byte also the rotation in tenths of a degree;
// the rest is read as a line table and as a pixel table (with the line length taken from
// the file and with the fixed frame width a comparison passes). Nothing may crash or read
// without bound, every word must point into the table, and a name must keep its stem and
// extension around the angle.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controller/fpga/WarpTable.h"
#include "fuzz/FuzzHarness.h"

namespace {

constexpr float kTenthsPerDegree = 10.0f;
constexpr int kFrameWidth = 1920;

void checkName(const std::string& name, float degrees) {
    const std::string rotated = rotatedTableName(name, degrees);
    const size_t dot = name.find('.');
    if (dot == std::string::npos) {
        if (!rotated.empty()) {
            abort();
        }
        return;
    }
    char angle[64];
    snprintf(angle, sizeof angle, "%1.1f", static_cast<double>(degrees));
    const std::string stem = name.substr(0, dot);
    const std::string extension = name.substr(dot);
    if (rotated.size() != name.size() + std::string(angle).size() || rotated.compare(0, dot, stem) != 0 ||
        rotated.compare(rotated.size() - extension.size(), extension.size(), extension) != 0) {
        abort();
    }
}

// Each word ends in a line the table has; the reader moves on by at least a byte per
// word, plus the repeated last record of a file that ends with a line end.
void checkTable(const WarpTable& table, size_t size, int valuebits) {
    if (table.words.size() > size + 1 || table.lines < 0) {
        abort();
    }
    if (table.malformed && (table.malformedLine < 1 || table.malformedLine > table.lines + 1)) {
        abort();
    }
    for (const WarpTable::Word& w : table.words) {
        if (w.line < 0 || w.line > table.lines || w.pixel < 0) {
            abort();
        }
        if (valuebits == WARP_LINE_VALUEBITS && w.line < 1) {
            abort();
        }
    }
}

void checkParse(const char* text, size_t size, int valuebits, int pixelsPerLine) {
    const WarpTable table = parseWarpTable(text, size, valuebits, pixelsPerLine);
    checkTable(table, size, valuebits);
    // The upload and the comparison parse the same file: they must agree.
    const WarpTable again = parseWarpTable(text, size, valuebits, pixelsPerLine);
    if (again.words.size() != table.words.size() || again.lines != table.lines ||
        again.malformed != table.malformed) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole("./fuzz-warp-no-log-folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const char* lineEnd = std::find(text, text + size, '\n');
    const std::string name(text, lineEnd);
    const float degrees =
        size > 0 ? static_cast<float>(static_cast<int8_t>(data[0])) / kTenthsPerDegree : 0.0f;
    checkName(name, degrees);

    // The table as an upload reads it: from a file, whole.
    static const std::string path = fuzz::inputPath("warp", ".txt");
    fuzz::writeInput(path, data, size);
    std::string content;
    if (!readWarpFile(path, content) || content.size() != size ||
        !std::equal(content.begin(), content.end(), text)) {
        abort();
    }
    std::remove(path.c_str());
    checkParse(content.data(), content.size(), WARP_LINE_VALUEBITS, 0);
    checkParse(content.data(), content.size(), WARP_PIXEL_VALUEBITS, 0);
    checkParse(content.data(), content.size(), WARP_PIXEL_VALUEBITS, kFrameWidth);
    return 0;
}
