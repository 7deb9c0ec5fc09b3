// One run of the OstrixPi program on the simulated board, for integration tests and
// benchmarks: started in its working folder with the board's system root, read back
// through its log file, stopped as the service manager stops it (SIGTERM).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testing_support {

class OstrixPiProcess {
public:
    // Starts `program` in `workdir` on the board under `sysroot` (with no board chosen when
    // that is empty); its console goes to workdir/console.txt.
    OstrixPiProcess(const std::string& program, const std::string& sysroot, const std::string& workdir,
                    std::vector<std::string> args = {})
        : workdir_(workdir) {
        // Everything the child needs is built before fork(): between fork and exec it
        // only makes async-signal-safe calls.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("OSTRIX_PLATFORM=", 0) != 0 && entry.rfind("OSTRIX_SYSROOT=", 0) != 0) {
                env.push_back(entry);
            }
        }
        if (!sysroot.empty()) {
            env.push_back("OSTRIX_PLATFORM=sim");
            env.push_back("OSTRIX_SYSROOT=" + sysroot);
        }
        std::vector<char*> envp = pointers(env);
        args.insert(args.begin(), program);
        std::vector<char*> argv = pointers(args);
        const std::string console = workdir + "/console.txt";

        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || chdir(workdir.c_str()) != 0) {
                _exit(kChildSetupFailed);
            }
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(kExecFailed);
        }
    }

    ~OstrixPiProcess() {
        if (running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    OstrixPiProcess(const OstrixPiProcess&) = delete;
    OstrixPiProcess& operator=(const OstrixPiProcess&) = delete;

    pid_t pid() const { return pid_; }

    std::string log() const { return read(workdir_ + "/log/QLM_logfile_0001.log"); }
    std::string console() const { return read(workdir_ + "/console.txt"); }

    // Waits until the log holds `text` `times` times; false when the program ended or the
    // limit passed first. The log file is written line by line.
    bool waitForLog(const std::string& text, size_t times = 1,
                    std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        return waitFor(&OstrixPiProcess::log, text, times, limit);
    }
    // The same for the console, which the program may buffer.
    bool waitForConsole(const std::string& text, size_t times = 1,
                        std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        return waitFor(&OstrixPiProcess::console, text, times, limit);
    }

    // User plus system CPU seconds the program has used so far (from /proc).
    double cpuSeconds() const {
        std::string stat = read("/proc/" + std::to_string(pid_) + "/stat");
        const size_t end = stat.rfind(')');
        if (end == std::string::npos) {
            return -1;
        }
        std::istringstream fields(stat.substr(end + 2));
        std::string field;
        // After the command name: state is field 3; utime and stime are fields 14 and 15.
        constexpr int kFieldsBeforeUtime = 11;
        fields >> field; // state
        for (int i = 0; i < kFieldsBeforeUtime; ++i) {
            fields >> field;
        }
        long utime = 0;
        long stime = 0;
        fields >> utime >> stime;
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // Sends SIGTERM and waits; the exit status, or -1 when the program had to be killed.
    int stop(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        if (running()) {
            kill(pid_, SIGTERM);
        }
        return wait(limit);
    }

    // Waits for the program to end by itself; the exit status, or -1 when it had to be
    // killed.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (running()) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                done_ = true;
                return -1;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return status_;
    }

    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
            ++n;
        }
        return n;
    }

    // Whether the program still runs (reaps it and keeps its exit status when it ended).
    bool running() {
        if (done_ || pid_ <= 0) {
            return false;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            done_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return false;
        }
        return true;
    }

private:
    bool waitFor(std::string (OstrixPiProcess::*read)() const, const std::string& text, size_t times,
                 std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (count((this->*read)(), text) < times) {
            if (!running() || std::chrono::steady_clock::now() > end) {
                return count((this->*read)(), text) >= times;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return true;
    }

    static constexpr int kChildSetupFailed = 126;
    static constexpr int kExecFailed = 127;
    static constexpr auto kPollInterval = std::chrono::milliseconds(20);

    static std::vector<char*> pointers(std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (std::string& s : strings) {
            result.push_back(s.data());
        }
        result.push_back(nullptr);
        return result;
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string workdir_;
    pid_t pid_ = -1;
    bool done_ = false;
    int status_ = -1;
};

} // namespace testing_support
