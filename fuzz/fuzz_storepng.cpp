// Feeds arbitrary bytes to the reader of pictures the frame store shows, as a PNG on a
// stick would reach it: decoding, the size check before the picture is allocated and the
// failure paths must neither crash nor leak.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "common/logfile.h"
#include "controller/fpga/FramePng.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-storepng-no-log-folder";

const std::string& inputPath() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("ostrix-fuzz-storepng-" + std::to_string(getpid()) + ".png"))
                                        .string();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setLogFolder(kNoLogFolder);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = inputPath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    StoreImage image;
    if (readStoreImagePNG(path, image) == 0 && image.rgb.size() != size_t(image.width) * image.height * 3) {
        __builtin_trap(); // a picture accepted with fewer bytes than its rows need
    }
    std::remove(path.c_str());
    return 0;
}
