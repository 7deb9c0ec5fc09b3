#include "IconSheetGenerator.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "gui/menu/MenuPictures.h"

using namespace Ostrix;

namespace {

// Item pictures by depth in the tree: they fit the item boxes (112, 178, 146, 189 wide)
// beside the arrow or radio button.
constexpr int kPictureWidth[] = {80, 128, 96, 136};
constexpr int kPictureHeight = 30;
constexpr uint32_t kBoxStyle[] = {0, 1, 2, 1};

// Item pictures are packed in columns right of the fixed pictures.
constexpr int kItemAreaX = 880;
constexpr int kItemColumnWidth = 160;
constexpr int kItemColumns = 6;
constexpr int kItemRowHeight = 34;
constexpr int kSheetWidth = kItemAreaX + kItemColumns * kItemColumnWidth;
// The sheet is at least this high (room for the fixed pictures) and grows with the item
// pictures, so an item added to the tables never falls off the sheet.
constexpr int kMinSheetHeight = 1400;
constexpr int kItemAreaTop = 2;

int sheetHeight() {
    int items = 0;
    for (const MenuItemLabel* item = itemLabels; item->index != kNoItem; ++item) {
        ++items;
    }
    const int rows = (items + kItemColumns - 1) / kItemColumns;
    return std::max(kMinSheetHeight, kItemAreaTop + rows * kItemRowHeight);
}

const QColor kInk(20, 20, 20);
const QColor kBlue(32, 96, 208);
const QColor kBlueFill(32, 96, 208, 70);
const QColor kDark(69, 69, 69);
const QColor kLight(230, 230, 230);

constexpr int kLargestLabelPixels = 14;
constexpr int kSmallestLabelPixels = 10;

QRect rectOf(const PictureRect& r) {
    return QRect(int(r.x0), int(r.y0), int(r.x1 - r.x0), int(r.y1 - r.y0));
}

void triangle(QPainter& p, const QRect& r, const QColor& c, char direction) {
    QPolygonF poly;
    const QRectF f = QRectF(r).adjusted(1, 1, -1, -1);
    switch (direction) {
    case 'r':
        poly << f.topLeft() << QPointF(f.right(), f.center().y()) << f.bottomLeft();
        break;
    case 'u':
        poly << f.bottomLeft() << QPointF(f.center().x(), f.top()) << f.bottomRight();
        break;
    default:
        poly << f.topLeft() << f.topRight() << QPointF(f.center().x(), f.bottom());
        break;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(poly);
}

void radio(QPainter& p, const QRect& r, const QColor& ring, const QColor* dot) {
    const QRectF f = QRectF(r).adjusted(2, 2, -2, -2);
    p.setPen(QPen(ring, 2));
    p.setBrush(kLight);
    p.drawEllipse(f);
    if (dot != nullptr) {
        p.setPen(Qt::NoPen);
        p.setBrush(*dot);
        p.drawEllipse(f.adjusted(5, 5, -5, -5));
    }
}

void highlight(QPainter& p, const QRect& r) {
    p.setPen(QPen(kBlue, 3));
    p.setBrush(kBlueFill);
    p.drawRoundedRect(QRectF(r).adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
}

} // namespace

IconSheetGenerator::IconSheetGenerator() {
    for (const uint32_t* row = menuTree[0]; row[0] != kNoItem; row += kTreeRowWords) {
        (void)row;
    }
    // Depth by walking down from the root.
    std::map<uint32_t, uint32_t> parent;
    for (int r = 0; menuTree[r][0] != kNoItem; ++r) {
        for (int c = 1; c < kTreeRowWords && menuTree[r][c] != kNoItem; ++c) {
            parent[menuTree[r][c]] = menuTree[r][0];
        }
    }
    for (const auto& [child, p] : parent) {
        int depth = 0;
        for (uint32_t up = p; up != kMenuRoot && parent.count(up) != 0; up = parent[up]) {
            ++depth;
        }
        mDepth[child] = depth;
    }
}

bool IconSheetGenerator::drawItem(const MenuItemLabel& item, int depth, const QRect& rect) {
    QPainter p(&mSheet);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(kInk);
    const QString text = QString::fromUtf8(item.label);
    for (int px = kLargestLabelPixels; px >= kSmallestLabelPixels; --px) {
        QFont font("DejaVu Sans");
        font.setPixelSize(px);
        font.setBold(true);
        p.setFont(font);
        const QFontMetrics m(font);
        const QRect needed = m.boundingRect(rect, Qt::AlignCenter | Qt::TextWordWrap, text);
        if (needed.width() <= rect.width() && needed.height() <= rect.height()) {
            p.drawText(rect, Qt::AlignCenter | Qt::TextWordWrap, text);
            return true;
        }
    }
    fprintf(stderr, "iconsgen: label '%s' of item %u does not fit\n", item.label, item.index);
    return false;
}

void IconSheetGenerator::drawFixedPictures() {
    QPainter p(&mSheet);
    p.setRenderHint(QPainter::Antialiasing);
    triangle(p, rectOf(kArrowBlack), kInk, 'r');
    triangle(p, rectOf(kArrowBlue), kBlue, 'r');
    triangle(p, rectOf(kArrowBlueUp), kBlue, 'u');
    triangle(p, rectOf(kArrowBlueDown), kBlue, 'd');
    triangle(p, rectOf(kArrowBkUp), kInk, 'u');
    triangle(p, rectOf(kArrowBkDown), kInk, 'd');
    for (const PictureRect& box : kBoxBlue) {
        highlight(p, rectOf(box));
    }
    radio(p, rectOf(kRadioButtonSelected), kInk, &kInk);
    radio(p, rectOf(kRadioButtonActive), kBlue, &kBlue);
    radio(p, rectOf(kRadioButtonUnselected), kDark, nullptr);

    // Magnifier: a lens and its handle.
    const QRectF lens = QRectF(rectOf(kMagnifierIcon)).adjusted(3, 3, -11, -11);
    p.setPen(QPen(kInk, 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(lens);
    p.setPen(QPen(kInk, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(lens.bottomRight() - QPointF(2, 2),
               QRectF(rectOf(kMagnifierIcon)).bottomRight() - QPointF(3, 3));
    // Information: an i in a blue disc.
    const QRectF disc = QRectF(rectOf(kInfoIcon)).adjusted(2, 2, -2, -2);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(disc);
    QFont font("DejaVu Serif");
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(disc, Qt::AlignCenter, "i");
}

void IconSheetGenerator::drawSlider() {
    mSlider = QImage(100, 64, QImage::Format_ARGB32);
    mSlider.fill(Qt::transparent);
    QPainter p(&mSlider);
    p.fillRect(rectOf(kBarImageBlue), kBlue);
    p.fillRect(rectOf(kBarImageBlack), kInk);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kDark, 1));
    p.setBrush(kLight);
    p.drawRoundedRect(QRectF(rectOf(kBarImageBk)).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
}

bool IconSheetGenerator::generate() {
    mSheet = QImage(kSheetWidth, sheetHeight(), QImage::Format_ARGB32);
    mSheet.fill(Qt::transparent);
    drawFixedPictures();
    drawSlider();
    mDefinitions.clear();
    bool ok = true;
    int slot = 0;
    for (const MenuItemLabel* item = itemLabels; item->index != kNoItem; ++item, ++slot) {
        const int depth = std::min(mDepth[item->index], 3);
        const int x = kItemAreaX + (slot % kItemColumns) * kItemColumnWidth;
        const int y = kItemAreaTop + (slot / kItemColumns) * kItemRowHeight;
        const QRect rect(x, y, kPictureWidth[depth], kPictureHeight);
        ok = drawItem(*item, depth, rect) && ok;
        mDefinitions.push_back({item->index, uint32_t(rect.left()), uint32_t(rect.top()),
                                uint32_t(rect.left() + rect.width()), uint32_t(rect.top() + rect.height()),
                                item->kind, kBoxStyle[depth]});
    }
    return ok;
}

std::string IconSheetGenerator::definitionSource() const {
    std::ostringstream out;
    out << "// Generated by tools/iconsgen from the menu tables; do not edit.\n"
        << "#include \"gui/menu/MenuTables.h\"\n\n"
        << "namespace Ostrix {\n\n"
        << "// clang-format off\n"
        << "const MenuItemDefinition itemDefinitions[] = {\n";
    for (const MenuItemDefinition& d : mDefinitions) {
        out << "    {" << d.index << ", " << d.x0 << ", " << d.y0 << ", " << d.x1 << ", " << d.y1 << ", "
            << d.kind << ", " << d.boxStyle << "},\n";
    }
    out << "    {kNoItem, 0, 0, 0, 0, 0, 0},\n};\n// clang-format on\n\n} // namespace Ostrix\n";
    return out.str();
}
