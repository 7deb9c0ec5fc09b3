// The controller-GUI messages: the two-word message, its 8-byte wire form, and the
// numbering of event codes, key codes, version ids and message numbers that both programs
// use. The transport (sockets, ports) is in common/CommsMessage.h, so code that only
// speaks in these numbers does not pull in the socket headers.
#pragma once

#include <cstddef>
#include <cstdint>

// One message: word 1 carries the event code in bits 31..24 and its parameter (key code,
// setting index, message number, version id or preset number) in bits 23..0; word 2 the
// event's value.
struct message_s {
    uint32_t command;
    uint32_t data;
};

// Event codes: the value of word 1 with parameter 0. Plain words rather than an
// enumeration, so that an event code combines with a key code, setting index or message
// number by a simple or.
constexpr uint32_t tEV_NONE = 0x00000000;
constexpr uint32_t tEV_KEY = 0x01000000;
constexpr uint32_t tEV_ACK = 0x20000000;
constexpr uint32_t tEV_EXIT = 0x30000000;
constexpr uint32_t tEV_COPYFB = 0x40000000;
constexpr uint32_t tEV_OVERLAY = 0x50000000;
constexpr uint32_t tEV_VERSIONINFO = 0x60000000;
constexpr uint32_t tEV_ZOOMINFO = 0x61000000;
constexpr uint32_t tEV_ZOOMVAL = 0x62000000;
constexpr uint32_t tEV_PRESETLOADED = 0x70000000;
constexpr uint32_t tEV_IMAGEFORMAT = 0x80000000;
constexpr uint32_t tEV_MESSAGE = 0x90000000;
constexpr uint32_t tEV_ACTION = 0xA0000000;
constexpr uint32_t tEV_PRESET = 0xB0000000;
constexpr uint32_t tEV_UPDATE = 0xC0000000;
constexpr uint32_t tEV_ACTION_BEEP = 0xD0000000;
constexpr uint32_t tEV_POWER_ON = 0xD1000000;
constexpr uint32_t tEV_POWER_OFF = 0xD2000000;
constexpr uint32_t tEV_REQUEST = 0xE0000000;
constexpr uint32_t tEV_SYSUPDATE = 0xF0000000;
constexpr uint32_t tEV_SAVELOG = 0xF1000000;

constexpr uint32_t tEV_COMMAND_MASK = 0xFF000000;
constexpr uint32_t tEV_PARAMETER_MASK = 0x00FFFFFF;

// Key codes: the parameter of tEV_KEY.
enum UKEY_t : uint32_t {
    UKEY_RIGHT = 0,
    UKEY_LEFT = 1,
    UKEY_UP = 2,
    UKEY_DOWN = 3,
    UKEY_SELECT = 4,
    UKEY_RING_UP = 5,
    UKEY_RING_DOWN = 6,
    UKEY_SUBSTAGE_UP = 7,
    UKEY_SUBSTAGE_DOWN = 8,
    UKEY_POWER = 9,
    UKEY_SYSUPDATE = 10,
    UKEY_P1 = 11,
    UKEY_P2 = 12,
    UKEY_P3 = 13,
    UKEY_P_UP = 14,
    UKEY_P_DOWN = 15,
    UKEY_P1_SHORT = 16,
    UKEY_P2_SHORT = 17,
    UKEY_P3_SHORT = 18,
    UKEY_P_IMAGECAPTURE = 19,
    UKEY_ALIGN_MODE = 20,
    UKEY_ALIGN_RESET = 21,
    UKEY_ALIGN_LEFT = 22,
    UKEY_ALIGN_RIGHT = 23,
    UKEY_ALIGN_UP = 24,
    UKEY_ALIGN_DOWN = 25,
    UKEY_ALIGN_ROTR = 26,
    UKEY_ALIGN_ROTL = 27,
    UKEY_SETREFERENCEFRAME = 28,
    UKEY_HDR_MODE_TOGGLE = 29,
    UKEY_HDR_RATIO_DOWN = 30,
    UKEY_HDR_RATIO_UP = 31,
    UKEY_HDR_EXPOSURE_DOWN = 32,
    UKEY_HDR_EXPOSURE_UP = 33,
    UKEY_BRIGHTNESS_LEFT_INC = 34,
    UKEY_BRIGHTNESS_LEFT_DEC = 35,
    UKEY_BRIGHTNESS_RIGHT_INC = 36,
    UKEY_BRIGHTNESS_RIGHT_DEC = 37,
    UKEY_DIVERGENT_IN = 38,
    UKEY_DIVERGENT_OUT = 39,
    UKEY_DIVERGENT_RESET = 40,
    UKEY_BRIGHTNESS_RESET = 41,
    UKEY_GAIN_UP = 42,
    UKEY_GAIN_DOWN = 43,
    UKEY_EXPOSURE_UP = 44,
    UKEY_EXPOSURE_DOWN = 45,
};

// The set-up mode carried in word 2 of a UKEY_ALIGN_MODE key.
enum SetupMode_t : uint32_t {
    NORMAL_MODE = 0,
    SETUP_MODE_ALIGN = 1,
    SETUP_MODE_DIVERGENT = 2,
    SETUP_MODE_BRIGHTNESS = 3,
};

// Version ids: the parameter of tEV_VERSIONINFO. Ids 0, 3 and 6 carry major << 16 | minor
// in word 2, the others a plain version number.
enum VersionId_t : uint32_t {
    APP_VERSION = 0,
    FPGA_VERSION = 1,
    VPXL_VERSION = 2,
    CAM_VERSION = 3,
    CAMFPGA_VERSION = 4,
    CAMXL_VERSION = 5,
    SYSTEM_VERSION = 6,
};

// Message numbers: the parameter of tEV_MESSAGE (word 2 = display time in ms). The GUI
// holds the texts; numbers 21..25 and 33 are not used, and 31 and 32 have no text.
enum MESS_t : uint32_t {
    MESS_NONE = 0,
    MESS_NO_USB_DRIVE = 1,
    MESS_SAVING_IMAGE = 2,
    MESS_CANNOT_SAVE_IMAGE = 3,
    MESS_APPLYING_PRESET = 4,
    MESS_SAVING_PRESET = 5,
    MESS_EXPORTING_PRESET = 6,
    MESS_IMPORTING_PRESET = 7,
    MESS_NO_PRESET_FILE = 8,
    MESS_NO_SETTINGS_IN_PRESET = 9,
    MESS_WHITE_BALANCE = 10,
    MESS_EXPORTING_SETTINGS = 11,
    MESS_IMPORTING_SETTINGS = 12,
    MESS_NO_SETTINGS_FILE = 13,
    MESS_NO_OVERLAY = 14,
    MESS_NO_OVERLAY_FILE = 15,
    MESS_INVALID_OVERLAY = 16,
    MESS_IMPORTING_OVERLAY = 17,
    MESS_AUTO_WB = 18,
    MESS_CLEAR_OVERLAY = 19,
    MESS_FACTORY_DEFAULTS = 20,
    MESS_CONFIRM = 26,
    MESS_CALIBRATION_MODE = 27,
    MESS_FP_LOCK_ON = 28,
    MESS_FP_LOCK_OFF = 29,
    MESS_FP_LOCK_ACTIVE = 30,
    MESS_USB_FLASH_INSERTED = 31,
    MESS_USB_FLASH_REMOVED = 32,
    MESS_UNIMPLEMENTED = 34,
    MESS_IMAGECAPTURE_NOT_AVAILABLE = 35,
    MESS_NO_FUNCTION_ASSIGNED = 36,
    MESS_PREPARING_CAMERA_BOARD = 37,
    MESS_CAMERA_BOARD_DISCONNECTED = 38,
    MESS_SYSTEM_SETTINGS_SAVED = 39,
    MESS_KEYPAD_CONNECTED = 40,
    MESS_KEYPAD_DISCONNECTED = 41,
    MESS_CANNOT_IMPORT_PRESET = 42,
    MESS_CANNOT_EXPORT_PRESET = 43,
    MESS_CANNOT_IMPORT_SETTINGS = 44,
    MESS_CANNOT_EXPORT_SETTINGS = 45,
    MESS_CANNOT_SAVE_SETTINGS = 46,
    MESS_AUTO_WB_COMPLETE = 47,
    MESS_CAMERA_GAIN = 48,
    MESS_CAMERA_EXPOSURE = 49,
    MESS_RING_QUADRANT_CONTROL = 50,
    MESS_SHUTTER_MOVEMENT = 51,
    MESS_DISPLAY_BRIGHTNESS = 52,
    MESS_DIGITAL_ZOOM = 53,
    MESS_CAMERA_WB = 54,
    MESS_NO_INPUT_DETECTED = 55,
    MESS_3D_SIGNAL_DETECTED = 56,
    MESS_CAMERA_GAIN_HOTKEY_ON = 57,
    MESS_CAMERA_EXPOSURE_HOTKEY_ON = 58,
    MESS_RING_QUADRANT_CONTROL_HOTKEY_ON = 59,
    MESS_SHUTTER_MOVEMENT_HOTKEY_ON = 60,
    MESS_DISPLAY_BRIGHTNESS_HOTKEY_ON = 61,
    MESS_DIGITAL_ZOOM_HOTKEY_ON = 62,
    MESS_CAMERA_WB_HOTKEY_ON = 63,
    MESS_CAMERA_GAIN_HOTKEY_OFF = 64,
    MESS_CAMERA_EXPOSURE_HOTKEY_OFF = 65,
    MESS_RING_QUADRANT_CONTROL_HOTKEY_OFF = 66,
    MESS_SHUTTER_MOVEMENT_HOTKEY_OFF = 67,
    MESS_DISPLAY_BRIGHTNESS_HOTKEY_OFF = 68,
    MESS_DIGITAL_ZOOM_HOTKEY_OFF = 69,
    MESS_CAMERA_WB_HOTKEY_OFF = 70,
    MESS_INFO_PANEL = 71,
    MESS_ENTERING_WARP_ALIGN = 72,
    MESS_LEAVING_WARP_ALIGN = 73,
    MESS_NO_IMAGE_FILES = 74,
    MESS_SET_TIME_BEFORE_UPDATING = 75,
};

// The wire form: exactly 8 bytes, word 1 then word 2, each most significant byte first.
constexpr size_t MESSAGE_WIRE_SIZE = 8;
using MessageWire = uint8_t[MESSAGE_WIRE_SIZE];

inline void encodeMessage(const message_s& msg, uint8_t* wire) {
    const uint32_t words[2] = {msg.command, msg.data};
    for (int w = 0; w < 2; ++w) {
        for (int k = 0; k < 4; ++k) {
            wire[4 * w + k] = static_cast<uint8_t>(words[w] >> (24 - 8 * k));
        }
    }
}

inline message_s decodeMessage(const uint8_t* wire) {
    uint32_t words[2] = {0, 0};
    for (int w = 0; w < 2; ++w) {
        for (int k = 0; k < 4; ++k) {
            words[w] = (words[w] << 8) | wire[4 * w + k];
        }
    }
    return message_s{words[0], words[1]};
}

// The event code (top byte of word 1, in place) and the parameter of a message word.
constexpr uint32_t eventCode(uint32_t command) {
    return command & tEV_COMMAND_MASK;
}
constexpr uint32_t eventParameter(uint32_t command) {
    return command & tEV_PARAMETER_MASK;
}
