#include "sim/camera/CameraBoardModel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "sim/board/Json.h"
#include "sim/board/SteadyClock.h"
#include "sim/camera/CameraBootLoader.h"
#include "sim/camera/CameraFlashes.h"
#include "sim/camera/CameraLink.h"

namespace sim {

namespace {

constexpr const char* kStateFile = "camera.state";
constexpr int kDefaultBootMs = 0;
constexpr long kDefaultUcMajor = 2;
constexpr long kDefaultUcMinor = 7;
constexpr long kDefaultFpgaVersion = 12;
constexpr long kDefaultXlVersion = 3;
constexpr int kAcknowledgeTimeoutMs = 2000;
constexpr int64_t kNsPerMs = 1000000;

struct FaultName {
    CameraFault fault;
    const char* name;
};
constexpr FaultName kFaultNames[] = {
    {CameraFault::None, "none"},       {CameraFault::Silence, "silence"}, {CameraFault::Bad, "bad"},
    {CameraFault::Empty, "empty"},     {CameraFault::Cut, "cut"},         {CameraFault::Long, "long"},
    {CameraFault::Garbage, "garbage"}, {CameraFault::Babble, "babble"},   {CameraFault::Late, "late"},
    {CameraFault::Nack, "nack"},       {CameraFault::Stall, "stall"},     {CameraFault::Checksum, "checksum"},
};

const char* kHelp = "camera plug|unplug             connects or disconnects the camera board\n"
                    "camera rail on|off             camera supply (board option camera.rail=on|off;\n"
                    "                               ltc2977, the default: the power manager's page 1)\n"
                    "camera zoom N                  zoom encoder position\n"
                    "camera status HEX              the board's status word (\"US\")\n"
                    "camera fault KIND [COUNT [AFTER]]  silence|bad|empty|cut|long|garbage|babble|late|none\n"
                    "                               for COUNT replies (0: until cleared) after AFTER\n"
                    "                               normal ones; of the flash updates, counted in\n"
                    "                               block writes: nack (block refused), stall (silent\n"
                    "                               from that block until power-cycled); checksum\n"
                    "                               (checksum answers and boot-loader reads wrong)\n"
                    "camera reply OP [TEXT]         answers command OP with TEXT (no TEXT: clears)\n"
                    "camera awb VALID R G B         result of the next automatic white balance\n";

bool parseLong(const std::string& text, long& value, int base = 0) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = strtol(text.c_str(), &end, base);
    return errno == 0 && end && *end == '\0';
}

void copyText(char* to, size_t size, const std::string& from) {
    snprintf(to, size, "%s", from.c_str());
}

bool processAlive(int pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

std::string jsonArray(const uint32_t* values, size_t n) {
    JsonArray a;
    for (size_t i = 0; i < n; ++i) {
        a.addRaw(std::to_string(values[i]));
    }
    return a.str();
}

std::string jsonArray(const int32_t* values, size_t n) {
    JsonArray a;
    for (size_t i = 0; i < n; ++i) {
        a.add(values[i]);
    }
    return a.str();
}

std::string settingsJson(const CameraSettings& c) {
    JsonObject o;
    o.add("gain", c.gain)
        .add("exposure_time", c.exposureTime)
        .add("black_level", c.blackLevel)
        .add("sharpness", c.sharpness)
        .add("contrast", c.contrast)
        .add("mirror_horizontal", c.horizontalMirror != 0)
        .add("mirror_vertical", c.verticalMirror != 0)
        .add("shutter_position", c.shutterPosition)
        .add("shutter_autobrightness", c.shutterAutoBrightness != 0)
        .add("reference_frames", c.referenceFrames)
        .addRaw("shutter_angles", jsonArray(c.shutterAngles, kCameraShutterAngles))
        .add("chroma_autocorrect", c.chromaAutoCorrect != 0)
        .addRaw("cc_white_balance", jsonArray(c.ccWhiteBalance, 3))
        .addRaw("cc_matrix", jsonArray(c.ccMatrix, 9))
        .addRaw("cc_black_level", jsonArray(c.ccBlackLevel, 3))
        .addRaw("colour_gains", jsonArray(c.colourGains, 3))
        .add("hdr_mode", c.hdrMode)
        .add("hdr_ratio", c.hdrRatio)
        .add("hdr_exposure", c.hdrExposure)
        .add("hdr_gamma_index", c.hdrGammaIndex)
        .add("hdr_colour_enhancement", c.hdrColourEnhancement)
        .add("white_balance_valid", c.whiteBalanceValid != 0)
        .addRaw("white_balance", jsonArray(c.whiteBalance, 3))
        .addRaw("test_pattern", jsonArray(c.testPattern, kCameraChannels));
    JsonArray points;
    uint32_t kept = std::min<uint32_t>(c.aberrationCount, kCameraAberrationPoints);
    for (uint32_t i = c.aberrationCount - kept; i < c.aberrationCount; ++i) {
        points.addRaw(jsonString(c.aberrationPoints[i % kCameraAberrationPoints]));
    }
    o.add("aberration_count", c.aberrationCount).addRaw("aberration_points", points.str());
    return o.str();
}

} // namespace

const char* cameraFaultName(CameraFault fault) {
    for (const auto& f : kFaultNames) {
        if (f.fault == fault) {
            return f.name;
        }
    }
    return "?";
}

std::optional<CameraFault> cameraFaultFromName(const std::string& name) {
    for (const auto& f : kFaultNames) {
        if (name == f.name) {
            return f.fault;
        }
    }
    return std::nullopt;
}

CameraBoardModel::CameraBoardModel(Board& board)
    : board_(board), state_(board.volatilePath(kStateFile)),
      fitted_(board.config().getBool("camera.fitted", true)),
      bootMs_(static_cast<int>(board.config().getInt("camera.boot_ms", kDefaultBootMs))),
      product_(board.config().get("camera.product", "Ostrix")),
      ucMajor_(static_cast<uint8_t>(board.config().getInt("camera.uc_major", kDefaultUcMajor))),
      ucMinor_(static_cast<uint8_t>(board.config().getInt("camera.uc_minor", kDefaultUcMinor))),
      fpgaVersion_(static_cast<uint8_t>(board.config().getInt("camera.fpga_version", kDefaultFpgaVersion))),
      xlVersion_(static_cast<uint8_t>(board.config().getInt("camera.xl_version", kDefaultXlVersion))),
      flashes_(std::make_unique<CameraFlashes>(
          board, CameraVersions{ucMajor_, ucMinor_, fpgaVersion_, xlVersion_})) {
    // The boot loader runs with the state locked (bootLoaderByte), so its hooks use it as is.
    CameraBootLoader::Hooks hooks;
    hooks.writeFault = [this] {
        CameraBoardState& s = *state_;
        if (faultHits(s, CameraFault::Nack)) {
            return CameraBootLoader::WriteFault::Nack;
        }
        if (faultHits(s, CameraFault::Stall)) {
            s.stalled = 1;
            return CameraBootLoader::WriteFault::Stall;
        }
        return CameraBootLoader::WriteFault::None;
    };
    hooks.corruptRead = [this] { return faultHits(*state_, CameraFault::Checksum); };
    bootLoader_ = std::make_unique<CameraBootLoader>(*flashes_, board.trace(), std::move(hooks));
}

CameraBoardModel::~CameraBoardModel() {
    link_.reset();
}

std::string CameraBoardModel::linkName() const {
    return "usb-Marovec_" + product_ + "_Camera_Board_" + board_.config().get("camera.serial", "OX0001") +
           "-if00";
}

void CameraBoardModel::startServices() {
    if (!link_ && state_.valid()) {
        link_ = std::make_unique<CameraLink>(board_, *this);
    }
}

void CameraBoardModel::powerOn() {
    if (!state_.valid()) {
        return;
    }
    auto lock = state_.lock();
    CameraBoardState& s = *state_;
    // The serving program and its link outlive the power cycle; everything else restarts.
    int32_t host = s.hostPid;
    uint8_t linkUp = s.linkUp;
    char linkPath[sizeof s.linkPath];
    memcpy(linkPath, s.linkPath, sizeof linkPath);
    uint64_t seq = s.requestSeq;
    uint64_t handled = s.handledSeq;
    CameraSettings fresh;
    s.settings = fresh;
    s.plugged = 1;
    s.manualRail = board_.config().get("camera.rail", "ltc2977") == "off" ? 0 : 1;
    s.zoom = 0;
    s.statusWord = static_cast<uint32_t>(board_.config().getInt("camera.status", kStatusAllUp));
    s.fault = CameraFault::None;
    s.faultShots = 0;
    s.faultAfter = 0;
    s.overrideOp[0] = '\0';
    s.overrideShots = 0;
    s.awbValid = 1;
    s.awbGains[0] = s.awbGains[1] = s.awbGains[2] = 0x100;
    s.present = 0;
    s.bootLoader = 0;
    s.stalled = 0;
    s.commandCount = 0;
    s.recentNext = 0;
    memset(s.recent, 0, sizeof s.recent);
    s.lineSettings[0] = '\0';
    s.hostPid = host;
    s.linkUp = linkUp;
    memcpy(s.linkPath, linkPath, sizeof linkPath);
    s.requestSeq = seq + 1;
    s.handledSeq = handled;
    updateLocked(s);
}

void CameraBoardModel::driveStatusPin(bool powered) {
    PinBank& pins = board_.pins();
    pins.setExternalPullUp(kStatusGpio, true);
    pins.drive(kStatusGpio, powered ? Drive::Low : Drive::None);
}

bool CameraBoardModel::updateLocked(CameraBoardState& s) {
    bool rail = railProbe_ ? railProbe_() : s.manualRail != 0;
    bool present = fitted_ && s.plugged && rail;
    int64_t now = nowNs();
    if (present && !s.present) {
        s.present = 1;
        powerUp(s, now);
    } else if (!present && s.present) {
        // Without power the firmware forgets everything it was told.
        s.present = 0;
        s.settings = CameraSettings{};
        s.bootLoader = 0;
        s.stalled = 0;
    }
    driveStatusPin(present);
    return present && now - s.bootStartNs >= static_cast<int64_t>(bootMs_) * kNsPerMs;
}

// The microcontroller starts its firmware from flash; with a blank flash only its boot
// loader runs, and it owns the serial link.
void CameraBoardModel::powerUp(CameraBoardState& s, int64_t now) {
    s.bootStartNs = now;
    s.stalled = 0;
    s.bootBytes = 0;
    s.bootLoader = flashes_->ucStart() ? 0 : 1;
    s.bootEpoch++;
}

bool CameraBoardModel::bootLoaderByte(uint8_t byte, std::string& reply) {
    auto lock = state_.lock();
    CameraBoardState& s = *state_;
    if (!s.bootLoader) {
        return false;
    }
    if (bootEpochSeen_ != s.bootEpoch) {
        bootEpochSeen_ = s.bootEpoch;
        bootLoader_->reset();
    }
    s.bootBytes++;
    if (bootLoader_->feed(byte, reply)) {
        // GO: the new firmware starts with fresh settings, and the link re-enumerates.
        s.bootLoader = 0;
        s.settings = CameraSettings{};
        s.bootStartNs = nowNs();
    }
    return true;
}

bool CameraBoardModel::bootLoaderByte(uint8_t byte, std::string& reply, const SerialFraming& host) {
    if (host == kBootLoaderFraming) {
        return bootLoaderByte(byte, reply);
    }
    if (!inBootLoader()) {
        return false;
    }
    std::string answer;
    for (const ReceivedChar& c : reframe(byte, host, kBootLoaderFraming)) {
        if (!c.parityError && !c.framingError) {
            bootLoaderByte(c.value, answer);
        }
    }
    for (char a : answer) {
        for (const ReceivedChar& c : reframe(static_cast<uint8_t>(a), kBootLoaderFraming, host)) {
            reply.push_back(c.framingError ? '\0' : static_cast<char>(c.value));
        }
    }
    return true;
}

bool CameraBoardModel::inBootLoader() const {
    auto lock = state_.lock();
    return state_->bootLoader != 0;
}

uint64_t CameraBoardModel::bootLoaderBytes() const {
    auto lock = state_.lock();
    return state_->bootBytes;
}

bool CameraBoardModel::faultHits(CameraBoardState& s, CameraFault kind) {
    if (s.fault != kind) {
        return false;
    }
    if (s.faultAfter > 0) {
        s.faultAfter--;
        return false;
    }
    if (s.faultShots > 0 && --s.faultShots == 0) {
        s.fault = CameraFault::None;
    }
    return true;
}

bool CameraBoardModel::update(uint64_t* seenRequest) {
    if (!state_.valid()) {
        return false;
    }
    auto lock = state_.lock();
    if (seenRequest) {
        *seenRequest = state_->requestSeq;
    }
    return updateLocked(*state_);
}

void CameraBoardModel::acknowledge(uint64_t seenRequest) {
    auto lock = state_.lock();
    if (state_->handledSeq < seenRequest) {
        state_->handledSeq = seenRequest;
    }
}

void CameraBoardModel::changed(const std::function<void(CameraBoardState&)>& change) {
    if (!state_.valid()) {
        return;
    }
    uint64_t seq = 0;
    bool hosted = false;
    {
        auto lock = state_.lock();
        change(*state_);
        seq = ++state_->requestSeq;
        updateLocked(*state_);
        hosted = processAlive(state_->hostPid);
    }
    // Wait until the serving program has acted on the change (link up or down), so that
    // what the caller does next sees the board in its new state.
    for (int waited = 0; hosted && waited < kAcknowledgeTimeoutMs; ++waited) {
        {
            auto lock = state_.lock();
            if (state_->handledSeq >= seq || !processAlive(state_->hostPid)) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void CameraBoardModel::setRail(bool on) {
    changed([on](CameraBoardState& s) { s.manualRail = on ? 1 : 0; });
}
void CameraBoardModel::unplug() {
    changed([](CameraBoardState& s) { s.plugged = 0; });
}
void CameraBoardModel::plug() {
    changed([](CameraBoardState& s) { s.plugged = 1; });
}
void CameraBoardModel::setZoom(int zoom) {
    changed([zoom](CameraBoardState& s) { s.zoom = zoom; });
}
void CameraBoardModel::setStatusWord(uint32_t word) {
    changed([word](CameraBoardState& s) { s.statusWord = word; });
}
void CameraBoardModel::setFault(CameraFault fault, int shots, int after) {
    changed([fault, shots, after](CameraBoardState& s) {
        s.fault = fault;
        s.faultShots = fault == CameraFault::None ? 0 : shots;
        s.faultAfter = fault == CameraFault::None ? 0 : after;
    });
}

void CameraBoardModel::overrideReply(const std::string& op, const std::string& text, int shots) {
    changed([&](CameraBoardState& s) {
        copyText(s.overrideOp, sizeof s.overrideOp, op);
        copyText(s.overrideText, sizeof s.overrideText, text);
        s.overrideShots = shots;
    });
}

std::vector<uint8_t> CameraBoardModel::lastPayload() const {
    std::lock_guard<std::mutex> lock(payloadMutex_);
    return lastPayload_;
}
void CameraBoardModel::setWhiteBalanceResult(bool valid, uint32_t red, uint32_t green, uint32_t blue) {
    changed([=](CameraBoardState& s) {
        s.awbValid = valid ? 1 : 0;
        s.awbGains[0] = red;
        s.awbGains[1] = green;
        s.awbGains[2] = blue;
    });
}

void CameraBoardModel::setRailProbe(std::function<bool()> probe) {
    railProbe_ = std::move(probe);
}

void CameraBoardModel::railChanged() {
    changed([](CameraBoardState&) {});
}

void CameraBoardModel::setLink(bool up, const std::string& path) {
    auto lock = state_.lock();
    state_->linkUp = up ? 1 : 0;
    copyText(state_->linkPath, sizeof state_->linkPath, path);
    copyText(state_->parity, sizeof state_->parity, "none"); // a new port starts without parity
}

void CameraBoardModel::setHost(bool hosting) {
    auto lock = state_.lock();
    state_->hostPid = hosting ? static_cast<int32_t>(getpid()) : 0;
    if (!hosting) {
        state_->linkUp = 0;
        state_->linkPath[0] = '\0';
    }
}

bool CameraBoardModel::isLinkPort(int fd) const {
    std::string path = linkPath();
    struct stat port {};
    struct stat link {};
    return !path.empty() && fstat(fd, &port) == 0 && stat(path.c_str(), &link) == 0 &&
           S_ISCHR(port.st_mode) && port.st_rdev == link.st_rdev;
}

void CameraBoardModel::setParity(const char* parity) {
    auto lock = state_.lock();
    copyText(state_->parity, sizeof state_->parity, parity);
}

std::string CameraBoardModel::parity() const {
    auto lock = state_.lock();
    return state_->parity;
}

bool CameraBoardModel::present() const {
    auto lock = state_.lock();
    return state_->present != 0;
}

bool CameraBoardModel::linkUp() const {
    auto lock = state_.lock();
    return state_->linkUp != 0;
}

std::string CameraBoardModel::linkPath() const {
    auto lock = state_.lock();
    return state_->linkPath;
}

CameraSettings CameraBoardModel::settings() const {
    auto lock = state_.lock();
    return state_->settings;
}

std::string CameraBoardModel::lineSettings() const {
    auto lock = state_.lock();
    return state_->lineSettings;
}

uint64_t CameraBoardModel::commandCount() const {
    auto lock = state_.lock();
    return state_->commandCount;
}

std::vector<std::string> CameraBoardModel::recentCommands() const {
    auto lock = state_.lock();
    const CameraBoardState& s = *state_;
    std::vector<std::string> out;
    uint64_t kept = std::min<uint64_t>(s.commandCount, kCameraRecentCommands);
    for (uint64_t i = 0; i < kept; ++i) {
        uint32_t slot =
            static_cast<uint32_t>((s.recentNext + kCameraRecentCommands - kept + i) % kCameraRecentCommands);
        out.emplace_back(s.recent[slot]);
    }
    return out;
}

bool CameraBoardModel::waitForLink(bool up, int timeoutMs) const {
    for (int waited = 0; waited <= timeoutMs; ++waited) {
        if (linkUp() == up) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void CameraBoardModel::remember(CameraBoardState& s, const std::string& text) {
    copyText(s.recent[s.recentNext], kCameraRecentText, text);
    s.recentNext = (s.recentNext + 1) % kCameraRecentCommands;
    s.commandCount++;
}

void CameraBoardModel::addStatus(JsonObject& status) const {
    if (!state_.valid()) {
        return;
    }
    auto lock = state_.lock();
    const CameraBoardState& s = *state_;
    const CameraVersions versions = flashes_->versions();
    JsonObject o;
    o.add("fitted", fitted_)
        .add("plugged", s.plugged != 0)
        .add("rail", railProbe_ ? railProbe_() : s.manualRail != 0)
        .add("present", s.present != 0)
        .add("link_up", s.linkUp != 0)
        .add("link", s.linkPath)
        .add("host_pid", s.hostPid)
        .add("line", s.lineSettings)
        .add("fault", cameraFaultName(s.fault))
        .add("fault_shots", s.faultShots)
        .add("fault_after", s.faultAfter)
        .add("reply_override",
             std::string(s.overrideOp) + (s.overrideOp[0] ? " -> " + std::string(s.overrideText) : ""))
        .add("zoom", s.zoom)
        .add("status_word", s.statusWord)
        .add("firmware", std::to_string(versions.ucMajor) + "." + std::to_string(versions.ucMinor))
        .add("fpga_version", static_cast<int>(versions.fpga))
        .add("xl_version", static_cast<int>(versions.xl))
        .add("boot_loader", s.bootLoader != 0)
        .add("boot_loader_bytes", s.bootBytes)
        .add("stalled", s.stalled != 0)
        .add("firmware_blank", flashes_->ucBlank())
        .add("commands", s.commandCount)
        .addRaw("settings", settingsJson(s.settings));
    JsonArray recent;
    uint64_t kept = std::min<uint64_t>(s.commandCount, kCameraRecentCommands);
    for (uint64_t i = 0; i < kept; ++i) {
        uint32_t slot =
            static_cast<uint32_t>((s.recentNext + kCameraRecentCommands - kept + i) % kCameraRecentCommands);
        recent.addRaw(jsonString(s.recent[slot]));
    }
    o.addRaw("recent_commands", recent.str());
    status.addRaw("camera", o.str());
}

std::string CameraBoardModel::help() const {
    return kHelp;
}

std::optional<CommandResult> CameraBoardModel::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "camera") {
        return std::nullopt;
    }
    const std::string sub = args.size() > 1 ? args[1] : "";
    long v = 0;
    if (sub == "unplug" && args.size() == 2) {
        unplug();
        return CommandResult{true, "camera board unplugged\n"};
    }
    if (sub == "plug" && args.size() == 2) {
        plug();
        return CommandResult{true, "camera board plugged in\n"};
    }
    if (sub == "rail" && railProbe_) {
        return CommandResult{false, "the camera rail follows the power manager (board option camera.rail)\n"};
    }
    if (sub == "rail" && args.size() == 3 && (args[2] == "on" || args[2] == "off")) {
        setRail(args[2] == "on");
        return CommandResult{true, "camera rail " + args[2] + "\n"};
    }
    if (sub == "zoom" && args.size() == 3 && parseLong(args[2], v, 10)) {
        setZoom(static_cast<int>(v));
        return CommandResult{true, "camera zoom " + std::to_string(v) + "\n"};
    }
    if (sub == "status" && args.size() == 3 && parseLong(args[2], v, 16)) {
        setStatusWord(static_cast<uint32_t>(v));
        return CommandResult{true, "camera status word set\n"};
    }
    if (sub == "fault" && args.size() >= 3 && args.size() <= 5) {
        auto fault = cameraFaultFromName(args[2]);
        long shots = 0, after = 0;
        bool counts = (args.size() < 4 || (parseLong(args[3], shots, 10) && shots >= 0)) &&
                      (args.size() < 5 || (parseLong(args[4], after, 10) && after >= 0));
        if (fault && counts) {
            setFault(*fault, static_cast<int>(shots), static_cast<int>(after));
            return CommandResult{true, std::string("camera fault ") + cameraFaultName(*fault) + "\n"};
        }
    }
    if (sub == "reply" && (args.size() == 3 || args.size() == 4)) {
        overrideReply(args.size() == 4 ? args[2] : "", args.size() == 4 ? args[3] : "");
        return CommandResult{true, args.size() == 4 ? "camera reply override set\n"
                                                    : "camera reply override cleared\n"};
    }
    if (sub == "awb" && args.size() == 6) {
        long valid = 0, r = 0, g = 0, b = 0;
        if (parseLong(args[2], valid) && parseLong(args[3], r) && parseLong(args[4], g) &&
            parseLong(args[5], b)) {
            setWhiteBalanceResult(valid != 0, static_cast<uint32_t>(r), static_cast<uint32_t>(g),
                                  static_cast<uint32_t>(b));
            return CommandResult{true, "camera white balance result set\n"};
        }
    }
    return CommandResult{false, std::string("usage:\n") + kHelp};
}

} // namespace sim
