// The reader of the controller's text configuration files (main configuration, alignment
// file, lens aberration sections, colour correction): sections of key = value lines loaded
// into one map, fetched by typed getters that log and substitute a neutral value when a
// key is missing.
#pragma once

#include <map>
#include <string>
#include <vector>

// One configuration value, held as text and converted on demand.
class Chameleon {
public:
    Chameleon() = default;
    explicit Chameleon(const std::string& value);
    explicit Chameleon(const char* value);
    // Standard stream formatting: six significant digits.
    explicit Chameleon(double value);

    // The text as stored.
    operator std::string() const { return value_; }
    // The leading number of the text, 0 if there is none (atof).
    operator double() const;

private:
    std::string value_;
};

class ConfigFile {
public:
    // Loads the whole file; a file that cannot be opened leaves the map empty (callers
    // check for the file first and report it themselves).
    explicit ConfigFile(const std::string& configFile);

    // The stored value; throws the C string "does not exist" when the entry is missing.
    const Chameleon& Value(const std::string& section, const std::string& entry) const;

    std::string get_string(const std::string& section, const std::string& key) const;
    int get_int(const std::string& section, const std::string& key) const;
    float get_float(const std::string& section, const std::string& key) const;
    // The named file, also when it does not exist (logged); "" when blank or missing.
    std::string get_filename(const std::string& section, const std::string& key) const;
    std::vector<float> get_float_vector(const std::string& section, const std::string& key) const;
    std::vector<int> get_int_vector(const std::string& section, const std::string& key) const;

private:
    // The entry, or nullptr: the getters' lookup, which costs no exception per missing key.
    const Chameleon* find(const std::string& section, const std::string& key) const;
    void load(const std::string& configFile);
    void addLine(const std::string& line, std::string& section);

    std::map<std::string, Chameleon> content_;
};

// Splits at the delimiter outside quoted runs; fields are not trimmed.
std::vector<std::string> csv_split(const std::string& text, char delimiter);

// Removes the given characters from both ends.
std::string trim(const std::string& text, const std::string& whitespace);

// True when the path names an existing regular file (or a link to one). Folders, pipes and
// devices do not count: a configuration value naming one would hang or fail its reader.
bool file_exists(const std::string& path);

// A value from a file made safe to log: control characters become '?' and a long value
// is cut, so that a garbage file cannot write escape sequences or megabyte lines to the log.
std::string loggable(const std::string& value);

// The conversions of the getters, shared with the other readers of configuration text.
// Truncated toward zero; a value outside the int range (infinity too) clamps, NaN is 0.
int config_double_to_int(double value);
// A value outside the float range (infinity too) clamps to the largest float, NaN is 0.
float config_double_to_float(double value);
