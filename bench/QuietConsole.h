// Sends the programs' console log lines to /dev/null while a benchmark measures, so that
// printing to a terminal does not count.
#pragma once

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

class QuietConsole {
public:
    QuietConsole() {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietConsole() {
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

private:
    int saved_;
};
