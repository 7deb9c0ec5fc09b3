// Board state shared by every program that runs on the simulated board: fixed-size
// memory-mapped files in the system root, so the board outlives the programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <pthread.h>
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

// A mutex usable by every process mapping it. Robust: a program that dies while
// holding it does not wedge the board for the others.
struct SharedMutex {
    pthread_mutex_t mutex;
    void initialise();
    void lock();
    void unlock();
};

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
struct RegionHeader {
    uint32_t magic;
    uint32_t version;
    uint64_t size;
    SharedMutex mutex;
};

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
