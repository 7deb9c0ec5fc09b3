// iconsgen <source dir>: writes the menu's icon sheet, its bar pieces and the item
// definition table. Fails, writing nothing, when a label does not fit its picture.
#include <QFontDatabase>
#include <QGuiApplication>
#include <cstdio>
#include <fstream>
#include <string>

#include "IconSheetGenerator.h"

namespace {

constexpr const char* kFonts[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc",
};

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        fprintf(stderr, "usage: iconsgen <source dir>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (const char* font : kFonts) {
        if (QFontDatabase::addApplicationFont(font) < 0) {
            fprintf(stderr, "iconsgen: cannot load %s\n", font);
            return 1;
        }
    }
    IconSheetGenerator generator;
    if (!generator.generate()) {
        return 1;
    }
    const std::string source = argv[1];
    if (!generator.sheet().save(QString::fromStdString(source + "/resources/Ostrix GUI Icons.png"), "PNG") ||
        !generator.slider().save(QString::fromStdString(source + "/resources/slider.png"), "PNG")) {
        fprintf(stderr, "iconsgen: cannot write the pictures\n");
        return 1;
    }
    std::ofstream(source + "/gui/menu/ItemDefinitions.cpp") << generator.definitionSource();
    printf("iconsgen: %d x %d sheet written\n", generator.sheet().width(), generator.sheet().height());
    return 0;
}
