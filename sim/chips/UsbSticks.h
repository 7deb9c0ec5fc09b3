// The USB memory sticks plugged into the Pi's two stick ports. A stick is a folder of the
// host; plugging it in makes the mapped "/dev/sda1" (port 1) or "/dev/sdb1" (port 2)
// appear as a link to that folder, so that the node reads as a directory-like file type
// (the bit a block device shares with a directory) and the `mount` stand-in finds the
// folder behind it. Mounting links the folder in place of the mount point; unmounting
// puts the empty mount point back.
//
// Faults are kept in one line of the file "usb-fault" of the board's volatile folder,
// where the shell stand-ins (`mount`, `cp`, `tar`) read them:
//   mount            every mount fails ("no medium")
//   full             every write to a mounted stick fails with nothing written
//   pull-after N     the next copy to or from a mounted stick moves N bytes, then the
//                    stick is pulled out (node gone, mount point dead); one-shot
//   changing         the next archive written to a stick is complete but tar ends with
//                    status 1, as it does when a file it archives grows while it reads
//                    it (a log being written); one-shot
//
// Test side: insert, remove, the faults, and what is on a stick.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/board/Board.h"

namespace sim {

enum class UsbFault { None, Mount, Full, PullAfter, Changing };

class UsbSticks : public Device {
public:
    static constexpr int kSlots = 2; // ports 1 and 2

    explicit UsbSticks(Board& board);

    std::string name() const override { return "usb-sticks"; }
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Test side. Slots count from 1.
    bool insert(int slot, const std::string& folder);
    bool remove(int slot);
    // The folder of the stick in a port, or "" when the port is empty.
    std::string stickFolder(int slot) const;
    bool mounted() const;
    void setFault(UsbFault fault, long bytes = 0);
    UsbFault fault() const;
    long faultBytes() const;

    std::string nodePath(int slot) const;
    std::string mountPoint() const;
    std::string faultPath() const;

private:
    CommandResult insertCommand(const std::vector<std::string>& args);
    CommandResult removeCommand(const std::vector<std::string>& args);
    CommandResult faultCommand(const std::vector<std::string>& args);

    Board& board_;
};

} // namespace sim
