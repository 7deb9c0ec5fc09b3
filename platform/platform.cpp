#include "platform/platform.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/select.h"

extern char** environ;

namespace platform {
namespace {

std::mutex backendMutex;
// Never destroyed at exit: device objects that still talk to the board while static
// objects are torn down must find it there, whatever the order of destruction.
std::unique_ptr<Backend>& installed = *new std::unique_ptr<Backend>;
// The same backend, for the calls that need no lock.
std::atomic<Backend*> current{nullptr};

constexpr const char* kShell = "/bin/sh";

int decodeWaitStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return -1;
}

// The environment of a shell command: ours, with the stand-ins folder first on PATH.
std::vector<std::string> shellEnvironment() {
    std::vector<std::string> env;
    const std::string prefix = backend().shellPathPrefix();
    bool pathSeen = false;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        if (entry.rfind("PATH=", 0) == 0) {
            pathSeen = true;
            if (!prefix.empty()) {
                entry = "PATH=" + prefix + ":" + entry.substr(5);
            }
        }
        env.push_back(std::move(entry));
    }
    if (!pathSeen) {
        env.push_back("PATH=" + (prefix.empty() ? std::string() : prefix + ":") +
                      "/usr/sbin:/usr/bin:/sbin:/bin");
    }
    return env;
}

// Starts the command with standard output going to outFd (or ours when -1); returns
// the child's pid or -1.
pid_t startShell(const std::string& command, int outFd) {
    std::vector<std::string> env = shellEnvironment();
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string sh = kShell, dashC = "-c", cmd = command;
    char* argv[] = {sh.data(), dashC.data(), cmd.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    }
    pid_t pid = 0;
    int rc = posix_spawn(&pid, kShell, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return decodeWaitStatus(status);
}

} // namespace

Backend& backend() {
    // Bit-banged buses call this for every line change: the installed backend is read
    // without the lock.
    if (Backend* b = current.load(std::memory_order_acquire)) {
        return *b;
    }
    std::lock_guard<std::mutex> lock(backendMutex);
    if (!installed) {
        installed = makeBackendFromEnvironment();
        current.store(installed.get(), std::memory_order_release);
    }
    return *installed;
}

std::unique_ptr<Backend> setBackend(std::unique_ptr<Backend> next) {
    std::lock_guard<std::mutex> lock(backendMutex);
    std::swap(installed, next);
    current.store(installed.get(), std::memory_order_release);
    return next;
}

bool boardChosen() {
    {
        std::lock_guard<std::mutex> lock(backendMutex);
        if (installed) {
            return true;
        }
    }
    return environmentNamesBackend();
}

bool simulated() {
    return backend().simulated();
}

std::string sysroot() {
    const char* root = std::getenv("OSTRIX_SYSROOT");
    std::string r = root ? root : "";
    while (r.size() > 1 && r.back() == '/') {
        r.pop_back();
    }
    return r;
}

std::string sysPath(std::string_view absolutePath) {
    if (absolutePath.empty() || absolutePath.front() != '/') {
        return std::string(absolutePath);
    }
    return sysroot() + std::string(absolutePath);
}

std::string shellQuote(std::string_view word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

int shell(const std::string& command) {
    pid_t pid = startShell(command, -1);
    return pid < 0 ? -1 : waitForExit(pid);
}

int shellOutput(const std::string& command, std::string& output) {
    output.clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t pid = startShell(command, fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    char buf[4096];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) {
            output.append(buf, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fds[0]);
    return waitForExit(pid);
}

} // namespace platform
