// eyecheck: answers the questions the scripted demo asks of a picture the simulated board
// saved, so each step can assert what the eyepieces show rather than that a file exists.
//   eyecheck pixel FILE X Y            prints the pixel at (X, Y) as RRGGBB
//   eyecheck dark FILE                 succeeds when every pixel is black; prints the
//                                      brightest component
//   eyecheck shift BEFORE AFTER [MAX [X Y W H]]
//                                      prints the horizontal move DX (AFTER at x shows
//                                      BEFORE at x - DX, |DX| <= MAX, default 4) that
//                                      matches the most pixels (of the region at X, Y of
//                                      W x H), and that share
//   eyecheck same FILE PART X Y        succeeds when PART equals FILE's region at (X, Y);
//                                      prints the number of differing pixels
// Exit status 0 when the answer is yes (or printed), 1 when no, 2 on bad arguments or an
// unreadable picture.
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kYes = 0;
constexpr int kNo = 1;
constexpr int kBadInput = 2;
constexpr int kDefaultMaxShift = 4;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb; // 0xRRGGBB
    uint32_t at(int x, int y) const { return rgb[size_t(y) * width + x]; }
};

bool load(const char* path, Picture& picture) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path)) {
        std::fprintf(stderr, "eyecheck: cannot read %s: %s\n", path, png.message);
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr)) {
        std::fprintf(stderr, "eyecheck: cannot decode %s: %s\n", path, png.message);
        return false;
    }
    picture.width = int(png.width);
    picture.height = int(png.height);
    picture.rgb.resize(size_t(picture.width) * picture.height);
    for (size_t i = 0; i < picture.rgb.size(); ++i) {
        picture.rgb[i] = uint32_t(bytes[i * 3]) << 16 | uint32_t(bytes[i * 3 + 1]) << 8 | bytes[i * 3 + 2];
    }
    return true;
}

bool number(const char* text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 100000) {
        std::fprintf(stderr, "eyecheck: '%s' is not a coordinate\n", text);
        return false;
    }
    value = int(v);
    return true;
}

int pixel(const char* file, const char* xText, const char* yText) {
    Picture p;
    int x = 0, y = 0;
    if (!load(file, p) || !number(xText, x) || !number(yText, y)) {
        return kBadInput;
    }
    if (x >= p.width || y >= p.height) {
        std::fprintf(stderr, "eyecheck: (%d, %d) lies outside the %d x %d picture\n", x, y, p.width,
                     p.height);
        return kBadInput;
    }
    std::printf("%06X\n", p.at(x, y));
    return kYes;
}

int dark(const char* file) {
    Picture p;
    if (!load(file, p)) {
        return kBadInput;
    }
    uint32_t brightest = 0;
    for (uint32_t c : p.rgb) {
        brightest = std::max({brightest, c >> 16, (c >> 8) & 0xFF, c & 0xFF});
    }
    std::printf("%u\n", brightest);
    return brightest == 0 ? kYes : kNo;
}

struct Region {
    int x = 0, y = 0, width = -1, height = -1; // -1: to the picture's edge
};

int shift(const char* beforeFile, const char* afterFile, int maxShift, Region r) {
    Picture before, after;
    if (!load(beforeFile, before) || !load(afterFile, after)) {
        return kBadInput;
    }
    if (r.width < 0) {
        r = Region{0, 0, before.width, before.height};
    }
    // Only columns every candidate move can compare take part, so the shares compare fairly.
    const int x0 = std::max(r.x, maxShift), x1 = std::min(r.x + r.width, before.width - maxShift);
    const int y1 = std::min(r.y + r.height, before.height);
    if (before.width != after.width || before.height != after.height || x1 <= x0 || y1 <= r.y) {
        std::fprintf(stderr, "eyecheck: the two pictures differ in size, or the region is empty\n");
        return kBadInput;
    }
    const double compared = double(x1 - x0) * (y1 - r.y);
    int best = 0;
    double bestShare = -1;
    for (int dx = -maxShift; dx <= maxShift; ++dx) {
        size_t matching = 0;
        for (int y = r.y; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                matching += after.at(x, y) == before.at(x - dx, y);
            }
        }
        const double share = double(matching) / compared;
        if (share > bestShare) {
            best = dx;
            bestShare = share;
        }
    }
    std::printf("%d %.4f\n", best, bestShare);
    return kYes;
}

int same(const char* file, const char* partFile, const char* xText, const char* yText) {
    Picture whole, part;
    int x0 = 0, y0 = 0;
    if (!load(file, whole) || !load(partFile, part) || !number(xText, x0) || !number(yText, y0)) {
        return kBadInput;
    }
    if (x0 + part.width > whole.width || y0 + part.height > whole.height) {
        std::fprintf(stderr, "eyecheck: %s does not fit in %s at (%d, %d)\n", partFile, file, x0, y0);
        return kNo;
    }
    size_t differing = 0;
    for (int y = 0; y < part.height; ++y) {
        for (int x = 0; x < part.width; ++x) {
            differing += part.at(x, y) != whole.at(x0 + x, y0 + y);
        }
    }
    std::printf("%zu\n", differing);
    return differing == 0 ? kYes : kNo;
}

int usage() {
    std::fprintf(stderr, "usage: eyecheck pixel FILE X Y | dark FILE | shift BEFORE AFTER [MAX [X Y W H]] | "
                         "same FILE PART X Y\n");
    return kBadInput;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "pixel" && argc == 5) {
        return pixel(argv[2], argv[3], argv[4]);
    }
    if (command == "dark" && argc == 3) {
        return dark(argv[2]);
    }
    if (command == "shift" && (argc == 4 || argc == 5 || argc == 9)) {
        constexpr int kMostShift = 64;
        int maxShift = kDefaultMaxShift;
        Region region;
        if (argc >= 5 && (!number(argv[4], maxShift) || maxShift > kMostShift)) {
            return usage();
        }
        if (argc == 9 && (!number(argv[5], region.x) || !number(argv[6], region.y) ||
                          !number(argv[7], region.width) || !number(argv[8], region.height))) {
            return usage();
        }
        return shift(argv[2], argv[3], maxShift, region);
    }
    if (command == "same" && argc == 6) {
        return same(argv[2], argv[3], argv[4], argv[5]);
    }
    return usage();
}
