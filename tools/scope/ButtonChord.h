// Which front-panel buttons are held down, as the window's buttons and keys hold them. A
// button is held while its on-screen button or its key is held; a modifier click latches
// it, so it stays held while others are pressed and let go (the panel's combinations need
// two or three buttons at once), until it is clicked again or everything is let go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scope {

constexpr int kPanelButtons = 6;

struct PanelButton {
    const char* boardName; // as the board's `button` command names it
    const char* label;
};
// SELECT, UP, DOWN, LEFT, RIGHT and POWER: BTN1..BTN5 and POWER on the board.
extern const PanelButton kPanelButtonTable[kPanelButtons];

class ButtonChord {
public:
    // The buttons that go down and up (bit b: button b), each sent as one board command.
    struct Change {
        uint8_t down = 0;
        uint8_t up = 0;
    };

    // `latch`: a modifier click, which toggles the button's latch instead.
    Change press(int button, bool latch);
    Change release(int button, bool latch);
    Change letGoAll();

    uint8_t held() const { return held_; }
    uint8_t latched() const { return latched_; }

private:
    uint8_t held_ = 0;
    uint8_t latched_ = 0;
};

// The board commands of a change: "button BTN1+BTN3 press" and the like, ups first.
std::vector<std::vector<std::string>> buttonCommands(const ButtonChord::Change& change);

} // namespace scope
