// A folder watch tells a poller when to rescan: on the first look, after an entry came or
// went, and when the folder itself was made or removed; never on a quiet look.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "common/DirectoryWatch.h"
#include "tests/support/TempRoot.h"

namespace {

namespace fs = std::filesystem;

struct Step {
    const char* what;
    std::function<void(const std::string&)> action; // given the watched folder
    bool changed;
};

void touch(const std::string& path) {
    testing_support::writeFile(path, "");
}

TEST(DirectoryWatchTest, ReportsEveryChangeOfTheFolderAndNothingElse) {
    testing_support::TempDir dir;
    const std::string folder = dir.path() + "/by-path";
    const auto nothing = [](const std::string&) {};
    const Step steps[] = {
        {"first look, no folder yet", nothing, true},
        {"quiet, no folder", nothing, false},
        {"folder made", [](const std::string& f) { fs::create_directory(f); }, true},
        {"quiet", nothing, false},
        {"entry made", [](const std::string& f) { touch(f + "/usb-1-event-kbd"); }, true},
        {"quiet after the entry", nothing, false},
        {"entry written to (not a change of the folder)",
         [](const std::string& f) { testing_support::writeFile(f + "/usb-1-event-kbd", "x"); }, false},
        {"link made", [](const std::string& f) { fs::create_symlink("usb-1-event-kbd", f + "/link"); }, true},
        {"entry renamed", [](const std::string& f) { fs::rename(f + "/link", f + "/link2"); }, true},
        {"entries removed, then the folder",
         [](const std::string& f) {
             fs::remove(f + "/link2");
             fs::remove(f + "/usb-1-event-kbd");
             fs::remove(f);
         },
         true},
        {"quiet while gone", nothing, false},
        {"folder made again", [](const std::string& f) { fs::create_directory(f); }, true},
        {"entry in the new folder", [](const std::string& f) { touch(f + "/usb-2-event-kbd"); }, true},
        {"quiet at the end", nothing, false},
    };
    DirectoryWatch watch(folder);
    for (const Step& step : steps) {
        step.action(folder);
        EXPECT_EQ(watch.changed(), step.changed) << step.what;
    }
}

} // namespace
