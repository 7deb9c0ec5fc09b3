// What the eyepiece panels show, driven through the controller's FPGA class and rendered
// from the simulated board's state: output controls, the GUI mixing, the crosshair and
// the warp shift.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "FpgaFixture.h"
#include "sim/board/EyepieceSnapshot.h"
#include "sim/board/GuiFrame.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"
#include "tests/support/Pictures.h"
#include "tools/warpgen/WarpGenerator.h"

namespace {

constexpr uint32_t kKey = 0x008080;
constexpr uint32_t kMenu = 0x8B8B8B;
constexpr uint32_t kText = 0xFFFFFF;
constexpr int kGuiWidth = 800;
constexpr int kGuiHeight = 480;
// Blocks of the GUI frame: key colour everywhere but a menu background block and a text block.
// They lie below the colour bars, where the video is a dark ramp.
constexpr int kMenuBlock[4] = {100, 300, 200, 400}; // x0, y0, x1, y1
constexpr int kTextBlock[4] = {300, 300, 400, 400};
// A video pixel far from the menu, the icons and the crosshair.
constexpr int kVideoX = 1500, kVideoY = 900;

int channelOf(uint32_t argb, int shift) {
    return int((argb >> shift) & 0xFF);
}

bool within(uint32_t a, uint32_t b, int tolerance) {
    for (int shift : {16, 8, 0}) {
        if (std::abs(channelOf(a, shift) - channelOf(b, shift)) > tolerance) {
            return false;
        }
    }
    return true;
}

bool inside(const int (&block)[4], int x, int y) {
    return x >= block[0] && x < block[2] && y >= block[1] && y < block[3];
}

class EyepieceTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        fpga_ = makeFpga(false);
        // As start-up leaves it: full backlight, the contrast table the identity.
        fpga_->setBacklightBrightness(LEFTandRIGHT, 100, false);
        fpga_->setContrast(LEFTandRIGHT, 50);
    }

    sim::PanelPicture render(int channel) {
        sim::PanelPicture p;
        EXPECT_EQ(sim::renderEyepiece(board(), channel, p), "");
        return p;
    }

    // The GUI's frame as the Pi hands it to the board.
    void writeGuiFrame() {
        std::ofstream out(board().volatilePath(sim::kGuiFrameFile), std::ios::binary | std::ios::trunc);
        out.write(sim::kGuiFrameMagic, sizeof sim::kGuiFrameMagic);
        const uint32_t size[2] = {kGuiWidth, kGuiHeight}; // little-endian on this host
        out.write(reinterpret_cast<const char*>(size), sizeof size);
        for (int y = 0; y < kGuiHeight; ++y) {
            for (int x = 0; x < kGuiWidth; ++x) {
                uint32_t p = 0xFF000000 | (inside(kMenuBlock, x, y)   ? kMenu
                                           : inside(kTextBlock, x, y) ? kText
                                                                      : kKey);
                out.write(reinterpret_cast<const char*>(&p), sizeof p);
            }
        }
    }

    void showGui(unsigned transparency) {
        fpga_->setGUIbgcolour(kKey);
        fpga_->setMenubgcolour(kMenu);
        fpga_->setMenubgtransparency(static_cast<uint8_t>(transparency));
        fpga_->setGUIPosition(1);
        fpga_->enableVideoOverlay(true);
        fpga_->enablePiVideo(true);
        writeGuiFrame();
    }

    std::unique_ptr<ostrixFpga> fpga_;
};

struct OutputCase {
    const char* name;
    std::function<void(ostrixFpga&)> apply;
    int leftLevel, rightLevel; // expected brightness of the video pixel, in 1/255 of normal
};
// CTest lists the case by its name.
void PrintTo(const OutputCase& c, std::ostream* os) {
    *os << c.name;
}

class EyepieceOutputTest : public EyepieceTest, public testing::WithParamInterface<OutputCase> {};

TEST_P(EyepieceOutputTest, BlankingAndBacklightScaleThePicture) {
    const sim::PanelPicture before[2] = {render(0), render(1)};
    GetParam().apply(*fpga_);
    const int levels[2] = {GetParam().leftLevel, GetParam().rightLevel};
    for (int c = 0; c < 2; ++c) {
        const sim::PanelPicture after = render(c);
        const uint32_t was = before[c].at(kVideoX, kVideoY);
        ASSERT_GT(channelOf(was, c == 0 ? 16 : 0), 100) << "the video is visible to begin with";
        for (int shift : {16, 8, 0}) {
            EXPECT_NEAR(channelOf(after.at(kVideoX, kVideoY), shift),
                        channelOf(was, shift) * levels[c] / 255.0, 1)
                << GetParam().name << " channel " << c;
        }
        if (levels[c] == 0) {
            EXPECT_EQ(std::count(after.argb.begin(), after.argb.end(), 0xFF000000u),
                      ptrdiff_t(after.argb.size()))
                << GetParam().name << ": every pixel black";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, EyepieceOutputTest,
    testing::Values(OutputCase{"blank left", [](ostrixFpga& f) { f.setScreenBlanking(LEFT, true); }, 0, 255},
                    OutputCase{"blank and unblank",
                               [](ostrixFpga& f) {
                                   f.setScreenBlanking(LEFTandRIGHT, true);
                                   f.setScreenBlanking(LEFTandRIGHT, false);
                               },
                               255, 255},
                    // 50 % is level 130 of 255.
                    OutputCase{"backlight half",
                               [](ostrixFpga& f) { f.setBacklightBrightness(RIGHT, 50, false); }, 255, 130},
                    OutputCase{"backlight off",
                               [](ostrixFpga& f) { f.setBacklightBrightness(LEFTandRIGHT, 0, true); }, 0, 0}),
    [](const testing::TestParamInfo<OutputCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(EyepieceTest, GuiKeyColourShowsTheVideoAndItsMenuBackgroundIsTintedByTheTransparency) {
    const sim::PanelPicture video = render(0);
    struct Case {
        unsigned percent;
        bool menuIsOpaque, menuIsVideo;
    };
    for (const Case& k : {Case{0, true, false}, Case{50, false, false}, Case{100, false, true}}) {
        showGui(k.percent);
        const sim::PanelPicture mixed = render(0);
        // The key colour is see-through everywhere outside the blocks.
        EXPECT_EQ(mixed.at(600, 300), video.at(600, 300)) << k.percent;
        EXPECT_EQ(mixed.at(50, 50), video.at(50, 50)) << k.percent;
        // Text is opaque whatever the transparency.
        EXPECT_EQ(mixed.at(350, 350) & 0xFFFFFF, kText) << k.percent;
        const uint32_t menu = mixed.at(150, 350), under = video.at(150, 350);
        EXPECT_EQ(within(menu, 0xFF000000 | kMenu, 1), k.menuIsOpaque) << k.percent;
        EXPECT_EQ(within(menu, under, 1), k.menuIsVideo) << k.percent;
        if (!k.menuIsOpaque && !k.menuIsVideo) {
            // Part way: between the dark video and the menu colour.
            EXPECT_LT(channelOf(menu, 8), channelOf(kMenu, 8)) << k.percent;
            EXPECT_GT(channelOf(menu, 8), channelOf(under, 8)) << k.percent;
        }
    }
    // Moved to position 4, the GUI's picture starts at (1120, 600).
    fpga_->setGUIPosition(4);
    const sim::PanelPicture moved = render(0);
    EXPECT_EQ(moved.at(350, 350), video.at(350, 350));
    EXPECT_EQ(moved.at(1120 + 350, 600 + 350) & 0xFFFFFF, kText);
}

TEST_F(EyepieceTest, CrosshairAppearsInItsColourAtTheCentreInTheSavedPicture) {
    const uint32_t yellow = 0xF8FC00;
    fpga_->setCrosshairColour(pixel(yellow));
    struct Case {
        unsigned size;
        bool centre, farLeft;
    };
    for (const Case& k : {Case{0, false, false}, Case{1, true, false}, Case{2, true, true}}) {
        fpga_->setCrosshairSize(k.size);
        const std::string path = home() + "/both.png";
        ASSERT_TRUE(board().execute({"snapshot", "both", path}).ok);
        const testing_support::RgbImage picture = testing_support::readPng(path);
        ASSERT_EQ(picture.width, uint32_t(sim::kPanelWidth)); // two eyes at half width
        ASSERT_EQ(picture.height, uint32_t(sim::kPanelHeight / 2));
        auto isYellow = [&](int x, int y) {
            const uint8_t* p = picture.at(x, y);
            return p[0] == 0xF8 && p[1] == 0xFC && p[2] == 0;
        };
        for (int eye = 0; eye < 2; ++eye) {
            const int x0 = eye * sim::kPanelWidth / 2;
            EXPECT_EQ(isYellow(x0 + 480, 270), k.centre) << "size " << k.size << " eye " << eye;
            EXPECT_EQ(isYellow(x0 + 60, 270), k.farLeft) << "size " << k.size << " eye " << eye;
        }
    }
}

// The column where the stereo target's top edge starts in a picture.
int targetEdge(const sim::PanelPicture& p) {
    const int row = 423; // inside the target's top frame line, above the eye's letter
    for (int x = 0; x < p.width; ++x) {
        const uint32_t v = p.at(x, row);
        if (channelOf(v, 16) > 200 && channelOf(v, 8) > 200 && channelOf(v, 0) > 200) {
            return x;
        }
    }
    return -1;
}

TEST_F(EyepieceTest, RightEyeDiffersFromTheLeftByTheWarpShift) {
    const int stereo = targetEdge(render(1)) - targetEdge(render(0));
    EXPECT_EQ(stereo, sim::testPictureTargetX(1) - sim::testPictureTargetX(0));
    for (int shift : {-7, 1, 12}) {
        fpga_->setDisplayShift(RIGHT, shift, 0);
        // The offset names where each output pixel is taken from: the picture moves the other way.
        EXPECT_EQ(targetEdge(render(1)) - targetEdge(render(0)), stereo - shift) << shift;
    }
}

TEST_F(EyepieceTest, FrozenStoreShowsWhatItHeldWhateverTheWarpDoesAfterwards) {
    fpga_->freezeFrame(1);
    const int frozen = targetEdge(render(1));
    fpga_->setDisplayShift(RIGHT, 9, 0);
    EXPECT_EQ(targetEdge(render(1)), frozen);
    fpga_->freezeFrame(0);
    EXPECT_EQ(targetEdge(render(1)), frozen - 9);
}

// The first row below `top` where column x of the stereo target's frame is white.
int frameTop(const sim::PanelPicture& p, int x, int top) {
    for (int y = top; y < p.height; ++y) {
        if (channelOf(p.at(x, y), 8) > 200) {
            return y;
        }
    }
    return -1;
}

TEST_F(EyepieceTest, LoadedRotationTiltsOnlyItsEye) {
    // Its first lines are enough: the table's slope gives the angle.
    put("line1.txt", warpgen::lineTable(sim::kPanelWidth, 4, 1.0));
    ASSERT_EQ(fpga_->copyFileToSPI("line1.txt", LINE_FILE_START_ADDRESS, 32, RIGHT), 0);
    const int span = 200; // between two columns of the target's top frame line
    for (int c = 0; c < 2; ++c) {
        const sim::PanelPicture p = render(c);
        const int x = sim::testPictureTargetX(c) + 20;
        const int tilt = frameTop(p, x + span, 400) - frameTop(p, x, 400);
        if (c == 0) {
            EXPECT_EQ(tilt, 0);
        } else {
            EXPECT_NEAR(std::abs(tilt), span * 0.01745, 1); // sin(1 degree)
        }
    }
}

TEST_F(EyepieceTest, APanelDrawnAtAStepIsEveryStepthPixelOfTheWholePanel) {
    showGui(50);
    fpga_->setCrosshairSize(1);
    struct Scene {
        const char* name;
        std::function<void(ostrixFpga&)> apply;
    };
    // Still pictures: the live marker out of the zoomed view, or a frozen store.
    const auto zoomed = [](ostrixFpga& f) { f.digitalZoom(1); };
    const auto frozen = [](ostrixFpga& f) {
        f.digitalZoom(0);
        f.freezeFrame(1);
    };
    for (const Scene& scene : {Scene{"zoomed", zoomed}, Scene{"frozen", frozen}}) {
        scene.apply(*fpga_);
        for (int channel = 0; channel < 2; ++channel) {
            const sim::PanelPicture whole = render(channel);
            for (int step : {2, 3, 5}) {
                sim::PanelPicture part;
                ASSERT_EQ(sim::renderEyepiece(board(), channel, part, step), "");
                ASSERT_EQ(part.width, (sim::kPanelWidth + step - 1) / step);
                ASSERT_EQ(part.height, (sim::kPanelHeight + step - 1) / step);
                int differing = 0;
                for (int y = 0; y < part.height; ++y) {
                    for (int x = 0; x < part.width; ++x) {
                        differing += part.at(x, y) != whole.at(x * step, y * step);
                    }
                }
                EXPECT_EQ(differing, 0) << scene.name << " channel " << channel << " step " << step;
            }
        }
    }
    sim::PanelPicture none;
    EXPECT_NE(sim::renderEyepiece(board(), 0, none, 0), "");
    EXPECT_NE(sim::renderEyepiece(board(), 0, none, sim::kMaxRenderStep + 1), "");
}

TEST_F(EyepieceTest, TheKeyOfAPanelChangesWithEverythingItsPictureIsDrawnFrom) {
    fpga_->digitalZoom(1); // the live picture's moving marker out of view: a still picture
    showGui(0);
    struct Change {
        const char* name;
        std::function<void()> apply;
    };
    const std::vector<std::string> fromOutside = {"fpga", "reg", "1", "0", "0"}; // the control word
    const std::vector<Change> changes = {
        {"backlight", [this] { fpga_->setBacklightBrightness(LEFTandRIGHT, 60, false); }},
        {"contrast", [this] { fpga_->setContrast(LEFTandRIGHT, 80); }},
        {"crosshair", [this] { fpga_->setCrosshairSize(2); }},
        {"zoom", [this] { fpga_->digitalZoom(0); }},
        {"freeze", [this] { fpga_->freezeFrame(1); }},
        {"warp shift", [this] { fpga_->setDisplayShift(RIGHT, 3, 0); }},
        {"overlay store", [this] { fpga_->erase_bitmap(10, 10, 4, 4, pixel(0x123456)); }},
        {"menu transparency", [this] { fpga_->setMenubgtransparency(40); }},
        {"GUI picture", [this] { writeGuiFrame(); }},
        {"register from outside", [this, &fromOutside] { board().execute(fromOutside); }},
    };
    for (const Change& change : changes) {
        const sim::EyepieceKey before = sim::eyepieceKey(board(), 1, 2);
        EXPECT_EQ(sim::eyepieceKey(board(), 1, 2), before) << "nothing changed before " << change.name;
        change.apply();
        EXPECT_NE(sim::eyepieceKey(board(), 1, 2), before) << change.name;
        if (std::string(change.name) == "zoom") {
            fpga_->digitalZoom(1);
        }
    }
    EXPECT_NE(sim::eyepieceKey(board(), 1, 2), sim::eyepieceKey(board(), 1, 3)) << "another step";
}

TEST_F(EyepieceTest, OnlyTheLivePicturesMarkerRowsMoveFromFrameToFrame) {
    auto* fpga = board().find<sim::DisplayFpga>();
    const sim::FpgaScanOut live = fpga->scanOut(0);
    ASSERT_TRUE(live.live());
    EXPECT_TRUE(live.moves(0, 0, sim::kPanelWidth - 1, sim::kPanelHeight - 1));
    EXPECT_FALSE(live.moves(480, 270, 1439, 809)) << "what digital zoom shows";
    fpga_->freezeFrame(1);
    EXPECT_FALSE(fpga->scanOut(0).moves(0, 0, sim::kPanelWidth - 1, sim::kPanelHeight - 1));
}

TEST_F(EyepieceTest, RowsDrawnAgainAreTheWholePanelsAndTheOthersStayAsTheyWere) {
    showGui(50);
    fpga_->setCrosshairSize(1);
    fpga_->freezeFrame(1); // a still picture
    constexpr int kStep = 2;
    constexpr uint32_t kUntouched = 0xFF123456;
    sim::PanelPicture whole, part;
    ASSERT_EQ(sim::renderEyepiece(board(), 0, whole, kStep), "");
    ASSERT_EQ(sim::renderEyepiece(board(), 0, part, kStep), "");
    // Across the GUI's picture and the crosshair, and the picture's last rows.
    for (const sim::RowSpan rows : {sim::RowSpan{100, 300}, sim::RowSpan{260, 280}, sim::RowSpan{530, 600}}) {
        std::fill(part.argb.begin(), part.argb.end(), kUntouched);
        ASSERT_EQ(sim::renderEyepiece(board(), 0, part, kStep, rows), "");
        int wrong = 0;
        for (int y = 0; y < part.height; ++y) {
            const bool drawn = y >= rows.first && y < rows.last;
            for (int x = 0; x < part.width; ++x) {
                wrong += part.at(x, y) != (drawn ? whole.at(x, y) : kUntouched);
            }
        }
        EXPECT_EQ(wrong, 0) << rows.first << ".." << rows.last;
    }
}

TEST_F(EyepieceTest, OnlyTheRowsOverTheLiveMarkerMoveAndNoneWhileZoomedOrFrozen) {
    constexpr int kStep = 2;
    fpga_->digitalZoom(0);
    const sim::RowSpan moving = sim::movingRows(board(), 0, kStep);
    // The marker's rows 1020..1059 of the panel, every second one.
    EXPECT_EQ(moving.first, 510);
    EXPECT_EQ(moving.last, 530);
    fpga_->digitalZoom(1);
    EXPECT_GE(sim::movingRows(board(), 0, kStep).first, sim::movingRows(board(), 0, kStep).last);
    fpga_->digitalZoom(0);
    fpga_->freezeFrame(1);
    EXPECT_GE(sim::movingRows(board(), 0, kStep).first, sim::movingRows(board(), 0, kStep).last);
}

TEST_F(EyepieceTest, SnapshotCommandNeedsAnEyeAndAWritableFile) {
    EXPECT_FALSE(board().execute({"snapshot", "middle", home() + "/x.png"}).ok);
    EXPECT_FALSE(board().execute({"snapshot", "left"}).ok);
    EXPECT_FALSE(board().execute({"snapshot", "--half", "left", home() + "/x.png"}).ok);
    EXPECT_FALSE(board().execute({"snapshot", "left", home() + "/no/such/folder/x.png"}).ok);
    EXPECT_NE(board().execute({"help"}).text.find("snapshot [--full] left|right|both FILE.png"),
              std::string::npos);
    // --full keeps every panel pixel.
    const std::string path = home() + "/full.png";
    ASSERT_TRUE(board().execute({"snapshot", "--full", "right", path}).ok);
    const testing_support::RgbImage picture = testing_support::readPng(path);
    EXPECT_EQ(picture.width, uint32_t(sim::kPanelWidth));
    EXPECT_EQ(picture.height, uint32_t(sim::kPanelHeight));
}

} // namespace
