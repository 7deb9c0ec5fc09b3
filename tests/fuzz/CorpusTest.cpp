// Runs a fuzz target's entry function over every file of its seed corpus, and over
// generated inputs too large to keep in the repository, as part of the normal suite.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempRoot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern char** environ;
// Each target's binary names its corpus folder.
extern const char* const kCorpusFolder;

namespace {

constexpr size_t kMegabyte = 1 << 20;

std::vector<std::string> corpusFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpusFolder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

int feed(const std::string& input) {
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

class CorpusTest : public testing_support::SimBoardTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(CorpusTest, InputIsHandled) {
    EXPECT_EQ(feed(testing_support::readFile(GetParam())), 0);
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = std::filesystem::path(info.param).filename().string();
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Seeds, CorpusTest, ::testing::ValuesIn(corpusFiles()), testName);

// Runs this binary's case for one seed in a process of its own with `tempFolder` as the
// temporary folder; returns its exit status (-1 when it did not end normally).
int runSeedAlone(const std::string& seed, const std::string& tempFolder) {
    std::string exe = "/proc/self/exe";
    std::string filter = "--gtest_filter=Seeds/CorpusTest.InputIsHandled/" +
                         testName(::testing::TestParamInfo<std::string>(seed, 0));
    char* argv[] = {exe.data(), filter.data(), nullptr};
    std::vector<std::string> env{"TMPDIR=" + tempFolder};
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) {
            env.emplace_back(*e);
        }
    }
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// The suite runs every seed in a process of its own: what the run put in the temporary
// folder (its input file, a system root) must go with the process, or each test run
// leaves them behind by the hundred.
TEST(CorpusRun, LeavesNothingInTheTemporaryFolder) {
    const std::vector<std::string> seeds = corpusFiles();
    ASSERT_FALSE(seeds.empty());
    const testing_support::TempDir temp;
    ASSERT_EQ(runSeedAlone(seeds.front(), temp.path()), 0);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(temp.path())) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_TRUE(left.empty()) << "left behind: " << ::testing::PrintToString(left);
}

class GeneratedInputTest : public testing_support::SimBoardTest {};

TEST_F(GeneratedInputTest, MegabyteLines) {
    EXPECT_EQ(feed("[SYSTEM]\nzoommarkings = " + std::string(kMegabyte, '7') + "\n"), 0);
    EXPECT_EQ(feed(std::string(kMegabyte, '[')), 0);
    std::string list = "[SYSTEM]\nzoomsettings = ";
    while (list.size() < kMegabyte) {
        list += "1e39,-0.5,nan,";
    }
    EXPECT_EQ(feed(list), 0);
}

TEST_F(GeneratedInputTest, BinaryGarbage) {
    std::string garbage;
    uint32_t x = 2463534242u; // xorshift: the same bytes every run
    for (size_t i = 0; i < kMegabyte; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        garbage += static_cast<char>(x & 0xFF);
    }
    EXPECT_EQ(feed(garbage), 0);
}

} // namespace
