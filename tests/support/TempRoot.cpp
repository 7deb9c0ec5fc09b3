#include "TempRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "common/logfile.h"
#include "platform/platform.h"

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
    auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void SimBoardTest::SetUp() {
    char cwd[4096];
    previousDir_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
    sim::BoardBuilder builder(root_.path());
    configure(builder);
    board_ = &builder.build();
    ASSERT_EQ(chdir(home().c_str()), 0);
    logfile_testing::reset();
}

void SimBoardTest::TearDown() {
    if (HasFailure() && board_) {
        std::cerr << "Recent traffic on the simulated board:\n" << board_->trace().dump() << std::flush;
    }
    platform::setBackend(nullptr);
    board_ = nullptr;
    if (chdir(previousDir_.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << previousDir_;
    }
}

} // namespace testing_support
