#include "sim/board/SharedMemory.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

namespace {

constexpr uint32_t kFree = 0;
constexpr uint32_t kHeld = 1;
constexpr uint32_t kContended = 2;
// How long a waiter sleeps before it checks whether the holder still lives.
constexpr long kHolderCheckNs = 50L * 1000 * 1000;

// futex(2) on a word in a shared file mapping: not FUTEX_PRIVATE_FLAG, the waiters are in
// other processes. The timeout's layout follows this build's time_t (32-bit armhf has a
// second system call for a 64-bit one).
long futex(std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* timeout) {
#if defined(SYS_futex_time64) && !defined(__LP64__)
    constexpr long kCall = sizeof(timespec::tv_sec) == sizeof(long) ? SYS_futex : SYS_futex_time64;
#else
    constexpr long kCall = SYS_futex;
#endif
    return syscall(kCall, reinterpret_cast<uint32_t*>(word), op, value, timeout, nullptr, 0);
}

// The holder's pid is stored on every lock, and getpid() is a system call each time; the
// pid changes only in a forked child, which forgets the parent's.
std::atomic<int32_t> cachedPid{0};

int32_t ownPid() {
    static const bool forgetsInChild = [] {
        pthread_atfork(nullptr, nullptr, [] { cachedPid.store(0, std::memory_order_relaxed); });
        return true;
    }();
    (void)forgetsInChild;
    int32_t pid = cachedPid.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = static_cast<int32_t>(getpid());
        cachedPid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

bool processGone(int32_t pid) {
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

void SharedMutex::initialise() {
    word.store(kFree);
    holder.store(0);
}

void SharedMutex::lock() {
    uint32_t seen = kFree;
    if (!word.compare_exchange_strong(seen, kHeld, std::memory_order_acquire)) {
        if (seen != kContended) {
            seen = word.exchange(kContended, std::memory_order_acquire);
        }
        const timespec wait{0, kHolderCheckNs};
        while (seen != kFree) {
            if (futex(&word, FUTEX_WAIT, kContended, &wait) != 0 && errno == ETIMEDOUT) {
                int32_t dead = holder.load();
                // The holder died mid-update; the state it guarded is still usable register
                // data. Of several waiters only the one whose exchange succeeds takes over.
                if (processGone(dead) && holder.compare_exchange_strong(dead, ownPid())) {
                    word.store(kContended, std::memory_order_release);
                    return;
                }
            }
            seen = word.exchange(kContended, std::memory_order_acquire);
        }
    }
    holder.store(ownPid(), std::memory_order_relaxed);
}

void SharedMutex::unlock() {
    holder.store(0, std::memory_order_relaxed);
    if (word.exchange(kFree, std::memory_order_release) == kContended) {
        futex(&word, FUTEX_WAKE, 1, nullptr);
    }
}

} // namespace sim
