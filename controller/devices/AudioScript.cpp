#include "controller/devices/AudioScript.h"

#include <cctype>

#include "common/logfile.h"

// Written in this order, 1 ms apart, when there is no script.
const std::vector<audio_register_entry> audio_initialisation = {
    {0x001, 0x01, 1}, {0x004, 0x03, 1}, {0x005, 0x91, 1}, {0x006, 0x08, 1},   {0x007, 0x0000, 2},
    {0x01B, 0x00, 1}, {0x00B, 0x04, 1}, {0x00C, 0x04, 1}, {0x00D, 0x0080, 2}, {0x074, 0x00, 1},
    {0x044, 0x00, 1}, {0x041, 0xD4, 1}, {0x042, 0xD4, 1}, {0x0A1, 0x4E, 1},   {0x09F, 0xC2, 1},
    {0x0A3, 0x44, 1}, {0x0A8, 0x06, 1}, {0x0A9, 0x06, 1}, {0x0AA, 0x1C, 1},   {0x0AB, 0x1C, 1},
    {0x0A0, 0xC6, 1}, {0x0A4, 0x92, 1}, {0x0A5, 0x92, 1}, {0x0A6, 0x92, 1},   {0x0A7, 0x92, 1},
    {0x03C, 0x0B, 1}, {0x401, 0x04, 1}, {0x03F, 0xD6, 1}, {0x040, 0x00, 1},
};

namespace {

constexpr int kEnd = -1;

class ScriptReader {
public:
    ScriptReader(std::string_view text, std::vector<audio_register_entry>& table)
        : text_(text), table_(table) {}

    bool run() {
        table_.clear();
        for (int c = next(); c != kEnd; c = next()) {
            if (c == '#') {
                skipComment();
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                continue;
            } else if (c == 'w') {
                if (!writeCommand()) {
                    return false;
                }
            } else if (c == '>') {
                if (!nextRegisterCommand()) {
                    return false;
                }
            } else {
                return unexpected();
            }
        }
        return true;
    }

private:
    int next() { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_++]) : kEnd; }

    void skipComment() {
        for (int c = next(); c != kEnd && c != '\n'; c = next()) {
        }
    }

    static bool unexpected() {
        logprintf("\033[38;5;196mAC: ERROR unexpected character in script file\033[38;5;248m\n");
        return false;
    }

    static int hexDigit(int c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        c = std::tolower(c);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    }

    // One field: a blank and two hexadecimal digits.
    bool field(uint8_t* value) {
        if (next() != ' ') {
            logprintf(
                "\033[38;5;196mAC: ERROR: bad character in script file expecting space\033[38;5;248m\n");
            return false;
        }
        unsigned v = 0;
        for (int i = 0; i < 2; ++i) {
            const int c = next();
            if (c == kEnd) {
                logprintf("\033[38;5;196mAC: ERROR missing character in script file expecting hex "
                          "digit\033[38;5;248m\n");
                return false;
            }
            const int digit = hexDigit(c);
            if (digit < 0) {
                logprintf("\033[38;5;196mAC: ERROR bad character in script file expecting hex "
                          "digit\033[38;5;248m\n");
                return false;
            }
            v = v << 4 | static_cast<unsigned>(digit);
        }
        *value = static_cast<uint8_t>(v);
        return true;
    }

    // Register 0 of any page selects the page; anything else is a write.
    bool store(int target, uint8_t value) {
        if (target % AIC31XX_PAGE_SIZE == 0) {
            page_ = value;
            return true;
        }
        if (target >= AIC31XX_REGISTERS) {
            logprintf("\033[38;5;196mAC: ERROR register %d out of range in script file\033[38;5;248m\n",
                      target);
            return false;
        }
        if (table_.size() >= MAX_AUDIO_SCRIPT_ENTRIES) {
            logprintf("\033[38;5;196mAC: ERROR more than %zu writes in script file\033[38;5;248m\n",
                      MAX_AUDIO_SCRIPT_ENTRIES);
            return false;
        }
        table_.push_back({static_cast<uint16_t>(target), value, 1});
        last_ = target;
        return true;
    }

    bool writeCommand() {
        uint8_t device = 0, reg = 0, value = 0;
        if (!field(&device) || !field(&reg) || !field(&value)) {
            return false;
        }
        return store(page_ * AIC31XX_PAGE_SIZE + reg, value);
    }

    // "> XX" continues after the last register written; before any there is none.
    bool nextRegisterCommand() {
        uint8_t value = 0;
        if (!field(&value)) {
            return false;
        }
        if (last_ < 0) {
            return unexpected();
        }
        return store(last_ + 1, value);
    }

    std::string_view text_;
    std::vector<audio_register_entry>& table_;
    size_t pos_ = 0;
    int page_ = 0;
    int last_ = -1;
};

} // namespace

bool parse_audio_script(std::string_view text, std::vector<audio_register_entry>& table) {
    return ScriptReader(text, table).run();
}
