#include "controller/core/usb.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "common/DirectoryWatch.h"
#include "common/logfile.h"
#include "common/messages.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/ImageCapture.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/devices.h"
#include "controller/devices/LTC2977.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"

const char* const usb_drives[USB_DRIVES] = {"sda1", "sdb1"};
int usb_memory = 0;
int usb_memory_detected = 0;

const std::string system_update_filename = "QLM-";
const std::string system_update_ext1 = ".tar.gz";
const std::string system_update_ext2 = ".tgz";

namespace {

// A block device's file type has this bit, which it shares with a directory.
constexpr unsigned STICK_NODE_TYPE_BIT = 0x4000;
constexpr int PRESENCE_MESSAGE_SECONDS = 3;
constexpr int NO_DRIVE_MESSAGE_SECONDS = 4;
// After the USB supply comes back in standby a stick needs a moment to appear; the wait
// for it is bounded.
constexpr int STICK_WAIT_MS = 3000;
constexpr int STICK_POLL_MS = 50;
constexpr size_t CHECKSUM_CHUNK = 64 * 1024;
constexpr int TAR_FILE_CHANGED = 1; // GNU tar: some files differ (changed while read)
// A version number has at most this many digits, so that it fits an int.
constexpr size_t VERSION_DIGITS_MAX = 9;
// Installed files are copied to this name beside their destination and then renamed.
constexpr const char* TEMPORARY_SUFFIX = ".part";

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

std::string q(const std::string& word) {
    return platform::shellQuote(word);
}

std::string devicePath(int stick) {
    return platform::sysPath(std::string("/dev/") + usb_drives[stick - 1]);
}

bool allDigits(const std::string& s) {
    return !s.empty() && s.size() <= VERSION_DIGITS_MAX &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

int usb_stick_present() {
    for (int stick = 1; stick <= USB_DRIVES; ++stick) {
        struct stat st {};
        if (stat(devicePath(stick).c_str(), &st) == 0 && (st.st_mode & STICK_NODE_TYPE_BIT) != 0) {
            return stick;
        }
    }
    return 0;
}

int usb_memory_inserted() {
    // Looked at on every pass: the sticks' nodes are looked up again only when /dev's entries
    // may have changed, so an idle pass costs no path lookups.
    static std::unique_ptr<DirectoryWatch> devices;
    static int lastLook = 0;
    if (folderMayHaveChanged(devices, platform::sysPath("/dev"))) {
        lastLook = usb_stick_present();
    }
    const int present = lastLook;
    if (present != 0 && usb_memory == 0) {
        display_message(MESS_USB_FLASH_INSERTED, PRESENCE_MESSAGE_SECONDS);
    } else if (present == 0 && usb_memory != 0) {
        display_message(MESS_USB_FLASH_REMOVED, PRESENCE_MESSAGE_SECONDS);
    }
    usb_memory = present;
    return usb_memory;
}

int unmount_usb() {
    logprintf("\nMAIN: unmount USB drives\n");
    int result = 0;
    for (const char* drive : usb_drives) {
        result = platform::shell("sudo umount " + q(platform::sysPath(std::string("/dev/") + drive)));
        logprintf("MAIN: UMOUNT %s %d\n", drive, result);
    }
    usb_memory_detected = 0;
    return result;
}

int mount_usb(unsigned n) {
    unmount_usb();
    logprintf("\nmount USB drive %u\n", n);
    if (n < 1 || n > USB_DRIVES) {
        return -1;
    }
    const int result = platform::shell("sudo mount " + q(devicePath(static_cast<int>(n))) + " " +
                                       q(platform::sysPath(controller_files.usb_mount_folder)));
    logprintf("MAIN: MOUNT result=%d\n", result);
    if (result != 0) {
        unmount_usb();
        logprintf("MAIN: No USB Drive Found\n");
        display_message(MESS_NO_USB_DRIVE, NO_DRIVE_MESSAGE_SECONDS);
        usb_memory_detected = 0;
        return -1;
    }
    usb_memory_detected = static_cast<int>(n);
    return 0;
}

int detect_usb_memory() {
    const int stick = usb_memory_inserted();
    if (stick == 0) {
        return -1;
    }
    return mount_usb(static_cast<unsigned>(stick)) == 0 ? 0 : -1;
}

int copy_log_to_usb() {
    // In standby the USB supply may be off: switch it on and give a stick time to appear.
    if (power_manager) {
        power_manager->VCC5V0(true);
    }
    for (int waited = 0; usb_stick_present() == 0 && waited < STICK_WAIT_MS; waited += STICK_POLL_MS) {
        delay(STICK_POLL_MS);
    }
    if (detect_usb_memory() != 0) {
        return -1;
    }
    const std::string archive = platform::sysPath(controller_files.usb_mount_folder) + "/Log" +
                                date_time_string(current_local_time(), shadow_settings[SETT_DATEFORMAT]) +
                                ".tar.gz";
    int result = platform::shell("sudo tar -czf " + q(archive) + " " + q(logFolder()));
    logprintf("MAIN: LOG->USB result=%d\n", result);
    // The front-panel thread keeps logging while the log is archived, so tar may report a
    // file that changed as it read it: the archive still holds every file, which reading
    // it back proves.
    if (result == TAR_FILE_CHANGED && platform::shell("tar -tzf " + q(archive) + " >/dev/null") == 0) {
        logprintf("MAIN: the log grew while it was archived; the archive is complete\n");
        result = 0;
    }
    if (result != 0) {
        err_printf("Copy of the log to Memory Stick failed");
    }
    unmount_usb();
    return result == 0 ? 0 : -1;
}

long fileSize(const std::string& name, uint32_t* checksum) {
    struct stat st {};
    const long size = stat(name.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
    logprintf("File Size = %ld\n", size);
    std::unique_ptr<FILE, FileCloser> file(fopen(name.c_str(), "rb"));
    if (!file) {
        return 0;
    }
    uint32_t sum = 0;
    uint8_t last = 0;
    long count = 0;
    std::vector<uint8_t> chunk(CHECKSUM_CHUNK);
    while (count < size) {
        const size_t want =
            static_cast<size_t>(std::min<long>(size - count, static_cast<long>(chunk.size())));
        errno = 0;
        const size_t got = fread(chunk.data(), 1, want, file.get());
        for (size_t i = 0; i < got; ++i) {
            sum += chunk[i];
        }
        if (got > 0) {
            last = chunk[got - 1];
        }
        count += static_cast<long>(got);
        if (got < want) {
            logprintf("M: fread error %d in fileSize() for file '%s' at index %ld\n", errno, name.c_str(),
                      count);
            return 0;
        }
    }
    if (checksum) {
        *checksum = sum;
    }
    logprintf("File Size = %d  Checksum = %08X last byte %02X\n", static_cast<int>(count), sum, last);
    return count;
}

int delete_file(const std::string& file) {
    logprintf("  Deleting file %s\n", file.c_str());
    return platform::shell("rm -f " + q(file));
}

int change_permissions(const std::string& mode, const std::string& file) {
    return platform::shell("sudo chmod " + q(mode) + " " + q(file));
}

bool folder_exists(const std::string& name) {
    std::error_code ec;
    return std::filesystem::is_directory(name, ec);
}

int copy_file(const std::string& source, const std::string& dest, const std::string& previous) {
    logprintf("  Copying file from %s to %s\n", source.c_str(), dest.c_str());
    std::error_code ec;
    if (!previous.empty() && std::filesystem::exists(dest, ec)) {
        copy_file(dest, previous, "");
    }
    // Through a temporary name, so that a failed or cut-off copy never replaces `dest`.
    const std::string temporary = dest + TEMPORARY_SUFFIX;
    int result = platform::shell("sudo cp -f " + q(source) + " " + q(temporary));
    if (result == 0) {
        result = platform::shell("sudo mv -f " + q(temporary) + " " + q(dest));
    }
    if (result != 0) {
        platform::shell("sudo rm -f " + q(temporary));
    }
    return result;
}

int move_file(const std::string& source, const std::string& dest, const std::string& previous) {
    logprintf("Move %s -> %s\n", source.c_str(), dest.c_str());
    const int result = copy_file(source, dest, previous);
    // A source whose copy failed is the only whole copy left: it stays.
    if (result == 0) {
        delete_file(source);
    }
    return result;
}

bool parse_update_version(const std::string& rest, int* major, int* minor) {
    const size_t point = rest.find('.');
    const std::string majorText = rest.substr(0, point);
    const std::string minorText = point == std::string::npos ? "0" : rest.substr(point + 1);
    if (!allDigits(majorText) || !allDigits(minorText)) {
        return false;
    }
    *major = std::stoi(majorText);
    *minor = std::stoi(minorText);
    return true;
}

bool newest_update(const std::vector<std::string>& names, const std::string& base, const std::string& ext,
                   UpdateFile* found) {
    UpdateFile best;
    bool any = false;
    for (const std::string& name : names) {
        if (name.size() <= base.size() + ext.size() || name.compare(0, base.size(), base) != 0 ||
            !endsWith(name, ext)) {
            continue;
        }
        int major = 0, minor = 0;
        if (!parse_update_version(name.substr(base.size(), name.size() - base.size() - ext.size()), &major,
                                  &minor)) {
            logprintf("MAIN: '%s' is not an update file name, ignored\n", name.c_str());
            continue;
        }
        if (major > best.major || (major == best.major && minor > best.minor)) {
            best = UpdateFile{major, minor, name};
            any = true;
        }
    }
    if (any && found) {
        *found = best;
    }
    return any;
}

int find_update_files_using_glob(const std::string& base, const std::string& ext, UpdateFile* found) {
    if (detect_usb_memory() != 0) {
        logprintf("MAIN: USB Drive not found in find_update_files_using_glob()\n");
        return 0;
    }
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(platform::sysPath(controller_files.usb_mount_folder), ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    const bool any = newest_update(names, base, ext, found);
    unmount_usb();
    return any ? 1 : 0;
}

void reset_usb_state() {
    usb_memory = 0;
    usb_memory_detected = 0;
}
