#include "controller/core/ControllerKeys.h"

#include "common/logfile.h"

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

void divergeIn() {
    if (StereoSeparation > 0) {
        --StereoSeparation;
    }
    apply_stereo_separation();
}

void divergeOut() {
    ++StereoSeparation;
    apply_stereo_separation();
}

void resetDivergence() {
    StereoSeparation = 0;
    apply_stereo_separation();
}

} // namespace

void apply_backlight_scales() {
    // [fpga] give the FPGA backlightScale[LEFT] and [RIGHT], then set the backlight of
    //        both displays to shadow_settings[SETT_DISPLAY_BRIGHTNESS] again.
}

void apply_stereo_separation() {
    // [fpga] apply the display shifts with separation: left pixel offset - StereoSeparation,
    //        right pixel offset + StereoSeparation, line offsets unchanged; then log
    //        "MAIN: Align Diverge, Left Pixel Offset %d\n" and
    //        "MAIN: Align Diverge, Right Pixel Offset %d\n" with the two shifted offsets.
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
        // [capture] capture an image.
        break;
    case UKEY_ALIGN_MODE:
        logprintf("MAIN: Align Mode %d\n", static_cast<int>(msg.data));
        // [fpga] alignment mode: word 2 = 1 shows MESS_ENTERING_WARP_ALIGN for 3 s; the FPGA's
        //        alignment mode = word 2; word 2 = 0 saves the alignment file and shows
        //        MESS_LEAVING_WARP_ALIGN for 3 s.
        break;
    case UKEY_ALIGN_RESET:
    case UKEY_ALIGN_LEFT:
    case UKEY_ALIGN_RIGHT:
    case UKEY_ALIGN_UP:
    case UKEY_ALIGN_DOWN:
    case UKEY_ALIGN_ROTR:
    case UKEY_ALIGN_ROTL:
        // [fpga] alignment step of channel word 2 & 1 (word 2 > 1 is ignored for some keys).
        break;
    case UKEY_SETREFERENCEFRAME:
        logprintf("MAIN: UKEY_SETREFERENCEFRAME\n");
        // [camera] take the current frame as the auto-brightness reference.
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
    StereoSeparation = 0;
    backlightScale[LEFT_DISPLAY] = BACKLIGHT_SCALE_MAX;
    backlightScale[RIGHT_DISPLAY] = BACKLIGHT_SCALE_MAX;
}
