#include "sim/buses/RegisterFileDevice.h"

#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {
constexpr uint32_t kMagic = 0x4F505246; // "OPRF"
constexpr uint32_t kVersion = 1;
constexpr int kBitsPerByte = 8;
constexpr uint16_t kByteMask = 0xFF;
constexpr int kNoAddress = 0xFF;
} // namespace

// The chip's shared state: this header, the cells of every bank, the chip's own state.
struct RegisterFileDevice::Header {
    RegionHeader region;
    uint32_t banks;
    uint32_t extraBytes;
    uint8_t pointer[kMaxAddresses]; // register pointer of each address
    uint8_t active;                 // address index of the transfer in progress
    uint8_t expectPointer;          // the next written byte selects the register
    uint8_t byteIndex;              // byte within a wide register
    uint8_t wroteData;              // a data byte was written in this transfer
    uint16_t pending;               // wide register assembled or being read out
};

RegisterFileDevice::RegisterFileDevice(Board& board, I2cBus& bus, RegisterFileLayout layout)
    : I2cDevice(bus, layout.channel, layout.addresses), board_(board), layout_(std::move(layout)) {
    if (layout_.addresses.empty() || layout_.addresses.size() > kMaxAddresses || layout_.banks < 1) {
        throw std::invalid_argument("register file " + layout_.name + ": bad layout");
    }
    const size_t size = sizeof(Header) + sizeof(uint16_t) * kRegisters * layout_.banks + layout_.extraBytes;
    const uint32_t banks = static_cast<uint32_t>(layout_.banks);
    const uint32_t extra = static_cast<uint32_t>(layout_.extraBytes);
    file_ = SharedFile::open(
        board_.volatilePath("i2c-" + layout_.name + ".state"), size,
        [size, banks, extra](const void* p) {
            auto* h = static_cast<const Header*>(p);
            return h->region.magic != kMagic || h->region.version != kVersion || h->region.size != size ||
                   h->banks != banks || h->extraBytes != extra;
        },
        [this](void* p, size_t) { initialise(p); });
    if (!file_) {
        throw std::runtime_error("cannot map the state of " + layout_.name);
    }
}

RegisterFileDevice::~RegisterFileDevice() = default;

void RegisterFileDevice::initialise(void* data) const {
    // Same layout in the programs of every architecture (see RegionHeader).
    static_assert(sizeof(RegisterFileDevice::Header) == 56 &&
                      offsetof(RegisterFileDevice::Header, banks) == 24 &&
                      offsetof(RegisterFileDevice::Header, pointer) == 32,
                  "shared state layout");
    std::memset(data, 0, sizeof(Header));
    auto* h = new (data) Header();
    h->region.magic = kMagic;
    h->region.version = kVersion;
    h->region.size = sizeof(Header) + sizeof(uint16_t) * kRegisters * layout_.banks + layout_.extraBytes;
    h->region.mutex.initialise();
    h->banks = static_cast<uint32_t>(layout_.banks);
    h->extraBytes = static_cast<uint32_t>(layout_.extraBytes);
    h->active = kNoAddress;
    auto* cells = reinterpret_cast<uint16_t*>(h + 1);
    std::memset(cells, 0, sizeof(uint16_t) * kRegisters * layout_.banks + layout_.extraBytes);
    for (const auto& d : layout_.defaults) {
        if (d.bank >= 0 && d.bank < layout_.banks) {
            cells[d.bank * kRegisters + d.reg] = d.value;
        }
    }
}

void RegisterFileDevice::powerOn() {
    Header& h = header();
    Lock held(h.region.mutex);
    // Everything but the region header (and its mutex, held here) goes back to power-on.
    auto* cells = reinterpret_cast<uint16_t*>(&h + 1);
    std::memset(cells, 0, sizeof(uint16_t) * kRegisters * layout_.banks + layout_.extraBytes);
    for (const auto& d : layout_.defaults) {
        if (d.bank >= 0 && d.bank < layout_.banks) {
            cells[d.bank * kRegisters + d.reg] = d.value;
        }
    }
    std::memset(h.pointer, 0, sizeof h.pointer);
    h.active = kNoAddress;
    h.expectPointer = 0;
    h.byteIndex = 0;
    h.wroteData = 0;
    h.pending = 0;
}

RegisterFileDevice::Header& RegisterFileDevice::header() const {
    return *static_cast<Header*>(file_->data());
}

RegisterFileDevice::Lock RegisterFileDevice::lock() const {
    return Lock(header().region.mutex);
}

int RegisterFileDevice::clampBank(int bank) const {
    return bank >= 0 && bank < layout_.banks ? bank : 0;
}

uint16_t& RegisterFileDevice::cell(int bank, uint8_t reg) {
    auto* cells = reinterpret_cast<uint16_t*>(&header() + 1);
    return cells[clampBank(bank) * kRegisters + reg];
}

uint16_t RegisterFileDevice::cell(int bank, uint8_t reg) const {
    const auto* cells = reinterpret_cast<const uint16_t*>(&header() + 1);
    return cells[clampBank(bank) * kRegisters + reg];
}

void* RegisterFileDevice::extraBytes(size_t size) const {
    if (size > layout_.extraBytes) {
        throw std::logic_error("register file " + layout_.name + ": chip state larger than reserved");
    }
    auto* cells = reinterpret_cast<uint16_t*>(&header() + 1);
    return cells + kRegisters * layout_.banks;
}

int RegisterFileDevice::bankOf(int addressIndex, uint8_t reg) const {
    return addressIndex < layout_.banks ? addressIndex : 0;
}

int RegisterFileDevice::bankFor(uint8_t address, uint8_t reg) const {
    for (size_t i = 0; i < layout_.addresses.size(); ++i) {
        if (layout_.addresses[i] == address) {
            Lock held = lock();
            return bankOf(static_cast<int>(i), reg);
        }
    }
    return -1;
}

uint16_t RegisterFileDevice::value(int bank, uint8_t reg) const {
    Lock held = lock();
    return cell(bank, reg);
}

void RegisterFileDevice::setValue(int bank, uint8_t reg, uint16_t value) {
    Lock held = lock();
    cell(bank, reg) = value;
}

bool RegisterFileDevice::start(uint8_t address, bool read) {
    Lock held = lock();
    Header& h = header();
    h.active = kNoAddress;
    for (size_t i = 0; i < layout_.addresses.size(); ++i) {
        if (layout_.addresses[i] == address) {
            h.active = static_cast<uint8_t>(i);
        }
    }
    h.expectPointer = read ? 0 : 1;
    h.byteIndex = 0;
    h.pending = 0;
    return h.active != kNoAddress;
}

bool RegisterFileDevice::send(uint8_t byte) {
    Lock held = lock();
    Header& h = header();
    if (h.active == kNoAddress) {
        return false;
    }
    if (h.expectPointer) {
        h.pointer[h.active] = byte;
        h.expectPointer = 0;
        h.byteIndex = 0;
        h.pending = 0;
        return true;
    }
    const uint8_t reg = h.pointer[h.active];
    const int bank = bankOf(h.active, reg);
    h.pending |= static_cast<uint16_t>(byte << (kBitsPerByte * h.byteIndex));
    if (++h.byteIndex < widthOf(bank, reg)) {
        return true;
    }
    const uint16_t value = h.pending;
    h.byteIndex = 0;
    h.pending = 0;
    if (!acceptWrite(bank, reg, value)) {
        return false;
    }
    cell(bank, reg) = value;
    h.wroteData = 1;
    written(bank, reg, value);
    if (autoIncrement()) {
        h.pointer[h.active] = static_cast<uint8_t>(reg + 1);
    }
    return true;
}

uint8_t RegisterFileDevice::receive() {
    Lock held = lock();
    Header& h = header();
    if (h.active == kNoAddress) {
        return kByteMask;
    }
    const uint8_t reg = h.pointer[h.active];
    const int bank = bankOf(h.active, reg);
    if (h.byteIndex == 0) {
        h.pending = readValue(bank, reg);
    }
    const auto byte = static_cast<uint8_t>((h.pending >> (kBitsPerByte * h.byteIndex)) & kByteMask);
    if (++h.byteIndex >= widthOf(bank, reg)) {
        h.byteIndex = 0;
        if (autoIncrement()) {
            h.pointer[h.active] = static_cast<uint8_t>(reg + 1);
        }
    }
    return byte;
}

void RegisterFileDevice::stop() {
    Lock held = lock();
    Header& h = header();
    if (h.active != kNoAddress) {
        stopped(h.active, h.wroteData != 0);
    }
    h.active = kNoAddress;
    h.expectPointer = 0;
    h.byteIndex = 0;
    h.wroteData = 0;
}

int RegisterFileDevice::nextWriteRegister() const {
    Lock held = lock();
    const Header& h = header();
    if (h.active == kNoAddress || h.expectPointer) {
        return kPointerByte;
    }
    return h.pointer[h.active];
}

int RegisterFileDevice::nextReadRegister(uint8_t address) const {
    for (size_t i = 0; i < layout_.addresses.size(); ++i) {
        if (layout_.addresses[i] == address) {
            Lock held = lock();
            return header().pointer[i];
        }
    }
    return kNoRegister;
}

} // namespace sim
