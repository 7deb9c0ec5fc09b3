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
#include <system_error>
#include <vector>

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

// What a run leaves in the temporary folder goes when the process ends. The suite's corpus
// runner is one process per seed, so every test run would otherwise leave an input file
// or a whole system root behind per seed. Made before the objects that use the paths, it
// is destroyed after them.
class RunFiles {
public:
    static void add(const std::string& path) { instance().paths_.push_back(path); }
    ~RunFiles() {
        for (const std::string& path : paths_) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
    RunFiles(const RunFiles&) = delete;
    RunFiles& operator=(const RunFiles&) = delete;

private:
    RunFiles() = default;
    static RunFiles& instance() {
        static RunFiles files;
        return files;
    }
    std::vector<std::string> paths_;
};

// "<temp>/ostrix-fuzz-<stem>-<pid><extension>", made once per process and removed at its
// end.
inline std::string inputPath(const std::string& stem, const std::string& extension) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("ostrix-fuzz-" + stem + "-" + std::to_string(getpid()) + extension))
                                 .string();
    RunFiles::add(path);
    return path;
}

// Replaces the file at `path` with the input.
inline void writeInput(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A laid-out system root of the run's own, "<temp>/ostrix-fuzz-<stem>-<pid>-root", removed
// when the process ends.
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
