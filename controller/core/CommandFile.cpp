#include "controller/core/CommandFile.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "common/DirectoryWatch.h"
#include "common/SettingsIndex.h"
#include "common/logfile.h"
#include "controller/core/ConfigFile.h"
#include "controller/core/MainLoop.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/power.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"

namespace {

// The image number of "display": decimal digits, 0 (live video) up to the largest
// setting value.
constexpr size_t IMAGE_NUMBER_DIGITS_MAX = 10;
constexpr unsigned long IMAGE_NUMBER_MAX = INT32_MAX;
constexpr int DECIMAL = 10;

struct WordMessage {
    std::string_view word;
    uint32_t command;
};

constexpr WordMessage MESSAGE_WORDS[] = {
    {"standby", tEV_POWER_OFF},
    {"wakeup", tEV_POWER_ON},
    {"update", tEV_SYSUPDATE},
    {"capture", tEV_KEY | UKEY_P_IMAGECAPTURE},
};
constexpr std::string_view DISPLAY_WORD = "display";
constexpr std::string_view SPLASH_ON_WORD = "splashon";
constexpr std::string_view SPLASH_OFF_WORD = "splashoff";

bool isBlank(int c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The next white-space separated word, of at most `limit` characters (a longer word is
// cut to limit + 1 characters, so that it cannot match a shorter one). Leading blanks
// are skipped however many there are, without storing them.
std::string nextWord(std::istream& in, size_t limit) {
    std::string word;
    int c = in.get();
    while (c != EOF && isBlank(c)) {
        c = in.get();
    }
    while (c != EOF && !isBlank(c) && word.size() <= limit) {
        word.push_back(static_cast<char>(c));
        c = in.get();
    }
    return word;
}

bool parseImageNumber(const std::string& text, uint32_t* number) {
    if (text.empty() || text.size() > IMAGE_NUMBER_DIGITS_MAX) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, DECIMAL);
    if (errno != 0 || value > IMAGE_NUMBER_MAX) {
        return false;
    }
    *number = static_cast<uint32_t>(value);
    return true;
}

void queueMessage(const message_s& msg) {
    loop_state.typed_message = msg;
    loop_state.typed_command = true;
}

// Deleted through the shell, as root may own the file. Should that fail, the file is
// removed directly so that its command is not acted on again in every pass.
void deleteCommandFile(const std::string& path) {
    if (platform::shell("sudo rm " + platform::shellQuote(path)) == 0) {
        return;
    }
    err_printf("Cannot delete the command file");
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Moves the file aside before its word is acted on, so that a word written while a slow
// command (the splash switch takes about a second) runs lands in a new file and is read
// by a later pass instead of being deleted unread. Returns the name to delete.
std::string takeCommandFile(const std::string& path) {
    const std::string taken = path + ".taken";
    std::error_code failed;
    std::filesystem::rename(path, taken, failed);
    if (!failed) {
        return taken;
    }
    if (platform::shell("sudo mv " + platform::shellQuote(path) + " " + platform::shellQuote(taken)) == 0) {
        return taken;
    }
    return path;
}

} // namespace

std::string command_file_path() {
    return platform::sysPath(controller_files.home_folder + "/command");
}

CommandFileEntry read_command(std::istream& in) {
    CommandFileEntry entry;
    entry.word = nextWord(in, COMMAND_WORD_MAX);
    if (entry.word.empty()) {
        return entry;
    }
    entry.action = CommandAction::Unrecognised;
    for (const WordMessage& known : MESSAGE_WORDS) {
        if (entry.word == known.word) {
            entry.action = CommandAction::Message;
            entry.message = message_s{known.command, 0};
        }
    }
    if (entry.word == SPLASH_ON_WORD) {
        entry.action = CommandAction::SplashOn;
    } else if (entry.word == SPLASH_OFF_WORD) {
        entry.action = CommandAction::SplashOff;
    } else if (entry.word == DISPLAY_WORD) {
        uint32_t number = 0;
        if (parseImageNumber(nextWord(in, IMAGE_NUMBER_DIGITS_MAX), &number)) {
            entry.action = CommandAction::Message;
            entry.message = message_s{tEV_ACTION | SETT_IMAGE_SOURCE, number};
        } else {
            entry.action = CommandAction::BadNumber;
        }
    }
    return entry;
}

void act_on_command(const CommandFileEntry& entry) {
    switch (entry.action) {
    case CommandAction::None:
        break;
    case CommandAction::Message:
        queueMessage(entry.message);
        break;
    case CommandAction::SplashOn:
        splash_screen(SPLASH_CONFIGURED);
        break;
    case CommandAction::SplashOff:
        splash_screen(SPLASH_OFF);
        break;
    case CommandAction::Unrecognised:
        logprintf("MAIN: unrecognised command\n");
        break;
    case CommandAction::BadNumber:
        err_printf("display needs an image number");
        break;
    }
}

void check_command_file() {
    const std::string path = command_file_path();
    // The home folder is looked at again only when its entries may have changed, or while a
    // file of that name stays there (an empty one is read again on every pass).
    static std::unique_ptr<DirectoryWatch> home;
    static bool there = false;
    if (folderMayHaveChanged(home, std::filesystem::path(path).parent_path().string()) || there) {
        // Only a regular file is read: a folder or a pipe of that name would fail or block.
        there = file_exists(path);
    }
    if (!there) {
        return;
    }
    delay(COMMAND_FILE_SETTLE_MS);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        err_printf("Cannot read the command file");
        deleteCommandFile(path);
        return;
    }
    const CommandFileEntry entry = read_command(file);
    if (entry.action == CommandAction::None) {
        return; // an empty file stays and is looked at again
    }
    file.close();
    const std::string taken = takeCommandFile(path);
    logprintf("MAIN: Command : '%s'\n", loggable(entry.word).c_str());
    act_on_command(entry);
    deleteCommandFile(taken);
}
