#include "controller/input/InputEvents.h"

#include <cstring>
#include <ctime>

namespace {
constexpr long MICROSECONDS_PER_SECOND = 1000000;
constexpr long NANOSECONDS_PER_MICROSECOND = 1000;
} // namespace

bool split_input_events(const uint8_t* data, size_t length, std::vector<input_event>& events) {
    events.clear();
    if (length % sizeof(input_event) != 0 || (length > 0 && data == nullptr)) {
        return false;
    }
    events.resize(length / sizeof(input_event));
    if (length > 0) {
        memcpy(events.data(), data, length);
    }
    return true;
}

timeval monotonic_now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return timeval{ts.tv_sec, static_cast<suseconds_t>(ts.tv_nsec / NANOSECONDS_PER_MICROSECOND)};
}

timeval time_since(const timeval& a, const timeval& b) {
    timeval d{a.tv_sec - b.tv_sec, a.tv_usec - b.tv_usec};
    if (d.tv_usec < 0) {
        d.tv_sec -= 1;
        d.tv_usec += MICROSECONDS_PER_SECOND;
    }
    return d;
}

bool time_later(const timeval& a, const timeval& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_usec > b.tv_usec;
}

timeval time_plus(const timeval& a, const timeval& b) {
    timeval s{a.tv_sec + b.tv_sec, a.tv_usec + b.tv_usec};
    if (s.tv_usec >= MICROSECONDS_PER_SECOND) {
        s.tv_sec += 1;
        s.tv_usec -= MICROSECONDS_PER_SECOND;
    }
    return s;
}
