// Feeds arbitrary file names, one a line, as a USB stick's root folder would list them, to
// the update search and the stored-image naming: nothing may crash, and an update that is
// chosen must carry a version of digits and one point only, above 0.0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "controller/core/ImageCapture.h"
#include "controller/core/usb.h"
#include "fuzz/FuzzHarness.h"

namespace {

bool versionText(const std::string& text) {
    int points = 0;
    for (char c : text) {
        if (c == '.') {
            ++points;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return points <= 1;
}

void checkChoice(const std::vector<std::string>& names, const std::string& ext) {
    UpdateFile found;
    if (!newest_update(names, system_update_filename, ext, &found)) {
        return;
    }
    const std::string& name = found.name;
    if (name.size() <= system_update_filename.size() + ext.size() ||
        name.compare(0, system_update_filename.size(), system_update_filename) != 0 ||
        !versionText(name.substr(system_update_filename.size(),
                                 name.size() - system_update_filename.size() - ext.size())) ||
        (found.major == 0 && found.minor == 0) || found.major < 0 || found.minor < 0) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole("./fuzz-usb-names-no-log-folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        int major = 0, minor = 0;
        if (parse_update_version(line, &major, &minor) && (major < 0 || minor < 0)) {
            abort();
        }
        const std::string right = right_image_name(line);
        if (right.size() != line.size()) {
            abort();
        }
        names.push_back(line);
    }
    checkChoice(names, system_update_ext1);
    checkChoice(names, system_update_ext2);
    return 0;
}
