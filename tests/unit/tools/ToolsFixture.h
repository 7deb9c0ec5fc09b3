// A simulated board for the service tools, which run in-process against it with their
// standard output captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/chips/ConfigFlash.h"
#include "sim/chips/DisplayFpga.h"
#include "tests/support/TempRoot.h"

class ToolsTest : public testing_support::SimBoardTest {
protected:
    sim::ConfigFlash& flash() { return *board().find<sim::ConfigFlash>(); }
    sim::DisplayFpga& fpga() { return *board().find<sim::DisplayFpga>(); }

    // Runs a tool's main function with `args` (the program name first); its exit status
    // as the shell sees it, with what it printed in `output_`.
    template <class Main> int run(Main main, std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        const int status = main(static_cast<int>(args.size()), argv.data());
        fflush(stdout);
        output_ = testing::internal::GetCapturedStdout();
        return status & 0xFF;
    }

    // The decoded commands of the configuration flash's bus.
    std::vector<sim::TraceEntry> flashCommands() {
        std::vector<sim::TraceEntry> out;
        for (auto& e : board().trace().entries(sim::TraceKind::Spi)) {
            if (e.channel == sim::flash_pins::kChipSelect) {
                out.push_back(e);
            }
        }
        return out;
    }
    // Register transfers on the FPGA's SPI channel (setup notes left out).
    std::vector<sim::TraceEntry> fpgaTransfers() {
        std::vector<sim::TraceEntry> out;
        for (auto& e : board().trace().entries(sim::TraceKind::Spi)) {
            if (e.channel == 0 && !e.out.empty()) {
                out.push_back(e);
            }
        }
        return out;
    }

    std::string output_;
};
