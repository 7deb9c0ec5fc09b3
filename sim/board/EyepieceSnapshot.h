// What each eyepiece panel shows, rendered from the board's state alone (what the display
// FPGA and the video bridges hold, and the GUI's latest frame): one renderer for
// `ostrix-sim snapshot` and for the live view of the microscope's window (ostrix-scope).
//
// The FPGA's output stage, in the order the picture passes through it:
//  1. the frame store (the warped live input, or the frozen or displayed picture), shown
//     while output buffer 0 is enabled, doubled about the centre with digital zoom, and
//     absent for an input 3D mode the receivers never deliver (3);
//  2. the contrast table, on the video only, so the menu keeps its colours;
//  3. the crosshair at the panel centre, short (size code 3) or across the panel (code 1);
//  4. with overlay mixing on, the Pi's picture (the GUI frame, with the Pi video input on)
//     placed at the menu location: its transparent key colour shows what lies beneath,
//     its menu background colour becomes the scaled menu colour over the video dimmed by
//     the transparency factor, every other pixel is opaque; then the overlay store's
//     icons, where they are not the key colour;
//  5. blanking and a disabled LCD output give black; the backlight level dims the rest.
// While a video bridge shows its splash picture, that is what its panel shows (dimmed by
// the backlight too). The output 3D mode only concerns the HDMI transmitter.
//
// Files are written at half the panel's size, 960 x 540 per eye (each pixel the average of
// a 2 x 2 block), so both eyes side by side stay legible on an 800-pixel-wide screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/board/Board.h"

namespace sim {

constexpr int kPanelWidth = 1920;
constexpr int kPanelHeight = 1080;
constexpr int kSnapshotScale = 2; // panel pixels per file pixel, each way

struct PanelPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;
    uint32_t at(int x, int y) const { return argb[size_t(y) * width + x]; }
};

// Live views draw a panel at every 2nd, 3rd, ... pixel: step² times less work.
constexpr int kMaxRenderStep = 8;

// Rows [first, last) of a picture.
struct RowSpan {
    int first = 0;
    int last = kPanelHeight;
};

// The picture of one panel (0 left, 1 right) at every `step`-th panel pixel each way (1: the
// panel's own resolution, 1920 x 1080); an error text or empty. With `rows`, a picture drawn
// before at that step has only those rows drawn again.
std::string renderEyepiece(const Board& board, int channel, PanelPicture& picture, int step = 1,
                           RowSpan rows = {});

// The rows of a picture at `step` whose live video moves from frame to frame (none: an empty
// span): all a live view draws again while nothing but the frame changes.
RowSpan movingRows(const Board& board, int channel, int step);

// What one panel's picture at `step` is drawn from, cheap to gather: the output stage's
// registers and contrast table, what the FPGA's memory may have been given since, the live
// picture's frame number where its moving part is shown, the GUI's frame file and a
// bridge's splash picture. While the key stays equal the picture does, so a live view
// draws only when it changes. Its last word is the live picture's frame number (0 while no
// moving part is shown): keys that differ only there give pictures that differ only in
// movingRows.
using EyepieceKey = std::vector<uint64_t>;
EyepieceKey eyepieceKey(const Board& board, int channel, int step = 1);

// Writes "left", "right" or "both" (left and right side by side) as a PNG at
// 1/kSnapshotScale of the panel's size, or at its own with `fullSize`; an error text or
// empty.
std::string writeEyepieceSnapshot(const Board& board, const std::string& which, const std::string& path,
                                  bool fullSize = false);

// `ostrix-sim snapshot [--full] left|right|both FILE.png`.
CommandResult snapshotCommand(const Board& board, const std::vector<std::string>& args);
extern const char* const kSnapshotHelp;

} // namespace sim
