// Test fixtures: a temporary system root with a fresh simulated board, the working
// directory in the board's home folder (where the programs run), and the board's recent
// trace printed when a test fails.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim/board/Board.h"
#include "sim/board/BoardBuilder.h"

namespace testing_support {

// A temporary folder removed at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Reads a whole file ("" when missing).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

class SimBoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Override to add options before the board is built.
    virtual void configure(sim::BoardBuilder& builder) {}

    sim::Board& board() { return *board_; }
    const std::string& root() const { return root_.path(); }
    // The board's home folder, the working directory during the test.
    std::string home() const { return root_.path() + "/home/pi/Ostrix"; }

private:
    TempDir root_;
    std::string previousDir_;
    sim::Board* board_ = nullptr;
};

} // namespace testing_support
