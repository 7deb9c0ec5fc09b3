#include "sim/board/EyepieceSnapshot.h"

#include <algorithm>

#include "sim/board/GuiFrame.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"

// The video bridge model, where the board has one (see splashPicture below).
#if __has_include("sim/chips/VideoBridge.h")
#include "sim/chips/VideoBridge.h"
#define OSTRIX_SIM_HAS_VIDEO_BRIDGE 1
#endif

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

void videoLayer(const DisplayFpga& fpga, int channel, const OutputStage& s, PanelPicture& p) {
    const uint32_t input3D = (s.control >> kInput3DShift) & kMode3DMask;
    if (!(s.frameStoreEnable & kShownBufferOutput) || input3D == kNoInputFormat) {
        return; // no video: the picture stays black
    }
    const std::vector<uint32_t> words = fpga.frameStoreWords(channel);
    const bool zoom = s.control & kDigitalZoom;
    for (int y = 0; y < kPanelHeight; ++y) {
        const int sy = zoom ? kPanelHeight / 2 + (y - kPanelHeight / 2) / kZoomFactor : y;
        for (int x = 0; x < kPanelWidth; ++x) {
            const int sx = zoom ? kPanelWidth / 2 + (x - kPanelWidth / 2) / kZoomFactor : x;
            p.argb[size_t(y) * kPanelWidth + x] =
                contrast(s, argbOfStoreWord(words[size_t(sy) * kTestPictureWidth + sx]));
        }
    }
}

void fillRect(PanelPicture& p, int x0, int y0, int x1, int y1, uint32_t argb) {
    for (int y = std::max(y0, 0); y < std::min(y1, p.height); ++y) {
        for (int x = std::max(x0, 0); x < std::min(x1, p.width); ++x) {
            p.argb[size_t(y) * p.width + x] = argb;
        }
    }
}

void crosshairLayer(const OutputStage& s, PanelPicture& p) {
    if (!(s.crosshair & kCrosshairOn)) {
        return;
    }
    const bool shortArms = s.crosshair & kCrosshairShort;
    const int cx = kPanelWidth / 2, cy = kPanelHeight / 2, half = kCrosshairThickness / 2;
    const int armX = shortArms ? kCrosshairShortArm : kPanelWidth;
    const int armY = shortArms ? kCrosshairShortArm : kPanelHeight;
    const uint32_t colour = kOpaque | s.crosshairColour;
    fillRect(p, cx - armX, cy - half, cx + armX, cy + half, colour);
    fillRect(p, cx - half, cy - armY, cx + half, cy + armY, colour);
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

void guiLayer(const Board& board, const OutputStage& s, PanelPicture& p) {
    GuiFrame frame;
    if (!(s.control & kPiVideoEnable) || !readGuiFrame(board.volatilePath(kGuiFrameFile), frame).empty()) {
        return; // no Pi picture reaches the FPGA
    }
    const int left = static_cast<int>(s.location & kLocationMask);
    const int top = static_cast<int>((s.location >> kLocationLineShift) & kLocationMask);
    const int width = std::min(static_cast<int>(frame.width), kPanelWidth - left);
    const int height = std::min(static_cast<int>(frame.height), kPanelHeight - top);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t& out = p.argb[size_t(top + y) * kPanelWidth + left + x];
            out = mixGui(s, frame.argb[size_t(y) * frame.width + x], out);
        }
    }
}

void overlayStoreLayer(const DisplayFpga& fpga, int channel, const OutputStage& s, PanelPicture& p) {
    const uint16_t key = rgb565Of(s.key);
    for (int y = 0; y < kPanelHeight; ++y) {
        for (int x = 0; x < kPanelWidth; ++x) {
            const uint16_t v = fpga.overlayPixel(channel, x, y);
            if (v != key) {
                p.argb[size_t(y) * kPanelWidth + x] = argbOf565(v);
            }
        }
    }
}

void dim(PanelPicture& p, uint32_t level) {
    for (uint32_t& px : p.argb) {
        px = rgb(component(px, 16) * level / kFullScale, component(px, 8) * level / kFullScale,
                 component(px, 0) * level / kFullScale);
    }
}

// ---- Video bridge splash: the one place that knows the bridge model ----
// A bridge showing its splash picture replaces the FPGA's output on its panel. Boards
// built without a bridge model show the FPGA's output only.
#ifdef OSTRIX_SIM_HAS_VIDEO_BRIDGE
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
#else
bool splashPicture(const Board&, int, std::vector<uint32_t>&, int&, int&) {
    return false;
}
#endif // OSTRIX_SIM_HAS_VIDEO_BRIDGE
// ---- end of the video bridge splash ----

// The splash picture scaled to the panel's width, centred vertically.
void splashLayer(const std::vector<uint32_t>& splash, int width, int rows, PanelPicture& p) {
    const int height = kPanelWidth * rows / width;
    const int top = (kPanelHeight - height) / 2;
    for (int y = std::max(top, 0); y < std::min(top + height, kPanelHeight); ++y) {
        const int sy = (y - top) * width / kPanelWidth;
        for (int x = 0; x < kPanelWidth; ++x) {
            p.argb[size_t(y) * kPanelWidth + x] = splash[size_t(sy) * width + x * width / kPanelWidth];
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

std::string renderEyepiece(const Board& board, int channel, PanelPicture& p) {
    const DisplayFpga* fpga = board.find<DisplayFpga>();
    if (!fpga) {
        return "this board has no display FPGA";
    }
    channel &= 1;
    p.width = kPanelWidth;
    p.height = kPanelHeight;
    p.argb.assign(size_t(kPanelWidth) * kPanelHeight, kBlack);
    const OutputStage s = readStage(*fpga, channel);
    std::vector<uint32_t> splash;
    int splashWidth = 0, splashRows = 0;
    if (splashPicture(board, channel, splash, splashWidth, splashRows) && splashWidth > 0) {
        splashLayer(splash, splashWidth, splashRows, p);
    } else if (!(s.control & kBlank) && (s.control & kLcdOutputEnable)) {
        videoLayer(*fpga, channel, s, p);
        crosshairLayer(s, p);
        if (s.control & kOverlayEnable) {
            guiLayer(board, s, p);
            overlayStoreLayer(*fpga, channel, s, p);
        }
    }
    dim(p, s.backlight);
    return {};
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
