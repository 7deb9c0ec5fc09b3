#include "sim/chips/DdrMemory.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace sim {

DdrMemory::DdrMemory(const std::string& path, Mapping mapping)
    : windowed_(mapping == Mapping::Windowed), windowBytes_(windowed_ ? kWindowBytes : kFileSize),
      windows_(windowed_ ? kWindowSlots : 1) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // A fresh file is all holes, which read as zero: nothing to initialise. Programs opening
    // it at once all extend it to the same size.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        return;
    }
    struct stat st {};
    const bool sized = fstat(fd_, &st) == 0 && (static_cast<uint64_t>(st.st_size) == kFileSize ||
                                                ftruncate(fd_, static_cast<off_t>(kFileSize)) == 0);
    if (!sized || (!windowed_ && !mapWindow(0))) {
        ::close(fd_);
        fd_ = -1;
    }
}

DdrMemory::~DdrMemory() {
    for (const Window& w : windows_) {
        if (w.lanes) {
            munmap(w.lanes, windowBytes_);
        }
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

// Maps window `index` into the least recently used slot.
uint32_t* DdrMemory::mapWindow(size_t index) const {
    Window& slot = *std::min_element(windows_.begin(), windows_.end(),
                                     [](const Window& a, const Window& b) { return a.lastUse < b.lastUse; });
    if (slot.lanes) {
        munmap(slot.lanes, windowBytes_);
        slot = Window{};
    }
    void* data = mmap(nullptr, windowBytes_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                      static_cast<off_t>(index * windowBytes_));
    if (data == MAP_FAILED) {
        return nullptr;
    }
    slot = Window{index, static_cast<uint32_t*>(data), ++uses_};
    return slot.lanes;
}

uint32_t* DdrMemory::lanePtr(int channel, uint32_t address, int lane) const {
    const size_t word = size_t(channel & 1) * kWordsPerChannel + (address & kAddressMask);
    const size_t offset = word * kBytesPerWord + size_t(lane & (kLanes - 1)) * sizeof(uint32_t);
    if (!windowed_) {
        return windows_[0].lanes + offset / sizeof(uint32_t);
    }
    const size_t index = offset / windowBytes_;
    uint32_t* lanes = nullptr;
    for (Window& w : windows_) {
        if (w.index == index && w.lanes) {
            w.lastUse = ++uses_;
            lanes = w.lanes;
            break;
        }
    }
    if (!lanes && !(lanes = mapWindow(index))) {
        return nullptr;
    }
    return lanes + (offset % windowBytes_) / sizeof(uint32_t);
}

uint32_t DdrMemory::read(int channel, uint32_t address, int lane) const {
    if (!valid()) {
        return 0;
    }
    std::unique_lock<std::mutex> held(lock_, std::defer_lock);
    if (windowed_) {
        held.lock();
    }
    const uint32_t* p = lanePtr(channel, address, lane);
    return p ? *p : 0;
}

void DdrMemory::write(int channel, uint32_t address, int lane, uint32_t value) {
    if (!valid()) {
        return;
    }
    std::unique_lock<std::mutex> held(lock_, std::defer_lock);
    if (windowed_) {
        held.lock();
    }
    if (uint32_t* p = lanePtr(channel, address, lane)) {
        *p = value;
    }
}

void DdrMemory::clear() {
    if (!valid()) {
        return;
    }
    // Punching holes frees the pages and zeroes them for every mapping at once.
    if (fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(kFileSize)) != 0) {
        // File systems without hole punching: drop the content and extend again.
        if (ftruncate(fd_, 0) == 0) {
            (void)!ftruncate(fd_, static_cast<off_t>(kFileSize));
        }
    }
}

} // namespace sim
