// Draws the menu's pictures in one style: item labels in dark bold type on the grey menu
// background, blue highlight boxes, arrows and radio buttons at the fixed rectangles the
// menu drawing uses, and the bar pieces.
#pragma once

#include <QImage>
#include <map>
#include <string>
#include <vector>

#include "gui/menu/MenuTables.h"

class IconSheetGenerator {
public:
    IconSheetGenerator();

    // Draws every picture; false when an item label cannot be made to fit.
    bool generate();

    const QImage& sheet() const { return mSheet; }
    const QImage& slider() const { return mSlider; }
    std::string definitionSource() const;

private:
    void drawFixedPictures();
    void drawSlider();
    bool drawItem(const Ostrix::MenuItemLabel& item, int depth, const QRect& rect);

    std::map<uint32_t, int> mDepth;
    std::vector<Ostrix::MenuItemDefinition> mDefinitions;
    QImage mSheet;
    QImage mSlider;
};
