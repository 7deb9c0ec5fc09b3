#include "sim/camera/CameraProtocol.h"

#include <cctype>
#include <cstring>

namespace sim {

namespace {

constexpr uint8_t kStart = '$';
constexpr uint8_t kEnd = '\n';
constexpr uint8_t kBinary = '!';
constexpr uint8_t kRun = '*';
constexpr int kHexDigitBits = 4;
constexpr size_t kAddressDigits = 6;

int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// "<prefix><6 hex digits> " with the prefix "GW ", "FLW " or "FRW ".
bool isPageWriteHeader(const std::string& text) {
    for (const char* prefix : {"GW ", "FLW ", "FRW "}) {
        size_t n = strlen(prefix);
        if (text.size() != n + kAddressDigits + 1 || text.compare(0, n, prefix) != 0 || text.back() != ' ') {
            continue;
        }
        bool digits = true;
        for (size_t i = n; i < n + kAddressDigits; ++i) {
            digits = digits && hexValue(static_cast<uint8_t>(text[i])) >= 0;
        }
        if (digits) {
            return true;
        }
    }
    return false;
}

} // namespace

void CameraLineParser::keep(uint8_t byte) {
    if (current_.raw.size() < kMaxLine) {
        current_.raw.push_back(byte);
    } else {
        current_.overLong = true;
    }
}

bool CameraLineParser::payloadHeader() const {
    return isPageWriteHeader(current_.text);
}

void CameraLineParser::finish(std::vector<CameraCommand>& done) {
    done.push_back(std::move(current_));
    current_ = CameraCommand{};
    stage_ = Stage::Idle;
}

void CameraLineParser::payloadByte(uint8_t byte) {
    if (current_.payload.size() < kMaxLine) {
        current_.payload.push_back(byte);
    } else {
        current_.payloadError = true;
    }
}

void CameraLineParser::feed(const uint8_t* data, size_t length, std::vector<CameraCommand>& done) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = data[i];
        switch (stage_) {
        case Stage::Idle:
            if (b == kStart) {
                keep(b);
                stage_ = Stage::Text;
            }
            break;
        case Stage::Text:
            keep(b);
            if (b == kEnd) {
                finish(done);
                break;
            }
            if (current_.text.size() < kMaxLine) {
                current_.text.push_back(static_cast<char>(b));
            }
            if (b == ' ' && payloadHeader()) {
                current_.text.pop_back();
                stage_ = Stage::Item;
            }
            break;
        case Stage::Item:
            keep(b);
            if (b == kEnd) {
                finish(done);
            } else if (b == kBinary) {
                stage_ = Stage::BinaryLength;
            } else if (b == kRun) {
                stage_ = Stage::RunLength;
            } else if (hexValue(b) >= 0) {
                high_ = static_cast<uint8_t>(hexValue(b));
                stage_ = Stage::HexLow;
            } else {
                current_.payloadError = true;
            }
            break;
        case Stage::HexLow:
            keep(b);
            if (b == kEnd) {
                current_.payloadError = true;
                finish(done);
            } else if (hexValue(b) < 0) {
                current_.payloadError = true;
                stage_ = Stage::Item;
            } else {
                payloadByte(static_cast<uint8_t>(high_ << kHexDigitBits | hexValue(b)));
                stage_ = Stage::Item;
            }
            break;
        case Stage::BinaryLength:
            keep(b);
            pending_ = b + 1;
            stage_ = Stage::BinaryData;
            break;
        case Stage::BinaryData:
            keep(b);
            payloadByte(b);
            if (--pending_ == 0) {
                stage_ = Stage::Item;
            }
            break;
        case Stage::RunLength:
            keep(b);
            pending_ = b + 1;
            stage_ = Stage::RunByte;
            break;
        case Stage::RunByte:
            keep(b);
            for (int n = 0; n < pending_; ++n) {
                payloadByte(b);
            }
            stage_ = Stage::Item;
            break;
        }
    }
}

} // namespace sim
