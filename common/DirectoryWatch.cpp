#include "common/DirectoryWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;
constexpr size_t kEventBufferSize = 4096;

std::string parentOf(const std::string& folder) {
    const size_t slash = folder.find_last_of('/', folder.size() > 1 ? folder.size() - 2 : 0);
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : folder.substr(0, slash);
}

} // namespace

DirectoryWatch::DirectoryWatch(std::string folder) : folder_(std::move(folder)) {
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0) {
        arm();
    }
}

DirectoryWatch::~DirectoryWatch() {
    if (inotify_ >= 0) {
        close(inotify_);
    }
}

// Watches the folder, or while it does not exist its parent (for the folder's making).
void DirectoryWatch::arm() {
    if (folderWatch_ < 0) {
        folderWatch_ =
            inotify_add_watch(inotify_, folder_.c_str(), kEntryEvents | IN_DELETE_SELF | IN_MOVE_SELF);
    }
    if (folderWatch_ < 0 && parentWatch_ < 0) {
        parentWatch_ = inotify_add_watch(inotify_, parentOf(folder_).c_str(), IN_CREATE | IN_MOVED_TO);
    }
}

// Reads every queued event; true when there was one.
bool DirectoryWatch::drain() {
    alignas(inotify_event) char buffer[kEventBufferSize];
    bool any = false;
    for (;;) {
        const ssize_t length = read(inotify_, buffer, sizeof buffer);
        if (length <= 0) {
            return any;
        }
        any = true;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->wd == folderWatch_ && (event->mask & kFolderGone)) {
                folderWatch_ = -1;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

bool DirectoryWatch::changed() {
    std::lock_guard<std::mutex> held(lock_);
    if (inotify_ < 0) {
        return true;
    }
    bool any = drain() || first_;
    first_ = false;
    if (folderWatch_ < 0) {
        // Made again (or still missing): a look at it decides, and the watch follows it.
        arm();
        any = any || folderWatch_ >= 0;
        if (folderWatch_ < 0 && parentWatch_ < 0) {
            return true; // nothing can be watched: every look rescans
        }
    }
    return any;
}

bool DirectoryWatch::waitForChange(int timeoutMs) {
    {
        std::lock_guard<std::mutex> held(lock_);
        if (inotify_ < 0 || (folderWatch_ < 0 && parentWatch_ < 0)) {
            return false;
        }
    }
    pollfd watched{inotify_, POLLIN, 0};
    poll(&watched, 1, timeoutMs);
    return true;
}

bool folderMayHaveChanged(std::unique_ptr<DirectoryWatch>& watch, const std::string& folder) {
    if (!watch || watch->folder() != folder) {
        watch = std::make_unique<DirectoryWatch>(folder);
    }
    return watch->changed();
}
