// The window's parts that need no display: the front panel's chords, the keypad's keys,
// the drawing step, the status in words and the command line.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "tools/scope/ButtonChord.h"
#include "tools/scope/EyepieceFeed.h"
#include "tools/scope/KeypadMap.h"
#include "tools/scope/ScopeWindow.h"
#include "tools/scope/StatusStrip.h"

namespace {

using Commands = std::vector<std::vector<std::string>>;

constexpr int kSelect = 0, kUp = 1, kDown = 2, kPower = 5;

struct Step {
    enum Kind { Press, Release, LatchClick, LetGo } kind;
    int button;
};

struct ChordCase {
    const char* name;
    std::vector<Step> steps;
    Commands sent;
};

Commands play(const std::vector<Step>& steps) {
    scope::ButtonChord chord;
    Commands sent;
    for (const Step& s : steps) {
        scope::ButtonChord::Change change;
        switch (s.kind) {
        case Step::Press:
            change = chord.press(s.button, false);
            break;
        case Step::Release:
            change = chord.release(s.button, false);
            break;
        case Step::LatchClick:
            change = chord.press(s.button, true);
            chord.release(s.button, true);
            break;
        case Step::LetGo:
            change = chord.letGoAll();
            break;
        }
        for (auto& command : scope::buttonCommands(change)) {
            sent.push_back(command);
        }
    }
    return sent;
}

TEST(ButtonChordTest, ButtonsGoDownAndUpAsTheControllersCombinationsNeedThem) {
    const std::vector<ChordCase> cases = {
        {"a click",
         {{Step::Press, kSelect}, {Step::Release, kSelect}},
         {{"button", "BTN1", "press"}, {"button", "BTN1", "release"}}},
        // The update: SELECT and DOWN held while POWER is let go.
        {"update",
         {{Step::LatchClick, kSelect},
          {Step::LatchClick, kDown},
          {Step::Press, kPower},
          {Step::Release, kPower},
          {Step::LetGo, 0}},
         {{"button", "BTN1", "press"},
          {"button", "BTN3", "press"},
          {"button", "POWER", "press"},
          {"button", "POWER", "release"},
          {"button", "BTN1+BTN3", "release"}}},
        // Alignment: SELECT let go while UP and DOWN stay down.
        {"alignment",
         {{Step::LatchClick, kUp},
          {Step::LatchClick, kDown},
          {Step::Press, kSelect},
          {Step::Release, kSelect},
          {Step::LatchClick, kUp},
          {Step::LatchClick, kDown}},
         {{"button", "BTN2", "press"},
          {"button", "BTN3", "press"},
          {"button", "BTN1", "press"},
          {"button", "BTN1", "release"},
          {"button", "BTN2", "release"},
          {"button", "BTN3", "release"}}},
        // A latched button pressed and let go again stays down; a key held twice goes down once.
        {"latched stays",
         {{Step::LatchClick, kUp},
          {Step::Press, kUp},
          {Step::Release, kUp},
          {Step::Press, kDown},
          {Step::Press, kDown},
          {Step::Release, kDown}},
         {{"button", "BTN2", "press"}, {"button", "BTN3", "press"}, {"button", "BTN3", "release"}}},
        {"nothing to let go", {{Step::Release, kUp}, {Step::LetGo, 0}, {Step::Press, 7}}, {}},
    };
    for (const ChordCase& c : cases) {
        EXPECT_EQ(play(c.steps), c.sent) << c.name;
    }
}

TEST(KeypadMapTest, PcKeysNameTheKeypadsKeysAndF1ToF6ThePanelsButtons) {
    const std::vector<std::pair<int, std::string>> keys = {
        {Qt::Key_K, "K"},        {Qt::Key_V, "V"},       {Qt::Key_7, "7"},         {Qt::Key_Return, "ENTER"},
        {Qt::Key_Escape, "ESC"}, {Qt::Key_Left, "LEFT"}, {Qt::Key_Space, "SPACE"}, {Qt::Key_F1, ""},
        {Qt::Key_Tab, ""},       {Qt::Key_Shift, ""},
    };
    for (const auto& [qtKey, name] : keys) {
        EXPECT_EQ(scope::keypadKeyName(qtKey), name) << name;
    }
    EXPECT_EQ(scope::panelButtonOfKey(Qt::Key_F1), kSelect);
    EXPECT_EQ(scope::panelButtonOfKey(Qt::Key_F6), kPower);
    EXPECT_EQ(scope::panelButtonOfKey(Qt::Key_F7), -1);
}

TEST(EyepieceFeedTest, PanelsAreDrawnAtTheWholeStepNearestTheirShownSize) {
    const std::vector<std::pair<int, int>> widths = {{1920, 1}, {1300, 1}, {945, 2},
                                                     {626, 3},  {100, 8},  {0, 8}};
    for (const auto& [width, step] : widths) {
        EXPECT_EQ(scope::drawStep(width), step) << width;
    }
}

TEST(EyepieceFeedTest, OnlyAChangeOfTheFrameAloneIsDrawnInTheMovingRows) {
    EXPECT_TRUE(scope::onlyTheFrameDiffers({1, 2, 7}, {1, 2, 8}));
    EXPECT_FALSE(scope::onlyTheFrameDiffers({1, 3, 7}, {1, 2, 8}));
    EXPECT_FALSE(scope::onlyTheFrameDiffers({1, 2, 7}, {1, 2, 7, 8}));
    EXPECT_FALSE(scope::onlyTheFrameDiffers({}, {}));
}

QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(text).object();
}

TEST(StatusStripTest, TheBoardsStateInWords) {
    const scope::StatusTexts texts = scope::describeStatus(json(R"({
        "power": {"state": "operating", "rails": {"VCC1V5": true, "VCC5V0CAM": false, "VCC3V3": true},
                  "backlights": {"left": 130, "right": 0}},
        "camera": {"fitted": true, "plugged": true, "present": true, "link_up": true, "fault": "silence"}})"));
    EXPECT_EQ(texts.power, "power: operating");
    EXPECT_EQ(texts.rails, "rails: 2 of 3 on (VCC5V0CAM off)");
    EXPECT_EQ(texts.backlights, "backlights: 130 / 0 of 255");
    EXPECT_EQ(texts.camera, "camera: link up, fault: silence");
    const std::vector<std::pair<const char*, const char*>> cameras = {
        {R"({"fitted": false})", "camera: not fitted"},
        {R"({"fitted": true, "plugged": false})", "camera: unplugged"},
        {R"({"fitted": true, "plugged": true, "present": false})", "camera: no power"},
        {R"({"fitted": true, "plugged": true, "present": true, "boot_loader": true})",
         "camera: in its boot loader"},
        {R"({"fitted": true, "plugged": true, "present": true, "fault": "none"})", "camera: starting"},
    };
    for (const auto& [camera, words] : cameras) {
        QJsonObject status;
        status.insert("camera", json(camera));
        EXPECT_EQ(scope::describeStatus(status).camera, words) << camera;
    }
    EXPECT_EQ(scope::describeStatus({}).power, "power: ?");
    EXPECT_EQ(scope::withoutColourCodes("\x1b[38;5;196mCC: ERROR: no\x1b[38;5;248m\r"), "CC: ERROR: no");
}

TEST(ScopeOptionsTest, BadOptionsAreRefusedWithTheirReason) {
    scope::ScopeOptions options;
    QString error;
    ASSERT_TRUE(scope::parseOptions({"ostrix-scope", "--root", "/r/root", "--stats"}, options, error));
    EXPECT_EQ(options.logFolder, "/r/root/home/pi/Ostrix/log");
    EXPECT_EQ(options.stickFolder, "/r/usb-stick");
    EXPECT_TRUE(options.stats);
    const std::vector<std::pair<QStringList, QString>> refused = {
        {{"ostrix-scope", "--root"}, "--root needs a folder"},
        {{"ostrix-scope", "--root", "/r", "--wide"}, "unknown option '--wide'"},
        {{"ostrix-scope", "--root", ""}, "--root needs a folder"},
    };
    for (const auto& [arguments, reason] : refused) {
        EXPECT_FALSE(scope::parseOptions(arguments, options, error)) << reason.toStdString();
        EXPECT_EQ(error, reason);
    }
}

} // namespace
