#include "FontStripGenerator.h"

#include <QFontDatabase>
#include <QPainter>
#include <QRawFont>
#include <QStringList>
#include <cstdio>
#include <sstream>

namespace {

// Pixel sizes and the baseline within the 22-pixel glyph box: capitals and CJK glyphs sit
// in its middle, with room for descenders below.
constexpr int kLatinPixelSize = 15;
constexpr int kCjkPixelSize = 16;
constexpr int kBaseline = 16;
constexpr int kCanvasWidth = 48;
constexpr int kCanvasOrigin = 8;
constexpr uint16_t kSpaceWidth = 5;
const QColor kGlyphColour(0, 0, 0);

bool inRange(uint16_t code, uint16_t first, uint16_t last) {
    return code >= first && code <= last;
}
bool isHangul(uint16_t c) {
    return inRange(c, 0xAC00, 0xD7AF) || inRange(c, 0x1100, 0x11FF) || inRange(c, 0x3130, 0x318F);
}
bool isKana(uint16_t c) {
    return inRange(c, 0x3040, 0x30FF);
}
bool isCjk(uint16_t c) {
    return inRange(c, 0x3000, 0x303F) || inRange(c, 0x4E00, 0x9FFF) || inRange(c, 0xFF00, 0xFFEF);
}

QString familyIn(const QStringList& families, const QString& wanted) {
    for (const QString& f : families) {
        if (f == wanted) {
            return f;
        }
    }
    return {};
}

} // namespace

FontStripGenerator::FontStripGenerator(const Faces& faces) {
    const int latin = QFontDatabase::addApplicationFont(faces.latinFile);
    const int cjk = QFontDatabase::addApplicationFont(faces.cjkFile);
    const QStringList latinFamilies = QFontDatabase::applicationFontFamilies(latin);
    const QStringList cjkFamilies = QFontDatabase::applicationFontFamilies(cjk);
    mLatinFamily = latinFamilies.isEmpty() ? QString() : latinFamilies.first();
    mKoreanFamily = familyIn(cjkFamilies, "Noto Sans CJK KR");
    mJapaneseFamily = familyIn(cjkFamilies, "Noto Sans CJK JP");
    mChineseFamily = familyIn(cjkFamilies, "Noto Sans CJK SC");
}

void FontStripGenerator::addText(const char* utf8, bool chinese) {
    const QString text = QString::fromUtf8(utf8);
    for (const QChar ch : text) {
        const uint16_t code = ch.unicode();
        if (code < 0x20) {
            continue; // tabs and line ends are layout, not glyphs
        }
        mCodes.insert(code);
        if (chinese) {
            mChineseCodes.insert(code);
        }
    }
}

void FontStripGenerator::addPrintableAscii() {
    for (uint16_t c = 0x20; c < 0x7F; ++c) {
        mCodes.insert(c);
    }
}

QString FontStripGenerator::familyFor(uint16_t code) const {
    if (isHangul(code)) {
        return mKoreanFamily;
    }
    if (isKana(code)) {
        return mJapaneseFamily;
    }
    if (isCjk(code)) {
        return mChineseCodes.count(code) != 0 ? mChineseFamily : mJapaneseFamily;
    }
    return mLatinFamily;
}

QImage FontStripGenerator::drawGlyph(uint16_t code, bool& ok) const {
    const QString family = familyFor(code);
    QFont font(family);
    font.setPixelSize(family == mLatinFamily ? kLatinPixelSize : kCjkPixelSize);
    // The face's own glyph or none: no fallback to whatever the system has.
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoFontMerging | QFont::PreferAntialias));
    font.setHintingPreference(QFont::PreferFullHinting);
    ok = !family.isEmpty() && QRawFont::fromFont(font).supportsCharacter(uint(code));
    if (!ok) {
        return {};
    }
    QImage canvas(kCanvasWidth, int(Ostrix::kFontHeight), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(kGlyphColour);
    painter.drawText(kCanvasOrigin, kBaseline, QString(QChar(code)));
    painter.end();

    int first = kCanvasWidth;
    int last = -1;
    for (int x = 0; x < kCanvasWidth; ++x) {
        for (int y = 0; y < canvas.height(); ++y) {
            if (qAlpha(canvas.pixel(x, y)) != 0) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    if (last < 0) {
        // A blank glyph (the space): a fixed gap.
        return QImage(kSpaceWidth, int(Ostrix::kFontHeight), QImage::Format_ARGB32_Premultiplied);
    }
    return canvas.copy(first, 0, last - first + 1, canvas.height());
}

bool FontStripGenerator::generate() {
    std::vector<QImage> glyphs;
    bool allFound = true;
    for (uint16_t code : mCodes) {
        bool ok = false;
        QImage glyph = drawGlyph(code, ok);
        if (!ok) {
            fprintf(stderr, "fontgen: no glyph for U+%04X in %s\n", code, qPrintable(familyFor(code)));
            allFound = false;
            continue;
        }
        if (code == ' ') {
            glyph.fill(Qt::transparent);
        }
        glyphs.push_back(glyph);
    }
    if (!allFound) {
        return false;
    }
    mTable.clear();
    uint32_t x = 0;
    auto code = mCodes.begin();
    for (const QImage& g : glyphs) {
        mTable.push_back({*code++, uint16_t(x), uint16_t(g.width())});
        x += uint32_t(g.width()) + Ostrix::kGlyphSpacing;
    }
    // The last glyph ends the strip.
    const uint32_t width = x - Ostrix::kGlyphSpacing;
    mStrip = QImage(int(width), int(Ostrix::kFontHeight), QImage::Format_ARGB32_Premultiplied);
    mStrip.fill(Qt::transparent);
    QPainter painter(&mStrip);
    for (size_t i = 0; i < glyphs.size(); ++i) {
        painter.drawImage(mTable[i].x, 0, glyphs[i]);
    }
    painter.end();
    mStrip = mStrip.convertToFormat(QImage::Format_ARGB32);
    return true;
}

std::string FontStripGenerator::tableSource() const {
    std::ostringstream out;
    out << "// Generated by tools/fontgen from the language tables; do not edit.\n"
        << "#include \"gui/render/fontmap.h\"\n\n"
        << "namespace Ostrix {\n\n"
        << "const char* const fontName = \"" << qPrintable(mLatinFamily) << " " << kLatinPixelSize << "px, "
        << "Noto Sans CJK " << kCjkPixelSize << "px\";\n\n"
        << "// clang-format off\n"
        << "const FontGlyph fontTable[] = {\n";
    for (const Ostrix::FontGlyph& g : mTable) {
        out << "    {" << g.code << ", " << g.x << ", " << g.width << "},\n";
    }
    out << "    {kFontTableEnd, 0, 0},\n};\n// clang-format on\n\n} // namespace Ostrix\n";
    return out.str();
}
