#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sys/stat.h>
#include <thread>

#include "TempRoot.h"
#include "common/logfile.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class LogFileTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        fs::create_directories("log");
    }
    static std::string name(int index) {
        char n[64];
        snprintf(n, sizeof n, "./log/QLM_logfile_%04d.log", index);
        return n;
    }
    static void fill(int index, size_t bytes) { writeFile(name(index), std::string(bytes, 'x')); }
};

TEST_F(LogFileTest, FirstStartCreatesFileOneWritableByAll) {
    logprintf("hello %d\n", 42);
    ASSERT_TRUE(fs::exists(name(1)));
    struct stat st {};
    ASSERT_EQ(stat(name(1).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    std::string content = readFile(name(1));
    EXPECT_TRUE(std::regex_search(
        content, std::regex(R"(^\d{4}-\d{2}-\d{2} \d{1,2}:\d{2}:\d{2}\.\d{3} > hello 42\n$)")))
        << content;
}

TEST_F(LogFileTest, ContinuesTheHighestNumberedFile) {
    for (int i : {3, 7, 12}) {
        fill(i, 10);
    }
    logprintf("next\n");
    EXPECT_NE(readFile(name(12)).find("next"), std::string::npos);
    EXPECT_EQ(readFile(name(7)), std::string(10, 'x'));
}

TEST_F(LogFileTest, RotationDropsTheFifthOldestAndStartsTheNext) {
    constexpr long kSmall = 100;
    logfile_testing::reset(kSmall);
    for (int i : {8, 9, 10, 11}) {
        fill(i, 10);
    }
    fill(12, kSmall); // exactly at the limit: rotates
    logprintf("after rotation\n");
    EXPECT_FALSE(fs::exists(name(8)));
    EXPECT_TRUE(fs::exists(name(9)));
    EXPECT_NE(readFile(name(13)).find("after rotation"), std::string::npos);
}

TEST_F(LogFileTest, NumbersWrapFrom9999BackToOne) {
    constexpr long kSmall = 64;
    logfile_testing::reset(kSmall);
    for (int i : {9994, 9995, 9996, 9997, 9998}) {
        fill(i, 10);
    }
    fill(9999, kSmall);
    logprintf("in one\n");
    EXPECT_FALSE(fs::exists(name(9995)));
    EXPECT_TRUE(fs::exists(name(9994))); // older strays are not touched
    EXPECT_NE(readFile(name(1)).find("in one"), std::string::npos);
    // Fill file 1 past the limit: its rotation keeps the four before the new file 2
    // (1, 9999, 9998, 9997) and drops 9996.
    logprintf("%s\n", std::string(kSmall, 'y').c_str());
    logprintf("in two\n");
    EXPECT_FALSE(fs::exists(name(9996)));
    EXPECT_TRUE(fs::exists(name(9997)));
    EXPECT_NE(readFile(name(2)).find("in two"), std::string::npos);
}

TEST_F(LogFileTest, PercentSignsAreWrittenUnchanged) {
    testing::internal::CaptureStdout();
    logprintf("%s\n", "100% done %d %s");
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("100% done %d %s\n"), std::string::npos);
    EXPECT_NE(readFile(name(1)).find("> 100% done %d %s\n"), std::string::npos);
}

TEST_F(LogFileTest, ErrorsEndTheConsoleLineButNotTheFileLine) {
    logprintf("first\n");
    testing::internal::CaptureStdout();
    logprintferror("MAIN: ERROR: %s", "broken");
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "\033[38;5;196mMAIN: ERROR: broken\033[38;5;248m\n");
    std::string file = readFile(name(1));
    EXPECT_EQ(file.substr(file.size() - std::string("MAIN: ERROR: broken").size()), "MAIN: ERROR: broken");
}

TEST_F(LogFileTest, ColouredVariantsWrapTheMessage) {
    logprintf("x\n");
    testing::internal::CaptureStdout();
    logprintfblue("b");
    logprintforange("o");
    logprintfgreen("g");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\033[38;5;33mb\033[38;5;248m\033[38;5;166mo\033[38;5;248m\033[38;5;40mg\033[38;5;248m\n");
}

TEST_F(LogFileTest, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kLines = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                logprintf("thread %d line %d %s\n", t, i,
                          std::string(40, static_cast<char>('a' + t)).c_str());
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::istringstream in(readFile(name(1)));
    std::string line;
    int count = 0;
    std::regex whole(R"(^.* > thread (\d) line \d+ ([a-d])\2{39}$)");
    while (std::getline(in, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        EXPECT_EQ(m[2].str()[0], 'a' + std::stoi(m[1].str()));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(LogFileTest, MissingFolderKeepsTheConsoleAndSaysSo) {
    fs::remove_all("log");
    testing::internal::CaptureStdout();
    logprintf("still here\n");
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("still here\n"), std::string::npos);
    EXPECT_NE(console.find("LF: Log File Open failed"), std::string::npos);
}

TEST_F(LogFileTest, GuiTimestampHasTwoDigitHour) {
    EXPECT_TRUE(std::regex_match(timestamp(), std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} > )")))
        << timestamp();
}

TEST_F(LogFileTest, MemoryReportOnlyWhenItChanged) {
    process_mem_usage();
    std::string first = readFile(name(1));
    EXPECT_TRUE(std::regex_search(first, std::regex(R"(MEMORY: VM = \d+kB; RSS= \d+kB;)"))) << first;
    process_mem_usage();
    std::string second = readFile(name(1));
    // Nothing was allocated in between: either no new line, or a changed figure.
    if (second != first) {
        EXPECT_NE(second.substr(first.size()), first.substr(first.rfind("MEMORY:")));
    }
}

} // namespace
