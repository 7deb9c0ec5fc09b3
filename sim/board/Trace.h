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
    std::string text;
    double busSeconds = 0; // how long the same traffic takes on the real board's wires
};

class Trace {
public:
    static constexpr size_t kDefaultCapacity = 200000;

    explicit Trace(size_t capacity = kDefaultCapacity);

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
    std::deque<TraceEntry> entries_;
    size_t capacity_;
    uint64_t next_ = 0;
    uint32_t disabledMask_ = 0;
    double busTotals_[kTraceKinds] = {};
    size_t counts_[kTraceKinds] = {};
};

std::string formatEntry(const TraceEntry& e);

} // namespace sim
