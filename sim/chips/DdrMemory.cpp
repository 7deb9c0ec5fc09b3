#include "sim/chips/DdrMemory.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr size_t kBytesPerWord = 16;
constexpr size_t kFileSize = size_t{DdrMemory::kChannels} * DdrMemory::kWordsPerChannel * kBytesPerWord;
} // namespace

DdrMemory::DdrMemory(const std::string& path) {
    // A fresh file is all holes, which read as zero: nothing to initialise.
    file_ = SharedFile::open(
        path, kFileSize, [](const void*) { return false; }, [](void*, size_t) {});
}

uint32_t* DdrMemory::lanePtr(int channel, uint32_t address, int lane) const {
    size_t word = size_t(channel & 1) * kWordsPerChannel + (address & kAddressMask);
    return static_cast<uint32_t*>(file_->data()) + word * kLanes + (lane & (kLanes - 1));
}

uint32_t DdrMemory::read(int channel, uint32_t address, int lane) const {
    return valid() ? *lanePtr(channel, address, lane) : 0;
}

void DdrMemory::write(int channel, uint32_t address, int lane, uint32_t value) {
    if (valid()) {
        *lanePtr(channel, address, lane) = value;
    }
}

void DdrMemory::clear() {
    if (!valid()) {
        return;
    }
    // Punching holes frees the pages and zeroes them for every mapping at once.
    int fd = ::open(file_->path().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(kFileSize)) != 0) {
        // File systems without hole punching: drop the content and extend again.
        if (ftruncate(fd, 0) == 0) {
            (void)!ftruncate(fd, static_cast<off_t>(kFileSize));
        }
    }
    ::close(fd);
}

} // namespace sim
