// The menu's messages: texts from the language tables with their placeholders filled, the
// version panel, and the centred message box with its line splitting.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/app/guiprint.h"
#include "gui/menu/Menu.h"
#include "gui/menu/strings/LanguageTables.h"
#include "gui/render/fontmap.h"
#include "gui/settings/OstrixControlSettings.h"

namespace Ostrix {

namespace {

constexpr int kDefaultMessageTimeMs = 3000;
constexpr uint32_t kLastAnimatedMessage = 9;
constexpr const char* kDotsPlaceholder = "%%%s";
constexpr const char* kSecondsPlaceholder = "%%%";
constexpr const char* kNumberPlaceholder = "%%";
// The saving animation, by (time / 1000) mod 4; tabs keep the width of the dots.
constexpr const char* kDotPatterns[] = {"....", "...\t", "..\t\t", ".\t\t\t"};
constexpr uint32_t kMillisecondsPerSecond = 1000;

// The prompts that ask for a confirmation.
bool isPrompt(uint32_t number) {
    return number == MESS_CLEAR_OVERLAY || (number >= 22 && number <= 24);
}

// The box keeps 5 pixels round the text; the text must be narrower and lower than the
// screen by the two margins.
constexpr int kBoxMargin = 5;
constexpr int kTextTop = 11;
// Splitting works on what is still too wide; after this many rounds the rest is clipped.
constexpr int kMaxSplitRounds = 4;

constexpr int kGuiVersionMajor = 4;
constexpr int kGuiVersionMinor = 5;

uint32_t textWidth(const std::string& text) {
    uint32_t w = 0;
    uint32_t h = 0;
    OverlayText(text, 0, 0).Rect(w, h);
    return w;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t nl = text.find('\n', start);
        out.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) {
            return out;
        }
        start = nl + 1;
    }
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        out += (i == 0 ? "" : "\n") + parts[i];
    }
    return out;
}

// Steps back from `pos` to the start of a UTF-8 character.
size_t characterStart(const std::string& text, size_t pos) {
    while (pos > 0 && (uint8_t(text[pos]) & 0xC0) == 0x80) {
        --pos;
    }
    return pos;
}

// Breaks one line into `parts` of about equal byte length: at the last space within
// each part, or between two characters where the part has none.
std::string splitLine(const std::string& line, int parts) {
    const size_t length = line.size() / size_t(parts);
    std::string out;
    out.reserve(line.size() + size_t(parts));
    size_t previous = 0;
    for (int k = 1; k < parts && length > 0; ++k) {
        const size_t limit = std::min(previous + length, line.size() - 1);
        size_t space = std::string::npos;
        for (size_t i = limit; i > previous; --i) {
            if (line[i] == ' ') {
                space = i;
                break;
            }
        }
        if (space != std::string::npos) {
            out.append(line, previous, space - previous);
            out += '\n';
            previous = space + 1;
            continue;
        }
        const size_t cut = characterStart(line, limit);
        if (cut > previous) {
            out.append(line, previous, cut - previous);
            out += '\n';
            previous = cut;
        }
    }
    out.append(line, previous, std::string::npos);
    return out;
}

// Keeps the lines that fit on the screen and cuts each line where it would reach `room`.
std::vector<uint16_t> clipCodes(const std::vector<uint16_t>& codes, uint32_t room, size_t maxLines) {
    constexpr uint16_t kNewLine = '\n';
    std::vector<uint16_t> kept;
    size_t line = 0;
    uint32_t width = 0;
    bool full = false;
    for (uint16_t code : codes) {
        if (code == kNewLine) {
            if (++line >= maxLines) {
                break;
            }
            kept.push_back(code);
            width = 0;
            full = false;
            continue;
        }
        const uint32_t advance = OverlayText::Advance(code);
        if (full || width + advance >= room) {
            full = true;
            continue;
        }
        width += advance;
        kept.push_back(code);
    }
    return kept;
}

std::string versionPair(uint32_t major, uint32_t minor) {
    if (major == 0 && minor == 0) {
        return "n/a";
    }
    return std::to_string(major) + "." + std::to_string(minor);
}

std::string versionNumber(uint32_t version) {
    return version == 0 ? "n/a" : std::to_string(version);
}

void replaceFirst(std::string& text, const std::string& placeholder, const std::string& by) {
    const size_t at = text.find(placeholder);
    if (at == std::string::npos) {
        guiPrint("position invalid for replace in '%s' at %zu", text.c_str(), at);
        return;
    }
    text.replace(at, placeholder.size(), by);
}

} // namespace

std::string Menu::messageText(uint32_t number, uint32_t value, int& time, bool& onlyWithMenuClosed) const {
    onlyWithMenuClosed = false;
    const int language = ostrixControlSettings.GetValue(SETT_UI_LANGUAGE);
    const LanguageTables& tables = LanguageTables::instance();
    if (language < 0 || language >= NUM_LANGUAGES) {
        time = int(std::min<uint32_t>(value, INT32_MAX));
        return "Invalid Language index";
    }
    const std::string* found = tables.message(language, number);
    std::string text = found != nullptr ? *found : std::string();
    time = int(std::min<uint32_t>(value, INT32_MAX));
    if (number <= kLastAnimatedMessage && text.find(kDotsPlaceholder) != std::string::npos) {
        replaceFirst(text, kDotsPlaceholder, kDotPatterns[(value / kMillisecondsPerSecond) % 4]);
        onlyWithMenuClosed = true;
    } else if (number > kLastAnimatedMessage && text.find(kSecondsPlaceholder) != std::string::npos) {
        replaceFirst(text, kSecondsPlaceholder, std::to_string(value / kMillisecondsPerSecond));
        onlyWithMenuClosed = true;
        guiPrint("Handled Special string with %%%%%%");
    } else if (text.find(kNumberPlaceholder) != std::string::npos) {
        replaceFirst(text, kNumberPlaceholder, std::to_string(value));
        time = kDefaultMessageTimeMs;
    }
    if (isPrompt(number)) {
        const std::string* confirm = tables.message(language, MESS_CONFIRM);
        text += "\n" + (confirm != nullptr ? *confirm : std::string());
    }
    if (number == MESS_INFO_PANEL) {
        guiPrint("GUI: SetMessage to MESS_INFO_PANEL for %d", time);
        ShowVersion(text);
    }
    return text;
}

bool Menu::SetMessage(uint32_t number, uint32_t value, bool& showMessage, int& messageTime) {
    mMessageNumber = number;
    messageTime = 0;
    int time = 0;
    bool onlyWithMenuClosed = false;
    const std::string text = messageText(number, value, time, onlyWithMenuClosed);
    guiPrint("GUI: SetMessage '%s' for %dms", text.c_str(), time);
    if (onlyWithMenuClosed && mMenuOpen) {
        // The saving animation and the no-input countdown would hide the menu the user
        // is working in: they stay current and timed, and a later redraw of theirs with
        // the menu closed shows them.
        mMessage = OverlayText("", 0, 0);
        mMessageBox = Box{0, 0, 0, 0};
    } else {
        SetMessage(text);
    }
    showMessage = true;
    messageTime = time == 0 ? kDefaultMessageTimeMs : time;
    return true;
}

void Menu::SetMessage(const std::string& text) {
    layoutMessage(text, 0);
}

void Menu::layoutMessage(const std::string& text, int round) {
    OverlayText laid(text, 0, 0);
    uint32_t w = 0;
    uint32_t h = 0;
    laid.Rect(w, h);
    const uint32_t room = uint32_t(std::max(1, mWidth - 2 * kBoxMargin));
    const bool tooWide = w >= room;
    const bool tooHigh = int64_t(h) >= mHeight - 2 * kBoxMargin;
    if (tooWide && round < kMaxSplitRounds) {
        const std::string split = splitMessage(text);
        guiPrint("GUI: Split Message '%s'", split.c_str());
        layoutMessage(split, round + 1);
        return;
    }
    if (tooWide || tooHigh) {
        const size_t maxLines = size_t(std::max(1, (mHeight - 2 * kBoxMargin - 1) / int(kFontHeight)));
        laid.mText = clipCodes(laid.mText, room, maxLines);
        laid.Rect(w, h);
    }
    const int iw = int(w);
    const int ih = int(h);
    mMessageBox = Box{(mWidth - iw) / 2 - kBoxMargin, (mHeight - ih) / 2 - kBoxMargin,
                      (mWidth + iw) / 2 + kBoxMargin, (mHeight + ih) / 2 + kBoxMargin};
    laid.mX = uint32_t(mMessageBox.left + kBoxMargin);
    laid.mY = uint32_t(mMessageBox.top + kTextTop);
    mMessage = laid;
}

std::string Menu::splitMessage(const std::string& text) const {
    const int parts = int(textWidth(text)) / mWidth + 1;
    guiPrint("GUI: Message too large for display area will be split into %d", parts);
    std::vector<std::string> split = lines(text);
    for (std::string& line : split) {
        const int width = int(textWidth(line));
        if (width >= mWidth - 2 * kBoxMargin) {
            line = splitLine(line, std::max(2, width / mWidth + 1));
        }
    }
    return joined(split);
}

void Menu::ClearMessage() {
    guiPrint("GUI: Menu::ClearMessage");
    mMessageNumber = MESS_NONE;
    mMessage = OverlayText("", 0, 0);
    mMessageBox = Box{0, 0, 0, 0};
}

void Menu::DrawMessage(VFB& vfb) const {
    if (mMessage.mText.empty()) {
        return;
    }
    const Box& b = mMessageBox;
    const uint32_t left = uint32_t(std::max(0, b.left));
    const uint32_t top = uint32_t(std::max(0, b.top));
    vfb.DrawRect(left, top, uint32_t(b.right - b.left + 1), uint32_t(b.bottom - b.top + 1), kMessageFill);
    mMessage.DrawText(vfb);
    const uint32_t width = uint32_t(b.right - b.left + 1);
    const uint32_t height = uint32_t(b.bottom - b.top);
    for (int y : {b.top, b.top + 1, b.bottom - 1, b.bottom}) {
        vfb.DrawHLine(left, uint32_t(y), width, kDarkBorder, true, false);
    }
    for (int x : {b.left, b.left + 1, b.right - 1, b.right}) {
        vfb.DrawVLine(uint32_t(x), top, height, kDarkBorder, true, false);
    }
}

std::string Menu::GetInfoString(uint32_t item) const {
    const int language = ostrixControlSettings.GetValue(SETT_UI_LANGUAGE);
    if (language < 0 || language >= NUM_LANGUAGES) {
        return "Invalid Language index";
    }
    const std::string* text = LanguageTables::instance().info(language, item);
    return text != nullptr ? *text : std::string();
}

void Menu::ShowVersion(std::string& text) const {
    text += "\nVersion: Sys - " + versionPair(system_version_major, system_version_minor);
    text += "\n             GUI - " + versionPair(kGuiVersionMajor, kGuiVersionMinor);
    text += "\n             App - " + versionPair(app_version_major, app_version_minor);
    text += "\n             VP  -  " + versionNumber(vp_version_major);
    text += "\n             VPXL-  " + versionNumber(vpxl_version_major);
    text += "\n             Cam -  " + versionPair(cam_version_major, cam_version_minor);
    text += "\n             CP  -  " + versionNumber(cp_version_major);
    text += "\n             CXL -  " + versionNumber(cxl_version_major);
}

} // namespace Ostrix
