#include "gui/app/guiprint.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/logfile.h"

namespace Ostrix {

void guiPrint(const char* format, ...) {
    const std::string stamp = timestamp();
    std::fputs(stamp.c_str(), stdout);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    // Programs that watch the GUI read its output through a pipe or a file.
    std::fflush(stdout);
}

void guiError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

} // namespace Ostrix
