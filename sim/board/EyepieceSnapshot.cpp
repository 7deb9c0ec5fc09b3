#include "sim/board/EyepieceSnapshot.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string_view>

#include "sim/board/GuiFrame.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"
#include "sim/chips/VideoBridge.h"

namespace sim {

const char* const kSnapshotHelp =
    "snapshot [--full] left|right|both FILE.png   writes what the eyepiece panels show (960 x 540\n"
    "    an eye; --full: every panel pixel, 1920 x 1080 an eye)\n";

namespace {

using namespace fpga_regs;

// Control word fields.
constexpr uint32_t kLcdOutputEnable = 1u << 4;
constexpr uint32_t kOverlayEnable = 1u << 6;
constexpr uint32_t kPiVideoEnable = 1u << 7;
constexpr uint32_t kDigitalZoom = 1u << 8;
constexpr int kInput3DShift = 9;
constexpr uint32_t kMode3DMask = 3;
constexpr uint32_t kNoInputFormat = 3; // an input 3D mode no receiver delivers
constexpr uint32_t kBlank = 1u << 11;
constexpr uint32_t kShownBufferOutput = 1u << 16; // output enable of buffer 0

constexpr int kLocationLineShift = 16;
constexpr uint32_t kLocationMask = 0xFFFF;
constexpr int kZoomFactor = 2;

// Crosshair size codes: bit 0 shows it, bit 1 keeps its arms short.
constexpr uint32_t kCrosshairOn = 1;
constexpr uint32_t kCrosshairShort = 2;
constexpr int kCrosshairShortArm = 60;
constexpr int kCrosshairThickness = 4;

constexpr uint32_t kOpaque = 0xFF000000;
constexpr uint32_t kRgbMask = 0x00FFFFFF;
constexpr uint32_t kBlack = kOpaque;
constexpr uint32_t kByte = 0xFF;
constexpr int kFullScale = 255;
constexpr int kTransparencyShift = 8; // the factor counts in 1/256

uint32_t component(uint32_t argb, int shift) {
    return (argb >> shift) & kByte;
}

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return kOpaque | (std::min<uint32_t>(r, kByte) << 16) | (std::min<uint32_t>(g, kByte) << 8) |
           std::min<uint32_t>(b, kByte);
}

// 8 bits per colour, the top bits of each 10:11:11 component of a frame-store word.
uint32_t argbOfStoreWord(uint32_t word) {
    return rgb(word >> 24, (word >> 14) & kByte, (word >> 3) & kByte);
}

uint16_t rgb565Of(uint32_t rgb888) {
    return static_cast<uint16_t>(((component(rgb888, 16) >> 3) << 11) | ((component(rgb888, 8) >> 2) << 5) |
                                 (component(rgb888, 0) >> 3));
}

uint32_t argbOf565(uint16_t v) {
    uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
    return rgb((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}

// The registers of one channel's output stage, read once.
struct OutputStage {
    uint32_t control = 0;
    uint32_t backlight = 0;
    uint32_t key = 0;
    uint32_t menuColour = 0;
    uint32_t transparency = 0;
    uint32_t scaledMenuColour = 0;
    uint32_t location = 0;
    uint32_t frameStoreEnable = 0;
    uint32_t crosshair = 0;
    uint32_t crosshairColour = 0;
    uint32_t lut[DisplayFpgaState::kLutEntries] = {};
};

OutputStage readStage(const DisplayFpga& fpga, int channel) {
    OutputStage s;
    s.control = fpga.registerValue(channel, kControl);
    s.backlight = fpga.registerValue(channel, kBacklight) & kByte;
    s.key = fpga.registerValue(channel, kOverlayTransparent) & kRgbMask;
    s.menuColour = fpga.registerValue(channel, kOverlayBackground) & kRgbMask;
    s.transparency = fpga.registerValue(channel, kOverlayTransparency) & kByte;
    s.scaledMenuColour = fpga.registerValue(channel, kOverlayScaledBackground) & kRgbMask;
    s.location = fpga.registerValue(channel, kOverlayLocation);
    s.frameStoreEnable = fpga.registerValue(channel, kFrameStoreEnable);
    s.crosshair = fpga.registerValue(channel, kCrosshairEnable);
    s.crosshairColour = fpga.registerValue(channel, kCrosshairColour) & kRgbMask;
    for (int i = 0; i < DisplayFpgaState::kLutEntries; ++i) {
        s.lut[i] = fpga.lutEntry(channel, i);
    }
    return s;
}

uint32_t contrast(const OutputStage& s, uint32_t argb) {
    return rgb(component(s.lut[component(argb, 16)], 16), component(s.lut[component(argb, 8)], 8),
               component(s.lut[component(argb, 0)], 0));
}

// The panel pixels a picture rendered at `step` holds: every step-th each way; of them the
// output rows [first, last) are drawn.
struct Canvas {
    PanelPicture& picture;
    int step;
    int first;
    int last;
    uint32_t& at(int ox, int oy) { return picture.argb[size_t(oy) * picture.width + ox]; }
    // The first output column (row) at or after panel column (row) `c`.
    int from(int c) const { return (std::max(c, 0) + step - 1) / step; }
    int toX(int c) const { return std::min(from(c), picture.width); }
    int fromY(int c) const { return std::max(from(c), first); }
    int toY(int c) const { return std::min(from(c), last); }
};

// The frame-store pixel digital zoom shows at panel coordinate `c` of a side `size`: the
// picture doubled about the centre.
int zoomed(bool zoom, int c, int size) {
    return zoom ? size / 2 + (c - size / 2) / kZoomFactor : c;
}

bool videoShown(const OutputStage& s) {
    const uint32_t input3D = (s.control >> kInput3DShift) & kMode3DMask;
    return (s.frameStoreEnable & kShownBufferOutput) && input3D != kNoInputFormat;
}

void videoLayer(const FpgaScanOut& scan, const OutputStage& s, Canvas& c) {
    if (!videoShown(s)) {
        return; // no video: the picture stays black
    }
    const bool zoom = s.control & kDigitalZoom;
    for (int oy = c.first; oy < c.last; ++oy) {
        const int sy = zoomed(zoom, oy * c.step, kPanelHeight);
        for (int ox = 0; ox < c.picture.width; ++ox) {
            const int sx = zoomed(zoom, ox * c.step, kPanelWidth);
            c.at(ox, oy) = contrast(s, argbOfStoreWord(scan.frameStoreWord(sx, sy)));
        }
    }
}

// Whether the part of the live picture the panel shows moves from frame to frame.
bool videoMoves(const FpgaScanOut& scan, const OutputStage& s) {
    const bool zoom = s.control & kDigitalZoom;
    return videoShown(s) && scan.moves(zoomed(zoom, 0, kPanelWidth), zoomed(zoom, 0, kPanelHeight),
                                       zoomed(zoom, kPanelWidth - 1, kPanelWidth),
                                       zoomed(zoom, kPanelHeight - 1, kPanelHeight));
}

// A rectangle of panel pixels, [x0, x1) x [y0, y1).
void fillRect(Canvas& c, int x0, int y0, int x1, int y1, uint32_t argb) {
    for (int oy = c.fromY(y0); oy < c.toY(y1); ++oy) {
        for (int ox = c.from(x0); ox < c.toX(x1); ++ox) {
            c.at(ox, oy) = argb;
        }
    }
}

void crosshairLayer(const OutputStage& s, Canvas& c) {
    if (!(s.crosshair & kCrosshairOn)) {
        return;
    }
    const bool shortArms = s.crosshair & kCrosshairShort;
    const int cx = kPanelWidth / 2, cy = kPanelHeight / 2, half = kCrosshairThickness / 2;
    const int armX = shortArms ? kCrosshairShortArm : kPanelWidth;
    const int armY = shortArms ? kCrosshairShortArm : kPanelHeight;
    const uint32_t colour = kOpaque | s.crosshairColour;
    fillRect(c, cx - armX, cy - half, cx + armX, cy + half, colour);
    fillRect(c, cx - half, cy - armY, cx + half, cy + armY, colour);
}

// A GUI pixel over the video: the key colour is see-through, the menu background lets the
// video through by the transparency factor under the pre-scaled menu colour.
uint32_t mixGui(const OutputStage& s, uint32_t gui, uint32_t video) {
    const uint32_t colour = gui & kRgbMask;
    if (colour == s.key) {
        return video;
    }
    if (colour != s.menuColour) {
        return kOpaque | colour;
    }
    auto blend = [&](int shift) {
        return component(s.scaledMenuColour, shift) +
               ((component(video, shift) * s.transparency) >> kTransparencyShift);
    };
    return rgb(blend(16), blend(8), blend(0));
}

void guiLayer(const Board& board, const OutputStage& s, Canvas& c) {
    GuiFrame frame;
    if (!(s.control & kPiVideoEnable) || !readGuiFrame(board.volatilePath(kGuiFrameFile), frame).empty()) {
        return; // no Pi picture reaches the FPGA
    }
    const int left = static_cast<int>(s.location & kLocationMask);
    const int top = static_cast<int>((s.location >> kLocationLineShift) & kLocationMask);
    const int right = std::min(left + static_cast<int>(frame.width), kPanelWidth);
    const int bottom = std::min(top + static_cast<int>(frame.height), kPanelHeight);
    for (int oy = c.fromY(top); oy < c.toY(bottom); ++oy) {
        const uint32_t* row = &frame.argb[size_t(oy * c.step - top) * frame.width];
        for (int ox = c.from(left); ox < c.toX(right); ++ox) {
            uint32_t& out = c.at(ox, oy);
            out = mixGui(s, row[ox * c.step - left], out);
        }
    }
}

void overlayStoreLayer(const FpgaScanOut& scan, const OutputStage& s, Canvas& c) {
    const uint16_t key = rgb565Of(s.key);
    for (int oy = c.first; oy < c.last; ++oy) {
        for (int ox = 0; ox < c.picture.width; ++ox) {
            const uint16_t v = scan.overlayPixel(ox * c.step, oy * c.step);
            if (v != key) {
                c.at(ox, oy) = argbOf565(v);
            }
        }
    }
}

void dim(Canvas& c, uint32_t level) {
    for (auto px = c.picture.argb.begin() + ptrdiff_t(c.first) * c.picture.width,
              end = c.picture.argb.begin() + ptrdiff_t(c.last) * c.picture.width;
         px != end; ++px) {
        *px = rgb(component(*px, 16) * level / kFullScale, component(*px, 8) * level / kFullScale,
                  component(*px, 0) * level / kFullScale);
    }
}

// A bridge showing its splash picture replaces the FPGA's output on its panel.
constexpr uint32_t kWhite = 0xFFFFFFFF;

bool splashPicture(const Board& board, int channel, std::vector<uint32_t>& argb, int& width, int& rows) {
    const std::string name = channel == 0 ? "bridge-left" : "bridge-right";
    for (const VideoBridge* bridge : board.findAll<VideoBridge>()) {
        if (bridge->name() == name && bridge->splashOn()) {
            uint32_t received = 0;
            argb = bridge->picture(received);
            width = static_cast<int>(VideoBridge::kSplashWidth);
            rows = static_cast<int>(VideoBridge::kSplashHeight);
            argb.resize(size_t(width) * rows, kWhite); // rows not yet received are blank (white)
            return true;
        }
    }
    return false;
}

bool splashShown(const Board& board, int channel) {
    std::vector<uint32_t> splash;
    int width = 0, rows = 0;
    return splashPicture(board, channel, splash, width, rows);
}

// The splash picture scaled to the panel's width, centred vertically.
void splashLayer(const std::vector<uint32_t>& splash, int width, int rows, Canvas& c) {
    const int height = kPanelWidth * rows / width;
    const int top = (kPanelHeight - height) / 2;
    for (int oy = c.fromY(top); oy < c.toY(std::min(top + height, kPanelHeight)); ++oy) {
        const int sy = (oy * c.step - top) * width / kPanelWidth;
        for (int ox = 0; ox < c.picture.width; ++ox) {
            c.at(ox, oy) = splash[size_t(sy) * width + ox * c.step * width / kPanelWidth];
        }
    }
}

// Each file pixel is the average of a kSnapshotScale-square block of panel pixels.
PanelPicture shrink(const PanelPicture& p) {
    PanelPicture out;
    out.width = p.width / kSnapshotScale;
    out.height = p.height / kSnapshotScale;
    out.argb.resize(size_t(out.width) * out.height);
    constexpr uint32_t kBlock = kSnapshotScale * kSnapshotScale;
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            uint32_t sum[3] = {};
            for (int dy = 0; dy < kSnapshotScale; ++dy) {
                for (int dx = 0; dx < kSnapshotScale; ++dx) {
                    const uint32_t px = p.at(x * kSnapshotScale + dx, y * kSnapshotScale + dy);
                    sum[0] += component(px, 16);
                    sum[1] += component(px, 8);
                    sum[2] += component(px, 0);
                }
            }
            out.argb[size_t(y) * out.width + x] = rgb(sum[0] / kBlock, sum[1] / kBlock, sum[2] / kBlock);
        }
    }
    return out;
}

// A file replaced or rewritten has another identity: its inode, size or change time.
void addFileIdentity(const std::string& path, EyepieceKey& key) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        key.push_back(0);
        return;
    }
    key.insert(key.end(), {uint64_t(st.st_ino), uint64_t(st.st_size), uint64_t(st.st_mtim.tv_sec),
                           uint64_t(st.st_mtim.tv_nsec)});
}

// A bridge showing its splash picture: the picture's rows received so far.
void addSplashKey(const Board& board, int channel, EyepieceKey& key) {
    std::vector<uint32_t> splash;
    int width = 0, rows = 0;
    if (!splashPicture(board, channel, splash, width, rows)) {
        key.push_back(0);
        return;
    }
    key.push_back(1);
    key.push_back(std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(splash.data()), splash.size() * sizeof(uint32_t))));
}

PanelPicture sideBySide(const PanelPicture& left, const PanelPicture& right) {
    PanelPicture out;
    out.width = left.width + right.width;
    out.height = left.height;
    out.argb.reserve(size_t(out.width) * out.height);
    for (int y = 0; y < out.height; ++y) {
        auto row = [y](const PanelPicture& p) { return p.argb.begin() + ptrdiff_t(y) * p.width; };
        out.argb.insert(out.argb.end(), row(left), row(left) + left.width);
        out.argb.insert(out.argb.end(), row(right), row(right) + right.width);
    }
    return out;
}

} // namespace

std::string renderEyepiece(const Board& board, int channel, PanelPicture& p, int step, RowSpan rows) {
    const DisplayFpga* fpga = board.find<DisplayFpga>();
    if (!fpga) {
        return "this board has no display FPGA";
    }
    if (step < 1 || step > kMaxRenderStep) {
        return "a panel is drawn at every 1st to " + std::to_string(kMaxRenderStep) + "th pixel";
    }
    channel &= 1;
    const int width = (kPanelWidth + step - 1) / step, height = (kPanelHeight + step - 1) / step;
    if (p.width != width || p.height != height || p.argb.size() != size_t(width) * height) {
        p.width = width;
        p.height = height;
        p.argb.assign(size_t(width) * height, kBlack);
        rows = {}; // nothing drawn before: all of it
    }
    Canvas canvas{p, step, std::clamp(rows.first, 0, height), std::clamp(rows.last, 0, height)};
    if (canvas.first >= canvas.last) {
        return {};
    }
    std::fill(p.argb.begin() + ptrdiff_t(canvas.first) * width,
              p.argb.begin() + ptrdiff_t(canvas.last) * width, kBlack);
    const OutputStage s = readStage(*fpga, channel);
    std::vector<uint32_t> splash;
    int splashWidth = 0, splashRows = 0;
    if (splashPicture(board, channel, splash, splashWidth, splashRows) && splashWidth > 0) {
        splashLayer(splash, splashWidth, splashRows, canvas);
    } else if (!(s.control & kBlank) && (s.control & kLcdOutputEnable)) {
        const FpgaScanOut scan = fpga->scanOut(channel);
        videoLayer(scan, s, canvas);
        crosshairLayer(s, canvas);
        if (s.control & kOverlayEnable) {
            guiLayer(board, s, canvas);
            overlayStoreLayer(scan, s, canvas);
        }
    }
    dim(canvas, s.backlight);
    return {};
}

RowSpan movingRows(const Board& board, int channel, int step) {
    const DisplayFpga* fpga = board.find<DisplayFpga>();
    RowSpan moving{0, 0};
    if (!fpga || step < 1 || splashShown(board, channel & 1)) {
        return moving;
    }
    const OutputStage s = readStage(*fpga, channel & 1);
    const FpgaScanOut scan = fpga->scanOut(channel & 1);
    if ((s.control & kBlank) || !(s.control & kLcdOutputEnable) || !videoShown(s)) {
        return moving;
    }
    const bool zoom = s.control & kDigitalZoom;
    const int height = (kPanelHeight + step - 1) / step;
    for (int oy = 0; oy < height; ++oy) {
        const int y = zoomed(zoom, oy * step, kPanelHeight);
        if (scan.moves(zoomed(zoom, 0, kPanelWidth), y, zoomed(zoom, kPanelWidth - 1, kPanelWidth), y)) {
            moving.first = moving.last == 0 ? oy : moving.first;
            moving.last = oy + 1;
        }
    }
    return moving;
}

EyepieceKey eyepieceKey(const Board& board, int channel, int step) {
    EyepieceKey key = {uint64_t(step), uint64_t(channel & 1)};
    const DisplayFpga* fpga = board.find<DisplayFpga>();
    if (!fpga) {
        return key;
    }
    const OutputStage s = readStage(*fpga, channel & 1);
    key.insert(key.end(), {s.control, s.backlight, s.key, s.menuColour, s.transparency, s.scaledMenuColour,
                           s.location, s.frameStoreEnable, s.crosshair, s.crosshairColour});
    key.insert(key.end(), std::begin(s.lut), std::end(s.lut));
    const FpgaScanOut scan = fpga->scanOut(channel & 1);
    const std::vector<uint64_t> scanKey = scan.signature();
    key.insert(key.end(), scanKey.begin(), scanKey.end());
    addFileIdentity(board.volatilePath(kGuiFrameFile), key);
    addSplashKey(board, channel & 1, key);
    key.push_back(videoMoves(scan, s) ? scan.frame() : 0);
    return key;
}

std::string writeEyepieceSnapshot(const Board& board, const std::string& which, const std::string& path,
                                  bool fullSize) {
    PanelPicture eyes[2];
    for (int channel = 0; channel < 2; ++channel) {
        if (which == "both" || which == (channel == 0 ? "left" : "right")) {
            if (std::string error = renderEyepiece(board, channel, eyes[channel]); !error.empty()) {
                return error;
            }
            if (!fullSize) {
                eyes[channel] = shrink(eyes[channel]);
            }
        }
    }
    const PanelPicture out = which == "both" ? sideBySide(eyes[0], eyes[1]) : eyes[which == "left" ? 0 : 1];
    return writePng(path, uint32_t(out.width), uint32_t(out.height), out.argb);
}

CommandResult snapshotCommand(const Board& board, const std::vector<std::string>& args) {
    const bool fullSize = args.size() == 4 && args[1] == "--full";
    const std::string which = args.size() >= 3 ? args[args.size() - 2] : "";
    if ((args.size() != 3 && !fullSize) || (which != "left" && which != "right" && which != "both")) {
        return {false, std::string("usage: ") + kSnapshotHelp};
    }
    std::string error = writeEyepieceSnapshot(board, which, args.back(), fullSize);
    return {error.empty(), error.empty() ? "" : error + "\n"};
}

} // namespace sim
