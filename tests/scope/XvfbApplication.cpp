#include "XvfbApplication.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

// Qt's X11 platform looks for the desktop's D-Bus once and keeps what it found to the end;
// the font configuration keeps its cache.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\n";
}

namespace testing_support {

namespace {

constexpr int kDisplayFd = 9; // where the server writes the number of the display it took
constexpr int kStartLimitMs = 30000;
const char* const kScreen = "1920x1080x24";

// The display number the server writes, up to its line end.
bool readDisplay(int fd, std::string& display) {
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, kStartLimitMs) == 1 && read(fd, &c, 1) == 1) {
        if (c == '\n') {
            return !display.empty();
        }
        display += c;
    }
    return false;
}

} // namespace

// gtest owns the environment and ends it after the last test, before the program's own
// statics go: Qt's application cannot outlive them.
XvfbApplication* XvfbApplication::instance_ =
    static_cast<XvfbApplication*>(::testing::AddGlobalTestEnvironment(new XvfbApplication));

QApplication* XvfbApplication::get(std::string& error) {
    if (!instance_->app_ && !instance_->start(error)) {
        return nullptr;
    }
    return instance_->app_.get();
}

bool XvfbApplication::start(std::string& error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "no pipe for the X server";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], kDisplayFd);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string fdText = std::to_string(kDisplayFd);
    const char* argv[] = {"Xvfb",  "-displayfd", fdText.c_str(), "-screen", "0",
                          kScreen, "-nolisten",  "tcp",          nullptr};
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string display;
    const bool started = spawned == 0 && readDisplay(fds[0], display);
    close(fds[0]);
    if (!started) {
        if (spawned == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        error = "Xvfb did not start (the xvfb package installs it)";
        return false;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    // The window draws without OpenGL; the GL library Qt's X11 platform would load keeps
    // memory it never frees.
    setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    static int argc = 3;
    static char name[] = "scope_window", platform[] = "-platform", xcb[] = "xcb";
    static char* args[] = {name, platform, xcb, nullptr};
    app_ = std::make_unique<QApplication>(argc, args);
    return true;
}

// The application goes before its server.
void XvfbApplication::TearDown() {
    app_.reset();
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

} // namespace testing_support
