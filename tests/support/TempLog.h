// A test fixture whose log goes to a fresh temporary folder. The folder starts with an
// empty first log file, so the log needs no shell (and no board) to create one, and the
// log's start-up lines are printed before the test begins, so a test can capture exactly
// the lines its code prints.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/logfile.h"
#include "tests/support/TempRoot.h"

namespace testing_support {

class TempLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousFolder_ = logFolder();
        writeFile(logFile(), "");
        setLogFolder(dir_.path());
        logfile_testing::reset();
        logprintf("%s", "");
    }
    void TearDown() override {
        setLogFolder(previousFolder_);
        logfile_testing::reset();
    }

    // The log file the test writes to.
    std::string logFile() const { return dir_.path() + "/QLM_logfile_0001.log"; }
    std::string logText() const { return readFile(logFile()); }

private:
    TempDir dir_;
    std::string previousFolder_;
};

} // namespace testing_support
