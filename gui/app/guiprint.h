// The GUI's console trace. The GUI keeps no log file of its own: every line it prints goes
// through one writer, so the format and the flushing are the same everywhere.
#pragma once

#define GUI_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))

namespace Ostrix {

// One time-stamped line on standard output (the newline is added).
void guiPrint(const char* format, ...) GUI_PRINTF_FORMAT;

// One line on standard output without a time stamp: detail that belongs to the stamped line
// before it.
void guiDetail(const char* format, ...) GUI_PRINTF_FORMAT;

// One line on standard error, without a time stamp.
void guiError(const char* format, ...) GUI_PRINTF_FORMAT;

} // namespace Ostrix
