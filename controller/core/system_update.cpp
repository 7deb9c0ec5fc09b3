// The system update: the newest "QLM-<major>.<minor>" archive on the stick is extracted
// into the update folder, each file it brings is installed in the home folder with the
// file it replaces kept in the previous folder, the devices take up what concerns them,
// and the Pi reboots. A failed installation puts the replaced files back.
#include <filesystem>
#include <string>
#include <vector>

#include "common/logfile.h"
#include "common/messages.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/camera_updates.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/core/power.h"
#include "controller/core/usb.h"
#include "controller/devices/clocks.h"
#include "controller/fpga/fpga.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"

const std::string config_script_file = "ConfigIssue3.sh";

namespace {

constexpr int REBOOT_POLL_MS = 100;
constexpr int NO_DRIVE_MESSAGE_SECONDS = 4;
constexpr const char* CONFIG_SCRIPT_MODE = "777";

std::string q(const std::string& word) {
    return platform::shellQuote(word);
}

bool fileThere(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The update folder is emptied before an archive is extracted into it, so that nothing
// of an earlier update is installed with this one.
bool prepareFolders(const std::string& update, const std::string& previous) {
    std::error_code ec;
    std::filesystem::remove_all(update, ec);
    bool made = std::filesystem::create_directories(update, ec) || std::filesystem::is_directory(update, ec);
    made =
        (std::filesystem::create_directories(previous, ec) || std::filesystem::is_directory(previous, ec)) &&
        made;
    return made;
}

void emptyFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
}

// Installs files from the update folder into the home folder and remembers what each one
// replaced, so that a failed installation can be undone.
class Installer {
public:
    Installer()
        : update_(platform::sysPath(controller_files.update_folder)),
          home_(platform::sysPath(controller_files.home_folder)),
          previous_(platform::sysPath(controller_files.previous_folder)) {}

    const std::string& updateFolder() const { return update_; }
    const std::string& previousFolder() const { return previous_; }
    bool contains(const std::string& name) const { return fileThere(update_ + "/" + name); }
    std::string installed(const std::string& name) const { return home_ + "/" + name; }

    // Moves one file of the update into place; false when it could not be installed.
    bool move(const std::string& name) {
        const std::string dest = installed(name);
        const bool replaced = fileThere(dest);
        if (move_file(update_ + "/" + name, dest, replaced ? previous_ + "/" + name : "") != 0) {
            logprintferror("MAIN: ERROR: Failed to install '%s'", name.c_str());
            return false;
        }
        done_.push_back({name, replaced});
        return true;
    }
    // Moves the file when the update has it; false only when it was there and failed.
    bool moveIfThere(const std::string& name) { return !contains(name) || move(name); }
    bool installedFile(const std::string& name) const {
        for (const Installed& i : done_) {
            if (i.name == name) {
                return true;
            }
        }
        return false;
    }

    // Puts back what the installed files replaced; files that are new go again.
    void restore() {
        for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
            const std::string dest = installed(it->name);
            if (it->replaced) {
                copy_file(previous_ + "/" + it->name, dest, "");
            } else {
                delete_file(dest);
            }
        }
        logprintferror("MAIN: ERROR: System update not installed: the previous files are back in place");
    }

private:
    struct Installed {
        std::string name;
        bool replaced;
    };
    std::string update_, home_, previous_;
    std::vector<Installed> done_;
};

bool installConfigFiles(Installer& installer) {
    if (installer.contains(ControllerFiles::default_qlm_config_file)) {
        logprintf("MAIN: New Config File found\n");
        if (fileThere("./" + ControllerFiles::default_ostrix_config_file) &&
            !installer.moveIfThere(ControllerFiles::default_ostrix_config_file)) {
            return false;
        }
        if (!installer.move(ControllerFiles::default_qlm_config_file)) {
            return false;
        }
        read_config_file(ControllerFiles::default_qlm_config_file);
    } else if (installer.contains(ControllerFiles::default_ostrix_config_file)) {
        logprintf("MAIN: New Config File found\n");
        if (!installer.move(ControllerFiles::default_ostrix_config_file)) {
            return false;
        }
        read_config_file(ControllerFiles::default_ostrix_config_file);
    }
    return true;
}

bool installVideoBridgeImages(Installer& installer) {
    if (!USE_CROSSLINK) {
        return true;
    }
    if (!installer.moveIfThere(controller_files.vp_crosslink_algofile) ||
        !installer.moveIfThere(controller_files.vp_crosslink_datafile)) {
        return false;
    }
    // The display bridges take up their new configuration at once.
    configure_crosslinks(1);
    return true;
}

bool installCameraFiles(Installer& installer) {
    if (!USE_CAMERA_BOARD) {
        return true;
    }
    if (installer.contains(controller_files.camera_uC_file)) {
        if (!installer.move(controller_files.camera_uC_file)) {
            return false;
        }
        camera_uC_update = 1;
    }
    logprintf("M: Camera FPGA file %s\n", controller_files.camera_fpga_file.c_str());
    if (installer.contains(controller_files.camera_fpga_file)) {
        if (!installer.move(controller_files.camera_fpga_file)) {
            return false;
        }
        camera_fpga_update = 1;
        camera_crosslink_update = 1;
    } else {
        logprintf("M: Camera FPGA file %s doesn't exist\n", controller_files.camera_fpga_file.c_str());
    }
    for (const std::string& name :
         {controller_files.camera_crosslink_algo_file, controller_files.camera_crosslink_data_file}) {
        if (installer.contains(name)) {
            if (!installer.move(name)) {
                return false;
            }
            camera_crosslink_update = 1;
        }
    }
    run_requested_camera_updates();
    return true;
}

bool installClockScript(Installer& installer) {
    if (!installer.contains(controller_files.clock_script_file)) {
        return true;
    }
    logprintf("MAIN: New Clock Config Script\n");
    if (!installer.move(controller_files.clock_script_file)) {
        return false;
    }
    if (clock_generator) {
        clock_generator->parse_clock_script(controller_files.clock_script_file);
    }
    return true;
}

bool installDisplayFpgaImage(Installer& installer) {
    if (!installer.contains(controller_files.vp_fpga_file)) {
        return true;
    }
    if (!installer.move(controller_files.vp_fpga_file)) {
        return false;
    }
    if (fpga) {
        fpga->programFPGA();
    }
    return true;
}

bool installConfigScript(Installer& installer) {
    if (!installer.contains(config_script_file)) {
        return true;
    }
    if (!installer.move(config_script_file)) {
        return false;
    }
    change_permissions(CONFIG_SCRIPT_MODE, installer.installed(config_script_file));
    return true;
}

bool install(Installer& installer) {
    return installConfigFiles(installer) && installVideoBridgeImages(installer) &&
           installCameraFiles(installer) && installClockScript(installer) &&
           installDisplayFpgaImage(installer) && installConfigScript(installer);
}

void waitUntilTerminated() {
    while (!termination_requested()) {
        delay(REBOOT_POLL_MS);
    }
}

void tellStickGone() {
    if (usb_stick_present() == 0) {
        display_message(MESS_NO_USB_DRIVE, NO_DRIVE_MESSAGE_SECONDS);
    }
}

} // namespace

std::function<void()> await_reboot = waitUntilTerminated;

int system_update() {
    logprintf("MAIN: System Update\n");
    if (detect_usb_memory() != 0) {
        logprintf("MAIN: USB drive not detected\n");
        logprintf("MAIN: System Update completed\n");
        return 0;
    }
    logprintf("MAIN: USB drive detected - now look for system update file\n");
    UpdateFile found;
    if (find_update_files_using_glob(system_update_filename, system_update_ext1, &found) == 0 &&
        find_update_files_using_glob(system_update_filename, system_update_ext2, &found) == 0) {
        logprintf("MAIN: No system update found\n");
        unmount_usb();
        return 0;
    }
    if (mount_usb(static_cast<unsigned>(usb_memory)) != 0) {
        logprintf("MAIN: USB memory removed\n");
        return -1;
    }
    const std::string archive = platform::sysPath(controller_files.usb_mount_folder) + "/" + found.name;
    logprintf("MAIN: Found update to %d.%d in file %s\n", found.major, found.minor, archive.c_str());

    Installer installer;
    if (!prepareFolders(installer.updateFolder(), installer.previousFolder())) {
        err_printf("Cannot create the update folders");
        unmount_usb();
        return -1;
    }
    const std::string command =
        "tar -xzf " + q(archive) + " -C " + q(installer.updateFolder()) + " --warning=no-timestamp";
    logprintf("MAIN: Extract from USB tarball -> local update using command '%s'\n", command.c_str());
    const int extracted = platform::shell(command);
    logprintf("MAIN: Sysretval = %d\n", extracted);
    if (extracted != 0) {
        // Part of an archive is never installed.
        emptyFolder(installer.updateFolder());
        err_printf("System update archive could not be extracted: nothing installed");
        tellStickGone();
        unmount_usb();
        return -1;
    }

    if (!install(installer)) {
        installer.restore();
        for (const std::string& cfg :
             {ControllerFiles::default_qlm_config_file, ControllerFiles::default_ostrix_config_file}) {
            if (installer.installedFile(cfg)) {
                read_config_file(cfg);
            }
        }
        unmount_usb();
        return -1;
    }
    unmount_usb();
    platform::shell("sudo reboot");
    await_reboot();
    return 0;
}
