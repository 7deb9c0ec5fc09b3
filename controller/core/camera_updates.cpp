#include "controller/core/camera_updates.h"

#include "common/logfile.h"
#include "common/messages.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/ConfigFile.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/devices.h"
#include "controller/core/power.h"

namespace {

bool boardAnswers() {
    return camera_board && camera_board->connected();
}

// A request runs only with a file name; it is cleared either way.
bool requested(int& request, const std::string& file, const char* what) {
    if (!request || file.empty()) {
        return false;
    }
    request = 0;
    logprintf("MAIN: Camera %s update requested from '%s'\n", what, loggable(file).c_str());
    if (!boardAnswers()) {
        logprintferror("MAIN: ERROR: No Camera Board connected: camera %s not updated", what);
        return false;
    }
    return true;
}

void report(int result, const char* what) {
    if (result == 0) {
        logprintf("MAIN: Camera %s update complete\n", what);
    } else {
        logprintferror("MAIN: ERROR: Camera %s update FAILED (%d)", what, result);
    }
}

} // namespace

void run_requested_camera_updates() {
    if (requested(camera_uC_update, controller_files.camera_uC_file, "uC")) {
        report(camera_board->update_uC(controller_files.camera_uC_file.c_str()), "uC");
    }
    if (requested(camera_fpga_update, controller_files.camera_fpga_file, "FPGA")) {
        report(camera_board->update_fpga(controller_files.camera_fpga_file.c_str()), "FPGA");
        uint32_t version = 0;
        camera_board->fpga_version(&version);
        queue_gui_message(uint32_t{tEV_VERSIONINFO} | CAMFPGA_VERSION, version);
    }
    ostrix_errstat &= ~ERR_NO_CAMERA_BOARD;
    const bool bridgeFiles = !controller_files.camera_crosslink_algo_file.empty() ||
                             !controller_files.camera_crosslink_data_file.empty();
    if (requested(camera_crosslink_update,
                  bridgeFiles ? controller_files.camera_crosslink_algo_file + " " +
                                    controller_files.camera_crosslink_data_file
                              : "",
                  "Crosslink")) {
        // The update picture stays up while the camera's bridge files are written.
        splash_screen(2);
        report(camera_board->crosslinkFilesToFlash(false), "Crosslink");
        splash_screen(0);
        uint32_t version = 0;
        camera_board->xl_version(&version);
        queue_gui_message(uint32_t{tEV_VERSIONINFO} | CAMXL_VERSION, version);
    }
    if (boardAnswers()) {
        STATUS_T status{};
        camera_board->getStatus(&status);
    }
}
