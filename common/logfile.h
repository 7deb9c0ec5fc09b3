// The log: every message goes to the console (optionally coloured) and, behind a time
// stamp, to a numbered log file in the log folder that rotates by size.
#pragma once

#include <cstdio>
#include <string>

constexpr int MAXLOGFILES = 5;
constexpr long MAXLOGFILESIZE = 5 * 1024 * 1024;

#define LOG_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))

void logprintf(const char* format, ...) LOG_PRINTF_FORMAT;
void logprintfblue(const char* format, ...) LOG_PRINTF_FORMAT;
void logprintforange(const char* format, ...) LOG_PRINTF_FORMAT;
void logprintferror(const char* format, ...) LOG_PRINTF_FORMAT;
void logprintfgreen(const char* format, ...) LOG_PRINTF_FORMAT;

// Opens the current log file for appending (finding, rotating and creating it as needed);
// nullptr when it cannot be opened. Called with the log lock held.
FILE* openlogfile();

// 0 if the file can be opened for reading, -1 otherwise.
int logfile_exists(const char* name);

// A copy of the log folder ("./log" unless changed).
std::string logFolder();

// Moves the log to another folder; the next message looks for its files there.
void setLogFolder(const std::string& folder);

// The memory report: logs VM and RSS from "/proc/self/stat" when they changed.
void process_mem_usage();

// The GUI's console time stamp "YYYY-MM-DD HH:MM:SS.mmm > " (local date, UTC time of day).
std::string timestamp();

namespace logfile_testing {
// Forgets the current file so that the next message searches the folder again, and sets
// the rotation size (MAXLOGFILESIZE unless a test needs a small one).
void reset(long maxSize = MAXLOGFILESIZE);
} // namespace logfile_testing
