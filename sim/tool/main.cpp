// ostrix-sim: stimulus into and state out of the simulated board. Commands go to the
// program that hosts the board (over the control socket); with none running they act on
// the board's shared state directly.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/board/Board.h"
#include "sim/board/ControlServer.h"

namespace {

constexpr int kUsageError = 2;

void usage(FILE* out) {
    fprintf(out, "usage: ostrix-sim [--root DIR] [--direct] COMMAND [ARGS...]\n"
                 "  init-root DIR              lays out a complete system root in DIR\n"
                 "  help                       lists the board's commands\n"
                 "The system root is DIR of --root, else OSTRIX_SYSROOT. --direct acts on the\n"
                 "board's shared state itself even when a program serves the control socket.\n");
}

// Files and folders given to the board are named relative to where ostrix-sim runs, not
// to the program that hosts the board.
void absolutePaths(std::vector<std::string>& args) {
    bool names = ((args.size() == 4 || args.size() == 5) && args[0] == "framestore" && args[1] == "save") ||
                 (args.size() == 2 && args[0] == "gui-snapshot") ||
                 ((args.size() == 3 || args.size() == 4) && args[0] == "snapshot");
    if (names && !args.back().empty()) {
        args.back() = std::filesystem::absolute(args.back()).string();
    }
    if (args.size() >= 3 && args[0] == "usb" && args[1] == "insert" && !args[2].empty()) {
        args[2] = std::filesystem::absolute(args[2]).string();
    }
}

int report(const sim::CommandResult& result) {
    fputs(result.text.c_str(), result.ok ? stdout : stderr);
    return result.ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const char* rootVariable = getenv("OSTRIX_SYSROOT");
    std::string root = rootVariable ? rootVariable : "";
    if (args.size() >= 2 && args[0] == "--root") {
        root = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    // The shared state read by this program's own models, not through the program serving
    // the socket: how programs built for another architecture are checked to agree on it.
    bool direct = false;
    if (!args.empty() && args[0] == "--direct") {
        direct = true;
        args.erase(args.begin());
    }
    if (args.empty() || args[0] == "-h" || args[0] == "--help") {
        usage(args.empty() ? stderr : stdout);
        return args.empty() ? kUsageError : 0;
    }
    if (args[0] == "init-root") {
        if (args.size() != 2) {
            usage(stderr);
            return kUsageError;
        }
        std::string error = sim::initRoot(args[1]);
        if (!error.empty()) {
            fprintf(stderr, "ostrix-sim: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (root.empty()) {
        fprintf(stderr, "ostrix-sim: no system root: set OSTRIX_SYSROOT or give --root DIR\n");
        return kUsageError;
    }
    setenv("OSTRIX_SYSROOT", root.c_str(), 1);
    absolutePaths(args);
    sim::CommandResult result;
    if (!direct && sim::sendControlCommand(sim::Board::controlSocketPath(root), args, result)) {
        return report(result);
    }
    if (std::string error = sim::initRoot(root); !error.empty()) {
        fprintf(stderr, "ostrix-sim: %s\n", error.c_str());
        return 1;
    }
    sim::Board board(root, sim::BoardConfig::load(sim::Board::configPath(root)));
    return report(board.execute(args));
}
