// The command file: service staff and scripts drive the controller without the GUI by
// writing one word into home + "/command". The main loop looks for the file in every
// pass (the home folder is looked at again only when its entries may have changed), acts
// on the first word and deletes the file. Most words become the same message the front
// panel or the GUI would send, handled by the next pass like a received one.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

#include "common/messages.h"

// Words longer than this are not commands; only this much of one is read.
constexpr size_t COMMAND_WORD_MAX = 15;
// Lets the writer finish before the file is read.
constexpr int COMMAND_FILE_SETTLE_MS = 10;

enum class CommandAction {
    None,         // empty file: nothing to do, the file stays
    Message,      // a message for the next pass
    SplashOn,     // configured splash images at once
    SplashOff,    // splash images off at once
    Unrecognised, // any other word
    BadNumber,    // "display" without an image number
};

struct CommandFileEntry {
    std::string word;
    CommandAction action = CommandAction::None;
    message_s message{};
};

// The command file's path, mapped into the system root.
std::string command_file_path();

// Reads the first white-space separated word (and the number after "display") and
// decides what it asks for. Reads at most a bounded word and number, whatever the input.
CommandFileEntry read_command(std::istream& in);

// Acts on a command read from the file: queues its message for the next pass, switches
// the splash screens, or logs why nothing happens.
void act_on_command(const CommandFileEntry& entry);

// One look at the command file, at the end of every main-loop pass.
void check_command_file();
