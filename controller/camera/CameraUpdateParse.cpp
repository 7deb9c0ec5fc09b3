// Readers of the camera update's outside data: ".jic" headers and the board's checksum
// replies. Binary headers are searched with length-bounded functions only.
#include <cstring>

#include "common/get_hex.h"
#include "controller/camera/CameraUpdate.h"

namespace camera_update {

namespace {

constexpr char kJicMagic[] = "JIC";
constexpr char kJicFlash[] = "EPCQ128A";
constexpr char kJicDevice[] = "5CEBA4";
constexpr size_t kReplyLeader = 3; // "FLC", "XAC", ...
constexpr int kBitsPerByte = 8;

bool contains(const uint8_t* data, size_t length, const char* text) {
    return memmem(data, length, text, strlen(text)) != nullptr;
}

// Nothing but blanks may follow the last field.
bool onlyBlanksLeft(const char* text, int left) {
    for (int i = 0; i < left; ++i) {
        if (text[i] != ' ') {
            return false;
        }
    }
    return true;
}

bool leaderIs(const char* reply, size_t length, char first, char second, char third) {
    return length >= kReplyLeader && reply[0] == first && reply[1] == second && reply[2] == third;
}

} // namespace

bool jicHeaderGood(const uint8_t* header, size_t length) {
    return length >= kJicHeaderSize && memcmp(header, kJicMagic, strlen(kJicMagic)) == 0 &&
           contains(header, kJicHeaderSize, kJicFlash) && contains(header, kJicHeaderSize, kJicDevice);
}

std::string jicBuildData(const uint8_t* header, size_t length) {
    std::string text;
    for (size_t i = kJicBuildDataOffset; i < length && i < kJicHeaderSize && header[i] != '\0'; ++i) {
        char c = static_cast<char>(header[i]);
        text.push_back(c >= ' ' && c <= '~' ? c : '.');
    }
    return text;
}

cmd_results_t parseFlashChecksum(const char* reply, size_t length, char chanChar, uint32_t start,
                                 uint32_t count, uint32_t* checksum) {
    if (!leaderIs(reply, length, 'F', chanChar, 'C')) {
        return CMD_BAD;
    }
    const char* text = reply + kReplyLeader;
    int left = static_cast<int>(length - kReplyLeader);
    uint32_t gotStart = 0, gotCount = 0, sum = 0;
    cmd_results_t res = get_hex24(&text, &left, &gotStart);
    res = res == CMD_OK ? get_hex24(&text, &left, &gotCount) : res;
    res = res == CMD_OK ? get_hex32(&text, &left, &sum) : res;
    if (res != CMD_OK) {
        return res;
    }
    // A checksum of another range is no answer to this question.
    if (gotStart != start || gotCount != count || !onlyBlanksLeft(text, left)) {
        return CMD_BAD;
    }
    *checksum = sum;
    return CMD_OK;
}

cmd_results_t parseCrosslinkChecksum(const char* reply, size_t length, char which, uint32_t* size,
                                     uint32_t* checksum) {
    if (!leaderIs(reply, length, 'X', which, 'C')) {
        return CMD_BAD;
    }
    const char* text = reply + kReplyLeader;
    int left = static_cast<int>(length - kReplyLeader);
    uint32_t sum = 0, stored = 0;
    cmd_results_t res = get_hex32(&text, &left, &sum);
    res = res == CMD_OK ? get_hex32(&text, &left, &stored) : res;
    if (res != CMD_OK) {
        return res;
    }
    if (!onlyBlanksLeft(text, left)) {
        return CMD_BAD;
    }
    *checksum = sum;
    *size = stored;
    return CMD_OK;
}

uint32_t withLengthWord(uint32_t sum, uint32_t size) {
    for (uint32_t i = 0; i < kLengthWordBytes; ++i) {
        sum += (size >> (i * kBitsPerByte)) & 0xFF;
    }
    return sum;
}

uint8_t reverseBits(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < kBitsPerByte; ++i) {
        r = static_cast<uint8_t>(r << 1 | ((b >> i) & 1));
    }
    return r;
}

} // namespace camera_update
