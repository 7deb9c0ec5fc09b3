// The live video the simulated display FPGA receives from the camera pair: a synthetic
// stereo test picture, recognisable per eye (a large "L" or "R", tinted red or blue) with
// a stereo target shifted horizontally between the eyes and a marker that moves with the
// frame number, so a frozen frame store can be told from a live one.
#pragma once

#include <cstdint>

namespace sim {

constexpr int kTestPictureWidth = 1920;
constexpr int kTestPictureHeight = 1080;
// Horizontal offset of the stereo target between the eyes, in pixels (right minus left).
constexpr int kTestPictureEyeOffset = 32;
// Frames per second of the live input.
constexpr int kTestPictureFrameRate = 60;

struct Rgb {
    uint8_t r, g, b;
};

// Colour of one pixel of eye `channel` (0 left, 1 right) in frame `frame`.
Rgb testPicturePixel(int channel, int x, int y, uint32_t frame);

// The frame-store word of a colour: red in bits 22..31, green 11..21, blue 0..10.
uint32_t frameStoreWord(Rgb colour);

// Left edge of the stereo target of an eye (tests look for it).
int testPictureTargetX(int channel);

// Whether any row from `top` to `bottom` (inclusive) changes from frame to frame: only the
// marker's rows do, so a viewer of a still part of the picture need not draw it again.
bool testPictureRowsMove(int top, int bottom);

} // namespace sim
