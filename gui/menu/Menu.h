// The overlay menu: the message box with its texts in the user's language, the version
// panel and the menu items' information texts.
#pragma once

#include <cstdint>
#include <string>

#include "gui/render/OverlayText.h"
#include "gui/render/vfb.h"

namespace Ostrix {

class Menu {
public:
    Menu(int width, int height);

    // Shows message `number` in the current language (0 = none); `value` replaces a
    // placeholder or is the display time in ms. Sets showMessage and the display time
    // (3000 ms when it would be 0).
    bool SetMessage(uint32_t number, uint32_t value, bool& showMessage, int& messageTime);
    // Lays a ready text out centred on the screen, split into lines when too wide.
    void SetMessage(const std::string& text);
    void ClearMessage();
    // Draws the message box, when there is a message.
    void DrawMessage(VFB& vfb) const;

    // The information text of a menu item in the current language.
    std::string GetInfoString(uint32_t item) const;
    // Appends the version panel.
    void ShowVersion(std::string& text) const;

    bool MenuOpen() const { return mMenuOpen; }

    struct Box {
        int left;
        int top;
        int right;
        int bottom;
    };
    uint32_t CurrentMessage() const { return mMessageNumber; }
    const OverlayText& MessageText() const { return mMessage; }
    const Box& MessageBox() const { return mMessageBox; }

    // Colours of the message box.
    static constexpr uint32_t kMessageFill = 0xFF8B8B8B;
    static constexpr uint32_t kDarkBorder = 0xFF454545;

private:
    // The text in the current language with its placeholders filled; the display time.
    std::string messageText(uint32_t number, uint32_t value, int& time) const;
    void layoutMessage(const std::string& text, int round);
    std::string splitMessage(const std::string& text) const;

    int mWidth;
    int mHeight;
    bool mMenuOpen = false;
    uint32_t mMessageNumber = 0;
    OverlayText mMessage{"", 0, 0};
    Box mMessageBox{0, 0, 0, 0};
};

} // namespace Ostrix
