// The record of what the simulated hardware saw: pin edges, SPI and I2C transfers,
// serial lines, shell commands. Tests assert on it; a failing test prints its tail.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

enum class TraceKind { Gpio, Spi, I2c, Serial, Shell, Note };
constexpr size_t kTraceKinds = 6;

const char* traceKindName(TraceKind kind);

struct TraceEntry {
    uint64_t sequence = 0;
    double time = 0; // seconds since the trace started
    TraceKind kind = TraceKind::Note;
    int channel = -1;         // SPI channel, I2C switch channel, pin number
    int address = -1;         // I2C slave address, or -1
    std::vector<uint8_t> out; // bytes the Pi sent
    std::vector<uint8_t> in;  // bytes the device answered
    // How many bytes went each way, when the trace keeps only the first of them.
    size_t outLength = 0;
    size_t inLength = 0;
    std::string text;
    double busSeconds = 0; // how long the same traffic takes on the real board's wires
};

// Bounded twice: by entries and by the bytes they hold, so that a long run of large SPI
// bursts (a capture moves tens of thousands of 961-byte ones) cannot make a program's
// memory climb. The oldest entries go first.
class Trace {
public:
    static constexpr size_t kDefaultCapacity = 200000;
    // Room for the transfers a test inspects after a capture or a warp-table upload.
    static constexpr size_t kDefaultByteBudget = size_t{64} << 20;
    // Every transfer's bytes are kept unless a limit is set.
    static constexpr size_t kAllPayload = 0;
    // A running program keeps only what a failure report shows: the recent entries with
    // the first bytes of each transfer.
    static constexpr size_t kProgramByteBudget = size_t{1} << 20;
    static constexpr size_t kProgramPayload = 24;

    explicit Trace(size_t capacity = kDefaultCapacity, size_t byteBudget = kDefaultByteBudget);

    // The bytes the entries may hold, and how many bytes of each transfer are kept.
    void setLimits(size_t byteBudget, size_t payloadKept);
    // The bytes the kept entries hold now (bookkeeping included).
    size_t bytes() const;
    size_t size() const;

    void record(TraceEntry entry);
    void note(TraceKind kind, int channel, std::string text);

    // Pin edges are frequent when lines are bit-banged; they can be left out.
    void setEnabled(TraceKind kind, bool enabled);
    bool enabled(TraceKind kind) const;

    std::vector<TraceEntry> entries() const;
    std::vector<TraceEntry> entries(TraceKind kind) const;
    size_t count(TraceKind kind) const;
    double busSeconds(TraceKind kind) const;
    void clear();

    // The last `n` entries, one per line, for failure messages.
    std::string dump(size_t n = 40) const;

private:
    mutable std::mutex mutex_;
    void dropOldest();

    std::deque<TraceEntry> entries_;
    size_t capacity_;
    size_t byteBudget_;
    size_t payloadKept_ = kAllPayload;
    size_t bytes_ = 0;
    uint64_t next_ = 0;
    uint32_t disabledMask_ = 0;
    double busTotals_[kTraceKinds] = {};
    size_t counts_[kTraceKinds] = {};
};

std::string formatEntry(const TraceEntry& e);

} // namespace sim
