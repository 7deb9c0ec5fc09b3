// fontgen <source dir>: writes <source dir>/resources/font_en.png and
// <source dir>/gui/render/FontTable.cpp from the ten language tables. Fails, writing
// nothing, when a character of a table has no glyph.
#include <QGuiApplication>
#include <cstdio>
#include <fstream>
#include <string>

#include "FontStripGenerator.h"
#include "gui/menu/strings/LanguageTables.h"

namespace {

constexpr const char* kLatinFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kCjkFont = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        fprintf(stderr, "usage: fontgen <source dir>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string source = argv[1];

    FontStripGenerator generator({kLatinFont, kCjkFont});
    generator.addPrintableAscii();
    for (int language = 0; language < Ostrix::NUM_LANGUAGES; ++language) {
        for (const Ostrix::StringEntry* e = Ostrix::messStringLanguages[language]; e->id != Ostrix::STR_COUNT;
             ++e) {
            generator.addText(e->text, language == Ostrix::LANGUAGE_CH);
        }
    }
    if (!generator.generate()) {
        fprintf(stderr, "fontgen: glyphs missing, nothing written\n");
        return 1;
    }
    const std::string png = source + "/resources/font_en.png";
    const std::string table = source + "/gui/render/FontTable.cpp";
    if (!generator.strip().save(QString::fromStdString(png), "PNG")) {
        fprintf(stderr, "fontgen: cannot write %s\n", png.c_str());
        return 1;
    }
    std::ofstream(table) << generator.tableSource();
    printf("fontgen: %zu characters, strip %d x %d\n", generator.table().size(), generator.strip().width(),
           generator.strip().height());
    return 0;
}
