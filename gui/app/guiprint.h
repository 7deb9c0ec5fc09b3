// The GUI's console trace: each line goes to standard output behind the time stamp; the
// GUI keeps no log file of its own.
#pragma once

#define GUI_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))

namespace Ostrix {

// One time-stamped line on standard output (the newline is added).
void guiPrint(const char* format, ...) GUI_PRINTF_FORMAT;

// One line on standard error, without a time stamp.
void guiError(const char* format, ...) GUI_PRINTF_FORMAT;

} // namespace Ostrix
