#include "sim/camera/CameraBootLoader.h"

#include <cstdio>

#include "sim/board/Trace.h"
#include "sim/camera/CameraFlashes.h"

namespace sim {

using namespace bootloader;

namespace {

constexpr size_t kAddressBytes = 5; // four address bytes, most significant first, and their XOR
constexpr size_t kCountBytes = 2;
constexpr uint8_t kReadCorruptBit = 0x01;
// 8 data bits, even parity, start and stop bit at 115200 baud.
constexpr double kBitsPerByte = 11.0;
constexpr double kBaud = 115200.0;

const uint8_t kSupported[] = {kGet, kGetVersion, kGetId, kReadMemory, kGo, kWriteMemory, kExtendedErase};

const char* commandName(uint8_t c) {
    switch (c) {
    case kGet:
        return "GET";
    case kGetVersion:
        return "GET_VERSION";
    case kGetId:
        return "GET_ID";
    case kReadMemory:
        return "READ_MEM";
    case kGo:
        return "GO";
    case kWriteMemory:
        return "WRITE_MEM";
    case kExtendedErase:
        return "EXTENDED_ERASE";
    default:
        return "?";
    }
}

bool supported(uint8_t c) {
    for (uint8_t s : kSupported) {
        if (s == c) {
            return true;
        }
    }
    return false;
}

uint8_t xorOf(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    uint8_t x = 0;
    for (size_t i = from; i < to; ++i) {
        x ^= bytes[i];
    }
    return x;
}

std::string hex32(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}

} // namespace

CameraBootLoader::CameraBootLoader(CameraFlashes& flashes, Trace& trace, Hooks hooks)
    : flashes_(flashes), trace_(trace), hooks_(std::move(hooks)) {}

void CameraBootLoader::reset() {
    stage_ = Stage::Sync;
    field_.clear();
    in_.clear();
    out_.clear();
}

void CameraBootLoader::answer(uint8_t byte, std::string& reply) {
    reply.push_back(static_cast<char>(byte));
    out_.push_back(static_cast<char>(byte));
}

// One exchange is over: it goes into the trace and the loader waits for a command.
void CameraBootLoader::finish(const std::string& what) {
    TraceEntry e;
    e.kind = TraceKind::Serial;
    e.out = in_;
    e.in.assign(out_.begin(), out_.end());
    e.text = "BL " + what;
    e.busSeconds = static_cast<double>(in_.size() + out_.size()) * kBitsPerByte / kBaud;
    trace_.record(std::move(e));
    in_.clear();
    out_.clear();
    field_.clear();
    if (stage_ != Stage::Stalled) {
        stage_ = Stage::Command;
    }
}

bool CameraBootLoader::feed(uint8_t byte, std::string& reply) {
    if (stage_ == Stage::Stalled) {
        return false;
    }
    in_.push_back(byte);
    switch (stage_) {
    case Stage::Sync:
        if (byte == kSync) {
            answer(kAck, reply);
            finish("SYNC");
        } else {
            in_.clear(); // the loader's baud-rate detection waits for the sync byte only
        }
        break;
    case Stage::Command:
        command_ = byte;
        stage_ = Stage::Complement;
        break;
    case Stage::Complement:
        complement(byte, reply);
        break;
    case Stage::Address:
        field_.push_back(byte);
        if (field_.size() == kAddressBytes) {
            return address(reply);
        }
        break;
    case Stage::ReadCount:
        field_.push_back(byte);
        if (field_.size() == kCountBytes) {
            readCount(reply);
        }
        break;
    case Stage::WriteCount:
        field_.assign(1, byte);
        expect_ = static_cast<size_t>(byte) + 2; // data and checksum
        stage_ = Stage::WriteData;
        break;
    case Stage::WriteData:
        field_.push_back(byte);
        if (--expect_ == 0) {
            writeData(reply);
        }
        break;
    case Stage::EraseCount:
        field_.push_back(byte);
        if (field_.size() == kCountBytes) {
            eraseCount(reply);
        }
        break;
    case Stage::EraseList:
        field_.push_back(byte);
        if (--expect_ == 0) {
            eraseList(reply);
        }
        break;
    case Stage::Stalled:
        break;
    }
    return false;
}

void CameraBootLoader::complement(uint8_t byte, std::string& reply) {
    if (static_cast<uint8_t>(command_ ^ byte) != 0xFF || !supported(command_)) {
        answer(kNack, reply);
        finish("refused command " + hex32(command_).substr(6));
        return;
    }
    answer(kAck, reply);
    field_.clear();
    switch (command_) {
    case kGet:
        answer(static_cast<uint8_t>(sizeof kSupported), reply); // bytes that follow, less one
        answer(kProtocolVersion, reply);
        for (uint8_t c : kSupported) {
            answer(c, reply);
        }
        answer(kAck, reply);
        finish("GET");
        break;
    case kGetVersion:
        // The loader's version and its two option bytes, with no length byte before
        // them: unlike the other two "get" commands, this answer has a fixed size.
        answer(kProtocolVersion, reply);
        answer(kOptionByte, reply);
        answer(kOptionByte, reply);
        answer(kAck, reply);
        finish("GET_VERSION");
        break;
    case kGetId:
        answer(1, reply);
        answer(static_cast<uint8_t>(kProductId >> 8), reply);
        answer(static_cast<uint8_t>(kProductId & 0xFF), reply);
        answer(kAck, reply);
        finish("GET_ID");
        break;
    case kExtendedErase:
        stage_ = Stage::EraseCount;
        break;
    default:
        stage_ = Stage::Address;
        break;
    }
}

bool CameraBootLoader::address(std::string& reply) {
    address_ = static_cast<uint32_t>(field_[0]) << 24 | static_cast<uint32_t>(field_[1]) << 16 |
               static_cast<uint32_t>(field_[2]) << 8 | field_[3];
    bool inFlash = address_ >= kUcFlashBase && address_ - kUcFlashBase < kUcFlashSize;
    if (xorOf(field_, 0, 4) != field_[4] || !inFlash) {
        answer(kNack, reply);
        finish(std::string(commandName(command_)) + " refused address " + hex32(address_));
        return false;
    }
    answer(kAck, reply);
    field_.clear();
    if (command_ == kGo) {
        finish("GO " + hex32(address_));
        return flashes_.ucStart();
    }
    stage_ = command_ == kReadMemory ? Stage::ReadCount : Stage::WriteCount;
    return false;
}

void CameraBootLoader::readCount(std::string& reply) {
    uint8_t n = field_[0];
    size_t length = static_cast<size_t>(n) + 1;
    std::vector<uint8_t> data(length);
    if (static_cast<uint8_t>(n ^ field_[1]) != 0xFF || !flashes_.ucRead(address_, data.data(), length)) {
        answer(kNack, reply);
        finish("READ_MEM refused " + hex32(address_));
        return;
    }
    if (hooks_.corruptRead && hooks_.corruptRead()) {
        data[length / 2] ^= kReadCorruptBit;
    }
    answer(kAck, reply);
    for (uint8_t b : data) {
        answer(b, reply);
    }
    finish("READ_MEM " + hex32(address_) + " " + std::to_string(length));
}

bool CameraBootLoader::checksumOk() const {
    return xorOf(field_, 0, field_.size() - 1) == field_.back();
}

void CameraBootLoader::writeData(std::string& reply) {
    size_t length = field_.size() - 2;
    std::string what = "WRITE_MEM " + hex32(address_) + " " + std::to_string(length);
    WriteFault fault = hooks_.writeFault ? hooks_.writeFault() : WriteFault::None;
    if (fault == WriteFault::Stall) {
        stage_ = Stage::Stalled;
        finish(what + " (no answer)");
        return;
    }
    bool ok =
        fault == WriteFault::None && checksumOk() && flashes_.ucProgram(address_, field_.data() + 1, length);
    answer(ok ? kAck : kNack, reply);
    finish(what + (ok ? "" : " refused"));
}

void CameraBootLoader::eraseCount(std::string& reply) {
    uint16_t n = static_cast<uint16_t>(field_[0] << 8 | field_[1]);
    // A special code is followed by its checksum only; a page list by 2 bytes a page and
    // the checksum.
    expect_ = n >= kFirstSpecialErase ? 1 : (static_cast<size_t>(n) + 1) * 2 + 1;
    stage_ = Stage::EraseList;
}

void CameraBootLoader::eraseList(std::string& reply) {
    uint16_t n = static_cast<uint16_t>(field_[0] << 8 | field_[1]);
    if (!checksumOk()) {
        answer(kNack, reply);
        finish("EXTENDED_ERASE refused checksum");
        return;
    }
    if (n >= kFirstSpecialErase) {
        // The chip has one bank: only the mass erase of the special codes applies.
        bool mass = n == kMassErase;
        if (mass) {
            flashes_.ucMassErase();
        }
        answer(mass ? kAck : kNack, reply);
        finish(mass ? "EXTENDED_ERASE mass" : "EXTENDED_ERASE refused code " + hex32(n).substr(4));
        return;
    }
    bool ok = true;
    for (size_t i = 2; i + 1 < field_.size(); i += 2) {
        ok = flashes_.ucErasePage(static_cast<uint32_t>(field_[i] << 8 | field_[i + 1])) && ok;
    }
    answer(ok ? kAck : kNack, reply);
    finish("EXTENDED_ERASE " + std::to_string(static_cast<unsigned>(n) + 1) + " pages");
}

} // namespace sim
