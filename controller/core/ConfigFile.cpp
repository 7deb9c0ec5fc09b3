#include "controller/core/ConfigFile.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

#include "common/logfile.h"

namespace {

constexpr const char* kWhitespace = " \t\r\n";
constexpr const char* kMissingEntry = "does not exist";
constexpr char kCommentHash = '#';
constexpr char kCommentSemicolon = ';';
constexpr char kSectionOpen = '[';
constexpr char kSectionClose = ']';
constexpr char kQuote = '"';
// Longest value text written into a log line; the log's own buffer is 2048 bytes.
constexpr size_t kMaxLoggedValue = 200;
constexpr unsigned char kFirstPrintable = ' ';
constexpr unsigned char kDelete = 0x7f;

std::string mapKey(const std::string& section, const std::string& key) {
    return section + "/" + key;
}

} // namespace

Chameleon::Chameleon(const std::string& value) : value_(value) {}

Chameleon::Chameleon(const char* value) : value_(value ? value : "") {}

Chameleon::Chameleon(double value) {
    std::ostringstream text;
    text << value;
    value_ = text.str();
}

Chameleon::operator double() const {
    return std::atof(value_.c_str());
}

ConfigFile::ConfigFile(const std::string& configFile) {
    load(configFile);
}

void ConfigFile::load(const std::string& configFile) {
    std::ifstream file(configFile, std::ios::binary);
    if (!file) {
        return;
    }
    std::string section;
    std::string line;
    while (std::getline(file, line)) {
        addLine(line, section);
    }
}

void ConfigFile::addLine(const std::string& line, std::string& section) {
    // Only the very first character marks a comment: an indented '#' is an entry.
    if (line.empty() || line[0] == kCommentHash || line[0] == kCommentSemicolon) {
        return;
    }
    if (line[0] == kSectionOpen) {
        const size_t close = line.find(kSectionClose);
        section =
            trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1), kWhitespace);
        return;
    }
    if (trim(line, kWhitespace).empty()) {
        return;
    }
    const size_t equals = line.find('=');
    std::string key;
    std::string value;
    if (equals == std::string::npos) {
        key = trim(line, kWhitespace);
        value = key;
    } else {
        key = trim(line.substr(0, equals), kWhitespace);
        value = trim(line.substr(equals + 1), kWhitespace);
    }
    content_[mapKey(section, key)] = Chameleon(value);
}

const Chameleon* ConfigFile::find(const std::string& section, const std::string& key) const {
    const auto found = content_.find(mapKey(section, key));
    return found == content_.end() ? nullptr : &found->second;
}

const Chameleon& ConfigFile::Value(const std::string& section, const std::string& entry) const {
    const Chameleon* value = find(section, entry);
    if (!value) {
        throw kMissingEntry;
    }
    return *value;
}

std::string ConfigFile::get_string(const std::string& section, const std::string& key) const {
    const Chameleon* value = find(section, key);
    if (!value) {
        logprintf("No entry for '[%s]%s'\n", section.c_str(), key.c_str());
        return "";
    }
    return *value;
}

int ConfigFile::get_int(const std::string& section, const std::string& key) const {
    const Chameleon* value = find(section, key);
    if (!value) {
        logprintf("No entry for '[%s]%s'\n", section.c_str(), key.c_str());
        return 0;
    }
    return config_double_to_int(*value);
}

float ConfigFile::get_float(const std::string& section, const std::string& key) const {
    const Chameleon* value = find(section, key);
    if (!value) {
        logprintf("No entry for '[%s]%s'\n", section.c_str(), key.c_str());
        return 0;
    }
    return config_double_to_float(*value);
}

std::string ConfigFile::get_filename(const std::string& section, const std::string& key) const {
    const Chameleon* value = find(section, key);
    if (!value) {
        logprintf("MAIN: No entry for '[%s]%s'\n", section.c_str(), key.c_str());
        return "";
    }
    std::string name = *value;
    if (name.empty()) {
        logprintf("MAIN: filename is blank for [%s].%s\n", section.c_str(), key.c_str());
    } else if (!file_exists(name)) {
        logprintf("MAIN: Read filename %s but file does not exist\n", loggable(name).c_str());
    }
    return name;
}

std::vector<float> ConfigFile::get_float_vector(const std::string& section, const std::string& key) const {
    std::vector<float> values;
    for (const std::string& field : csv_split(get_string(section, key), ',')) {
        float value = 0;
        try {
            value = std::stof(field);
        } catch (const std::logic_error&) { // invalid_argument or out_of_range
            value = 0;
        }
        // "inf" and "nan" parse, but are no number a caller can use.
        values.push_back(std::isfinite(value) ? value : 0);
    }
    return values;
}

std::vector<int> ConfigFile::get_int_vector(const std::string& section, const std::string& key) const {
    std::vector<int> values;
    for (const std::string& field : csv_split(get_string(section, key), ',')) {
        int value = 0;
        try {
            value = std::stoi(field);
        } catch (const std::logic_error&) {
            value = 0;
        }
        values.push_back(value);
    }
    return values;
}

std::vector<std::string> csv_split(const std::string& text, char delimiter) {
    std::vector<std::string> fields;
    std::string field;
    bool inQuote = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        const bool nextIsQuote = i + 1 < text.size() && text[i + 1] == kQuote;
        if (!inQuote && c == kQuote && nextIsQuote) {
            inQuote = true;
            continue;
        }
        if (inQuote && c == kQuote) {
            if (!nextIsQuote) {
                inQuote = false;
                continue;
            }
            // A doubled quote inside a quoted run stands for one quote character.
            c = text[++i];
        }
        if (!inQuote && c == delimiter) {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

std::string trim(const std::string& text, const std::string& whitespace) {
    const size_t first = text.find_first_not_of(whitespace);
    if (first == std::string::npos) {
        return "";
    }
    const size_t last = text.find_last_not_of(whitespace);
    return text.substr(first, last - first + 1);
}

bool file_exists(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string loggable(const std::string& value) {
    std::string text = value.substr(0, kMaxLoggedValue);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < kFirstPrintable || byte == kDelete) {
            c = '?';
        }
    }
    if (value.size() > kMaxLoggedValue) {
        text += "...";
    }
    return text;
}

int config_double_to_int(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (value <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

float config_double_to_float(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value > FLT_MAX) {
        return FLT_MAX;
    }
    if (value < -FLT_MAX) {
        return -FLT_MAX;
    }
    return static_cast<float>(value);
}
