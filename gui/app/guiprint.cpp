#include "gui/app/guiprint.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/logfile.h"

namespace Ostrix {

namespace {

// The one place that writes the GUI's console lines. Programs that watch the GUI read its
// output through a pipe or a file, so every line is flushed as it is written.
void writeLine(std::FILE* stream, bool stamped, const char* format, va_list args) {
    if (stamped) {
        const std::string stamp = timestamp();
        std::fputs(stamp.c_str(), stream);
    }
    std::vfprintf(stream, format, args);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void guiPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(stdout, true, format, args);
    va_end(args);
}

void guiDetail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(stdout, false, format, args);
    va_end(args);
}

void guiError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(stderr, false, format, args);
    va_end(args);
}

} // namespace Ostrix
