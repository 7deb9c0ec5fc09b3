// The camera board updates that were requested (by command-line options at start-up, or
// by a system update that brought new camera files): firmware, camera FPGA, then the
// video-bridge files, each reported in the log as it succeeds or fails.
#pragma once

// Runs every requested camera update whose file is named, clears the requests and reads
// the board's status. Without a camera board that answers, each request is reported as
// not carried out. The system update calls it after installing new camera files.
void run_requested_camera_updates();

// Gives a camera board that answers what start-up gives it: the configured mirroring,
// test pattern, HDR start values and shutter angles, the shutter settings, its versions
// to the GUI; the camera fault bit is cleared. Run at start-up and whenever the main loop
// finds a board plugged in (late, again, or after an update's restart).
void set_up_camera_board();
