#include "sim/chips/ConfigFlash.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "sim/board/CommandArgs.h"
#include "sim/board/Json.h"
#include "sim/board/SteadyClock.h"

namespace sim {

namespace {

using namespace flash_pins;
using namespace flash_cmd;
using namespace flash_status;

constexpr const char* kArrayFile = "config-flash.bin";
constexpr uint8_t kErased = 0xFF;
constexpr int kByteBits = 8;
constexpr int kAddressBytes = 3;
constexpr size_t kHeaderBytes = 1 + kAddressBytes;
constexpr size_t kIdBytes = 3;
// What a command keeps of the bytes clocked in: a page program's page and a little more.
constexpr size_t kMaxKeptBytes = kHeaderBytes + 4 * ConfigFlash::kPageSize;
// Bytes of an answer kept in the trace.
constexpr size_t kTracedAnswerBytes = 16;
// The trace names the flash's bus by its chip-select line.
constexpr int kTraceChannel = kChipSelect;

constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerMs = 1000000;
constexpr uint32_t kDefaultEraseMs = 30;
constexpr uint32_t kDefaultProgramUs = 5;

// The real board: every bit is about six GPIO register accesses of ~50 ns by the Pi (data
// out, a settling read, clock high, data in, clock low, a settling read); the chip's
// typical bulk erase and page program times.
constexpr double kRealBitSeconds = 6 * 50e-9;
constexpr double kRealBulkEraseSeconds = 40.0;
constexpr double kRealPageProgramSeconds = 0.4e-3;

// The factory image of a board whose flash was never programmed: a block of data at the
// start of the array, the rest erased.
constexpr uint32_t kFactoryImageBytes = 64 * 1024;
constexpr uint32_t kFactorySeed = 0x0F57A1C5;
constexpr uint32_t kLcgMultiplier = 1664525;
constexpr uint32_t kLcgIncrement = 1013904223;
constexpr int kLcgOutputShift = 24;

void writeFactoryImage(void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    memset(bytes, kErased, size);
    uint32_t x = kFactorySeed;
    for (uint32_t i = 0; i < kFactoryImageBytes && i < size; ++i) {
        x = x * kLcgMultiplier + kLcgIncrement;
        bytes[i] = static_cast<uint8_t>(x >> kLcgOutputShift);
    }
}

const char* kHelp = "flash absent yes|no          no flash answers (identification reads 00)\n"
                    "flash erase-error yes|no     bulk erase fails (status bit 5)\n"
                    "flash program-error yes|no   page program fails (status bit 6)\n"
                    "flash busy-stuck yes|no      the flash never finishes an erase or program\n"
                    "flash erase-ms N             how long a bulk erase keeps the flash busy\n"
                    "flash program-us N           how long a page program keeps the flash busy\n"
                    "flash erase                  erases the whole array at once\n";

} // namespace

ConfigFlash::ConfigFlash(Board& board) : board_(board), state_(board.volatilePath("config-flash.state")) {
    if (state_.valid() && !state_->initialised) {
        auto lock = state_.lock();
        applyOptions(*state_);
    }
    // Decoded commands go into the trace instead of every edge of the bit-banged lines.
    for (int pin : {kClock, kDataIn, kDataOut, kWriteProtect, kHold, kChipSelect}) {
        board_.pins().setEdgeTracing(pin, false);
    }
    // A pull-up on the board keeps the flash deselected while nobody drives its select.
    board_.pins().setExternalPullUp(kChipSelect, true);
    csHook_ = board_.pins().addEdgeHook(kChipSelect, [this](int, int level) { onChipSelect(level); });
    clockHook_ = board_.pins().addEdgeHook(kClock, [this](int, int level) { onClock(level); });
}

ConfigFlash::~ConfigFlash() {
    board_.pins().removeEdgeHook(csHook_);
    board_.pins().removeEdgeHook(clockHook_);
}

std::string ConfigFlash::path() const {
    return board_.persistentPath(kArrayFile);
}

void ConfigFlash::applyOptions(State& s) const {
    const BoardConfig& c = board_.config();
    s.absent = c.getBool("flash.absent", false);
    s.eraseFails = c.getBool("flash.erase_fails", false);
    s.programFails = c.getBool("flash.program_fails", false);
    s.stuckBusy = c.getBool("flash.stuck_busy", false);
    s.eraseMs = static_cast<uint32_t>(c.getInt("flash.erase_ms", kDefaultEraseMs));
    s.programUs = static_cast<uint32_t>(c.getInt("flash.program_us", kDefaultProgramUs));
    s.initialised = true;
}

void ConfigFlash::powerOn() {
    if (!state_.valid()) {
        return;
    }
    state_.reset();
    {
        auto lock = state_.lock();
        applyOptions(*state_);
    }
    board_.pins().setExternalPullUp(kChipSelect, true);
    std::lock_guard<std::mutex> held(mutex_);
    selected_ = false;
    board_.pins().drive(kDataOut, Drive::None);
}

uint8_t* ConfigFlash::array() {
    if (!array_) {
        std::error_code ec;
        const bool fresh = !std::filesystem::exists(path(), ec);
        const uintmax_t oldSize = fresh ? 0 : std::filesystem::file_size(path(), ec);
        array_ = SharedFile::open(
            path(), kSize, [fresh](const void*) { return fresh; }, writeFactoryImage);
        // A shorter file (an image written by hand) is the start of the array; the rest of
        // the chip is erased, not zero.
        if (array_ && !fresh && !ec && oldSize < kSize) {
            memset(static_cast<uint8_t*>(array_->data()) + oldSize, kErased, kSize - oldSize);
        }
    }
    return array_ ? static_cast<uint8_t*>(array_->data()) : nullptr;
}

void ConfigFlash::driveDataOut(bool high) {
    Drive want = high ? Drive::High : Drive::Low;
    if (board_.pins().driven(kDataOut) != want) {
        board_.pins().drive(kDataOut, want);
    }
}

uint8_t ConfigFlash::statusRegister(const State& s, int64_t now) const {
    uint8_t status = s.errors;
    if (s.writeEnabled) {
        status |= kWriteEnabled;
    }
    if (s.stuckBusy || now < s.busyUntilNs) {
        status |= kBusy;
    }
    return status;
}

void ConfigFlash::onChipSelect(int level) {
    std::lock_guard<std::mutex> held(mutex_);
    if (level == 0) {
        selected_ = true;
        bit_ = 0;
        shiftIn_ = 0;
        outputting_ = false;
        bytesClocked_ = 0;
        received_.clear();
        sent_.clear();
        return;
    }
    if (selected_) {
        selected_ = false;
        endCommand();
    }
    board_.pins().drive(kDataOut, Drive::None);
}

void ConfigFlash::onClock(int level) {
    std::lock_guard<std::mutex> held(mutex_);
    if (!selected_) {
        return;
    }
    if (level) {
        shiftIn_ = static_cast<uint8_t>((shiftIn_ << 1) | (board_.pins().read(kDataIn) ? 1 : 0));
        if (++bit_ == kByteBits) {
            byteReceived(shiftIn_);
            bit_ = 0;
            shiftIn_ = 0;
        }
        return;
    }
    // Falling edge: the next bit goes out (a new byte after a byte boundary).
    if (bit_ == 0) {
        outputting_ = false;
        if (received_.empty()) {
            return;
        }
        shiftOut_ = nextOutputByte();
    }
    if (outputting_) {
        driveDataOut(shiftOut_ & (0x80 >> bit_));
    }
}

void ConfigFlash::byteReceived(uint8_t byte) {
    bytesClocked_++;
    const bool reading = !received_.empty() && received_[0] == kRead && received_.size() >= kHeaderBytes;
    if (!reading && received_.size() < kMaxKeptBytes) {
        received_.push_back(byte);
    }
}

uint8_t ConfigFlash::nextOutputByte() {
    State& s = *state_;
    if (s.absent) {
        return kErased;
    }
    const int64_t now = nowNs();
    const uint8_t instruction = received_[0];
    uint8_t out = kErased;
    bool drives = true;
    if (instruction == kReadStatus) {
        out = statusRegister(s, now);
    } else if (instruction == kReadId && sent_.size() < kIdBytes) {
        const uint8_t id[kIdBytes] = {kManufacturer, kMemoryType, kCapacity};
        out = id[sent_.size()];
        // Busy is decided before a read: a busy array is not read. Its answer matches the
        // one to an unknown instruction by design.
        // NOLINTNEXTLINE(bugprone-branch-clone)
    } else if (statusRegister(s, now) & kBusy) {
        drives = false;
    } else if (instruction == kRead && received_.size() >= kHeaderBytes) {
        if (sent_.empty()) {
            readAddress_ = (uint32_t(received_[1]) << 16) | (uint32_t(received_[2]) << 8) | received_[3];
        }
        const uint8_t* a = array();
        out = a ? a[readAddress_ % kSize] : kErased;
        readAddress_ = (readAddress_ + 1) % kSize;
        s.bytesRead++;
    } else {
        drives = false;
    }
    outputting_ = drives;
    if (drives && sent_.size() < kTracedAnswerBytes) {
        sent_.push_back(out);
    }
    return out;
}

void ConfigFlash::endCommand() {
    if (received_.empty()) {
        return;
    }
    double busSeconds = 0;
    {
        auto lock = state_.lock();
        State& s = *state_;
        s.commands++;
        const uint64_t erasesBefore = s.erases;
        const uint64_t pagesBefore = s.pagesProgrammed;
        if (bit_ == 0 && !s.absent) {
            execute(s, nowNs());
        }
        busSeconds = double(s.erases - erasesBefore) * kRealBulkEraseSeconds +
                     double(s.pagesProgrammed - pagesBefore) * kRealPageProgramSeconds;
    }
    recordCommand(busSeconds);
}

void ConfigFlash::execute(State& s, int64_t now) {
    const uint8_t instruction = received_[0];
    const bool busy = statusRegister(s, now) & kBusy;
    if (busy) {
        return;
    }
    if (instruction == kWriteEnable && received_.size() == 1) {
        s.writeEnabled = true;
        return;
    }
    if (!s.writeEnabled) {
        return;
    }
    if (instruction == kBulkErase && received_.size() == 1) {
        s.writeEnabled = false;
        s.erases++;
        // A failing erase gives up at once with its error bit set.
        s.busyUntilNs = s.eraseFails ? now : now + int64_t(s.eraseMs) * kNsPerMs;
        s.errors = s.eraseFails ? kEraseError : 0;
        if (!s.eraseFails) {
            if (uint8_t* a = array()) {
                memset(a, kErased, kSize);
            }
        }
        return;
    }
    if (instruction == kPageProgram && received_.size() > kHeaderBytes) {
        s.writeEnabled = false;
        s.pagesProgrammed++;
        s.busyUntilNs = s.programFails ? now : now + int64_t(s.programUs) * kNsPerUs;
        s.errors = s.programFails ? kProgramError : 0;
        uint8_t* a = array();
        if (s.programFails || !a) {
            return;
        }
        const uint32_t address =
            (uint32_t(received_[1]) << 16) | (uint32_t(received_[2]) << 8) | received_[3];
        const uint32_t page = address & ~(kPageSize - 1);
        for (size_t i = kHeaderBytes; i < received_.size(); ++i) {
            const uint32_t at = page + ((address + uint32_t(i - kHeaderBytes)) & (kPageSize - 1));
            a[at % kSize] &= received_[i]; // programming only clears bits
        }
    }
}

void ConfigFlash::recordCommand(double busSeconds) {
    Trace& trace = board_.trace();
    if (!trace.enabled(TraceKind::Spi)) {
        return;
    }
    const size_t bytes = bytesClocked_ + (bit_ ? 1 : 0);
    TraceEntry e;
    e.kind = TraceKind::Spi;
    e.channel = kTraceChannel;
    e.out = received_;
    e.in = sent_;
    e.text = "config flash";
    e.busSeconds = busSeconds + double(bytes) * kByteBits * kRealBitSeconds;
    trace.record(std::move(e));
}

std::vector<uint8_t> ConfigFlash::bytes(uint32_t address, uint32_t length) {
    std::vector<uint8_t> out(length, kErased);
    const uint8_t* a = array();
    for (uint32_t i = 0; a && i < length && uint64_t(address) + i < kSize; ++i) {
        out[i] = a[address + i];
    }
    return out;
}

void ConfigFlash::setBytes(uint32_t address, const std::vector<uint8_t>& data) {
    uint8_t* a = array();
    for (size_t i = 0; a && i < data.size() && address + i < kSize; ++i) {
        a[address + i] = data[i];
    }
}

void ConfigFlash::eraseAll() {
    if (uint8_t* a = array()) {
        memset(a, kErased, kSize);
    }
}

uint32_t ConfigFlash::usedBytes() {
    const uint8_t* a = array();
    if (!a) {
        return 0;
    }
    // Erased words are passed over a word at a time: every status report asks, and most of
    // the 16 MiB is erased.
    constexpr uint64_t kErasedWord = ~uint64_t{0};
    static_assert(kErased == 0xFF && kSize % sizeof(uint64_t) == 0);
    uint32_t end = kSize;
    for (uint64_t word = 0; end > 0; end -= sizeof word) {
        std::memcpy(&word, a + end - sizeof word, sizeof word);
        if (word != kErasedWord) {
            break;
        }
    }
    while (end > 0 && a[end - 1] == kErased) {
        --end;
    }
    return end;
}

bool ConfigFlash::busy() const {
    auto lock = state_.lock();
    return statusRegister(*state_, nowNs()) & kBusy;
}

uint64_t ConfigFlash::erases() const {
    auto lock = state_.lock();
    return state_->erases;
}

uint64_t ConfigFlash::pagesProgrammed() const {
    auto lock = state_.lock();
    return state_->pagesProgrammed;
}

void ConfigFlash::addStatus(JsonObject& status) const {
    auto* self = const_cast<ConfigFlash*>(this);
    JsonObject o;
    {
        auto lock = state_.lock();
        const State& s = *state_;
        o.add("status_register", int(statusRegister(s, nowNs())));
        o.add("erases", s.erases);
        o.add("pages_programmed", s.pagesProgrammed);
        o.add("bytes_read", s.bytesRead);
        JsonObject faults;
        faults.add("absent", s.absent);
        faults.add("erase_error", s.eraseFails);
        faults.add("program_error", s.programFails);
        faults.add("busy_stuck", s.stuckBusy);
        o.addRaw("faults", faults.str());
        o.add("erase_ms", unsigned(s.eraseMs));
        o.add("program_us", unsigned(s.programUs));
    }
    o.add("used_bytes", unsigned(self->usedBytes()));
    status.addRaw("flash", o.str());
}

std::string ConfigFlash::help() const {
    return kHelp;
}

std::optional<CommandResult> ConfigFlash::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "flash") {
        return std::nullopt;
    }
    const CommandResult usage{false, std::string("usage:\n") + kHelp};
    if (args.size() == 2 && args[1] == "erase") {
        eraseAll();
        return CommandResult{true, "flash erased\n"};
    }
    if (args.size() != 3) {
        return usage;
    }
    const std::string& what = args[1];
    const std::string& value = args[2];
    auto lock = state_.lock();
    State& s = *state_;
    if (value == "yes" || value == "no") {
        const bool on = value == "yes";
        bool* flag = what == "absent"          ? &s.absent
                     : what == "erase-error"   ? &s.eraseFails
                     : what == "program-error" ? &s.programFails
                     : what == "busy-stuck"    ? &s.stuckBusy
                                               : nullptr;
        if (!flag) {
            return usage;
        }
        *flag = on;
        return CommandResult{true, "flash " + what + " " + value + "\n"};
    }
    long number = 0;
    if (!parseNumber(value, number) || number < 0 || (what != "erase-ms" && what != "program-us")) {
        return usage;
    }
    (what == "erase-ms" ? s.eraseMs : s.programUs) = static_cast<uint32_t>(number);
    return CommandResult{true, "flash " + what + " " + value + "\n"};
}

} // namespace sim
