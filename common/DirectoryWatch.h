// Whether a folder's entries may have changed since the last look, so that a poller that
// only needs to notice a device come or go rescans the folder then, not on every pass. The
// folder may not exist yet (udev makes /dev/input/by-path with the first input device):
// its parent is watched until it appears. Without inotify every look counts as a change,
// which is the plain rescan of every pass.
#pragma once

#include <memory>
#include <mutex>
#include <string>

class DirectoryWatch {
public:
    explicit DirectoryWatch(std::string folder);
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    // True on the first call and whenever an entry may have been made, removed or renamed
    // since the previous call (or the folder itself came or went).
    bool changed();
    // Sleeps until a change is queued or `timeoutMs` passed; false at once when nothing can
    // be watched (the caller then paces its rescans itself).
    bool waitForChange(int timeoutMs);

    const std::string& folder() const { return folder_; }

private:
    bool drain();
    void arm();

    const std::string folder_;
    std::mutex lock_;
    int inotify_ = -1;
    int folderWatch_ = -1;
    int parentWatch_ = -1;
    bool first_ = true;
};

// Whether `folder`'s entries may have changed since the previous call with the same `watch`;
// the watch is made anew when it watches another folder (a test's system root replaces the
// last one under a running loop).
bool folderMayHaveChanged(std::unique_ptr<DirectoryWatch>& watch, const std::string& folder);
