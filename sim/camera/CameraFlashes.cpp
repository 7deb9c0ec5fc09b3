#include "sim/camera/CameraFlashes.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/board/Board.h"

namespace sim {

namespace {

constexpr const char* kStateFile = "camera-flash.state";
constexpr const char* kChannelFiles[2] = {"camera-flash-left.bin", "camera-flash-right.bin"};
constexpr size_t kChunk = 64 * 1024;
// A factory firmware: anything not erased at the start of the flash boots.
constexpr size_t kFactoryFirmwareBytes = 256;
constexpr uint8_t kFactoryFirmwareFill = 0x5A;

// Owns one open channel flash file.
class FlashFile {
public:
    explicit FlashFile(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        struct stat st {};
        if (fd_ >= 0 && fstat(fd_, &st) == 0 && st.st_size < static_cast<off_t>(kChannelFlashSize) &&
            ftruncate(fd_, kChannelFlashSize) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~FlashFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FlashFile(const FlashFile&) = delete;
    FlashFile& operator=(const FlashFile&) = delete;
    bool ok() const { return fd_ >= 0; }

    // Bytes as the flash holds them (the file keeps their complement).
    bool read(uint32_t address, uint8_t* out, size_t length) const {
        if (pread(fd_, out, length, address) != static_cast<ssize_t>(length)) {
            return false;
        }
        for (size_t i = 0; i < length; ++i) {
            out[i] = static_cast<uint8_t>(~out[i]);
        }
        return true;
    }
    bool write(uint32_t address, const uint8_t* data, size_t length) const {
        std::vector<uint8_t> stored(data, data + length);
        for (uint8_t& b : stored) {
            b = static_cast<uint8_t>(~b);
        }
        return pwrite(fd_, stored.data(), length, address) == static_cast<ssize_t>(length);
    }
    // Back to erased; the file stays sparse where the filesystem can punch holes.
    bool erase(uint32_t address, size_t length) const {
        if (fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, address, static_cast<off_t>(length)) ==
            0) {
            return true;
        }
        std::vector<uint8_t> zeros(length, 0);
        return pwrite(fd_, zeros.data(), length, address) == static_cast<ssize_t>(length);
    }

private:
    int fd_;
};

bool inRange(uint32_t address, size_t length, uint32_t base, uint32_t size) {
    return address >= base && length <= size && address - base <= size - length;
}

uint8_t nextMinor(uint8_t& major, uint8_t minor) {
    if (minor == UINT8_MAX) {
        ++major;
        return 0;
    }
    return static_cast<uint8_t>(minor + 1);
}

} // namespace

CameraFlashes::CameraFlashes(Board& board, const CameraVersions& factory)
    : state_(board.persistentPath(kStateFile)) {
    for (int c = 0; c < 2; ++c) {
        paths_[c] = board.persistentPath(kChannelFiles[c]);
    }
    if (!state_.valid()) {
        return;
    }
    auto lock = state_.lock();
    CameraFlashState& s = *state_;
    if (!s.initialised) {
        s.ucMajor = factory.ucMajor;
        s.ucMinor = factory.ucMinor;
        s.fpgaVersion = factory.fpga;
        s.xlVersion = factory.xl;
        memset(s.uc, kErasedByte, sizeof s.uc);
        memset(s.uc, kFactoryFirmwareFill, kFactoryFirmwareBytes);
        s.initialised = 1;
    }
}

bool CameraFlashes::valid() const {
    return state_.valid();
}

std::string CameraFlashes::channelPath(int channel) const {
    return paths_[channel & 1];
}

CameraVersions CameraFlashes::versions() const {
    auto lock = state_.lock();
    return {state_->ucMajor, state_->ucMinor, state_->fpgaVersion, state_->xlVersion};
}

bool CameraFlashes::ucRead(uint32_t address, uint8_t* out, size_t length) const {
    if (!inRange(address, length, kUcFlashBase, kUcFlashSize)) {
        return false;
    }
    auto lock = state_.lock();
    memcpy(out, state_->uc + (address - kUcFlashBase), length);
    return true;
}

bool CameraFlashes::ucProgram(uint32_t address, const uint8_t* data, size_t length) {
    if (!inRange(address, length, kUcFlashBase, kUcFlashSize)) {
        return false;
    }
    auto lock = state_.lock();
    uint8_t* at = state_->uc + (address - kUcFlashBase);
    for (size_t i = 0; i < length; ++i) {
        at[i] &= data[i];
    }
    state_->ucWritten = 1;
    return true;
}

void CameraFlashes::ucMassErase() {
    auto lock = state_.lock();
    memset(state_->uc, kErasedByte, sizeof state_->uc);
    state_->ucWritten = 1;
}

bool CameraFlashes::ucErasePage(uint32_t page) {
    if (page >= kUcFlashSize / kUcFlashPageSize) {
        return false;
    }
    auto lock = state_.lock();
    memset(state_->uc + page * kUcFlashPageSize, kErasedByte, kUcFlashPageSize);
    state_->ucWritten = 1;
    return true;
}

bool CameraFlashes::ucBlank() const {
    auto lock = state_.lock();
    return std::all_of(state_->uc, state_->uc + kFactoryFirmwareBytes,
                       [](uint8_t b) { return b == kErasedByte; });
}

bool CameraFlashes::ucStart() {
    if (ucBlank()) {
        return false;
    }
    auto lock = state_.lock();
    CameraFlashState& s = *state_;
    if (s.ucWritten) {
        s.ucMinor = nextMinor(s.ucMajor, s.ucMinor);
        s.ucWritten = 0;
    }
    return true;
}

bool CameraFlashes::channelIo(int channel, uint32_t address, size_t length) const {
    return (channel == 0 || channel == 1) && inRange(address, length, 0, kChannelFlashSize);
}

bool CameraFlashes::read(int channel, uint32_t address, uint8_t* out, size_t length) const {
    if (!channelIo(channel, address, length)) {
        return false;
    }
    auto lock = state_.lock();
    FlashFile f(paths_[channel]);
    return f.ok() && f.read(address, out, length);
}

bool CameraFlashes::program(int channel, uint32_t address, const uint8_t* data, size_t length) {
    if (!channelIo(channel, address, length)) {
        return false;
    }
    auto lock = state_.lock();
    FlashFile f(paths_[channel]);
    std::vector<uint8_t> cells(length);
    if (!f.ok() || !f.read(address, cells.data(), length)) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        cells[i] &= data[i];
    }
    if (address >= kBridgeAreaBase) {
        state_->bridgeWritten = 1;
    } else {
        state_->fpgaWritten = 1;
    }
    return f.write(address, cells.data(), length);
}

bool CameraFlashes::eraseSector(int channel, uint32_t address) {
    if (!channelIo(channel, address, kChannelSectorSize) || address % kChannelSectorSize != 0) {
        return false;
    }
    auto lock = state_.lock();
    FlashFile f(paths_[channel]);
    return f.ok() && f.erase(address, kChannelSectorSize);
}

void CameraFlashes::noteImageBlock(uint32_t address, size_t length) {
    auto lock = state_.lock();
    state_->imageEnd = std::max<uint32_t>(state_->imageEnd, address + static_cast<uint32_t>(length));
}

void CameraFlashes::eraseImageArea() {
    auto lock = state_.lock();
    state_->imageEnd = 0;
    for (const std::string& path : paths_) {
        FlashFile f(path);
        if (f.ok()) {
            f.erase(0, kBridgeAreaBase);
        }
    }
}

bool CameraFlashes::checksum(int channel, uint32_t start, uint32_t count, uint32_t& sum) const {
    if (!channelIo(channel, start, count)) {
        return false;
    }
    auto lock = state_.lock();
    FlashFile f(paths_[channel]);
    if (!f.ok()) {
        return false;
    }
    std::vector<uint8_t> chunk(kChunk);
    sum = 0;
    for (uint32_t done = 0; done < count;) {
        size_t n = std::min<size_t>(kChunk, count - done);
        if (!f.read(start + done, chunk.data(), n)) {
            return false;
        }
        for (size_t i = 0; i < n; ++i) {
            sum += chunk[i];
        }
        done += static_cast<uint32_t>(n);
    }
    return true;
}

uint32_t CameraFlashes::imageChecksum() const {
    auto lock = state_.lock();
    FlashFile f(paths_[0]);
    uint32_t sum = 0;
    // An image from before the end was kept counts to the end of the image area.
    const uint32_t end = state_->imageEnd ? state_->imageEnd : kBridgeAreaBase;
    std::vector<uint8_t> chunk(kChunk);
    for (uint32_t at = 0; f.ok() && at < end; at += kChunk) {
        if (!f.read(at, chunk.data(), kChunk)) {
            break;
        }
        for (size_t block = 0; block < kChunk; block += kChannelPageSize) {
            const uint8_t* b = chunk.data() + block;
            if (std::all_of(b, b + kChannelPageSize, [](uint8_t v) { return v == kErasedByte; })) {
                continue;
            }
            for (size_t i = 0; i < kChannelPageSize && at + block + i < end; ++i) {
                sum += b[i];
            }
        }
    }
    return sum;
}

void CameraFlashes::restartFromFlash() {
    auto lock = state_.lock();
    CameraFlashState& s = *state_;
    if (s.fpgaWritten) {
        s.fpgaVersion++;
        s.fpgaWritten = 0;
    }
    if (s.bridgeWritten) {
        s.xlVersion++;
        s.bridgeWritten = 0;
    }
}

} // namespace sim
