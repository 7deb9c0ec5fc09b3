// What the fuzz harnesses share around the reader under test. Under libFuzzer the log and
// the console only cost time: nothing of them is kept, and libFuzzer reports on standard
// error. Readers that take a file get the input in a temporary file of this process.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/logfile.h"
#include "sim/board/Board.h"

namespace fuzz {

inline void discardConsole() {
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
}

// `noLogFolder` names a folder that does not exist, so no log file is written.
inline void quietLogAndConsole(const char* noLogFolder) {
    setLogFolder(noLogFolder);
    discardConsole();
}

// "<temp>/ostrix-fuzz-<stem>-<pid><extension>", made once per process.
inline std::string inputPath(const std::string& stem, const std::string& extension) {
    return (std::filesystem::temp_directory_path() /
            ("ostrix-fuzz-" + stem + "-" + std::to_string(getpid()) + extension))
        .string();
}

// Replaces the file at `path` with the input.
inline void writeInput(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A laid-out system root of the run's own, "<temp>/ostrix-fuzz-<stem>-<pid>-root".
inline std::string boardRoot(const std::string& stem) {
    const std::string root = inputPath(stem, "-root");
    std::filesystem::create_directories(root);
    if (!sim::initRoot(root).empty()) {
        abort();
    }
    return root;
}

// Readers that reach the platform (pins, the shell) find a simulated board of the run's
// own instead of ending the run. Returns the system root.
inline std::string simulatedBoard(const std::string& stem) {
    const std::string root = boardRoot(stem);
    setenv("OSTRIX_PLATFORM", "sim", 1);
    setenv("OSTRIX_SYSROOT", root.c_str(), 1);
    return root;
}

} // namespace fuzz
