#include "sim/board/PowerView.h"

#include "sim/board/Json.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FrontPanel.h"
#include "sim/chips/LightingModels.h"
#include "sim/chips/Ltc2977.h"

namespace sim {

namespace {

const char* const kHelp =
    "power                      the power state: rails, backlights, lights, camera, LED\n";

constexpr int kDisplays = 2;
const char* const kDisplayNames[kDisplays] = {"left", "right"};
// The Pi's own supply is not switched by the power sequence: it does not make the board on.
constexpr int kPiRailPage = 5;

const char* ledName(int code) {
    switch (code) {
    case PowerView::kLedStandby:
        return "standby";
    case PowerView::kLedOperating:
        return "operating";
    case PowerView::kLedBusy:
        return "busy";
    case -1:
        return "not driven";
    default:
        return "dark";
    }
}

} // namespace

PowerView::Snapshot PowerView::snapshot() const {
    Snapshot s;
    if (const auto* ltc = board_.find<Ltc2977>()) {
        for (int p = 0; p < Ltc2977::kPages; ++p) {
            s.anyRailOn = s.anyRailOn || (p != kPiRailPage && ltc->railOn(p));
        }
    }
    if (const auto* camera = board_.find<CameraBoardModel>()) {
        s.cameraPowered = camera->present();
    }
    if (const auto* lights = board_.find<LightingExpander>()) {
        for (int c = 0; c < LightingExpander::kLightChannels; ++c) {
            s.anyLightLit = s.anyLightLit || lights->lit(c);
        }
    }
    if (const auto* fpga = board_.find<DisplayFpga>()) {
        for (int d = 0; d < kDisplays; ++d) {
            s.anyBacklightLit = s.anyBacklightLit || fpga->registerValue(d, fpga_regs::kBacklight) != 0;
        }
    }
    if (const auto* panel = board_.find<FrontPanelExpander>()) {
        s.led = panel->ledCode();
    }
    return s;
}

std::string PowerView::summary(const Snapshot& s) {
    if (s.led == kLedStandby) {
        return "standby";
    }
    if (s.cameraPowered || s.anyLightLit || s.anyBacklightLit || s.led == kLedOperating ||
        s.led == kLedBusy) {
        return "operating";
    }
    return s.anyRailOn ? "standby" : "off";
}

std::string PowerView::state() const {
    return summary(snapshot());
}

std::string PowerView::report() const {
    const Snapshot s = snapshot();
    JsonObject o;
    o.add("state", summary(s));
    JsonObject rails;
    if (const auto* ltc = board_.find<Ltc2977>()) {
        for (int p = 0; p < Ltc2977::kPages; ++p) {
            rails.add(Ltc2977::railName(p), ltc->railOn(p));
        }
    }
    o.addRaw("rails", rails.str());
    JsonObject backlights;
    if (const auto* fpga = board_.find<DisplayFpga>()) {
        for (int d = 0; d < kDisplays; ++d) {
            backlights.add(kDisplayNames[d], static_cast<int>(fpga->registerValue(d, fpga_regs::kBacklight)));
        }
    }
    o.addRaw("backlights", backlights.str());
    JsonArray lit;
    if (const auto* lights = board_.find<LightingExpander>()) {
        o.add("lighting_supply", lights->supplyOn());
        for (int c = 0; c < LightingExpander::kLightChannels; ++c) {
            if (lights->lit(c)) {
                lit.add(c);
            }
        }
    }
    o.addRaw("lights_lit", lit.str());
    o.add("camera_power", s.cameraPowered);
    o.add("led", s.led);
    o.add("led_colour", ledName(s.led));
    return o.str();
}

void PowerView::addStatus(JsonObject& status) const {
    status.addRaw("power", report());
}

std::optional<CommandResult> PowerView::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "power") {
        return std::nullopt;
    }
    if (args.size() != 1) {
        return CommandResult{false, "usage: power\n"};
    }
    return CommandResult{true, report() + "\n"};
}

std::string PowerView::help() const {
    return kHelp;
}

} // namespace sim
