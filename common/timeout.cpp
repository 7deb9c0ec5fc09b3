#include "common/timeout.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "common/logfile.h"

namespace {

constexpr int64_t MS_PER_SECOND = 1000;
constexpr int64_t NS_PER_MS = 1000000;
constexpr long IMMEDIATE_EXPIRY_NS = 1;

std::atomic<TimeoutTracing> tracing{TimeoutTracing::Log};

bool consoleTracing() {
    return tracing.load() == TimeoutTracing::Console;
}

void arm(timer_t* handle, int64_t durationms, const char* identifier) {
    durationms = std::min(durationms, MAX_TIMEOUT_MS);
    struct itimerspec spec {};
    spec.it_value.tv_sec = static_cast<time_t>(durationms / MS_PER_SECOND);
    spec.it_value.tv_nsec = static_cast<long>((durationms % MS_PER_SECOND) * NS_PER_MS);
    // A zero value should disarm the timer, but some kernels keep reporting the earlier
    // expiry of a SIGEV_NONE timer disarmed that way; 1 ns expires it at once, which is
    // what a duration of 0 means to the callers.
    if (durationms == 0) {
        spec.it_value.tv_nsec = IMMEDIATE_EXPIRY_NS;
    }
    if (timer_settime(*handle, 0, &spec, nullptr) != 0) {
        if (consoleTracing()) {
            printf("%s settime failed with errno %d for '%s'\r\n", timestamp().c_str(), errno, identifier);
        } else {
            logprintf("TO: settime failed with errno %d\n", errno);
        }
    }
}

} // namespace

void set_timeout_tracing(TimeoutTracing t) {
    tracing.store(t);
}

int create_timeout(timer_t* handle) {
    if (*handle != no_timeout()) {
        timer_delete(*handle);
        *handle = no_timeout();
    }
    struct sigevent event {};
    event.sigev_notify = SIGEV_NONE;
    event.sigev_signo = SIGRTMIN;
    event.sigev_value.sival_ptr = handle;
    if (timer_create(CLOCK_MONOTONIC, &event, handle) != 0) {
        *handle = no_timeout();
        if (consoleTracing()) {
            printf("%s TO: ERROR: timer_create failed with error %d\r\n", timestamp().c_str(), errno);
        } else {
            logprintf("\033[38;5;196mTO: ERROR: TO: timer_create failed with error %d\n\033[38;5;248m\n",
                      errno);
        }
        return 0;
    }
    return 1;
}

int64_t timeout_ms_from_seconds(int64_t seconds) {
    if (seconds <= 0) {
        return 0;
    }
    return seconds >= MAX_TIMEOUT_MS / MS_PER_SECOND ? MAX_TIMEOUT_MS : seconds * MS_PER_SECOND;
}

void start_timeout(const char* identifier, timer_t* handle, int64_t durationms, int debug) {
    if (!handle) {
        return;
    }
    if (consoleTracing()) {
        printf("%s start timeout '%s' for %lld ms\r\n", timestamp().c_str(), identifier,
               static_cast<long long>(durationms));
    } else if (debug > 0) {
        logprintf("TO: Start Timeout for %s\n", identifier);
    }
    if (*handle == no_timeout()) {
        if (consoleTracing()) {
            printf("%s creating timer\r\n", timestamp().c_str());
        }
        if (!create_timeout(handle)) {
            return;
        }
    }
    arm(handle, durationms, identifier);
}

int timeout_expired(timer_t* handle, int restartms, int debug) {
    if (*handle == no_timeout()) {
        return 1;
    }
    struct itimerspec remaining {};
    if (consoleTracing()) {
        printf("%s timeout_expired ? ", timestamp().c_str());
    }
    if (timer_gettime(*handle, &remaining) != 0) {
        if (!consoleTracing()) {
            logprintf("TO: gettime failed with errno %d\n", errno);
        }
        return 0;
    }
    bool expired = remaining.it_value.tv_sec == 0 && remaining.it_value.tv_nsec == 0;
    if (consoleTracing()) {
        printf(expired ? "Yes\r\n" : "No\r\n");
    }
    if (!expired) {
        return 0;
    }
    if (debug > 0 && !consoleTracing()) {
        logprintf("TO: Complete\n");
    }
    if (restartms != 0) {
        arm(handle, restartms, "TO: ");
    }
    return 1;
}

void delete_timeout(timer_t* handle) {
    if (*handle != no_timeout()) {
        timer_delete(*handle);
        *handle = no_timeout();
    }
}
