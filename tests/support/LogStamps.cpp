#include "tests/support/LogStamps.h"

#include <cctype>

namespace testing_support {
namespace {

// The stamp's fields: a run of digits of bounded length followed by its separator.
struct StampField {
    size_t minDigits;
    size_t maxDigits;
    const char* separator;
};

constexpr StampField kStampFields[] = {
    {1, 9, "-"},   // year
    {2, 2, "-"},   // month
    {2, 2, " "},   // day
    {1, 2, ":"},   // hour, zero-padded or not
    {2, 2, ":"},   // minute
    {2, 2, "."},   // second
    {3, 3, " > "}, // milliseconds
};

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

size_t logStampAt(const std::string& text, size_t at) {
    size_t pos = at;
    for (const StampField& field : kStampFields) {
        size_t digits = 0;
        while (pos + digits < text.size() && digits < field.maxDigits && isDigit(text[pos + digits])) {
            ++digits;
        }
        if (digits < field.minDigits) {
            return 0;
        }
        pos += digits;
        const std::string separator = field.separator;
        if (text.compare(pos, separator.size(), separator) != 0) {
            return 0;
        }
        pos += separator.size();
    }
    return pos - at;
}

std::string withoutLogStamps(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t stamp = logStampAt(text, at);
        if (stamp > 0) {
            at += stamp;
        } else {
            out += text[at++];
        }
    }
    return out;
}

} // namespace testing_support
