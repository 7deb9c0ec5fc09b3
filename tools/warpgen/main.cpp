// warpgen: writes warp line and pixel tables for every rotation step, as plain files and
// as a zip archive, for the demonstration and the tests.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/warpgen/WarpGenerator.h"

namespace {

void usage(FILE* out) {
    fprintf(out, "usage: warpgen [options] FOLDER\n"
                 "  --width N          pixels per line (1920)\n"
                 "  --height N         lines (1080)\n"
                 "  --step TENTHS      rotation step in tenths of a degree (2)\n"
                 "  --max TENTHS       largest rotation in tenths of a degree (20)\n"
                 "  --line NAME        line table base name (warpline.txt)\n"
                 "  --pixel NAME       pixel table base name (warppixel.txt)\n"
                 "  --zip NAME         archive name, empty for none (warp.zip)\n"
                 "  --zip-only         rotated tables only in the archive\n");
}

bool number(const char* text, int& value) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (!*text || *end) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    warpgen::Options o;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        }
        if (a == "--zip-only") {
            o.plainRotations = false;
        } else if (hasValue && (a == "--width" || a == "--height" || a == "--step" || a == "--max")) {
            int& target = a == "--width"    ? o.width
                          : a == "--height" ? o.height
                          : a == "--step"   ? o.stepTenths
                                            : o.maxTenths;
            if (!number(argv[++i], target)) {
                usage(stderr);
                return 2;
            }
        } else if (hasValue && (a == "--line" || a == "--pixel" || a == "--zip")) {
            std::string& target = a == "--line" ? o.lineName : a == "--pixel" ? o.pixelName : o.zipName;
            target = argv[++i];
        } else if (folder.empty() && a[0] != '-') {
            folder = a;
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (folder.empty()) {
        usage(stderr);
        return 2;
    }
    o.folder = folder;
    std::string error = warpgen::generate(o);
    if (!error.empty()) {
        fprintf(stderr, "warpgen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
