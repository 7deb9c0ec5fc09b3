// A controller-side camera board on a fresh simulated board whose camera boots at once:
// tests drive CameraBoard and assert on the command lines the simulated board received.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TempRoot.h"
#include "controller/camera/CameraBoard.h"
#include "sim/camera/CameraBoardModel.h"

namespace camera_testing {

class CameraTest : public testing_support::SimBoardTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        builder.withCameraBootMs(0).withManualCameraRail(true);
    }

    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories("log");
        model_ = board().find<sim::CameraBoardModel>();
        ASSERT_NE(model_, nullptr);
        if (withBoard_) {
            ASSERT_TRUE(model_->waitForLink(true));
        }
        camera_ = std::make_unique<CameraBoard>("Camera_impl1_algo.iea", "Camera_impl1_data.ied", "isp.jic");
        camera_->setWaits(CameraBoard::Waits{0, 2000, 0});
        board().trace().clear();
    }

    void TearDown() override {
        camera_.reset();
        SimBoardTest::TearDown();
    }

    CameraBoard& camera() { return *camera_; }
    sim::CameraBoardModel& model() { return *model_; }

    // Every command line the board received since the last clear, bytes as sent.
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (const auto& e : board().trace().entries(sim::TraceKind::Serial)) {
            if (!e.out.empty()) {
                out.emplace_back(e.out.begin(), e.out.end());
            }
        }
        return out;
    }
    // The same lines without "$" and "\n".
    std::vector<std::string> commands() {
        std::vector<std::string> out;
        for (const std::string& l : lines()) {
            out.push_back(l.size() >= 2 ? l.substr(1, l.size() - 2) : l);
        }
        return out;
    }
    void clearLines() { board().trace().clear(); }

    // The whole log written so far.
    static std::string log() {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator("log")) {
            all += testing_support::readFile(entry.path().string());
        }
        return all;
    }
    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    }

    bool withBoard_ = true;

private:
    sim::CameraBoardModel* model_ = nullptr;
    std::unique_ptr<CameraBoard> camera_;
};

} // namespace camera_testing
