// Decoding PNG pictures into ImageFile and the validity rule of ImageRef.
#include "gui/image/image.h"

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;
using Ostrix::Colour;
using Ostrix::ImageFile;
using Ostrix::ImageFilePNG;
using Ostrix::ImageRef;

namespace {

constexpr int kPngColourTypeOffset = 25; // in the IHDR chunk
constexpr int kPngColourTypeGrey = 0;
constexpr int kPngColourTypeRgb = 2;

class PngFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ostrix-image-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string save(const QImage& image, const std::string& name) {
        const std::string path = (dir_ / name).string();
        EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG"));
        return path;
    }

    static int colourType(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(kPngColourTypeOffset);
        return in.get();
    }

    fs::path dir_;
};

TEST_F(PngFiles, OpaqueRedRgbPixelLoadsAsPackedArgb) {
    QImage red(1, 1, QImage::Format_RGB32);
    red.setPixel(0, 0, qRgb(255, 0, 0));
    const std::string path = save(red, "red.png");
    ASSERT_EQ(colourType(path), kPngColourTypeRgb);

    ImageFilePNG image;
    ASSERT_TRUE(image.load(path.c_str()));
    EXPECT_EQ(image.width(), 1u);
    EXPECT_EQ(image.height(), 1u);
    EXPECT_EQ(image.pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(image.pixel(0, 0), Colour::Red.mCol);
}

TEST_F(PngFiles, PixelsKeepTheirPlaceAlphaAndChannelOrder) {
    QImage picture(3, 2, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    picture.setPixel(2, 0, qRgba(0x12, 0x34, 0x56, 0x78));
    picture.setPixel(0, 1, qRgba(0, 0, 255, 255));
    ImageFilePNG image;
    ASSERT_TRUE(image.load(save(picture, "rgba.png").c_str()));
    ASSERT_EQ(image.width(), 3u);
    ASSERT_EQ(image.height(), 2u);
    EXPECT_EQ(image.pixel(2, 0), 0x78123456u);
    EXPECT_EQ(image.pixel(0, 1), 0xFF0000FFu);
    EXPECT_EQ(image.data()[3], 0xFF0000FFu); // x + y * width
    EXPECT_EQ(image.pixel(0, 0) >> 24, 0u);
}

TEST_F(PngFiles, GreyPictureIsRefusedAndThePreviousContentStays) {
    QImage colour(2, 1, QImage::Format_RGB32);
    colour.fill(qRgb(0, 255, 0));
    QImage grey(4, 4, QImage::Format_Grayscale8);
    grey.fill(128);
    const std::string greyPath = save(grey, "grey.png");
    ASSERT_EQ(colourType(greyPath), kPngColourTypeGrey);

    ImageFilePNG image;
    ASSERT_TRUE(image.load(save(colour, "green.png").c_str()));
    EXPECT_FALSE(image.load(greyPath.c_str()));
    EXPECT_EQ(image.width(), 2u);
    EXPECT_EQ(image.height(), 1u);
    EXPECT_EQ(image.pixel(1, 0), Colour::Green.mCol);
}

TEST_F(PngFiles, MissingCorruptAndNonPngFilesAreRefused) {
    ImageFilePNG image;
    EXPECT_FALSE(image.load((dir_ / "absent.png").c_str()));

    std::ofstream((dir_ / "junk.png").string()) << "\x89PNG\r\n\x1a\n not really";
    EXPECT_FALSE(image.load((dir_ / "junk.png").c_str()));

    // Only PNG is decoded: a BMP (which stb_image could read) is not.
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(qRgb(1, 2, 3));
    const std::string bmp = (dir_ / "picture.bmp").string();
    ASSERT_TRUE(picture.save(QString::fromStdString(bmp), "BMP"));
    EXPECT_FALSE(image.load(bmp.c_str()));
    EXPECT_EQ(image.width(), 0u);

    ImageFile base;
    EXPECT_FALSE(base.load(bmp.c_str()));
}

TEST(ImageRefValidity, RectanglesInsideTheImageAreValidAndOthersHaveNoSource) {
    const ImageFile image(20, 10);
    EXPECT_TRUE(image.getRef(0, 0, 20, 10).valid());
    EXPECT_FALSE(image.getRef(0, 0, 21, 10).valid());
    EXPECT_FALSE(image.getRef(0, 0, 20, 11).valid());
    EXPECT_FALSE(image.getRef(21, 0, 21, 10).valid());
    // A zero-width rectangle at the right edge does not pass the image width.
    const ImageRef edge = image.getRef(20, 0, 20, 10);
    EXPECT_TRUE(edge.valid());
    EXPECT_EQ(edge.mWidth, 0u);

    const ImageRef inner = image.getRef(3, 4, 8, 10);
    EXPECT_EQ(inner.mSrc, &image);
    EXPECT_EQ(inner.mX, 3u);
    EXPECT_EQ(inner.mY, 4u);
    EXPECT_EQ(inner.mWidth, 5u);
    EXPECT_EQ(inner.mHeight, 6u);
}

TEST(ImageRefValidity, WrappedSizesDoNotPassAsInside) {
    const ImageFile image(20, 10);
    // Corners given the wrong way round, and sizes that wrap around 2^32.
    EXPECT_FALSE(image.getRef(10, 0, 5, 10).valid());
    EXPECT_FALSE(image.getRef(0, 8, 20, 2).valid());
    EXPECT_FALSE(ImageRef(&image, 10, 0, 0xFFFFFFFFu, 1).valid());
    EXPECT_FALSE(ImageRef(&image, 0, 5, 1, 0xFFFFFFFCu).valid());
    EXPECT_FALSE(ImageRef(nullptr, 0, 0, 0, 0).valid());
}

} // namespace
