#include "controller/core/ControllerKeys.h"

#include "common/logfile.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/ImageCapture.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/alignment.h"
#include "controller/core/devices.h"
#include "controller/fpga/fpga.h"

int StereoSeparation = 0;
unsigned backlightScale[DISPLAY_CHANNELS] = {BACKLIGHT_SCALE_MAX, BACKLIGHT_SCALE_MAX};

namespace {

constexpr uint32_t KEY_CODE_MASK = 0xFF;
constexpr int LEFT_DISPLAY = 0;
constexpr int RIGHT_DISPLAY = 1;

void raiseScale(int display) {
    if (backlightScale[display] < BACKLIGHT_SCALE_MAX) {
        ++backlightScale[display];
    }
    apply_backlight_scales();
}

void lowerScale(int display) {
    if (backlightScale[display] > BACKLIGHT_SCALE_MIN) {
        --backlightScale[display];
    }
    apply_backlight_scales();
}

void resetScales() {
    backlightScale[LEFT_DISPLAY] = BACKLIGHT_SCALE_MAX;
    backlightScale[RIGHT_DISPLAY] = BACKLIGHT_SCALE_MAX;
    apply_backlight_scales();
}

// The stepping keys report the offsets they lead to; a reset only applies them.
void logDivergence() {
    logprintf("MAIN: Align Diverge, Left Pixel Offset %d\n",
              WarpPixelSourceOffset[LEFT_DISPLAY] - StereoSeparation);
    logprintf("MAIN: Align Diverge, Right Pixel Offset %d\n",
              WarpPixelSourceOffset[RIGHT_DISPLAY] + StereoSeparation);
}

void divergeIn() {
    if (StereoSeparation > 0) {
        --StereoSeparation;
    }
    apply_stereo_separation();
    logDivergence();
}

void divergeOut() {
    if (StereoSeparation < StereoSeparationMax) {
        ++StereoSeparation;
    }
    apply_stereo_separation();
    logDivergence();
}

void resetDivergence() {
    StereoSeparation = 0;
    apply_stereo_separation();
}

} // namespace

void apply_backlight_scales() {
    if (fpga) {
        fpga->setBacklightScaling(backlightScale[LEFT_DISPLAY], backlightScale[RIGHT_DISPLAY]);
    }
    apply_display_brightness();
}

void apply_stereo_separation() {
    apply_display_shift(LEFT_DISPLAY, true);
    apply_display_shift(RIGHT_DISPLAY, true);
}

void handle_key(const message_s& msg) {
    const uint32_t key = msg.command & KEY_CODE_MASK;
    switch (key) {
    case UKEY_P_UP:
        logprintf("MAIN: Programmable UP Key Press\n");
        break;
    case UKEY_P_DOWN:
        logprintf("MAIN: Programmable DOWN Key Press\n");
        break;
    case UKEY_P_IMAGECAPTURE:
        capture_image();
        break;
    case UKEY_ALIGN_MODE:
        logprintf("MAIN: Align Mode %d\n", static_cast<int>(msg.data));
        align_mode_key(msg.data);
        break;
    case UKEY_ALIGN_RESET:
    case UKEY_ALIGN_LEFT:
    case UKEY_ALIGN_RIGHT:
    case UKEY_ALIGN_UP:
    case UKEY_ALIGN_DOWN:
    case UKEY_ALIGN_ROTR:
    case UKEY_ALIGN_ROTL:
        align_step_key(key, msg.data);
        break;
    case UKEY_SETREFERENCEFRAME:
        logprintf("MAIN: UKEY_SETREFERENCEFRAME\n");
        if (camera_board) {
            camera_board->setAutobrightnessReferenceFrame();
        }
        break;
    case UKEY_BRIGHTNESS_LEFT_INC:
        raiseScale(LEFT_DISPLAY);
        break;
    case UKEY_BRIGHTNESS_LEFT_DEC:
        lowerScale(LEFT_DISPLAY);
        break;
    case UKEY_BRIGHTNESS_RIGHT_INC:
        raiseScale(RIGHT_DISPLAY);
        break;
    case UKEY_BRIGHTNESS_RIGHT_DEC:
        lowerScale(RIGHT_DISPLAY);
        break;
    case UKEY_DIVERGENT_IN:
        divergeIn();
        break;
    case UKEY_DIVERGENT_OUT:
        divergeOut();
        break;
    case UKEY_DIVERGENT_RESET:
        resetDivergence();
        break;
    case UKEY_BRIGHTNESS_RESET:
        resetScales();
        break;
    default:
        logprintf("MAIN: Unhandled Key Press %d\n", static_cast<int>(key));
        break;
    }
}

void reset_controller_keys() {
    reset_alignment();
    StereoSeparation = 0;
    backlightScale[LEFT_DISPLAY] = BACKLIGHT_SCALE_MAX;
    backlightScale[RIGHT_DISPLAY] = BACKLIGHT_SCALE_MAX;
}
