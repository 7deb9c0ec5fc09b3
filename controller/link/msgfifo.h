// A small locked ring buffer through which the input reader threads hand events to the
// controller's main loop (and the main loop hands messages to the GUI link). One producer
// pushes, one consumer polls fill_level() and pops; neither ever blocks for long.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/logfile.h"
#include "common/messages.h"
#include "common/timeout.h"

// Results of push and pop besides 0 (done) and a negated pthread error.
constexpr int MSGFIFO_FULL = 254;
constexpr int MSGFIFO_EMPTY = 255;

// Holds a pthread mutex for a scope, so no return path can leave it locked; release() hands the
// unlock result to callers that report it.
class ScopedPthreadLock {
public:
    explicit ScopedPthreadLock(pthread_mutex_t* mutex) : mutex_(mutex), status_(pthread_mutex_lock(mutex)) {}
    ~ScopedPthreadLock() { release(); }
    ScopedPthreadLock(const ScopedPthreadLock&) = delete;
    ScopedPthreadLock& operator=(const ScopedPthreadLock&) = delete;

    // The result of the lock: 0 when the mutex is held.
    int status() const { return status_; }
    int release() {
        if (status_ != 0 || released_) {
            return 0;
        }
        released_ = true;
        return pthread_mutex_unlock(mutex_);
    }

private:
    pthread_mutex_t* mutex_;
    int status_;
    bool released_ = false;
};

template <typename T, int N> class msgfifo {
public:
    msgfifo();
    virtual ~msgfifo();
    msgfifo(const msgfifo&) = delete;
    msgfifo& operator=(const msgfifo&) = delete;

    void set_name(const char* newName);
    // 0 when stored, MSGFIFO_FULL when the element was dropped.
    int push(T* msg);
    // 0 with the oldest element, MSGFIFO_EMPTY when there was none.
    int pop(T* msg);
    int fill_level();

    // Non-zero traces every push and pop on standard output.
    void set_debug(int level) { debug = level; }

private:
    // Only the difference of the indices matters; they start at 3.
    static constexpr int START_INDEX = 3;
    static constexpr int FULL_WARNING_INTERVAL_MS = 2000;
    static_assert(N > START_INDEX, "the indices start at 3");

    struct MutexRelease {
        void operator()(pthread_mutex_t* mutex) const {
            pthread_mutex_destroy(mutex);
            delete mutex;
        }
    };

    static int next(int index) { return (index + 1) % N; }

    // Both indices are only touched under the mutex.
    int rd_indx;
    int wr_indx;
    std::unique_ptr<pthread_mutex_t, MutexRelease> protect;
    std::string name;
    // Rate-limits the warning about a full FIFO.
    timer_t ff_Timeout;
    T msgstack[N];
    int debug;
};

template <typename T, int N>
msgfifo<T, N>::msgfifo()
    : rd_indx(START_INDEX), wr_indx(START_INDEX), protect(new pthread_mutex_t), ff_Timeout(no_timeout()),
      debug(0) {
    pthread_mutex_init(protect.get(), nullptr);
    char address[32];
    snprintf(address, sizeof(address), "%p", static_cast<void*>(protect.get()));
    name = address;
    // A disarmed timer counts as expired, so the first overflow is reported at once.
    start_timeout("MF: ", &ff_Timeout, 0, 0);
}

template <typename T, int N> msgfifo<T, N>::~msgfifo() {
    delete_timeout(&ff_Timeout);
}

template <typename T, int N> void msgfifo<T, N>::set_name(const char* newName) {
    ScopedPthreadLock lock(protect.get());
    logprintf("MF: changed name from %s to %s\n", name.c_str(), newName);
    name = newName;
}

template <typename T, int N> int msgfifo<T, N>::push(T* msg) {
    ScopedPthreadLock lock(protect.get());
    if (debug) {
        printf("MF: Mutex lock result %d\n", lock.status());
    }
    if (lock.status() != 0) {
        logprintf("MF: LOCK %s failed %p (push)\n", name.c_str(), static_cast<void*>(protect.get()));
        return -lock.status();
    }
    if (debug) {
        printf("Push LOCK %s\n", name.c_str());
    }
    int result = 0;
    if (next(wr_indx) != rd_indx) {
        msgstack[wr_indx] = *msg;
        wr_indx = next(wr_indx);
        start_timeout("MF: push ", &ff_Timeout, 0, 0);
    } else {
        result = MSGFIFO_FULL;
        if (timeout_expired(&ff_Timeout, FULL_WARNING_INTERVAL_MS, 0)) {
            logprintf("MF: FifoFull %s\n", name.c_str());
            logprintf("MF: Wr_indx %d rd_indx %d\n", wr_indx, rd_indx);
        }
    }
    if (debug) {
        printf("MF: Push UNLOCK %s\n", name.c_str());
    }
    const int status = lock.release();
    if (status != 0) {
        logprintf("MF: BadResult unlocking %s\n", name.c_str());
        return -status;
    }
    return result;
}

template <typename T, int N> int msgfifo<T, N>::pop(T* msg) {
    if (debug) {
        printf("MF: Pop %s\n", name.c_str());
    }
    ScopedPthreadLock lock(protect.get());
    if (lock.status() != 0) {
        logprintf("MF: LOCK %s failed %p (pop)\n", name.c_str(), static_cast<void*>(protect.get()));
        return -lock.status();
    }
    if (debug) {
        printf("MF: Pop LOCK %s\n", name.c_str());
    }
    int result = 0;
    if (wr_indx == rd_indx) {
        logprintf("MF: Attempted POP on empty %s (indx %d)\n", name.c_str(), rd_indx);
        result = MSGFIFO_EMPTY;
    } else {
        *msg = msgstack[rd_indx];
        rd_indx = next(rd_indx);
    }
    if (debug) {
        printf("MF: Pop UNLOCK %s\n", name.c_str());
    }
    const int status = lock.release();
    if (status != 0) {
        logprintf("MF: UNLOCK %s failed\n", name.c_str());
        return -status;
    }
    return result;
}

template <typename T, int N> int msgfifo<T, N>::fill_level() {
    ScopedPthreadLock lock(protect.get());
    if (lock.status() != 0) {
        return -lock.status();
    }
    return (wr_indx - rd_indx + N) % N;
}

// One event of a Linux input device, as the mouse reader hands it on.
struct mouseMessage {
    uint16_t type;
    uint16_t code;
    int32_t value;
};

// The three FIFOs of the controller: key codes from the USB keyboards, mouse events, and
// controller-GUI messages (one each way between the main loop and the front-panel worker).
using KbdFifo = msgfifo<char, 8>;
using MouseFifo = msgfifo<mouseMessage, 8>;
using MessageFifo = msgfifo<message_s, 16>;

extern template class msgfifo<char, 8>;
extern template class msgfifo<mouseMessage, 8>;
extern template class msgfifo<message_s, 16>;
