// splashgen <source dir>: draws the splash pictures the video bridges show while the
// microscope starts and while it updates itself. The bridge shows one bit a pixel and
// scales the picture onto its panel, so the pictures are plain: light type on black in
// the menu's typeface. The start-up title is drawn a few pixels apart in the two eyes,
// so it stands out in front of the panel.
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 256; // the bridge's splash picture
constexpr int kHeight = 128;
constexpr int kStereoShift = 3; // pixels each eye's title moves towards the nose
constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kPaletteSize = 2 * 4;
constexpr int kBitsPerByte = 8;

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(uint8_t(v >> (8 * i)));
    }
}

// A one-bit BMP, rows stored top first (negative height), palette black then white.
bool writeMonoBmp(const QImage& picture, const std::string& path) {
    const int rowBytes = ((picture.width() + 31) / 32) * 4;
    const uint32_t imageBytes = uint32_t(rowBytes * picture.height());
    const uint32_t offset = kFileHeaderSize + kInfoHeaderSize + kPaletteSize;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + imageBytes);
    put32(out, 0);
    put32(out, offset);
    put32(out, kInfoHeaderSize);
    put32(out, uint32_t(picture.width()));
    put32(out, uint32_t(-picture.height()));
    put16(out, 1); // planes
    put16(out, 1); // bits per pixel
    put32(out, 0); // BI_RGB
    put32(out, imageBytes);
    put32(out, 2835); // 72 dpi
    put32(out, 2835);
    put32(out, 2); // colours used
    put32(out, 0);
    put32(out, 0x00000000); // index 0: black
    put32(out, 0x00FFFFFF); // index 1: white
    for (int y = 0; y < picture.height(); ++y) {
        std::vector<uint8_t> row(size_t(rowBytes), 0);
        for (int x = 0; x < picture.width(); ++x) {
            if (qGray(picture.pixel(x, y)) >= 128) {
                row[size_t(x / kBitsPerByte)] |= uint8_t(0x80 >> (x % kBitsPerByte));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    return bool(file);
}

QFont font(int pixels) {
    QFont f("DejaVu Sans");
    f.setPixelSize(pixels);
    f.setBold(true);
    f.setStyleStrategy(QFont::NoAntialias); // one bit a pixel: no grey edges to threshold
    return f;
}

QImage blank() {
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    picture.fill(Qt::black);
    return picture;
}

void frame(QPainter& p) {
    p.setPen(QPen(Qt::white, 2));
    p.drawRect(QRect(3, 3, kWidth - 7, kHeight - 7));
}

// The start-up picture of one eye; `shift` moves the title sideways.
QImage startup(int shift) {
    QImage picture = blank();
    QPainter p(&picture);
    frame(p);
    p.setPen(Qt::white);
    p.setFont(font(44));
    p.drawText(QRect(shift, 14, kWidth, 56), Qt::AlignCenter, "OSTRIX");
    p.setFont(font(15));
    p.drawText(QRect(0, 70, kWidth, 20), Qt::AlignCenter, "Stereo video microscope");
    p.setFont(font(13));
    p.drawText(QRect(0, 94, kWidth, 20), Qt::AlignCenter, "Starting, please wait ...");
    return picture;
}

QImage updating() {
    QImage picture = blank();
    QPainter p(&picture);
    frame(p);
    p.setPen(Qt::white);
    p.setFont(font(26));
    p.drawText(QRect(0, 16, kWidth, 36), Qt::AlignCenter, "System update");
    p.setFont(font(16));
    p.drawText(QRect(0, 56, kWidth, 24), Qt::AlignCenter, "Installing new software");
    p.setFont(font(15));
    p.drawText(QRect(0, 86, kWidth, 24), Qt::AlignCenter, "Do not switch off");
    return picture;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        fprintf(stderr, "usage: splashgen <source dir>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (QFontDatabase::addApplicationFont(kFont) < 0) {
        fprintf(stderr, "splashgen: cannot load %s\n", kFont);
        return 1;
    }
    const std::string resources = std::string(argv[1]) + "/resources/";
    const bool written = writeMonoBmp(startup(kStereoShift), resources + "splash_left.bmp") &&
                         writeMonoBmp(startup(-kStereoShift), resources + "splash_right.bmp") &&
                         writeMonoBmp(updating(), resources + "system_updating.bmp");
    if (!written) {
        fprintf(stderr, "splashgen: cannot write the pictures into %s\n", resources.c_str());
        return 1;
    }
    return 0;
}
