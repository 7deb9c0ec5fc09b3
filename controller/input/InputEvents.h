// What the USB input readers share: the kernel's event record, splitting a read into
// records, and the clock that times key presses.
#pragma once

#include <linux/input.h>
#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Records are the platform's `struct input_event`: 24 bytes on a 64-bit kernel, 16 on a
// 32-bit one. A read fetches at most this many of them.
constexpr size_t INPUT_EVENTS_PER_READ = 64;
constexpr size_t INPUT_READ_BYTES = INPUT_EVENTS_PER_READ * sizeof(input_event);

// Splits `length` bytes into records; false, with nothing taken, when the bytes are not
// a whole number of records.
bool split_input_events(const uint8_t* data, size_t length, std::vector<input_event>& events);

// Presses and repeats are timed on CLOCK_MONOTONIC, so that setting the date never
// shortens or stretches a press. Tests install a clock of their own.
using InputClock = std::function<timeval()>;
timeval monotonic_now();

// a - b, and whether a is later than b.
timeval time_since(const timeval& a, const timeval& b);
bool time_later(const timeval& a, const timeval& b);
timeval time_plus(const timeval& a, const timeval& b);
