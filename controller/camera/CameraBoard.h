// The stereo camera head's microcontroller board, reached over a USB serial link with a
// line protocol: "$" command "\n" out, "#" reply "\n" back. CameraBoard owns the port,
// the framing and payload encodings, reply parsing, the power-up timing and hot-plug
// detection, and remembers every camera setting so the whole set can be re-sent after the
// board was powered up or plugged in again. Main thread only; it holds no lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/DirectoryWatch.h"
#include "common/channel.h"
#include "common/cmd_results.h"
#include "controller/camera/CameraUpdate.h"

typedef struct {
    uint32_t crosslink_booted : 1;
    uint32_t fpga_l_booted : 1;
    uint32_t fpga_r_booted : 1;
    uint32_t cal_l_init : 1;
    uint32_t cam_r_init : 1;
    uint32_t adv711_l_configured : 1;
    uint32_t adv711_r_configured : 1;
    uint32_t flash_l_error : 1;
    uint32_t flash_r_error : 1;
    uint32_t unused : 23;
} STATUS_STRUCT_T;

typedef union {
    uint32_t word;
    STATUS_STRUCT_T bits;
} STATUS_T;

typedef enum { ALGO = 0, DATA = 1 } CROSSLINK_T;

class CameraBoard {
public:
    enum PRIMARIES { RED = 0, GREEN = 1, BLUE = 2 };

    static constexpr int MaxCCProfiles = 2;
    static const char* const ColourCorrectionFiles[MaxCCProfiles];
    static constexpr size_t RESPONSE_SIZE = 640;
    static constexpr size_t FILENAME_SIZE = 128;

    // How long the board needs after power-up and how long a wake-up waits for it. Tests
    // shorten them; the controller uses the defaults.
    struct Waits {
        int powerUpMs = 15000;
        int wakeOpenMs = 5000;
        int wakeSettleMs = 15000;
        int bootPauseMs = 1000;     // the pauses around the boot loader and the power cycle
        int restartMs = 10000;      // after the power cycle that ends a firmware update
        uint8_t replyCapTenths = 0; // when set, no flash-update reply is awaited longer
    };

    CameraBoard(const char* algofile, const char* datafile, const char* fpgafile);
    ~CameraBoard();
    CameraBoard(const CameraBoard&) = delete;
    CameraBoard& operator=(const CameraBoard&) = delete;

    // The camera board's 5 V rail, switched by the power manager.
    void setCameraRail(std::function<void(bool on)> rail) { cameraRail = std::move(rail); }
    void setWaits(const Waits& w) { waits = w; }

    // Port and framing.
    int OpenPort(bool prints);
    int ClosePort(bool prints);
    int FindPortByName(char* filename, bool prints);
    int StartMessage(bool prints);
    int sendString(const char* s);
    int EndMessage(bool close);
    int sendMessage(const char* s);
    // `timeout` in tenths of a second.
    int sendMessageWaitForResponse(const char* command, uint8_t timeout, bool prints);
    cmd_results_t waitForResponse(uint8_t timeout, bool prints);
    cmd_results_t getOK(const std::string& caller);

    // Payload encodings inside a command line.
    int sendBinary(const char* data, uint8_t lengthminus1);
    int sendRLE(char data, uint8_t lengthminus1);
    uint8_t countConsecutiveBytes(const char* data, uint8_t startindex, uint8_t lengthminus1);
    int sendRLEBinary(const char* data, uint8_t lengthminus1);
    int sendHexByte(uint8_t value);
    int sendDataArray(uint8_t* data, uint16_t len);

    // Queries.
    int getVersion(uint8_t* major, uint8_t* minor);
    int getFPGAVersion(uint8_t* major);
    int getXLVersion(uint8_t* major);
    cmd_results_t getStatus(STATUS_T* st);
    void firmware_version(uint32_t* major, uint32_t* minor) const;
    void fpga_version(uint32_t* major) const;
    void xl_version(uint32_t* major) const;

    // Power and presence.
    void PowerOn(bool prints);
    void PowerOff();
    void shut_down();
    void wake_up(bool prints);
    bool connected();
    int isConnected();
    void updateSettings();
    bool is_running() const { return ready_for_commands; }

    // Camera settings.
    cmd_results_t setGain(uint32_t gain);
    cmd_results_t setExposureTime(uint32_t t);
    cmd_results_t setBlackLevel(uint32_t v);
    cmd_results_t setSharpness(uint32_t v);
    cmd_results_t setContrast(uint32_t v);
    cmd_results_t invertHorizontalOutput(bool invert);
    cmd_results_t invertVerticalOutput(bool invert);
    cmd_results_t setShutterPosition(uint32_t p);
    cmd_results_t setShutterAutobrightness(bool on);
    cmd_results_t setAutobrightnessReferenceFrame();
    cmd_results_t setChromaAutoCorrect(bool on);
    cmd_results_t setColourCorrectionWhiteBalance(int red, int green, int blue);
    cmd_results_t setColourCorrectionMatrix(const std::vector<int>& matrix);
    cmd_results_t setColourCorrectionBlackLevel(int red, int green, int blue);
    cmd_results_t setHDRmode(uint32_t mode);
    cmd_results_t setHDRratio(uint32_t ratio);
    cmd_results_t setHDRexposure(uint32_t e);
    cmd_results_t setHDRGammaIndex(int32_t g);
    cmd_results_t setHDRColourEnhancement(int32_t c);
    cmd_results_t whiteBalance(uint16_t* valid, uint32_t* red, uint32_t* green, uint32_t* blue);
    cmd_results_t setWhiteBalance();
    cmd_results_t forceWhiteBalanceSettings(uint32_t red, uint32_t green, uint32_t blue);
    cmd_results_t setColourGain(PRIMARIES colour, uint32_t gain);
    cmd_results_t setShutterAngles(const std::string& angles);
    cmd_results_t setTestPatternReg(int v);
    cmd_results_t getZoom(uint32_t* zoom);
    void resetLensAberrationPoints();
    void setLensAberrationPoint(std::string point);
    cmd_results_t uploadLensAbberationPoints();
    cmd_results_t setColourCorrectionProfile(int id);
    cmd_results_t setColourCorrectionParameters(const std::string& filename);
    uint32_t get_last_black_level() const { return last_black_level; }
    uint32_t get_last_contrast() const { return last_contrast; }
    // Until the board accepted a value there is none to report: the 0 the members start
    // from is not the camera's.
    bool has_last_black_level() const { return black_level_accepted; }
    bool has_last_contrast() const { return contrast_accepted; }

    // Firmware, camera FPGA and bridge file updates.
    cmd_results_t update_uC(const char* binaryname);
    cmd_results_t enterBootMode();
    cmd_results_t SendBootModeCommand(uint8_t command, uint32_t address, uint16_t num_bytes, uint8_t* data);
    cmd_results_t GetBootModeAck();
    cmd_results_t programFlash(const char* path);
    cmd_results_t verifyFlash(const char* path);
    cmd_results_t update_fpga(const char* binaryname);
    int crosslinkFilesToFlash(bool force);
    int fileToFlash(chan_t chan, const char* filename, int start_offset, uint32_t length);
    int fpgaFileToFlash(chan_t chan, const char* filename) { return fileToFlash(chan, filename, 0, 0); }
    cmd_results_t getCsum(CROSSLINK_T which, uint32_t* size, uint32_t* checksum);
    cmd_results_t getChecksum(chan_t chan, uint32_t start, uint32_t count, uint32_t* checksum);

    // Inspection.
    const char* response() const { return response_str; }
    unsigned pending_oks() const { return okcount; }
    bool port_open() const { return myfd >= 0; }
    bool is_available() const { return available; }
    const STATUS_T& last_status() const { return status; }

private:
    int writeBytes(const void* data, size_t length);
    int readByte();
    void setReadTimeout(uint8_t tenths);
    void closeStream();
    void waitMs(timer_t* handle, const char* identifier, int ms);
    void logVersions();
    cmd_results_t acknowledged(const char* command, const char* operation);
    cmd_results_t exchanged(const char* command);
    // One-value commands: `format` takes the value as its only argument.
    cmd_results_t acknowledgedValue(const char* format, unsigned value, const char* operation);
    cmd_results_t exchangedValue(const char* format, unsigned value);
    // Flash updates (the port stays open across their exchanges).
    bool sendBytes(const uint8_t* data, size_t length);
    uint8_t replyTenths(uint8_t tenths) const;
    cmd_results_t exchangeOnOpenPort(const char* command, uint8_t tenths, bool prints);
    cmd_results_t sendPage(const char* header, const uint8_t* data, size_t length, uint8_t tenths);
    cmd_results_t sendBootAddress(uint32_t address);
    cmd_results_t sendBootPayload(uint8_t command, uint16_t num_bytes, uint8_t* data);
    cmd_results_t readBootReply(uint8_t* data, size_t length);
    cmd_results_t finishFpgaUpdate(uint32_t checksum);
    void queryFirmwareVersion();
    int bridgeFileToFlash(const camera_update::BridgeFile& file, bool force, bool& written);

    // The port's folder, read again only when an entry came or went: the main loop looks
    // for the board on every pass, and udev makes and removes its link as it is plugged.
    struct PortScan {
        bool folderMissing = false;
        std::string name; // empty when no entry names a board
    };
    static PortScan scanPorts();
    std::unique_ptr<DirectoryWatch> portWatch;
    std::mutex portScanLock;
    PortScan lastScan;

    // Link state.
    FILE* fd = nullptr;
    int myfd = -1;
    char response_str[RESPONSE_SIZE] = {};
    char chanChars[2] = {'L', 'R'};
    char xlinkChars[2] = {'A', 'D'};
    uint8_t majorVersion = 0;
    uint8_t minorVersion = 0;
    uint8_t majorFPGAVersion = 0;
    uint8_t majorXLVersion = 0;
    STATUS_T status{};
    bool available = false;
    bool ready_for_commands = false;
    bool wasConnected = false;
    timer_t powerUpTimer;
    timer_t timer;
    unsigned okcount = 0;
    char algofilename[FILENAME_SIZE] = {};
    char datafilename[FILENAME_SIZE] = {};
    char fpgafilename[FILENAME_SIZE] = {};
    std::function<void(bool)> cameraRail;
    Waits waits;

    // Remembered settings.
    uint32_t cam_gain = 0;
    uint32_t cam_exposure_time = 0;
    uint32_t cam_black_level = 0;
    uint32_t cam_sharpness = 0;
    uint32_t cam_contrast = 0;
    bool cam_horiz_invert = false;
    bool cam_vert_invert = false;
    uint32_t last_black_level = 0;
    uint32_t last_contrast = 0;
    bool black_level_accepted = false;
    bool contrast_accepted = false;
    uint16_t AWBvalid = 0;
    uint32_t AWBred = 256;
    uint32_t AWBgreen = 256;
    uint32_t AWBblue = 256;
    uint32_t colourGain[3] = {5, 5, 5};
    int ColourCorrectionProfile = 0;
    bool shadowChromaAutoCorrect = false;
    uint8_t shutter_position = 0;
    bool shutter_autobrightness = true;
    std::string shutter_angle_string;
    std::string shutter_brightness_red;
    std::string shutter_brightness_green;
    std::string shutter_brightness_blue;
    uint32_t hdrMode = 0;
    uint32_t hdrRatio = 0;
    uint32_t hdrExposure = 0;
    int32_t hdrGammaIndex = -1;
    int32_t hdrColourEnhancement = -1;
    std::list<std::string> aberration_points;
};
