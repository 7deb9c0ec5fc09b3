// A simulated board with the display FPGA and helpers to look at what it saw.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "controller/fpga/fpga.h"
#include "platform/wiringPi.h"
#include "sim/chips/DisplayFpga.h"
#include "tests/support/LogStamps.h"
#include "tests/support/TempRoot.h"

class FpgaTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories(home() + "/log");
        std::filesystem::create_directories(home() + "/warp");
    }

    sim::DisplayFpga& model() { return *board().find<sim::DisplayFpga>(); }

    // A program that ran before left the FPGA out of reset (the reset line's latch high),
    // as on a board that has been running.
    void leaveResetReleased() { board().pins().write(FPGA_RESET_N_Pin, HIGH); }

    std::unique_ptr<ostrixFpga> makeFpga(bool assertReset = true) {
        if (!assertReset) {
            leaveResetReleased();
        }
        auto fpga = std::make_unique<ostrixFpga>("vp-quickbuild.jic", assertReset);
        board().trace().clear();
        return fpga;
    }

    // SPI transfers (setup and close notes left out).
    std::vector<sim::TraceEntry> transfers() {
        std::vector<sim::TraceEntry> out;
        for (auto& e : board().trace().entries(sim::TraceKind::Spi)) {
            if (!e.out.empty()) {
                out.push_back(e);
            }
        }
        return out;
    }
    std::vector<std::string> spiNotes() {
        std::vector<std::string> out;
        for (auto& e : board().trace().entries(sim::TraceKind::Spi)) {
            if (e.out.empty()) {
                out.push_back(e.text);
            }
        }
        return out;
    }

    // The log file without the time stamps in front of each message.
    std::string log() {
        return testing_support::withoutLogStamps(
            testing_support::readFile(home() + "/log/QLM_logfile_0001.log"));
    }
    // Writes a file in the working directory.
    static void put(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary | std::ios::trunc) << content;
    }
    std::string shellLog() { return testing_support::readFile(root() + "/var/log/ostrix-sim/shell.log"); }

    static std::vector<uint8_t> bytes(std::initializer_list<int> list) {
        std::vector<uint8_t> v;
        for (int b : list) {
            v.push_back(static_cast<uint8_t>(b));
        }
        return v;
    }
};
