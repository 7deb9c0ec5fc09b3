#include "controller/camera/CameraBoard.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "common/get_hex.h"
#include "common/logfile.h"
#include "common/timeout.h"
#include "controller/core/devices.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"

std::unique_ptr<CameraBoard> camera_board;

namespace {

constexpr const char* SERIAL_BY_ID = "/dev/serial/by-id";
constexpr const char* BOARD_NAMES[] = {"Marovec_Ostrix_Camera_Board", "Marovec_QLM_Camera_Board"};
constexpr size_t PORT_NAME_SIZE = 512;

constexpr int CAM_PWRON_N_Pin = 35;
constexpr int CONSTRUCTOR_BOOT_MS = 1;
constexpr int END_MESSAGE_WAIT_MS = 1;
constexpr int WAKE_RETRY_MS = 100;
constexpr int POLL_MS = 1;

// Line set-up: VTIME counts tenths of a second.
constexpr uint8_t DEFAULT_VTIME = 10;
constexpr uint8_t RECEPTION_VTIME = 1;
constexpr int MS_PER_TENTH = 100;
// A board that keeps sending without ever starting or ending a reply must not hold the
// main loop: the reply must start within the command's timeout and a line take at most
// this long (640 characters need 61 ms at 115200 baud).
constexpr int MAX_LINE_MS = 1000;

constexpr uint8_t QUERY_TIMEOUT = 100; // 10 s
constexpr uint8_t XL_QUERY_TIMEOUT = 1;
constexpr size_t STATUS_RESPONSE_LENGTH = 11;
constexpr int STATUS_WORD_DIGITS = 9; // a blank and 8 digits
constexpr unsigned OK_REPORT_INTERVAL = 1000;

constexpr char MESSAGE_START = '$';
constexpr char MESSAGE_END = '\n';
constexpr char RESPONSE_START = '#';
constexpr char BINARY_MARK = '!';
constexpr char RUN_MARK = '*';
constexpr int MIN_RUN_FOLLOWERS = 3; // a run needs more than 3 equal bytes after the first
constexpr int MAX_RUN_FOLLOWERS = 255;

using Clock = std::chrono::steady_clock;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

CameraBoard::CameraBoard(const char* algofile, const char* datafile, const char* fpgafile)
    : powerUpTimer(no_timeout()), timer(no_timeout()) {
    logprintf("CB: Constructor\n");
    logprintf("CB: Constructor Start Timer\n");
    start_timeout("CB: PowerUp", &powerUpTimer, CONSTRUCTOR_BOOT_MS, 0);
    logprintf("CB: Constructor PWROn pin\n");
    pinMode(CAM_PWRON_N_Pin, INPUT);
    logprintf("CB: Constructor Check Port\n");
    if (OpenPort(true)) {
        logprintf("CB: Port Opened OK.\n");
        available = true;
        ClosePort(true);
        wasConnected = true;
        ready_for_commands = true;
    } else {
        logprintf("CB: Failed to Open Camera Board Port\n");
    }
    logprintf("CB: Constructor Filenames\n");
    if (algofile) {
        snprintf(algofilename, sizeof algofilename, "%s", algofile);
    }
    if (datafile) {
        snprintf(datafilename, sizeof datafilename, "%s", datafile);
    }
    if (fpgafile) {
        snprintf(fpgafilename, sizeof fpgafilename, "%s", fpgafile);
    }
    logprintf("CB: Constructor Camera Versions\n");
    logVersions();
    logprintf("CB: Constructor Chroma Shift\n");
    logprintf("CB: Constructor AWB\n");
    setColourCorrectionProfile(0);
    logprintf("CB: Constructor complete\n");
}

CameraBoard::~CameraBoard() {
    closeStream();
    delete_timeout(&powerUpTimer);
    delete_timeout(&timer);
}

void CameraBoard::logVersions() {
    majorVersion = minorVersion = majorFPGAVersion = majorXLVersion = 0;
    if (getVersion(&majorVersion, &minorVersion) == 0) {
        logprintf("CB: Camera Board Software v%d.%d\n", majorVersion, minorVersion);
    }
    if (getFPGAVersion(&majorFPGAVersion) == 0) {
        logprintf("CB: Camera Board FPGA v%d\n", majorFPGAVersion);
    }
    if (getXLVersion(&majorXLVersion) == 0) {
        logprintf("CB: Camera Board XL v%d\n", majorXLVersion);
    }
}

void CameraBoard::waitMs(timer_t* handle, const char* identifier, int ms) {
    if (ms <= 0) {
        return;
    }
    start_timeout(identifier, handle, ms, 0);
    while (!timeout_expired(handle, 0, 0)) {
        sleepMs(POLL_MS);
    }
}

// ---- Port ----------------------------------------------------------------------------

CameraBoard::PortScan CameraBoard::scanPorts() {
    PortScan scan;
    DIR* dir = opendir(platform::sysPath(SERIAL_BY_ID).c_str());
    if (!dir) {
        scan.folderMissing = true;
        return scan;
    }
    // The last matching entry in directory order wins.
    while (dirent* entry = readdir(dir)) {
        for (const char* name : BOARD_NAMES) {
            if (strstr(entry->d_name, name)) {
                scan.name = std::string(SERIAL_BY_ID) + "/" + entry->d_name;
            }
        }
    }
    closedir(dir);
    return scan;
}

int CameraBoard::FindPortByName(char* filename, bool prints) {
    std::lock_guard<std::mutex> held(portScanLock);
    if (!portWatch) {
        portWatch = std::make_unique<DirectoryWatch>(platform::sysPath(SERIAL_BY_ID));
    }
    if (portWatch->changed()) {
        lastScan = scanPorts();
    }
    if (lastScan.folderMissing) {
        if (prints) {
            logprintf("CB:No Camera Board detected\n");
        }
        return -1;
    }
    if (lastScan.name.empty()) {
        return -1;
    }
    snprintf(filename, PORT_NAME_SIZE, "%s", lastScan.name.c_str());
    return 0;
}

// Closes stream and descriptor without the OK report; fdopen made the stream own myfd.
void CameraBoard::closeStream() {
    if (fd) {
        fclose(fd);
    } else if (myfd >= 0) {
        close(myfd);
    }
    fd = nullptr;
    myfd = -1;
}

int CameraBoard::OpenPort(bool prints) {
    if (prints) {
        logprintf("CB: Open Port\n");
    }
    if (!timeout_expired(&powerUpTimer, 0, 0)) {
        logprintf("CB: waiting for Camera Board boot\n");
        while (!timeout_expired(&powerUpTimer, 0, 0)) {
            sleepMs(POLL_MS);
        }
    }
    // A port still open from an unpaired open would otherwise leak its descriptor.
    closeStream();
    char filename[PORT_NAME_SIZE];
    if (FindPortByName(filename, prints) != 0) {
        if (prints) {
            logprintferror("CB: ERROR: No Camera Serial Port");
        }
        return 0;
    }
    // O_NOCTTY: the controller runs without a terminal, and the camera port must never
    // become its controlling terminal (unplugging the board would then hang it up).
    myfd = open(platform::sysPath(filename).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (myfd < 0) {
        if (prints) {
            logprintferror("CB: ERROR: %d Failed to open Camera port with Error %d", myfd, errno);
        }
        return 0;
    }
    fd = fdopen(myfd, "rb");
    if (!fd) {
        closeStream();
        return 0;
    }
    termios tty{};
    tcgetattr(myfd, &tty);
    cfsetospeed(&tty, B115200);
    cfsetispeed(&tty, B115200);
    tty.c_cflag = (tty.c_cflag & ~(CSIZE | PARODD | CSTOPB | CRTSCTS)) | CS8 | PARENB | CREAD | CLOCAL;
    tty.c_iflag &= ~(ICRNL | IXON | IXOFF | IXANY);
    tty.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    tty.c_oflag &= ~OPOST;
    tty.c_cc[VMIN] = 0;
    tty.c_cc[VTIME] = DEFAULT_VTIME;
    if (platform::serialSetLine(myfd, tty) != 0 && prints) {
        logprintferror("CB: Error: %d from tcsetattr", errno);
    }
    return myfd >= 0 ? 1 : 0;
}

int CameraBoard::ClosePort(bool prints) {
    if (prints) {
        logprintf("CB: Close Port\n");
    }
    if (fd) {
        if (okcount > 0) {
            logprintfblue("#OK x %u\n", okcount);
            okcount = 0;
        }
    }
    closeStream();
    return 1;
}

// ---- Sending ----------------------------------------------------------------------------

int CameraBoard::writeBytes(const void* data, size_t length) {
    if (myfd < 0) {
        return -1;
    }
    return static_cast<int>(write(myfd, data, length));
}

int CameraBoard::StartMessage(bool prints) {
    if (!OpenPort(prints)) {
        logprintferror("CB: ERROR: Failed to open Camera Port in StartMessage()");
        return 0;
    }
    // A reply that came after its command was given up on is still waiting in the port:
    // it would pass for this command's answer, so it goes before the command is sent.
    tcflush(myfd, TCIFLUSH);
    const char start = MESSAGE_START;
    return writeBytes(&start, 1) == 1 ? 1 : 0;
}

int CameraBoard::sendString(const char* s) {
    if (myfd < 0) {
        return 0;
    }
    int length = static_cast<int>(strlen(s));
    int sent = writeBytes(s, static_cast<size_t>(length));
    if (sent != length) {
        logprintferror("CB: ERROR: CameraBoard::sendString only sent %d bytes out of %d, errno = %d", sent,
                       length, errno);
        return 0;
    }
    return 1;
}

int CameraBoard::EndMessage(bool close) {
    const char end = MESSAGE_END;
    int ok = writeBytes(&end, 1) == 1 ? 1 : 0;
    sleepMs(END_MESSAGE_WAIT_MS);
    if (close) {
        ClosePort(false);
    }
    return ok;
}

int CameraBoard::sendMessage(const char* s) {
    int ok = StartMessage(true);
    ok = ok && sendString(s);
    ok = EndMessage(true) && ok;
    return ok;
}

int CameraBoard::sendMessageWaitForResponse(const char* command, uint8_t timeout, bool prints) {
    int result = 0;
    if (prints) {
        logprintf("CB:   Start '%s'\n", command);
    }
    if (StartMessage(prints)) {
        if (prints) {
            logprintf("CB:   Mess '%s'\n", command);
        }
        if (sendString(command)) {
            if (prints) {
                logprintf("CB:   End '%s'\n", command);
            }
            if (EndMessage(false)) {
                if (prints) {
                    logprintf("CB:   Wait '%s'\n", command);
                }
                result = waitForResponse(timeout, prints) == CMD_OK ? 1 : 0;
            }
        }
    }
    ClosePort(false);
    if (prints) {
        logprintf("CB: Comport closed\n");
    }
    return result;
}

// ---- Receiving ----------------------------------------------------------------------------

void CameraBoard::setReadTimeout(uint8_t tenths) {
    termios tty{};
    if (tcgetattr(myfd, &tty) == 0) {
        tty.c_cc[VTIME] = tenths;
        tcsetattr(myfd, TCSANOW, &tty);
    }
}

// One byte, or -1 when none came within the port's read timeout (or the link is gone).
int CameraBoard::readByte() {
    int c = fgetc(fd);
    if (c == EOF) {
        clearerr(fd);
        return -1;
    }
    return c;
}

cmd_results_t CameraBoard::waitForResponse(uint8_t timeout, bool prints) {
    response_str[0] = '\0';
    if (!fd) {
        return CMD_FAILED;
    }
    setReadTimeout(timeout);
    const auto startBy = Clock::now() + std::chrono::milliseconds(timeout * MS_PER_TENTH);
    for (;;) {
        int c = readByte();
        if (c < 0 || Clock::now() > startBy) {
            logprintferror("CB: Timeout waiting for message start");
            return CMD_TIMEOUT;
        }
        if (c == RESPONSE_START) {
            break;
        }
    }
    setReadTimeout(RECEPTION_VTIME);
    const auto endBy = Clock::now() + std::chrono::milliseconds(MAX_LINE_MS);
    size_t length = 0;
    for (;;) {
        int c = readByte();
        if (c < 0 || Clock::now() > endBy) {
            response_str[length] = '\0';
            logprintferror("CB: ERROR: Timeout during message reception\n");
            return CMD_TIMEOUT;
        }
        if (c == MESSAGE_END) {
            break;
        }
        if (length < RESPONSE_SIZE - 1) {
            response_str[length++] = static_cast<char>(c);
        }
    }
    response_str[length] = '\0';
    if (length == 0) {
        return CMD_LENGTH;
    }
    if (strncmp(response_str, "BAD", 3) == 0) {
        return CMD_FAILED;
    }
    if (strncmp(response_str, "OK", 2) == 0) {
        okcount++;
        if (okcount == 1) {
            logprintfblue("#OK\n");
        } else if (okcount % OK_REPORT_INTERVAL == 0) {
            logprintfblue("#OK x %u,\n", okcount);
        }
        return CMD_OK;
    }
    if (okcount > 0) {
        logprintfblue("#OK x %u.\n", okcount);
        okcount = 0;
    }
    if (prints) {
        logprintfblue("#%s\n", response_str);
    }
    return CMD_OK;
}

cmd_results_t CameraBoard::getOK(const std::string& caller) {
    if (strcmp(response_str, "OK") == 0) {
        logprintf("CB: getOK() passed caller %s\n", caller.c_str());
        return CMD_OK;
    }
    logprintf("CB: getOK() failed caller %s\n", caller.c_str());
    return CMD_FAILED;
}

// ---- Payload encodings ----------------------------------------------------------------------

int CameraBoard::sendBinary(const char* data, uint8_t lengthminus1) {
    if (myfd < 0) {
        return -1;
    }
    const char mark = BINARY_MARK;
    if (writeBytes(&mark, 1) != 1) {
        logprintferror("CB: ERROR: sendBinary() couldn't send shriek, errno = %d\n", errno);
        return -1;
    }
    if (writeBytes(&lengthminus1, 1) != 1) {
        logprintferror("CB: ERROR: sendBinary() couldn't send length, errno = %d\n", errno);
        return -1;
    }
    int length = lengthminus1 + 1;
    int sent = writeBytes(data, static_cast<size_t>(length));
    if (sent != length) {
        logprintferror("CB: ERROR: sendBinary() only sent %d bytes out of %d, errno = %d\n", sent, length,
                       errno);
        return -1;
    }
    return 0;
}

int CameraBoard::sendRLE(char data, uint8_t lengthminus1) {
    if (myfd < 0) {
        return -1;
    }
    const char mark = RUN_MARK;
    if (writeBytes(&mark, 1) != 1) {
        logprintferror("CB: ERROR: sendRLE() couldn't send star, errno = %d\n", errno);
        return -1;
    }
    if (writeBytes(&lengthminus1, 1) != 1) {
        logprintferror("CB: ERROR: sendRLE() couldn't send length, errno = %d\n", errno);
        return -1;
    }
    if (writeBytes(&data, 1) != 1) {
        logprintferror("CB: ERROR: sendRLE() couldn't send data, errno = %d\n", errno);
        return -1;
    }
    return 0;
}

int CameraBoard::sendHexByte(uint8_t value) {
    char hex[3];
    snprintf(hex, sizeof hex, "%02X", value);
    return writeBytes(hex, 2) == 2 ? 0 : -1;
}

uint8_t CameraBoard::countConsecutiveBytes(const char* data, uint8_t startindex, uint8_t lengthminus1) {
    int count = 0;
    for (int i = startindex + 1;
         i <= lengthminus1 && data[i] == data[startindex] && count < MAX_RUN_FOLLOWERS; ++i) {
        ++count;
    }
    return static_cast<uint8_t>(count);
}

int CameraBoard::sendRLEBinary(const char* data, uint8_t lengthminus1) {
    if (myfd < 0) {
        return -1;
    }
    const int n = lengthminus1 + 1;
    int i = 0;
    while (i < n) {
        int r = i;
        while (r < n &&
               countConsecutiveBytes(data, static_cast<uint8_t>(r), lengthminus1) <= MIN_RUN_FOLLOWERS) {
            ++r;
        }
        if (r == i) {
            uint8_t c = countConsecutiveBytes(data, static_cast<uint8_t>(i), lengthminus1);
            sendRLE(data[i], c);
            i += c + 1;
        } else if (r - i >= 2) {
            sendBinary(data + i, static_cast<uint8_t>(r - i - 1));
            i = r;
        } else {
            sendHexByte(static_cast<uint8_t>(data[i]));
            ++i;
        }
    }
    return 0;
}

int CameraBoard::sendDataArray(uint8_t* data, uint16_t len) {
    for (uint16_t i = 0; i < len; ++i) {
        if (sendHexByte(data[i]) != 0) {
            return -1;
        }
    }
    return 0;
}

// ---- Queries ----------------------------------------------------------------------------

int CameraBoard::getVersion(uint8_t* major, uint8_t* minor) {
    logprintf("CB: Get Version ======================================\n");
    unsigned ma = 0, mi = 0;
    if (sendMessageWaitForResponse("UV", QUERY_TIMEOUT, true) &&
        sscanf(response_str, "%*s %02x %02x", &ma, &mi) == 2) {
        *major = static_cast<uint8_t>(ma);
        *minor = static_cast<uint8_t>(mi);
        return 0;
    }
    logprintferror("CB: ERROR: getVersion() failed!");
    return -1;
}

int CameraBoard::getFPGAVersion(uint8_t* major) {
    unsigned v = 0;
    if (sendMessageWaitForResponse("GV", QUERY_TIMEOUT, true) && sscanf(response_str, "%*s %02x", &v) == 1) {
        *major = static_cast<uint8_t>(v);
        return 0;
    }
    logprintferror("CB: ERROR: getFPGAVersion() failed!");
    return -1;
}

int CameraBoard::getXLVersion(uint8_t* major) {
    unsigned v = 0;
    if (sendMessageWaitForResponse("XV", XL_QUERY_TIMEOUT, true) &&
        sscanf(response_str, "%*s %02x", &v) == 1) {
        *major = static_cast<uint8_t>(v);
        return 0;
    }
    logprintferror("CB: ERROR: getXLVersion() failed!");
    return -1;
}

cmd_results_t CameraBoard::getStatus(STATUS_T* st) {
    if (!sendMessageWaitForResponse("US", QUERY_TIMEOUT, true)) {
        logprintferror("CB: ERROR Failed to Get Status\n");
        return CMD_BAD;
    }
    if (strlen(response_str) != STATUS_RESPONSE_LENGTH || strncmp(response_str, "US", 2) != 0) {
        return CMD_BAD;
    }
    const char* text = response_str + 2;
    int left = STATUS_WORD_DIGITS;
    uint32_t word = 0;
    if (get_hex32(&text, &left, &word) != CMD_OK) {
        return CMD_BAD;
    }
    status.word = word;
    *st = status;
    return CMD_OK;
}

void CameraBoard::firmware_version(uint32_t* major, uint32_t* minor) const {
    *major = majorVersion;
    *minor = minorVersion;
}
void CameraBoard::fpga_version(uint32_t* major) const {
    *major = majorFPGAVersion;
}
void CameraBoard::xl_version(uint32_t* major) const {
    *major = majorXLVersion;
}

// ---- Power and presence --------------------------------------------------------------------

void CameraBoard::PowerOn(bool prints) {
    if (prints) {
        logprintf("CB:Camera Board ON\n");
    }
    start_timeout("CB: PowerUp", &powerUpTimer, waits.powerUpMs, 0);
    if (cameraRail) {
        cameraRail(true);
    }
}

void CameraBoard::PowerOff() {
    logprintf("CB:Camera Board OFF\n");
    if (cameraRail) {
        cameraRail(false);
    }
    // The board holds CAM_PWRON_N low while it still has power: the rail did not go off,
    // so a wake-up need not wait for it to boot again.
    if (digitalRead(CAM_PWRON_N_Pin) == LOW) {
        ClosePort(false);
        available = false;
    }
}

void CameraBoard::shut_down() {
    ready_for_commands = false;
    PowerOff();
}

void CameraBoard::wake_up(bool prints) {
    if (!available) {
        return;
    }
    start_timeout("CB: Wake", &timer, waits.wakeOpenMs, 0);
    while (!timeout_expired(&timer, 0, 0)) {
        if (OpenPort(prints)) {
            ClosePort(prints);
            break;
        }
        sleepMs(WAKE_RETRY_MS);
    }
    waitMs(&timer, "CB: Wake settle", waits.wakeSettleMs);
    ready_for_commands = true;
    setGain(cam_gain);
    invertHorizontalOutput(cam_horiz_invert);
    invertVerticalOutput(cam_vert_invert);
    setExposureTime(cam_exposure_time);
    setBlackLevel(cam_black_level);
    setSharpness(cam_sharpness);
    setContrast(cam_contrast);
    uploadLensAbberationPoints();
    logprintf("CB: wake_up setWhiteBalance\n");
    setWhiteBalance();
    setShutterAngles("");
    setShutterPosition(shutter_position);
    setShutterAutobrightness(shutter_autobrightness);
    setColourCorrectionProfile(ColourCorrectionProfile);
}

bool CameraBoard::connected() {
    if (!available) {
        if (OpenPort(false)) {
            available = true;
            ClosePort(false);
        } else {
            available = false;
        }
    }
    return available;
}

int CameraBoard::isConnected() {
    char filename[PORT_NAME_SIZE];
    if (FindPortByName(filename, false) == 0) {
        if (wasConnected) {
            return 0;
        }
        wasConnected = true;
        // The link is there, so the port can be opened: a board plugged in after start-up
        // must get its settings too.
        available = true;
        return 1;
    }
    if (!wasConnected) {
        return 0;
    }
    ClosePort(false);
    logprintf("CB: Camera Board removed\n");
    wasConnected = false;
    ready_for_commands = false;
    return -1;
}

void CameraBoard::updateSettings() {
    logprintf("CB:Camera Board new connection\n");
    wake_up(true);
    logVersions();
}
