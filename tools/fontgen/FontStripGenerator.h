// Draws the overlay's font strip: every character the string tables use plus printable
// ASCII, one anti-aliased glyph after the other in a 22-pixel-high row, 2 pixels apart.
// Latin and Cyrillic come from a sans face, Hangul from the Korean CJK face, kana from
// the Japanese one and ideographs from the Chinese one (the Japanese one for ideographs
// only Japanese uses).
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "gui/render/fontmap.h"

class FontStripGenerator {
public:
    struct Faces {
        QString latinFile;
        QString cjkFile;
    };

    explicit FontStripGenerator(const Faces& faces);

    // Adds the characters of a UTF-8 text; `chinese` marks the Chinese table, whose
    // ideographs take the Chinese glyph forms.
    void addText(const char* utf8, bool chinese);
    void addPrintableAscii();

    // Draws the strip; false (with the characters listed on standard error) when a face
    // has no glyph for one of them.
    bool generate();

    const QImage& strip() const { return mStrip; }
    const std::vector<Ostrix::FontGlyph>& table() const { return mTable; }
    // The C++ source of the character table.
    std::string tableSource() const;

private:
    QString familyFor(uint16_t code) const;
    // The glyph cut to its ink columns (the space keeps a fixed width).
    QImage drawGlyph(uint16_t code, bool& ok) const;

    QString mLatinFamily;
    QString mKoreanFamily;
    QString mJapaneseFamily;
    QString mChineseFamily;
    std::set<uint16_t> mCodes;
    std::set<uint16_t> mChineseCodes;
    QImage mStrip;
    std::vector<Ostrix::FontGlyph> mTable;
};
