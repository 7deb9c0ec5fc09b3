#include "sim/board/Trace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point traceEpoch = Clock::now();

size_t index(TraceKind kind) {
    return static_cast<size_t>(kind);
}

std::string hexBytes(const std::vector<uint8_t>& bytes, size_t length) {
    constexpr size_t kShown = 24;
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        snprintf(b, sizeof b, "%02x ", bytes[i]);
        s += b;
    }
    length = std::max(length, bytes.size());
    if (length > kShown) {
        s += "... (" + std::to_string(length) + " bytes)";
    }
    return s;
}

// What an entry costs in memory: the entry itself and what its members hold on the heap.
size_t footprint(const TraceEntry& e) {
    return sizeof(TraceEntry) + e.out.capacity() + e.in.capacity() + e.text.capacity();
}

void keepFirst(std::vector<uint8_t>& bytes, size_t& length, size_t kept) {
    length = std::max(length, bytes.size());
    if (kept != Trace::kAllPayload && bytes.size() > kept) {
        bytes.resize(kept);
        bytes.shrink_to_fit();
    }
}

} // namespace

const char* traceKindName(TraceKind kind) {
    switch (kind) {
    case TraceKind::Gpio:
        return "gpio";
    case TraceKind::Spi:
        return "spi";
    case TraceKind::I2c:
        return "i2c";
    case TraceKind::Serial:
        return "serial";
    case TraceKind::Shell:
        return "shell";
    case TraceKind::Note:
        return "note";
    }
    return "?";
}

std::string formatEntry(const TraceEntry& e) {
    char head[96];
    snprintf(head, sizeof head, "#%llu %10.6f %-6s ch=%d", static_cast<unsigned long long>(e.sequence),
             e.time, traceKindName(e.kind), e.channel);
    std::string line = head;
    if (e.address >= 0) {
        char a[24]; // room for any int
        snprintf(a, sizeof a, " addr=0x%02x", e.address);
        line += a;
    }
    if (!e.out.empty()) {
        line += " out: " + hexBytes(e.out, e.outLength);
    }
    if (!e.in.empty()) {
        line += " in: " + hexBytes(e.in, e.inLength);
    }
    if (!e.text.empty()) {
        line += " " + e.text;
    }
    return line;
}

Trace::Trace(size_t capacity, size_t byteBudget) : capacity_(capacity), byteBudget_(byteBudget) {}

void Trace::setLimits(size_t byteBudget, size_t payloadKept) {
    std::lock_guard<std::mutex> lock(mutex_);
    byteBudget_ = byteBudget;
    payloadKept_ = payloadKept;
    while (!entries_.empty() && bytes_ > byteBudget_) {
        dropOldest();
    }
}

size_t Trace::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

size_t Trace::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void Trace::dropOldest() {
    bytes_ -= footprint(entries_.front());
    entries_.pop_front();
}

void Trace::record(TraceEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (disabledMask_ & (1u << index(entry.kind))) {
        return;
    }
    entry.sequence = next_++;
    entry.time = std::chrono::duration<double>(Clock::now() - traceEpoch).count();
    busTotals_[index(entry.kind)] += entry.busSeconds;
    counts_[index(entry.kind)]++;
    keepFirst(entry.out, entry.outLength, payloadKept_);
    keepFirst(entry.in, entry.inLength, payloadKept_);
    bytes_ += footprint(entry);
    entries_.push_back(std::move(entry));
    // The newest entry stays even when it alone is over the budget.
    while (entries_.size() > 1 && (entries_.size() > capacity_ || bytes_ > byteBudget_)) {
        dropOldest();
    }
}

void Trace::note(TraceKind kind, int channel, std::string text) {
    TraceEntry e;
    e.kind = kind;
    e.channel = channel;
    e.text = std::move(text);
    record(std::move(e));
}

void Trace::setEnabled(TraceKind kind, bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (on) {
        disabledMask_ &= ~(1u << index(kind));
    } else {
        disabledMask_ |= 1u << index(kind);
    }
}

bool Trace::enabled(TraceKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !(disabledMask_ & (1u << index(kind)));
}

std::vector<TraceEntry> Trace::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::vector<TraceEntry> Trace::entries(TraceKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TraceEntry> out;
    for (const auto& e : entries_) {
        if (e.kind == kind) {
            out.push_back(e);
        }
    }
    return out;
}

size_t Trace::count(TraceKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[index(kind)];
}

double Trace::busSeconds(TraceKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return busTotals_[index(kind)];
}

void Trace::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    bytes_ = 0;
    for (size_t i = 0; i < kTraceKinds; ++i) {
        busTotals_[i] = 0;
        counts_[i] = 0;
    }
}

std::string Trace::dump(size_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    size_t start = entries_.size() > n ? entries_.size() - n : 0;
    for (size_t i = start; i < entries_.size(); ++i) {
        out += formatEntry(entries_[i]) + "\n";
    }
    return out;
}

} // namespace sim
