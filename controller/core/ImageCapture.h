// Image capture to a USB stick and the display of stored images. The FPGA freezes its
// frame store and writes the picture to a local temporary file; the controller names the
// files, copies them to the stick, sets their permissions and tells the GUI how it went.
// Stored images are shown from the stick again, in the frame store, instead of live video.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// Save options of SETT_IMAGE_SAVE_OPTION; anything above SAVE_LEFT_AND_RIGHT is one
// side-by-side stereo image.
constexpr int SAVE_LEFT_ONLY = 0;
constexpr int SAVE_RIGHT_ONLY = 1;
constexpr int SAVE_LEFT_AND_RIGHT = 2;

// The local date and time now.
struct tm current_local_time();

// The date-time part of image and log names, "%02d%02d%02d_%02d%02d%02d", the date
// ordered by SETT_DATEFORMAT: 1 month-day-year, 2 year-month-day, else day-month-year.
std::string date_time_string(const struct tm& when, int dateformat);

// The capture key: saves the current picture to the stick as the save option says.
void capture_image();
// As capture_image(), with the time that names the files.
void capture_image_at(const struct tm& when);

// Shows stored image `number` (1 = the first in name order among the stick's "_L" and
// "_S" pictures) in the frame store, or live video again for 0. This is what setting 74
// and the command file's "display N" do. 0 when done, -1 when nothing could be shown
// (the store then runs live again).
int show_stored_image(int number);

// The names (without folder) in `folder` of the pictures that can be shown, sorted:
// "*_L.png" and "*_S.png" (or ".bmp").
std::vector<std::string> stored_image_files(const std::string& folder, bool png);

// The right picture that belongs to a left one: the "_L" of the suffix becomes "_R"
// (nothing else in the name changes).
std::string right_image_name(const std::string& left);
