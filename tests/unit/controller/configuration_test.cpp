#include <gtest/gtest.h>

#include "controller/core/ConfigFile.h"
#include "tests/unit/controller/ControllerTest.h"

namespace {

using controller_testing::ControllerTest;

class ConfigurationTest : public ControllerTest {
protected:
    int read(const std::string& text) {
        write("test.cfg", text);
        return read_config_file("test.cfg");
    }
};

// Every key, with files that exist where the key names one.
const char* const kFullConfig = R"([SYSTEM]
majorversion = 2
minorversion = 7
standbyafterpowerup = 1
usbaliveinstandby = 1
splashoffearly = 1
signallosstimeout = 30
screenoffstandbytimeout = 120
splashimageleft = left.bmp
splashimageright = right.bmp
zoomencoder = 1
zoommarkings = 1.0, 2.5,3
zoomsettings = 10
[HDMI]
edidfile = all.edid
leftSBSedidfile = sbs.edid
[WARP]
leftpixelfile = lp.bin
rightpixelfile = rp.bin
leftlinefile = ll.bin
rightlinefile = rl.bin
zipfile = w.zip
warpfolder = ./tables/
warprotationstep = 0.5
[AUDIO]
initscript = audio.txt
[CAMERA]
algofile = cam.iea
datafile = cam.ied
fpgafile = cam.jic
ucfile = cam.binary
test_pattern = 0x10
hdr_gamma_index = 3
hdr_colour_correction = 2
shutterangle = 90,180
[LIGHTING]
minlevel = 440
[FPGA]
fpgafile = vp.jic
algofile = vp.iea
datafile = vp.ied
[DISPLAY]
guibackcolour = 0x102030
menubackcolour = 255
[CLOCK]
script = clk.txt
[PSU]
offinstandby = 1
[IMAGE]
horizinvert = 1
vertinvert = 1
format = BMP
pngcompression = 4
[LENSX040-RIGHT]
redoffset = -2
redstep = 7
greenoffset = 3
greenstep = 4
blueoffset = 5
bluestep = 6
)";

TEST_F(ConfigurationTest, EveryKeySetsItsValue) {
    for (const char* name :
         {"all.edid", "sbs.edid", "lp.bin", "rp.bin", "ll.bin", "rl.bin", "w.zip", "audio.txt", "cam.iea",
          "cam.ied", "cam.jic", "cam.binary", "vp.jic", "clk.txt"}) {
        write(name, "x");
    }
    ASSERT_EQ(read(kFullConfig), 0);
    EXPECT_EQ(system_major_version, 2);
    EXPECT_EQ(system_minor_version, 7);
    for (int c = 0; c < CHANNELS; ++c) {
        EXPECT_EQ(controller_files.edid_config_file[c], "all.edid");
        EXPECT_EQ(controller_files.edid_3Dconfig_file[c], "all.edid");
    }
    EXPECT_EQ(controller_files.edid_SBSconfig_file[0], "sbs.edid");
    EXPECT_EQ(controller_files.edid_SBSconfig_file[1], "");
    EXPECT_EQ(controller_files.warp_pixel_filename[0], "lp.bin");
    EXPECT_EQ(controller_files.warp_pixel_filename[1], "rp.bin");
    EXPECT_EQ(controller_files.warp_line_filename[0], "ll.bin");
    EXPECT_EQ(controller_files.warp_line_filename[1], "rl.bin");
    EXPECT_EQ(controller_files.warp_zip_filename, "w.zip");
    EXPECT_EQ(controller_files.warp_folder, "./tables/");
    EXPECT_FLOAT_EQ(warp_rotation_step, 0.5f);
    EXPECT_EQ(controller_files.audio_init_script, "audio.txt");
    EXPECT_EQ(controller_files.camera_crosslink_algo_file, "cam.iea");
    EXPECT_EQ(controller_files.camera_crosslink_data_file, "cam.ied");
    EXPECT_EQ(controller_files.camera_fpga_file, "cam.jic");
    EXPECT_EQ(controller_files.camera_uC_file, "cam.binary");
    EXPECT_EQ(cameraTestPattern, 16); // through a double: "0x10" is hexadecimal
    EXPECT_EQ(cameraHdrGammaIndex, 3);
    EXPECT_EQ(cameraHdrColourEnhancement, 2);
    EXPECT_EQ(lighting_min_level, 440);
    EXPECT_EQ(controller_files.vp_fpga_file, "vp.jic");
    EXPECT_EQ(guibgcolour, 0x102030u);
    EXPECT_EQ(menubgcolour, 255u);
    EXPECT_EQ(controller_files.clock_script_file, "clk.txt");
    EXPECT_TRUE(offinstandby);
    EXPECT_TRUE(image_horizontal_invert);
    EXPECT_TRUE(image_vertical_invert);
    EXPECT_FALSE(image_format_png);
    EXPECT_EQ(png_compression_level, 4);
    const lens_chroma_t& chroma = lens_chroma[1][LENSPOWER_X040];
    EXPECT_EQ(chroma.redoffset, -2);
    EXPECT_EQ(chroma.redstep, 7);
    EXPECT_EQ(chroma.greenoffset, 3);
    EXPECT_EQ(chroma.greenstep, 4);
    EXPECT_EQ(chroma.blueoffset, 5);
    EXPECT_EQ(chroma.bluestep, 6);
    EXPECT_EQ(lens_chroma[0][LENSPOWER_X040].redstep, 0);
    EXPECT_EQ(controller_files.vp_crosslink_algofile, "vp.iea");
    EXPECT_EQ(controller_files.vp_crosslink_datafile, "vp.ied");
    EXPECT_TRUE(execute_mode.standbyafterpowerup);
    EXPECT_TRUE(usbaliveinstandby);
    EXPECT_TRUE(splashoffearly);
    EXPECT_EQ(signal_loss_timeout, 30);
    EXPECT_EQ(screen_off_standby_timeout, 120);
    EXPECT_EQ(splashImageFile[0], "left.bmp");
    EXPECT_EQ(splashImageFile[1], "right.bmp");
    EXPECT_TRUE(zoomencoder);
    EXPECT_EQ(zoom_markings, (std::vector<float>{1.0f, 2.5f, 3.0f}));
    EXPECT_EQ(zoom_settings, std::vector<float>{10.0f});
    EXPECT_EQ(camera_shutter_angles, "90,180");

    EXPECT_TRUE(loggedInOrder(
        {"Reading Config File test.cfg\n", "found key leftSBSedidfile, value 'sbs.edid'\n",
         "MAIN: Reading Warp Filename\n", "MAIN: warp pix left = lp.bin\n", "MAIN: warp pix right = rp.bin\n",
         "MAIN: warp line left = ll.bin\n", "MAIN: warp line right = rl.bin\n", "MAIN: warp zip = w.zip\n",
         "MAIN: warp rotation step = 0.5\n", "MAIN: Done Reading Warp Filename\n"}));
    EXPECT_TRUE(logged("MAIN: Done Reading cameraHdrGammaIndex 3\n"));
    EXPECT_TRUE(logged("MAIN: Done Reading cameraHdrColourEnhancement 2\n"));
    EXPECT_TRUE(logged("Save Image Format 0\n"));
    EXPECT_TRUE(logged("MAIN: zoom markings = 1.0, 2.5, 3.0, \n"));
    EXPECT_TRUE(logged("MAIN: zoom settings = 10.0, \n"));
    EXPECT_TRUE(logged("Camera Shutter Angles '90,180'\n"));
    EXPECT_TRUE(logged("MAIN: Reading Config File End\n"));
}

TEST_F(ConfigurationTest, MissingFileIsReported) {
    EXPECT_EQ(read_config_file("absent.cfg"), -2);
    EXPECT_EQ(read_config_file("log"), -2); // a folder is no configuration file
    EXPECT_TRUE(logged("Reading Config File absent.cfg\n"));
    EXPECT_TRUE(logged("MAIN: Config File does not exist\n"));
}

TEST_F(ConfigurationTest, EmptyFileGivesTheMissingResults) {
    controller_files.warp_line_filename[0] = "kept.bin";
    controller_files.vp_fpga_file = "kept.jic";
    cameraTestPattern = 5; // as an option would have set it
    ASSERT_EQ(read(""), 0);
    EXPECT_EQ(controller_files.warp_line_filename[0], "kept.bin");
    EXPECT_EQ(controller_files.vp_fpga_file, "kept.jic");
    EXPECT_EQ(controller_files.warp_folder, "./warp/");
    EXPECT_FLOAT_EQ(warp_rotation_step, 0.2f);
    EXPECT_EQ(cameraTestPattern, 0);
    EXPECT_EQ(cameraHdrGammaIndex, 0);
    EXPECT_EQ(guibgcolour, 0x008080u); // built-in colours stay
    EXPECT_EQ(menubgcolour, 0x8B8B8Bu);
    EXPECT_TRUE(image_format_png);
    EXPECT_EQ(png_compression_level, 0);
    EXPECT_EQ(signal_loss_timeout, 60);
    EXPECT_EQ(screen_off_standby_timeout, 300);
    EXPECT_TRUE(zoom_markings.empty());
    EXPECT_TRUE(zoom_settings.empty());
    EXPECT_EQ(camera_shutter_angles, DEFAULT_SHUTTER_ANGLES);
    EXPECT_TRUE(logged("MAIN: zoom markings = \n"));
    EXPECT_TRUE(logged("No entry for '[SYSTEM]majorversion'\n"));
    EXPECT_TRUE(logged("MAIN: No entry for '[WARP]leftpixelfile'\n"));
    EXPECT_TRUE(logged("No entry for '[DISPLAY]guibackcolour'\n"));
}

TEST_F(ConfigurationTest, FileWithoutClockSectionEmptiesTheClockScript) {
    controller_files.clock_script_file = "option.txt";
    ASSERT_EQ(read("[SYSTEM]\nmajorversion = 1\n"), 0);
    EXPECT_EQ(controller_files.clock_script_file, "");
}

TEST_F(ConfigurationTest, TimeoutsBelowOneSecondTakeTheirDefaults) {
    ASSERT_EQ(read("[SYSTEM]\nsignallosstimeout = 0\n"), 0);
    EXPECT_EQ(signal_loss_timeout, 60);
    EXPECT_EQ(screen_off_standby_timeout, 300);
    ASSERT_EQ(read("[SYSTEM]\nsignallosstimeout = 1\nscreenoffstandbytimeout = -5\n"), 0);
    EXPECT_EQ(signal_loss_timeout, 1);
    EXPECT_EQ(screen_off_standby_timeout, 300);
}

TEST_F(ConfigurationTest, OnlyTheExactTextBmpSelectsBmp) {
    ASSERT_EQ(read("[IMAGE]\nformat = bmp\n"), 0);
    EXPECT_TRUE(image_format_png);
    ASSERT_EQ(read("[IMAGE]\nformat = BMP\n"), 0);
    EXPECT_FALSE(image_format_png);
    ASSERT_EQ(read("[IMAGE]\nformat = PNG\n"), 0);
    EXPECT_TRUE(image_format_png);
    EXPECT_TRUE(logged("Save Image Format 1\n"));
}

TEST_F(ConfigurationTest, FlagsAreExactlyOne) {
    ASSERT_EQ(read("[PSU]\noffinstandby = yes\n[SYSTEM]\nzoomencoder = 1 \nusbaliveinstandby = 10\n"), 0);
    EXPECT_FALSE(offinstandby);
    EXPECT_TRUE(zoomencoder); // the value is trimmed
    EXPECT_FALSE(usbaliveinstandby);
}

TEST_F(ConfigurationTest, StandbyAfterPowerUpIsNeverClearedByTheFile) {
    ASSERT_EQ(read("[SYSTEM]\nstandbyafterpowerup = 1\n"), 0);
    EXPECT_TRUE(execute_mode.standbyafterpowerup);
    ASSERT_EQ(read("[SYSTEM]\nstandbyafterpowerup = 0\n"), 0);
    EXPECT_TRUE(execute_mode.standbyafterpowerup);
    ASSERT_EQ(read(""), 0);
    EXPECT_TRUE(execute_mode.standbyafterpowerup);
}

TEST_F(ConfigurationTest, EdidKeysInOrder) {
    for (const char* name : {"a.edid", "l.edid", "r.edid", "l3.edid"}) {
        write(name, "x");
    }
    ASSERT_EQ(read("[HDMI]\nedidfile = a.edid\nleftedidfile = l.edid\nrightedidfile = r.edid\n"
                   "left3Dedidfile = l3.edid\n"),
              0);
    EXPECT_EQ(controller_files.edid_config_file[0], "l.edid");
    EXPECT_EQ(controller_files.edid_config_file[1], "r.edid");
    EXPECT_EQ(controller_files.edid_3Dconfig_file[0], "l3.edid");
    EXPECT_EQ(controller_files.edid_3Dconfig_file[1], "r.edid");
}

TEST_F(ConfigurationTest, FileNameOfAMissingFileIsStillTaken) {
    ASSERT_EQ(read("[FPGA]\nfpgafile = new.jic\n[WARP]\nleftpixelfile =\n"), 0);
    EXPECT_EQ(controller_files.vp_fpga_file, "new.jic");
    EXPECT_EQ(controller_files.warp_pixel_filename[0], "");
    EXPECT_TRUE(logged("MAIN: Read filename new.jic but file does not exist\n"));
    EXPECT_TRUE(logged("MAIN: filename is blank for [WARP].leftpixelfile\n"));
}

TEST_F(ConfigurationTest, RotationStepOfZeroIsKept) {
    ASSERT_EQ(read("[WARP]\nwarprotationstep = 0.4\n"), 0);
    ASSERT_EQ(read("[WARP]\nwarprotationstep = 0\n"), 0);
    EXPECT_FLOAT_EQ(warp_rotation_step, 0.4f);
}

TEST_F(ConfigurationTest, ColourNumbers) {
    ASSERT_EQ(read("[DISPLAY]\nguibackcolour = 0xFF00FF\nmenubackcolour = 1e20\n"), 0);
    EXPECT_EQ(guibgcolour, 0xFF00FFu);
    EXPECT_EQ(menubgcolour, 0xFFFFFFFFu);
    ASSERT_EQ(read("[DISPLAY]\nguibackcolour = -5\nmenubackcolour = nan\n"), 0);
    EXPECT_EQ(guibgcolour, 0u);
    EXPECT_EQ(menubgcolour, 0u);
}

TEST_F(ConfigurationTest, ReadingAgainResetsTheLensChroma) {
    ASSERT_EQ(read("[LENSNONE-LEFT]\nbluestep = 9\n"), 0);
    EXPECT_EQ(lens_chroma[0][LENSPOWER_NOLENS].bluestep, 9);
    ASSERT_EQ(read("[SYSTEM]\n"), 0);
    EXPECT_EQ(lens_chroma[0][LENSPOWER_NOLENS].bluestep, 0);
}

TEST_F(ConfigurationTest, MalformedFilesAreReadAndLoggedSafely) {
    std::string garbage = "[SYSTEM]\nsplashimageleft = \033[2J\x01\x7f" + std::string(3000, 'z') + "\n";
    garbage += std::string("\0\xff\xfe[\0\n=\n", 8);
    garbage += "[CAMERA]\nshutterangle = " + std::string(1 << 20, '9') + "\n[WARP]\nzipfile = z\033.zip";
    ASSERT_EQ(read(garbage), 0);
    EXPECT_EQ(camera_shutter_angles.size(), size_t{1} << 20);
    EXPECT_EQ(controller_files.warp_zip_filename, "z\033.zip"); // the last line has no line end
    const std::string log = logText();
    EXPECT_EQ(log.find('\033'), std::string::npos);
    EXPECT_NE(log.find("Camera Shutter Angles '" + std::string(200, '9') + "...'\n"), std::string::npos);
    EXPECT_NE(log.find("MAIN: warp zip = z?.zip\n"), std::string::npos);
    EXPECT_NE(log.find("MAIN: Reading Config File End\n"), std::string::npos);
}

TEST_F(ConfigurationTest, LensAberrationPoints) {
    write("lens.cfg", "[LENSX033-ABERRATION]\npoints = 3\naberration_point0 = 1,2\naberration_point1 = 3,4\n"
                      "aberration_point2 = 5,6\naberration_point3 = 7,8\n"
                      "[LENSX050-ABERRATION]\npoints = 1000000000\naberration_point0 = 9,9\n"
                      "[LENSX040-ABERRATION]\npoints = -4\naberration_point0 = 1,1\n");
    EXPECT_EQ(lens_aberration_points("lens.cfg", LENSPOWER_X033),
              (std::vector<std::string>{"1,2", "3,4", "5,6"}));
    // A count beyond the points in the file ends at the first missing point.
    EXPECT_EQ(lens_aberration_points("lens.cfg", LENSPOWER_X050), std::vector<std::string>{"9,9"});
    EXPECT_TRUE(lens_aberration_points("lens.cfg", LENSPOWER_X040).empty());
    EXPECT_TRUE(lens_aberration_points("lens.cfg", LENSPOWER_NOLENS).empty());
    EXPECT_TRUE(lens_aberration_points("lens.cfg", 4).empty());
    EXPECT_TRUE(lens_aberration_points("lens.cfg", -1).empty());
}

TEST_F(ConfigurationTest, LensAberrationFilePrefersQlmCfg) {
    controller_files.config_file = "mine.cfg";
    load_lens_aberration_correction(LENSPOWER_X040);
    EXPECT_TRUE(logged("MAIN: load_lens_aberration_correction from LENSX040-ABERRATION\n"));
    EXPECT_TRUE(logged("MAIN: load_lens_aberration_correction from file mine.cfg\n"));
    write("qlm.cfg", "");
    load_lens_aberration_correction(LENSPOWER_NOLENS);
    EXPECT_TRUE(logged("MAIN: load_lens_aberration_correction from file qlm.cfg\n"));
}

// The sample configuration of the simulated board names every key.
TEST_F(ConfigurationTest, SampleConfigurationHasEveryKey) {
    const std::string sample = std::string(OSTRIX_SOURCE_DIR) + "/resources/ostrix.cfg";
    ASSERT_EQ(read_config_file(sample), 0);
    for (int lens = LENSPOWER_NOLENS; lens <= LENSPOWER_X050; ++lens) {
        EXPECT_TRUE(lens_aberration_points(sample, lens).empty());
    }
    EXPECT_FALSE(logged("No entry for"));
    EXPECT_EQ(signal_loss_timeout, 60);
    EXPECT_EQ(guibgcolour, 0x008080u);
    EXPECT_EQ(controller_files.clock_script_file, "Si5351A-Registers.txt");
    EXPECT_EQ(camera_shutter_angles, DEFAULT_SHUTTER_ANGLES);
}

} // namespace
