// Board state shared by every program that runs on the simulated board: fixed-size
// memory-mapped files in the system root, so the board outlives the programs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>

namespace sim {

// A file mapped read-write and shared. Creation and first initialisation happen under
// an exclusive file lock, so two programs starting at once agree on the content.
class SharedFile {
public:
    using Initialiser = std::function<void(void* data, size_t size)>;
    // Maps `size` bytes of `path`, creating folders and file as needed. `needsInit`
    // decides whether the mapped bytes must be (re)initialised by `init`.
    static std::unique_ptr<SharedFile> open(const std::string& path, size_t size,
                                            const std::function<bool(const void*)>& needsInit,
                                            const Initialiser& init);
    ~SharedFile();
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;

    void* data() const { return data_; }
    size_t size() const { return size_; }
    const std::string& path() const { return path_; }

private:
    SharedFile(std::string path, int fd, void* data, size_t size);
    std::string path_;
    int fd_;
    void* data_;
    size_t size_;
};

// A lock usable by every process mapping it, of every architecture: the board's programs
// may be built for the PC and for the Pi and run side by side (the Pi's under emulation), so
// the lock is two 32-bit words of fixed layout, not a pthread_mutex_t (whose size and
// contents differ per C library and architecture). The word is a futex (0 free, 1 held,
// 2 held with waiters); `holder` names the process holding it, so that a program that died
// holding it does not wedge the board for the others: a waiter that finds the holder gone
// takes the lock over.
struct SharedMutex {
    std::atomic<uint32_t> word;
    std::atomic<int32_t> holder; // pid of the holding process, 0 while free
    void initialise();
    void lock();
    void unlock();
};
static_assert(sizeof(SharedMutex) == 8 && alignof(SharedMutex) == 4, "the lock's layout is shared");
static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free,
              "the lock's words are plain memory shared between processes");

// Holds a SharedMutex for its lifetime.
class SharedLock {
public:
    explicit SharedLock(SharedMutex& m) : m_(m) { m_.lock(); }
    ~SharedLock() { m_.unlock(); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SharedMutex& m_;
};

// The first member of every shared state structure.
// Every field of the shared state has the same size and offset on x86-64, arm64 and armhf:
// fixed-width integers (no long, size_t, time_t or pointers), 8-byte members at 8-byte
// offsets. Each State asserts its size, so a layout that differs between the architectures
// fails to build.
struct RegionHeader {
    uint32_t magic;
    uint32_t version;
    uint64_t size;
    SharedMutex mutex;
};
static_assert(sizeof(RegionHeader) == 24 && offsetof(RegionHeader, size) == 8 &&
                  offsetof(RegionHeader, mutex) == 16,
              "the header's layout is shared");
// The models keep flags in bool; one byte everywhere this builds (GCC on Linux).
static_assert(sizeof(bool) == 1, "bool flags in the shared state are one byte");

// Typed view of one state file. State is a standard-layout structure whose first member
// is `RegionHeader header`, with static constexpr kMagic and kVersion; a default-
// constructed State is the power-on state.
template <class State> class SharedRegion {
public:
    explicit SharedRegion(const std::string& path) {
        file_ = SharedFile::open(
            path, sizeof(State),
            [](const void* p) {
                auto* h = static_cast<const RegionHeader*>(p);
                return h->magic != State::kMagic || h->version != State::kVersion || h->size != sizeof(State);
            },
            [](void* p, size_t) { powerOn(p); });
    }
    bool valid() const { return file_ != nullptr; }
    State* get() const { return static_cast<State*>(file_->data()); }
    State* operator->() const { return get(); }
    State& operator*() const { return *get(); }
    const std::string& path() const { return file_->path(); }

    // Back to the power-on state, seen at once by every program mapping the file.
    void reset() { powerOn(file_->data()); }

    using Lock = SharedLock;
    Lock lock() const { return Lock(get()->header.mutex); }

private:
    static void powerOn(void* p) {
        auto* state = new (p) State();
        state->header.magic = State::kMagic;
        state->header.version = State::kVersion;
        state->header.size = sizeof(State);
        state->header.mutex.initialise();
    }
    std::unique_ptr<SharedFile> file_;
};

} // namespace sim
