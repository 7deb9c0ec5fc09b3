// The language tables behind every overlay text: per language a message map (message
// number -> text) and a menu information map (menu item -> text), built from the shared
// key tables and the language's string table.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gui/menu/strings/string_ids.h"

namespace Ostrix {

// In the order of SETT_UI_LANGUAGE and of the language menu.
enum Language : int {
    LANGUAGE_EN,
    LANGUAGE_GE,
    LANGUAGE_FR,
    LANGUAGE_SP,
    LANGUAGE_IT,
    LANGUAGE_BR,
    LANGUAGE_KO,
    LANGUAGE_CH,
    LANGUAGE_JA,
    LANGUAGE_RU,
    NUM_LANGUAGES,
};

struct KeyedString {
    uint32_t key;
    StringId id;
};

// Message numbers 0..75 (21..25 and 31..33 have no text), closed by key 76.
extern const KeyedString messageKeys[];
constexpr uint32_t kMessageKeysEnd = 76;
// Menu items and 65535 (no item), closed by kInfoKeysEnd.
extern const KeyedString menuInfoKeys[];
constexpr uint32_t kInfoKeysEnd = 0xFFFFFFFF;

// The string table of each language, by language index.
extern const StringEntry* const messStringLanguages[NUM_LANGUAGES];
extern const StringEntry* const infoStringLanguages[NUM_LANGUAGES];

class LanguageTables {
public:
    using TextMap = std::map<uint32_t, std::string>;

    LanguageTables();

    // The text, or nullptr for a language outside 0..9 or a key the map lacks.
    const std::string* message(int language, uint32_t number) const;
    const std::string* info(int language, uint32_t item) const;

    const TextMap& messages(int language) const { return mMessageMaps.at(language); }
    const TextMap& infos(int language) const { return mInfoMaps.at(language); }

    // The process-wide tables, built on first use.
    static const LanguageTables& instance();

private:
    static const std::string* find(const std::vector<TextMap>& maps, int language, uint32_t key);

    std::vector<TextMap> mMessageMaps;
    std::vector<TextMap> mInfoMaps;
};

} // namespace Ostrix
