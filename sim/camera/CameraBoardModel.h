// The simulated camera board: a microcontroller behind a USB serial link that answers the
// controller's "$...\n" commands with "#...\n" replies and keeps the camera settings in its
// RAM. The link is a pseudo-terminal served by a thread of the program hosting the board
// (CameraLink); it appears under "<root>/dev/serial/by-id" once the camera rail is on and
// the board has booted, and disappears when the rail goes off or the board is unplugged.
// GPIO 35 (CAM_PWRON_N) is pulled low by the board while it is powered.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/board/Board.h"
#include "sim/board/SharedMemory.h"
#include "sim/camera/SerialFraming.h"

namespace sim {

class CameraLink;
class CameraBootLoader;
class CameraFlashes;

// What the board does wrong, for tests of the controller's error paths.
enum class CameraFault : uint8_t {
    None,
    Silence, // no reply at all; the command is lost
    Bad,     // "#BAD\n"; the command is rejected
    Empty,   // "#\n"
    Cut,     // the reply stops mid-line, no line end
    Long,    // the reply text is padded to an over-long line
    Garbage, // noise bytes before the "#"
    Babble,  // noise without "#" until the next command
    Late,    // the right reply, but only after the controller has given up waiting
    // Faults of the flash updates, counted in block writes (page writes, FPGA blocks and
    // boot-loader WRITE_MEM blocks) or, for Checksum, in checksum answers and read-backs.
    Nack,     // the block write is refused ("BAD" or NACK) and not written
    Stall,    // the board falls silent at the block until it is power-cycled
    Checksum, // a checksum answer is off by one, a boot-loader read-back by one bit
};

const char* cameraFaultName(CameraFault fault);
std::optional<CameraFault> cameraFaultFromName(const std::string& name);

constexpr int kCameraShutterAngles = 30;
constexpr int kCameraAberrationPoints = 32;
constexpr int kCameraAberrationText = 96;
constexpr int kCameraRecentCommands = 32;
constexpr int kCameraRecentText = 96;
constexpr int kCameraChannels = 2;

// The settings the board's firmware holds in RAM; lost when it loses power.
struct CameraSettings {
    uint32_t gain = 0;
    uint32_t exposureTime = 0;
    uint32_t blackLevel = 0;
    uint32_t sharpness = 0;
    uint32_t contrast = 0;
    uint8_t horizontalMirror = 0;
    uint8_t verticalMirror = 0;
    uint8_t shutterAutoBrightness = 0;
    uint8_t chromaAutoCorrect = 0;
    uint32_t shutterPosition = 0;
    uint32_t referenceFrames = 0; // "UHC" commands taken
    uint32_t shutterAngles[kCameraShutterAngles] = {};
    int32_t ccWhiteBalance[3] = {};
    int32_t ccMatrix[9] = {};
    int32_t ccBlackLevel[3] = {};
    uint32_t colourGains[3] = {};
    uint32_t hdrMode = 0;
    uint32_t hdrRatio = 0;
    uint32_t hdrExposure = 0;
    uint32_t hdrGammaIndex = 0;
    uint32_t hdrColourEnhancement = 0;
    uint8_t whiteBalanceValid = 0;
    uint32_t whiteBalance[3] = {};                 // red, green, blue gains in use
    uint32_t sensorRegister[kCameraChannels] = {}; // last sensor register written, L and R
    uint32_t sensorValue[kCameraChannels] = {};
    int32_t testPattern[kCameraChannels] = {-1, -1}; // value of sensor register 0x308C
    uint32_t aberrationCount = 0;                    // points taken since power-up
    char aberrationPoints[kCameraAberrationPoints][kCameraAberrationText] = {};
};

struct CameraBoardState {
    static constexpr uint32_t kMagic = 0x4F43414D; // "OCAM"
    static constexpr uint32_t kVersion = 3;
    RegionHeader header;

    // Test side.
    uint8_t plugged = 1;
    uint8_t manualRail = 1; // the rail when no power manager switches it
    int32_t zoom = 0;
    uint32_t statusWord = 0;
    CameraFault fault = CameraFault::None;
    int32_t faultShots = 0;  // replies still affected; 0 = until cleared
    int32_t faultAfter = 0;  // replies still given normally before the fault starts
    char overrideOp[8] = {}; // a command answered with `overrideText` instead
    char overrideText[128] = {};
    int32_t overrideShots = 0; // 0 = until cleared
    uint8_t awbValid = 1;      // result of the next automatic white balance
    uint32_t awbGains[3] = {0x100, 0x100, 0x100};

    // Board side.
    uint8_t present = 0; // plugged in and powered
    uint8_t linkUp = 0;  // the serial link is visible
    int64_t bootStartNs = 0;
    int32_t hostPid = 0; // program serving the link, 0 when none
    uint64_t requestSeq = 0;
    uint64_t handledSeq = 0;
    char linkPath[256] = {};
    char lineSettings[64] = {}; // line settings seen with the last command
    char parity[8] = "none";    // parity the controller set; the pseudo-terminal carries none
    CameraSettings settings;
    // The serial link belongs to the microcontroller's boot loader (after "UB", or at
    // power-up with a blank flash); a new epoch starts it afresh.
    uint8_t bootLoader = 0;
    uint32_t bootEpoch = 0;
    uint64_t bootBytes = 0; // bytes the boot loader received since power-up
    uint8_t stalled = 0;    // silent since a Stall fault hit, until power is lost

    uint64_t commandCount = 0;
    uint32_t recentNext = 0;
    char recent[kCameraRecentCommands][kCameraRecentText] = {};
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(CameraBoardState) == 7040 && offsetof(CameraBoardState, bootStartNs) == 208 &&
                  offsetof(CameraBoardState, settings) == 568 && offsetof(CameraBoardState, recent) == 3964,
              "shared state layout");

// One command line as the board received it.
struct CameraCommand {
    std::vector<uint8_t> raw;     // every byte from "$" to "\n"
    std::string text;             // the command text (without "$", payload and line end)
    std::vector<uint8_t> payload; // decoded payload of page writes
    bool payloadError = false;
    bool overLong = false;
};

class CameraBoardModel : public Device {
public:
    static constexpr int kStatusGpio = 35; // CAM_PWRON_N
    // Bits of the board's status word: both FPGAs and the bridge booted, sensors set up.
    static constexpr uint32_t kStatusAllUp = 0x7F;

    explicit CameraBoardModel(Board& board);
    ~CameraBoardModel() override;

    std::string name() const override { return "camera"; }
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;
    void powerOn() override;
    void startServices() override;

    // Test side. Each change is seen by the program serving the link before it returns
    // (when one serves it). setRail switches the supply of a board powered by hand
    // (camera.rail=on|off); with the power manager it is page 1 of the LTC2977.
    void setRail(bool on);
    void unplug();
    void plug();
    void setZoom(int zoom);
    void setStatusWord(uint32_t word);
    // The fault hits `shots` replies (0: all until cleared) after `after` normal ones.
    void setFault(CameraFault fault, int shots = 0, int after = 0);
    // Answers the command `op` (its first word) with `text`, like firmware of another
    // version would; `shots` replies (0: until cleared), an empty `op` clears it.
    void overrideReply(const std::string& op, const std::string& text, int shots = 0);
    void setWhiteBalanceResult(bool valid, uint32_t red, uint32_t green, uint32_t blue);
    // Power from a power manager model (the LTC2977 camera page) instead of the manual
    // rail; the model's programs call railChanged() when it switches.
    void setRailProbe(std::function<bool()> probe);
    void railChanged();

    // Inspection.
    bool fitted() const { return fitted_; }
    bool present() const;
    bool linkUp() const;
    // The link's path inside the system root ("" when down).
    std::string linkPath() const;
    CameraSettings settings() const;
    std::string lineSettings() const;
    uint64_t commandCount() const;
    // Decoded payload of the last page write served in this program.
    std::vector<uint8_t> lastPayload() const;
    // The last command texts, oldest first.
    std::vector<std::string> recentCommands() const;
    // Polls until the link is up (or down); false after `timeoutMs`.
    bool waitForLink(bool up, int timeoutMs = 5000) const;

    // Board side, used by the link: brings presence, pin 35 and the boot state up to date
    // and tells whether the link should be visible now.
    bool update(uint64_t* seenRequest = nullptr);
    // The reply bytes for one command line (empty when the board stays silent), and the
    // end of a babbling fault in steady-clock nanoseconds (0: none).
    std::string handle(const CameraCommand& cmd, const std::string& lineSettings, int64_t& babbleUntilNs);
    void acknowledge(uint64_t seenRequest);
    // One byte for the boot loader when it owns the link (its answer is appended to
    // `reply`); false when the firmware has the link and the byte is a command byte.
    bool bootLoaderByte(uint8_t byte, std::string& reply);
    // True once after `handle` gave a reply that must go out late (the Late fault).
    bool takeLateReply() { return lateReply_.exchange(false); }
    // The same for a byte the controller's port framed as `host`: the loader's UART
    // decodes it as 8E1 and drops a character with a parity or framing error, and its
    // answer reaches the controller as the port decodes it (a framing error reads as 0).
    bool bootLoaderByte(uint8_t byte, std::string& reply, const SerialFraming& host);
    void setLink(bool up, const std::string& path);
    void setHost(bool hosting);
    // The serial settings a program gives the port: true when `fd` is the link's port. A
    // pseudo-terminal has no parity, so the board keeps the parity asked for here.
    bool isLinkPort(int fd) const;
    void setParity(const char* parity);
    std::string parity() const;
    std::string linkName() const;
    int bootMs() const { return bootMs_; }
    bool inBootLoader() const;
    uint64_t bootLoaderBytes() const;
    CameraFlashes& flashes() { return *flashes_; }

private:
    void changed(const std::function<void(CameraBoardState&)>& change);
    bool updateLocked(CameraBoardState& s);
    void driveStatusPin(bool present);
    std::string reply(CameraBoardState& s, const CameraCommand& cmd);
    void remember(CameraBoardState& s, const std::string& text);
    // Flash update commands ("F", "X" and "G" families); nullopt for any other command.
    std::optional<std::string> flashReply(CameraBoardState& s, const CameraCommand& cmd,
                                          const std::vector<std::string>& w);
    std::string pageWrite(CameraBoardState& s, const CameraCommand& cmd, int channel, uint32_t address);
    // Whether the injected fault `kind` hits now (counting down its "after" and shots).
    static bool faultHits(CameraBoardState& s, CameraFault kind);
    void powerUp(CameraBoardState& s, int64_t now);

    Board& board_;
    SharedRegion<CameraBoardState> state_;
    std::function<bool()> railProbe_;
    bool fitted_;
    int bootMs_;
    std::string product_;
    uint8_t ucMajor_, ucMinor_, fpgaVersion_, xlVersion_;
    mutable std::mutex payloadMutex_;
    std::atomic<bool> lateReply_{false};
    std::vector<uint8_t> lastPayload_;
    std::unique_ptr<CameraFlashes> flashes_;
    std::unique_ptr<CameraBootLoader> bootLoader_;
    uint32_t bootEpochSeen_ = 0;
    std::unique_ptr<CameraLink> link_;
};

} // namespace sim
