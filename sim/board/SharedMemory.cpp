#include "sim/board/SharedMemory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

// Holds an flock for the lifetime of the object.
class FileLock {
public:
    explicit FileLock(int fd) : fd_(fd) {
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() { flock(fd_, LOCK_UN); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

} // namespace

std::unique_ptr<SharedFile> SharedFile::open(const std::string& path, size_t size,
                                             const std::function<bool(const void*)>& needsInit,
                                             const Initialiser& init) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    FileLock lock(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0 ||
        (static_cast<size_t>(st.st_size) != size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        ::close(fd);
        return nullptr;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    if (needsInit(data)) {
        init(data, size);
    }
    return std::unique_ptr<SharedFile>(new SharedFile(path, fd, data, size));
}

SharedFile::SharedFile(std::string path, int fd, void* data, size_t size)
    : path_(std::move(path)), fd_(fd), data_(data), size_(size) {}

SharedFile::~SharedFile() {
    munmap(data_, size_);
    ::close(fd_);
}

void SharedMutex::initialise() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

void SharedMutex::lock() {
    if (pthread_mutex_lock(&mutex) == EOWNERDEAD) {
        // The holder died mid-update; the state it guarded is still usable register data.
        pthread_mutex_consistent(&mutex);
    }
}

void SharedMutex::unlock() {
    pthread_mutex_unlock(&mutex);
}

} // namespace sim
