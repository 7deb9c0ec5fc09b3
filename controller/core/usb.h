// USB memory: presence of a stick, mounting it for the length of one operation, the log
// export, the file operations of the system update, and the search for the newest update
// archive on the stick. Every file operation runs as a shell command with `sudo`; every
// name in a command is quoted, as names that come from a stick can hold shell syntax.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr int USB_DRIVES = 2;
// Device names of stick 1 and stick 2 under "/dev/".
extern const char* const usb_drives[USB_DRIVES];
// Which stick is present (0 none, 1 or 2), as the last poll found it.
extern int usb_memory;
// Which stick is mounted (0 none).
extern int usb_memory_detected;

// The update archive names: "QLM-" major "." minor and one of the two extensions.
extern const std::string system_update_filename;
extern const std::string system_update_ext1;
extern const std::string system_update_ext2;

// Polls for a stick and tells the GUI when one is plugged in or pulled out; returns
// usb_memory.
int usb_memory_inserted();
// The stick present now (0 none, 1 or 2), without messages.
int usb_stick_present();

// 0 when stick n (1 or 2) is mounted at the mount point; -1 otherwise (shown to the user).
int mount_usb(unsigned n);
// Unmounts both sticks; the result of the last unmount command.
int unmount_usb();
// 0 when a stick is present and mounted, -1 otherwise.
int detect_usb_memory();

// Packs the log folder into "Log<date-time>.tar.gz" on the stick. 0 when written.
int copy_log_to_usb();

// The file's length in bytes as read (0 when it cannot be opened or read), and its byte
// sum through `checksum` when one is given.
long fileSize(const std::string& name, uint32_t* checksum);

// File operations of the update. copy_file first keeps the current `dest` in `previous`
// (when not empty) and copies through a temporary name, so `dest` is either the old or
// the whole new file. All return the command's exit status (0 = success).
int copy_file(const std::string& source, const std::string& dest, const std::string& previous);
// Copies with backup, then deletes the source, but only when the copy succeeded.
int move_file(const std::string& source, const std::string& dest, const std::string& previous);
int delete_file(const std::string& file);
int change_permissions(const std::string& mode, const std::string& file);
// Whether a folder exists.
bool folder_exists(const std::string& name);

// The version in an update file name, with its base ("QLM-") and extension taken off:
// "5.10" gives 5.10, "6" gives 6.0. Only digits and one optional point are a version;
// anything else (including an empty major or minor, or numbers too big) is not.
bool parse_update_version(const std::string& rest, int* major, int* minor);

struct UpdateFile {
    int major = 0;
    int minor = 0;
    std::string name; // file name on the stick, without its folder
};
// The newest update among the names of a stick's root folder matching base*ext, compared
// by major then minor; found only above 0.0.
bool newest_update(const std::vector<std::string>& names, const std::string& base, const std::string& ext,
                   UpdateFile* found);
// Mounts the stick, looks for base*ext in its root folder and unmounts. 1 with the newest
// update found, 0 when none (or no stick).
int find_update_files_using_glob(const std::string& base, const std::string& ext, UpdateFile* found);

// The configuration script an update may bring; it is made executable when installed.
extern const std::string config_script_file;

// Installs the newest update from the stick and reboots: 0 when no stick or no update was
// found, -1 when the stick could not be mounted again, the archive could not be extracted
// or a file could not be installed (the files it replaced are then back in place).
// After the reboot request it waits in await_reboot, which on the board never returns.
int system_update();
extern std::function<void()> await_reboot;

// Start values (tests).
void reset_usb_state();
