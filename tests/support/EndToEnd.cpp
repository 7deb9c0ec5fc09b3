#include "tests/support/EndToEnd.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace testing_support {

void EndToEndTest::SetUp() {
    ASSERT_EQ(sim::initRoot(root()), "");
    writeFile(home() + "/ostrix.cfg", configuration());
}

::testing::AssertionResult EndToEndTest::settingsCollected(OstrixPiProcess& controller,
                                                           std::chrono::milliseconds limit) {
    if (controller.waitForLog("MAIN: GUI settings collected\n", 1, limit)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the settings were not collected:\n" << controller.log();
}

void EndToEndTest::prepareGui(const std::string& settings) const {
    std::filesystem::create_directories(guiFolder() + "/resources");
    for (const char* f : {"font_en.png", "slider.png", "Ostrix GUI Icons.png"}) {
        std::filesystem::copy_file(std::string(OSTRIX_SOURCE_DIR "/resources/") + f,
                                   guiFolder() + "/resources/" + f);
    }
    if (!settings.empty()) {
        writeFile(guiFolder() + "/QLM_GUI.settings", settings);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's offscreen platform keeps its screen objects to the end; that is Qt's, not ours.
    setenv("LSAN_OPTIONS", "suppressions=" OSTRIX_SOURCE_DIR "/tests/support/lsan-qt.supp", 1);
}

::testing::AssertionResult EndToEndTest::guiAnnounced(OstrixPiProcess& gui) {
    if (gui.waitForConsole("GUI: Startup message sent")) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the GUI did not announce itself:\n" << gui.console();
}

int EndToEndTest::sim(std::vector<std::string> args, std::string* output) const {
    args.insert(args.begin(), {OSTRIX_BIN_DIR "/ostrix-sim", "--root", root()});
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const std::string outPath = scratch() + "/sim-output.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (output) {
        *output = readFile(outPath);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

sim::Board& EndToEndTest::board() {
    if (!board_) {
        board_ = std::make_unique<sim::Board>(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
    }
    return *board_;
}

bool EndToEndTest::cameraReceived(const std::string& command) {
    const std::vector<std::string> commands = camera().recentCommands();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

} // namespace testing_support
