// The controller's loop. One pass about every 10 ms while `run` is set; a termination
// signal clears `run` at the next pass.
#include <csignal>

#include "controller/core/OstrixPi.h"
#include "platform/wiringPi.h"

namespace {

constexpr unsigned kLoopPeriodMs = 10;

volatile std::sig_atomic_t terminationRequested = 0;

extern "C" void requestTermination(int) {
    terminationRequested = 1;
}

// One pass: message dispatch and the hardware polls join here.
void main_loop_pass() {
    delay(kLoopPeriodMs);
}

} // namespace

void install_termination_handlers() {
    struct sigaction action {};
    action.sa_handler = requestTermination;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool termination_requested() {
    return terminationRequested != 0;
}

void main_loop() {
    while (execute_mode.run) {
        if (termination_requested()) {
            execute_mode.run = 0;
            break;
        }
        main_loop_pass();
    }
}
