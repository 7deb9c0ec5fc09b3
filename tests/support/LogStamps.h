// The log file's lines behind their time stamps. The controller writes the hour without a
// leading zero ("5:07:00.000") and the GUI with one ("05:07:00.000"), so readers of either
// must accept both, or a test passes only in the afternoon.
#pragma once

#include <string>

namespace testing_support {

// Length of the time stamp "Y-MM-DD H:MM:SS.mmm > " at `at` in `text`, or 0 when none starts there.
size_t logStampAt(const std::string& text, size_t at);

// `text` with every time stamp removed.
std::string withoutLogStamps(const std::string& text);

} // namespace testing_support
