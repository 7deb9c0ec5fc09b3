#include "sim/board/Board.h"
#include "sim/board/PowerView.h"
#include "sim/buses/I2cBus.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/AudioCodec.h"
#include "sim/chips/ClockGenerator.h"
#include "sim/chips/ConfigFlash.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FrontPanel.h"
#include "sim/chips/HdmiReceiver.h"
#include "sim/chips/HdmiTransmitter.h"
#include "sim/chips/LightingModels.h"
#include "sim/chips/Ltc2977.h"
#include "sim/chips/UsbInput.h"
#include "sim/chips/UsbSticks.h"
#include "sim/chips/VideoBridge.h"

namespace sim {

// The board's parts list: one line per device model.
void createDevices(Board& board) {
    auto& i2c = static_cast<I2cBus&>(*board.add(std::make_unique<I2cBus>(board)));
    auto* ltc = static_cast<Ltc2977*>(board.add(std::make_unique<Ltc2977>(board, i2c)));
    auto* dac = static_cast<Ltc2625*>(board.add(std::make_unique<Ltc2625>(board, i2c)));
    board.add(std::make_unique<LightingExpander>(board, i2c, *dac));
    auto* camera = static_cast<CameraBoardModel*>(board.add(std::make_unique<CameraBoardModel>(board)));
    // The camera board's supply is the power manager's page 1 unless a test powers it by hand.
    if (board.config().get("camera.rail", "ltc2977") == "ltc2977") {
        camera->setRailProbe([ltc] { return ltc->railOn(Ltc2977::kCameraPage); });
        ltc->setRailListener([camera](int page) {
            if (page == Ltc2977::kCameraPage) {
                camera->railChanged();
            }
        });
    }
    board.add(std::make_unique<DisplayFpga>(board));
    board.add(std::make_unique<AudioCodec>(board, i2c));
    board.add(std::make_unique<ClockGenerator>(board, i2c));
    board.add(std::make_unique<FrontPanelExpander>(board, i2c));
    board.add(std::make_unique<UsbInput>(board));
    board.add(std::make_unique<UsbSticks>(board));
    // The power state, gathered from the chips when asked.
    board.add(std::make_unique<PowerView>(board));
    board.add(std::make_unique<ConfigFlash>(board));
    board.add(std::make_unique<VideoBridge>(board, i2c, true));
    board.add(std::make_unique<VideoBridge>(board, i2c, false));
    // HDMI receivers and transmitters of the left and right video channels; both
    // transmitters drive the one interrupt line.
    board.add(std::make_unique<HdmiReceiver>(board, i2c, 0));
    board.add(std::make_unique<HdmiReceiver>(board, i2c, 1));
    auto* txLeft = static_cast<HdmiTransmitter*>(board.add(std::make_unique<HdmiTransmitter>(board, i2c, 0)));
    auto* txRight =
        static_cast<HdmiTransmitter*>(board.add(std::make_unique<HdmiTransmitter>(board, i2c, 1)));
    txLeft->setPartner(txRight);
    txRight->setPartner(txLeft);
}

} // namespace sim
