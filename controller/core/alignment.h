// Stereo alignment: per channel a horizontal pixel offset, a vertical line offset and a
// rotation, applied to the display FPGA's warp engine, adjusted with the alignment keys in
// alignment mode, and kept in the alignment file (with the stereo separation and the two
// backlight scales) across restarts.
#pragma once

#include <cstdint>
#include <string>

constexpr int WarpOffsetMin = -30;
constexpr int WarpOffsetMax = 30;
constexpr float WarpRotationMax = 2.0f;
// The stereo separation moves the two pictures apart by this many pixels each; beyond a
// screen's width nothing of them would overlap, and the shifts made from it must stay
// within an int.
constexpr int StereoSeparationMax = 1920;

extern int WarpPixelSourceOffset[2];
extern int WarpLineSourceOffset[2];
extern float WarpRotation[2];

// Reads the alignment file: 0 when read, -2 when it does not exist (values unchanged).
int read_alignment_file(const std::string& path);

// Writes the alignment file; 0 when written. The file is replaced whole (written beside
// it and renamed), so a power cut never leaves half a file.
int save_alignment_file(const std::string& path);

// The alignment keys: UKEY_ALIGN_MODE with its set-up mode, and the alignment steps
// UKEY_ALIGN_RESET .. UKEY_ALIGN_ROTL of the channel in word 2.
void align_mode_key(uint32_t mode);
void align_step_key(uint32_t key, uint32_t word2);

// Applies channel c's display shift with or without the stereo separation.
void apply_display_shift(int c, bool withSeparation);

// Start values: offsets and rotations 0.
void reset_alignment();
