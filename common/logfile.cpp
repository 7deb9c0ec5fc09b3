#include "common/logfile.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <glob.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

constexpr size_t LOGSTR_SIZE = 2048;
constexpr const char* COLOUR_RESET = "\033[38;5;248m";
constexpr const char* COLOUR_BLUE = "\033[38;5;33m";
constexpr const char* COLOUR_ORANGE = "\033[38;5;166m";
constexpr const char* COLOUR_RED = "\033[38;5;196m";
constexpr const char* COLOUR_GREEN = "\033[38;5;40m";
constexpr int MAXLOGINDEX = 9999;
constexpr int LOGINDEX_WRAP = 10000;
constexpr size_t EXTENSION_LENGTH = 4;

std::mutex logfile_mutex;
char logstr[LOGSTR_SIZE];
// The names are never destroyed: device objects still log from their destructors while
// the program's static objects are torn down at exit.
std::string& log_folder = *new std::string("./log");
std::string& logfilenamebase = *new std::string(log_folder + "/QLM_logfile_");
const char logfileextension[5] = ".log";
int logfileindex = 0;
std::string& logfilename = *new std::string;
long maxLogFileSize = MAXLOGFILESIZE;

void rebuildLogfileName() {
    char name[LOGSTR_SIZE];
    snprintf(name, sizeof name, "%s%04d%s", logfilenamebase.c_str(), logfileindex, logfileextension);
    logfilename = name;
}

// Creates an empty file that every user may append to.
void createLogfile(const std::string& name) {
    FILE* f = fopen(name.c_str(), "ab");
    if (!f) {
        printf("LF: failed to open logfile\n");
        return;
    }
    fclose(f);
    platform::shell("sudo chmod 666 " + platform::shellQuote(name));
}

// First call: continue the highest-numbered existing log file, or start number 1.
void findExistingLogfiles() {
    printf("Find existing log files\n");
    std::string pattern = logfilenamebase + "*" + logfileextension;
    printf("Looking for files like '%s*%s'\n", logfilenamebase.c_str(), logfileextension);
    glob_t matches{};
    int rc = glob(pattern.c_str(), 0, nullptr, &matches);
    if (rc != 0 || matches.gl_pathc == 0) {
        globfree(&matches);
        printf("No logfiles found\n");
        logfileindex = 1;
        rebuildLogfileName();
        printf("No logfiles found so created name '%s'\n", logfilename.c_str());
        createLogfile(logfilename);
        return;
    }
    printf("found %d existing log files\n", static_cast<int>(matches.gl_pathc));
    for (size_t i = 0; i < matches.gl_pathc; ++i) {
        std::string path = matches.gl_pathv[i];
        printf("[%d] '%s'\n", static_cast<int>(i), path.c_str());
        std::string numeric = path.substr(logfilenamebase.size());
        numeric =
            numeric.substr(0, numeric.size() >= EXTENSION_LENGTH ? numeric.size() - EXTENSION_LENGTH : 0);
        printf("Extracted numeric '%s'\n", numeric.c_str());
        int number = atoi(numeric.c_str());
        printf("Extracted number %d\n", number);
        // Only numbers a rotation can produce are taken, so a stray name cannot push the
        // index out of range.
        if (number > logfileindex && number <= MAXLOGINDEX) {
            logfileindex = number;
        }
    }
    globfree(&matches);
    if (logfileindex == 0) {
        logfileindex = 1;
    }
    rebuildLogfileName();
    printf("Logfile selected is '%s'\n", logfilename.c_str());
}

void rotateLogfile() {
    int drop = logfileindex - (MAXLOGFILES - 1);
    if (drop < 1) {
        drop += MAXLOGINDEX;
    }
    char dropName[LOGSTR_SIZE];
    snprintf(dropName, sizeof dropName, "%s%04d%s", logfilenamebase.c_str(), drop, logfileextension);
    if (logfile_exists(dropName) == 0) {
        remove(dropName);
    }
    logfileindex = (logfileindex + 1) % LOGINDEX_WRAP;
    if (logfileindex == 0) {
        logfileindex = 1;
    }
    rebuildLogfileName();
    printf("New logfilename '%s'\n", logfilename.c_str());
    createLogfile(logfilename);
}

// "%d-%02d-%02d %d:%02d:%02d.%03d > ": local date, UTC time of day.
std::string stampText(bool twoDigitHour) {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    struct tm local {};
    time_t seconds = tv.tv_sec;
    localtime_r(&seconds, &local);
    constexpr long SECONDS_PER_DAY_HOURS = 24;
    constexpr long SECONDS_PER_HOUR = 3600;
    constexpr long SECONDS_PER_MINUTE = 60;
    constexpr long MICROS_PER_MILLI = 1000;
    int hour = static_cast<int>((seconds / SECONDS_PER_HOUR) % SECONDS_PER_DAY_HOURS);
    int minute = static_cast<int>((seconds % SECONDS_PER_HOUR) / SECONDS_PER_MINUTE);
    int second = static_cast<int>(seconds % SECONDS_PER_MINUTE);
    int millis = static_cast<int>(tv.tv_usec / MICROS_PER_MILLI);
    char stamp[64];
    snprintf(stamp, sizeof stamp,
             twoDigitHour ? "%d-%02d-%02d %02d:%02d:%02d.%03d > " : "%d-%02d-%02d %d:%02d:%02d.%03d > ",
             local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, hour, minute, second, millis);
    return stamp;
}

void writeToLogfile() {
    FILE* file = openlogfile();
    if (!file) {
        printf("LF: Log File Open failed\n");
        return;
    }
    std::string stamp = stampText(false);
    fputs(stamp.c_str(), file);
    fputs(logstr, file);
    fclose(file);
}

// One log call: format once, print in the variant's colours, append to the file.
void logMessage(const char* colour, bool newline, const char* format, va_list args) {
    std::lock_guard<std::mutex> lock(logfile_mutex);
    vsnprintf(logstr, sizeof logstr, format, args);
    if (colour) {
        fputs(colour, stdout);
        fputs(logstr, stdout);
        fputs(COLOUR_RESET, stdout);
    } else {
        fputs(logstr, stdout);
    }
    if (newline) {
        fputc('\n', stdout);
    }
    fflush(stdout);
    writeToLogfile();
}

} // namespace

FILE* openlogfile() {
    if (logfileindex == 0) {
        findExistingLogfiles();
    }
    struct stat st {};
    if (stat(logfilename.c_str(), &st) != 0) {
        if (logfileindex == 0) {
            logfileindex = 1;
        }
        rebuildLogfileName();
        printf("LF: logfilename '%s'\n", logfilename.c_str());
    } else if (st.st_size >= maxLogFileSize) {
        rotateLogfile();
    }
    FILE* file = fopen(logfilename.c_str(), "ab");
    if (!file) {
        printf("LF: failed to open logfile '%s'\n", logfilename.c_str());
    }
    return file;
}

int logfile_exists(const char* name) {
    FILE* f = fopen(name, "r");
    if (!f) {
        return -1;
    }
    fclose(f);
    return 0;
}

#define LOG_VARIANT(function, colour, newline)                                                               \
    void function(const char* format, ...) {                                                                 \
        va_list args;                                                                                        \
        va_start(args, format);                                                                              \
        logMessage(colour, newline, format, args);                                                           \
        va_end(args);                                                                                        \
    }

LOG_VARIANT(logprintf, nullptr, false)
LOG_VARIANT(logprintfblue, COLOUR_BLUE, false)
LOG_VARIANT(logprintforange, COLOUR_ORANGE, false)
LOG_VARIANT(logprintferror, COLOUR_RED, true)
LOG_VARIANT(logprintfgreen, COLOUR_GREEN, true)

std::string logFolder() {
    std::lock_guard<std::mutex> lock(logfile_mutex);
    return log_folder;
}

void setLogFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(logfile_mutex);
    log_folder = folder;
    logfilenamebase = log_folder + "/QLM_logfile_";
    logfileindex = 0;
}

std::string timestamp() {
    return stampText(true);
}

void process_mem_usage() {
    static double lastVm = -1;
    static double lastRss = -1;
    FILE* stat = fopen("/proc/self/stat", "r");
    if (!stat) {
        return;
    }
    char buffer[1024] = {};
    size_t n = fread(buffer, 1, sizeof buffer - 1, stat);
    fclose(stat);
    buffer[n] = '\0';
    // The command name (field 2) may contain spaces; count fields after its closing ')'.
    const char* p = strrchr(buffer, ')');
    if (!p) {
        return;
    }
    constexpr int FIRST_FIELD_AFTER_NAME = 3;
    constexpr int VSIZE_FIELD = 23; // followed by the resident set in pages
    unsigned long long vsize = 0;
    long long rssPages = 0;
    const char* field = p + 1;
    for (int i = FIRST_FIELD_AFTER_NAME; i < VSIZE_FIELD && field; ++i) {
        field = strchr(field + 1, ' ');
    }
    if (!field || sscanf(field, " %llu %lld", &vsize, &rssPages) != 2) {
        return;
    }
    constexpr double KIB = 1024.0;
    double vm = static_cast<double>(vsize) / KIB;
    double rss = static_cast<double>(rssPages) * (static_cast<double>(sysconf(_SC_PAGESIZE)) / KIB);
    if (vm != lastVm || rss != lastRss) {
        logprintfgreen("MEMORY: VM = %1.0fkB; RSS= %1.0fkB;", vm, rss);
        lastVm = vm;
        lastRss = rss;
    }
}

namespace logfile_testing {
void reset(long maxSize) {
    std::lock_guard<std::mutex> lock(logfile_mutex);
    logfileindex = 0;
    logfilename.clear();
    maxLogFileSize = maxSize;
}
} // namespace logfile_testing
