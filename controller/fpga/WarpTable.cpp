#include "controller/fpga/WarpTable.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr int LINE_VALUES = 4;
constexpr int GROUP_VALUES = 8;     // one 32-bit word of 4-bit fields
constexpr int PIXELS_PER_GROUP = 4; // two values per pixel
constexpr int LANES = 4;
constexpr int NIBBLE_BITS = 4;
constexpr uint32_t NIBBLE_MASK = 0xF;
constexpr int READ_EOF = -1;
// "%1.1f" of any float: sign, 39 digits, point, one decimal and the terminator.
constexpr size_t ANGLE_TEXT_SIZE = 48;

// A cursor over the text with the end-of-file indicator of a stdio stream: it is set when
// a read looks past the last byte, not when the last byte is consumed.
class Scanner {
public:
    Scanner(const char* text, size_t size) : p_(text), end_(text + size) {}
    bool eof() const { return eof_; }

    // Reads `count` integers separated by commas, the format " %d,%d,...,%d" followed by
    // a comma when `trailingComma`. Returns the values converted, or READ_EOF when the
    // end came before the first; `values` keeps what the failed conversions did not set.
    int read(int* values, int count, bool trailingComma) {
        skipSpace();
        for (int i = 0; i < count; ++i) {
            if (i > 0 && !literal(',')) {
                return i;
            }
            int status = integer(values[i]);
            if (status <= 0) {
                return i == 0 && status == READ_EOF ? READ_EOF : i;
            }
        }
        if (trailingComma) {
            literal(',');
        }
        return count;
    }

    // Counts the commas up to the first line end.
    int commasInFirstLine() const {
        int commas = 0;
        for (const char* q = p_; q < end_ && *q != '\n'; ++q) {
            commas += *q == ',';
        }
        return commas;
    }

private:
    int peek() {
        if (p_ == end_) {
            eof_ = true;
            return EOF;
        }
        return static_cast<unsigned char>(*p_);
    }
    static bool space(int c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    void skipSpace() {
        while (space(peek())) {
            ++p_;
        }
    }
    bool literal(char c) {
        if (peek() != c) {
            return false;
        }
        ++p_;
        return true;
    }
    // %d: 1 converted, 0 no number here, READ_EOF end of input first.
    int integer(int& value) {
        skipSpace();
        int c = peek();
        if (c == EOF) {
            return READ_EOF;
        }
        bool negative = false;
        if (c == '-' || c == '+') {
            negative = c == '-';
            ++p_;
            c = peek();
        }
        if (c < '0' || c > '9') {
            return 0;
        }
        long long v = 0;
        while (c >= '0' && c <= '9') {
            if (v <= INT_MAX) {
                v = v * 10 + (c - '0');
            }
            ++p_;
            c = peek();
        }
        v = negative ? -v : v;
        value = static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
        return 1;
    }

    const char* p_;
    const char* end_;
    bool eof_ = false;
};

uint32_t packNibbles(const int* values) {
    uint32_t word = 0;
    for (int i = 0; i < GROUP_VALUES; ++i) {
        word |= (static_cast<uint32_t>(values[i]) & NIBBLE_MASK) << (NIBBLE_BITS * i);
    }
    return word;
}

bool complete(int got, int wanted, const Scanner& in) {
    return got == wanted || got == READ_EOF || in.eof();
}

void parseLineTable(Scanner& in, WarpTable& table) {
    int values[LINE_VALUES] = {};
    while (!in.eof()) {
        int got = in.read(values, LINE_VALUES, false);
        table.lines++;
        if (!complete(got, LINE_VALUES, in)) {
            table.malformed = true;
            table.malformedLine = table.lines;
            return;
        }
        WarpTable::Word w{};
        for (int i = 0; i < LANES; ++i) {
            w.lanes[i] = static_cast<uint32_t>(values[i]);
        }
        w.line = table.lines;
        table.words.push_back(w);
    }
}

void parsePixelTable(Scanner& in, WarpTable& table, int pixelsPerLine) {
    int values[GROUP_VALUES] = {};
    int pixelsInLine = 0;
    while (!in.eof()) {
        WarpTable::Word w{};
        w.line = table.lines;
        w.pixel = pixelsInLine;
        for (int lane = 0; lane < LANES; ++lane) {
            int got;
            if (pixelsInLine + PIXELS_PER_GROUP == pixelsPerLine) {
                got = in.read(values, GROUP_VALUES, false);
                pixelsInLine = 0;
                table.lines++;
            } else {
                got = in.read(values, GROUP_VALUES, true);
                pixelsInLine += PIXELS_PER_GROUP;
            }
            if (!complete(got, GROUP_VALUES, in)) {
                table.malformed = true;
                table.malformedLine = table.lines + 1;
                return;
            }
            w.lanes[lane] = packNibbles(values);
        }
        table.words.push_back(w);
    }
}

} // namespace

WarpTable parseWarpTable(const char* text, size_t size, int valuebits, int pixelsPerLine) {
    WarpTable table;
    Scanner in(text, size);
    if (valuebits == WARP_PIXEL_VALUEBITS) {
        table.pixelsPerLine = pixelsPerLine > 0 ? pixelsPerLine : (in.commasInFirstLine() + 1) / 2;
        parsePixelTable(in, table, table.pixelsPerLine);
    } else {
        parseLineTable(in, table);
    }
    return table;
}

bool readWarpFile(const std::string& path, std::string& content) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    content.clear();
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0) {
        content.reserve(static_cast<size_t>(st.st_size));
    }
    char buffer[1 << 16];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        content.append(buffer, n);
    }
    bool ok = !ferror(f);
    int saved = errno;
    fclose(f);
    errno = saved;
    return ok;
}

std::string rotatedTableName(const std::string& name, float degrees) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos) {
        return {};
    }
    char angle[ANGLE_TEXT_SIZE];
    snprintf(angle, sizeof angle, "%1.1f", static_cast<double>(degrees));
    return name.substr(0, dot) + angle + name.substr(dot);
}
