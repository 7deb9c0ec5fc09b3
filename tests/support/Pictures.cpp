#include "tests/support/Pictures.h"

#include <png.h>

#include <algorithm>

namespace testing_support {

RgbImage readPng(const std::string& path) {
    RgbImage image;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return image;
    }
    png.format = PNG_FORMAT_RGB;
    image.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
        image.rgb.clear();
        return image;
    }
    image.width = png.width;
    image.height = png.height;
    return image;
}

bool writePng(const std::string& path, const RgbImage& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr) != 0;
}

RgbImage pattern(uint32_t width, uint32_t height, int seed) {
    RgbImage image{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &image.rgb[(size_t(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 7 + y + seed);
            p[1] = static_cast<uint8_t>(x + y * 3 + 2 * seed);
            p[2] = static_cast<uint8_t>((x >> 8) * 40 + y * 5 + seed);
        }
    }
    return image;
}

RgbImage columns(const RgbImage& image, uint32_t from, uint32_t width) {
    RgbImage out{width, image.height, std::vector<uint8_t>(size_t(width) * image.height * 3)};
    for (uint32_t y = 0; y < image.height; ++y) {
        std::copy_n(image.at(from, y), size_t(width) * 3, &out.rgb[size_t(y) * width * 3]);
    }
    return out;
}

RgbImage storeImage(const std::vector<uint32_t>& words, uint32_t width) {
    RgbImage image{width, uint32_t(words.size() / width), std::vector<uint8_t>(words.size() * 3)};
    for (size_t i = 0; i < words.size(); ++i) {
        image.rgb[3 * i] = static_cast<uint8_t>(words[i] >> 24);
        image.rgb[3 * i + 1] = static_cast<uint8_t>(words[i] >> 14);
        image.rgb[3 * i + 2] = static_cast<uint8_t>(words[i] >> 3);
    }
    return image;
}

} // namespace testing_support
