// The GUI's display and menu at the window's size, fed the controller's commands and keys
// as the window feeds them, with what each answers.
#pragma once

#include <cstdint>
#include <memory>

#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/menu/Menu.h"
#include "tests/unit/gui/GuiFixture.h"

namespace testing_support {

// Whether a reply goes to the controller and which, and the message shown and for how long.
struct GuiReply {
    bool send = false;
    uint32_t reply0 = 0;
    uint32_t reply1 = 0;
    bool show = false;
    int time = 0;
};

class DisplayFixture : public GuiPicturesTest {
protected:
    void SetUp() override {
        GuiPicturesTest::SetUp();
        display_ = std::make_unique<Ostrix::Display>(800, 480);
    }
    void TearDown() override {
        display_.reset();
        GuiPicturesTest::TearDown();
    }
    GuiReply command(uint32_t word0, uint32_t word1 = 0) {
        GuiReply r;
        r.send = display_->ProcessCommand(word0, word1, r.reply0, r.reply1, r.show, r.time);
        return r;
    }
    GuiReply key(uint32_t k, uint32_t step = 0) { return command(tEV_KEY + k, step); }

    std::unique_ptr<Ostrix::Display> display_;
};

class MenuFixture : public GuiPicturesTest {
protected:
    void SetUp() override {
        GuiPicturesTest::SetUp();
        menu_ = std::make_unique<Ostrix::Menu>(800, 480);
    }
    void TearDown() override {
        menu_.reset();
        GuiPicturesTest::TearDown();
    }
    GuiReply key(uint32_t k, uint32_t step = 0) {
        GuiReply r;
        r.send = menu_->ProcessKey(k, step, r.reply0, r.reply1, r.show, r.time);
        return r;
    }

    std::unique_ptr<Ostrix::Menu> menu_;
};

} // namespace testing_support
