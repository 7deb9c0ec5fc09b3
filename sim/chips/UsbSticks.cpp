#include "sim/chips/UsbSticks.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim/board/Json.h"

namespace sim {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDeviceNames[UsbSticks::kSlots] = {"/dev/sda1", "/dev/sdb1"};
constexpr const char* kMountPoint = "/media/usb";
// The file the `mount` stand-in and its helpers share with the model.
constexpr const char* kFaultFile = "usb-fault";
// What a dead mount point links to once its stick is pulled out.
constexpr const char* kRemovedTarget = "stick-removed";

constexpr const char* kFaultMount = "mount";
constexpr const char* kFaultFull = "full";
constexpr const char* kFaultPullAfter = "pull-after";
constexpr const char* kFaultChanging = "changing";

const char* kHelp =
    "usb insert DIR [--slot 1|2]           plugs folder DIR in as a USB stick (port 1 by default)\n"
    "usb remove [--slot 1|2]               pulls the stick out of the port (both without --slot)\n"
    "usb fault mount|full|pull-after BYTES|changing|none\n"
    "                                      mounting fails / the stick is full / the stick is\n"
    "                                      pulled out after BYTES of the next copy / the next\n"
    "                                      archive is whole but tar reports a file changed\n";

bool validSlot(int slot) {
    return slot >= 1 && slot <= UsbSticks::kSlots;
}

bool parseLong(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && value >= low && value <= high;
}

CommandResult usage() {
    return {false, std::string("usage:\n") + kHelp};
}

// The "--slot N" option of a command, from args[first] on; 0 when absent, -1 when bad.
int slotOption(const std::vector<std::string>& args, size_t first) {
    if (args.size() == first) {
        return 0;
    }
    long slot = 0;
    if (args.size() == first + 2 && args[first] == "--slot" &&
        parseLong(args[first + 1], 1, UsbSticks::kSlots, slot)) {
        return static_cast<int>(slot);
    }
    return -1;
}

} // namespace

UsbSticks::UsbSticks(Board& board) : board_(board) {}

std::string UsbSticks::nodePath(int slot) const {
    return validSlot(slot) ? board_.path(kDeviceNames[slot - 1]) : std::string();
}

std::string UsbSticks::mountPoint() const {
    return board_.path(kMountPoint);
}

std::string UsbSticks::faultPath() const {
    return board_.volatilePath(kFaultFile);
}

std::string UsbSticks::stickFolder(int slot) const {
    std::error_code ec;
    if (!validSlot(slot) || !fs::is_symlink(nodePath(slot), ec)) {
        return {};
    }
    return fs::read_symlink(nodePath(slot), ec).string();
}

bool UsbSticks::mounted() const {
    std::error_code ec;
    return fs::is_symlink(mountPoint(), ec);
}

bool UsbSticks::insert(int slot, const std::string& folder) {
    std::error_code ec;
    if (!validSlot(slot) || !fs::is_directory(folder, ec)) {
        return false;
    }
    const std::string node = nodePath(slot);
    fs::create_directories(fs::path(node).parent_path(), ec);
    fs::remove(node, ec);
    fs::create_symlink(fs::absolute(folder, ec), node, ec);
    if (ec) {
        return false;
    }
    board_.trace().note(TraceKind::Note, -1, "USB stick " + std::to_string(slot) + " inserted: " + folder);
    return true;
}

// A stick pulled out while mounted leaves its mount point dead, as the kernel keeps a
// mount whose device has gone: everything under it fails until it is unmounted.
bool UsbSticks::remove(int slot) {
    const std::string stick = stickFolder(slot);
    if (stick.empty()) {
        return false;
    }
    std::error_code ec;
    fs::remove(nodePath(slot), ec);
    if (mounted() && fs::read_symlink(mountPoint(), ec) == fs::path(stick)) {
        fs::remove(mountPoint(), ec);
        fs::create_symlink(board_.volatilePath(kRemovedTarget), mountPoint(), ec);
    }
    board_.trace().note(TraceKind::Note, -1, "USB stick " + std::to_string(slot) + " removed");
    return true;
}

void UsbSticks::setFault(UsbFault fault, long bytes) {
    std::error_code ec;
    if (fault == UsbFault::None) {
        fs::remove(faultPath(), ec);
        return;
    }
    fs::create_directories(fs::path(faultPath()).parent_path(), ec);
    std::ofstream out(faultPath(), std::ios::trunc);
    switch (fault) {
    case UsbFault::Mount:
        out << kFaultMount << "\n";
        break;
    case UsbFault::Full:
        out << kFaultFull << "\n";
        break;
    case UsbFault::Changing:
        out << kFaultChanging << "\n";
        break;
    default:
        out << kFaultPullAfter << " " << bytes << "\n";
        break;
    }
}

UsbFault UsbSticks::fault() const {
    std::ifstream in(faultPath());
    std::string word;
    in >> word;
    if (word == kFaultMount) {
        return UsbFault::Mount;
    }
    if (word == kFaultFull) {
        return UsbFault::Full;
    }
    if (word == kFaultChanging) {
        return UsbFault::Changing;
    }
    return word == kFaultPullAfter ? UsbFault::PullAfter : UsbFault::None;
}

long UsbSticks::faultBytes() const {
    std::ifstream in(faultPath());
    std::string word;
    long bytes = 0;
    in >> word >> bytes;
    return word == kFaultPullAfter ? bytes : 0;
}

void UsbSticks::addStatus(JsonObject& status) const {
    JsonObject o;
    for (int slot = 1; slot <= kSlots; ++slot) {
        const std::string stick = stickFolder(slot);
        o.addRaw("slot" + std::to_string(slot), stick.empty() ? "null" : jsonString(stick));
    }
    o.add("mounted", mounted());
    static const char* const names[] = {"none", kFaultMount, kFaultFull, kFaultPullAfter, kFaultChanging};
    o.add("fault", names[static_cast<int>(fault())]);
    if (fault() == UsbFault::PullAfter) {
        o.add("pull_after_bytes", static_cast<int64_t>(faultBytes()));
    }
    status.addRaw("usb_sticks", o.str());
}

std::string UsbSticks::help() const {
    return kHelp;
}

CommandResult UsbSticks::insertCommand(const std::vector<std::string>& args) {
    const int slot = args.size() >= 3 ? slotOption(args, 3) : -1;
    if (slot < 0) {
        return usage();
    }
    const int port = slot == 0 ? 1 : slot;
    if (!insert(port, args[2])) {
        return {false, "cannot insert '" + args[2] + "': not a folder\n"};
    }
    return {true, "USB stick " + args[2] + " in port " + std::to_string(port) + "\n"};
}

CommandResult UsbSticks::removeCommand(const std::vector<std::string>& args) {
    const int slot = slotOption(args, 2);
    if (slot < 0) {
        return usage();
    }
    std::string text;
    for (int s = 1; s <= kSlots; ++s) {
        if ((slot == 0 || s == slot) && remove(s)) {
            text += "USB stick removed from port " + std::to_string(s) + "\n";
        }
    }
    return {true, text.empty() ? "no USB stick to remove\n" : text};
}

CommandResult UsbSticks::faultCommand(const std::vector<std::string>& args) {
    long bytes = 0;
    if (args.size() == 3 && args[2] == kFaultMount) {
        setFault(UsbFault::Mount);
    } else if (args.size() == 3 && args[2] == kFaultFull) {
        setFault(UsbFault::Full);
    } else if (args.size() == 3 && args[2] == kFaultChanging) {
        setFault(UsbFault::Changing);
    } else if (args.size() == 3 && args[2] == "none") {
        setFault(UsbFault::None);
    } else if (args.size() == 4 && args[2] == kFaultPullAfter && parseLong(args[3], 0, LONG_MAX, bytes)) {
        setFault(UsbFault::PullAfter, bytes);
    } else {
        return usage();
    }
    return {true, "USB fault " + args[2] + (args.size() == 4 ? " " + args[3] : "") + "\n"};
}

std::optional<CommandResult> UsbSticks::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "usb") {
        return std::nullopt;
    }
    if (args.size() >= 2 && args[1] == "insert") {
        return insertCommand(args);
    }
    if (args.size() >= 2 && args[1] == "remove") {
        return removeCommand(args);
    }
    if (args.size() >= 2 && args[1] == "fault") {
        return faultCommand(args);
    }
    return usage();
}

} // namespace sim
