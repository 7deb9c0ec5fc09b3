#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tests/unit/controller/ControllerTest.h"

namespace {

using controller_testing::ControllerTest;

class OptionsTest : public ControllerTest {
protected:
    std::optional<int> parse(std::vector<const char*> args) {
        args.insert(args.begin(), "OstrixPi");
        return parse_command_line(static_cast<int>(args.size()), args.data());
    }
};

const char* const kHelpText =
    " Initialises and/or controls the functions of the Ostrix system\n"
    " useage: OstrixPi [option] [option] ...\n"
    " options: -h/--help/-?              help\n"
    "          -a <audioinitscript>      initialisation script to run\n"
    "          -b <freq> <cycles>        beep with frequency and cyclecount given\n"
    "          -ca <camera crosslink algo file>    camera board crosslink algo file name\n"
    "          -cd <camera crosslink data file>    camera board crosslink data file name\n"
    "          -cfpga <camera fpga jic>  update the camera board FPGA from the .jic file supplied\n"
    "          -clk <clock script>       clock config script for Si535x\n"
    "          -conf <config filename>   basic config (can be overloaded by later command line parameters)\n"
    "          -ctp <test_pattern_code>  sets camera test pattern register (308C) to the value given\n"
    "          -cu <camera uC filename>  update the camera board uC software\n"
    "          -edid <filename>          binary initialisation file for all EDID options\n"
    "          -edidl <filename>         binary initialisation file for Left Channel 2D EDID parameters\n"
    "          -edidr <filename>         binary initialisation file for Right Channel 2D EDID parameters\n"
    "          -edid3dl <filename>       binary initialisation file for Left Channel 3D EDID parameters\n"
    "          -gbc <bg colour>          GUI Screen background colour (always transparent)\n"
    "          -i                        initialise\n"
    "          -l <channel> <level>      lighting control, sets level for specified channel\n"
    "          -mbc <bg colour>          Menu background colour (variable transparency)\n"
    "          -r                        run\n"
    "          -tspi                     Test SPI into FPGA\n"
    "          -vwl                      verify left warp pixel table\n"
    "          -vwr                      verify right warp pixel table\n"
    "          -wl <warp line file>      common left and right warp line file\n"
    "          -wll <warp line file>     left only warp line file\n"
    "          -wlr <warp line file>     right only warp line file\n"
    "          -wp <warp pixel file>     common left and right warp pixel file\n"
    "          -wpl <warp pixel file>    left only warp pixel file\n"
    "          -wpr <warp pixel file>    right only warp pixel file\n"
    "          -wz  <warp zip file>      warp zip file containing a set of rotation files\n"
    "          -X                        Pi3 mode: turns off functions that will crash the standard Pi3\n"
    "\n";

TEST_F(OptionsTest, HelpPrintsTheHelpTextAndEndsWithZero) {
    for (const char* option : {"-h", "-?", "--help"}) {
        testing::internal::CaptureStdout();
        std::optional<int> status = parse({option, "-unknown"});
        EXPECT_EQ(testing::internal::GetCapturedStdout(), kHelpText) << option;
        EXPECT_EQ(status, 0) << option;
    }
}

TEST_F(OptionsTest, UnrecognisedParameterEndsWithMinusOne) {
    EXPECT_EQ(parse({"-r", "-q"}), -1);
    EXPECT_TRUE(logged("MAIN: ERROR: Unrecognised Command Line parameter '-q'"));
    EXPECT_EQ(parse({"r"}), -1);
}

struct FileOptionCase {
    const char* option;
    const char* missing;
    const char* notFound;
};

TEST_F(OptionsTest, CheckedFileOptionsReportAMissingNameAndAMissingFile) {
    const FileOptionCase cases[] = {
        {"-a", "Missing Audio Initialisation filename\n", "Audio Initialisation file 'nofile' not found.\n"},
        {"-ca", "MAIN: ERROR: Missing Camera Algo filename",
         "MAIN: ERROR: Camera Algo file 'nofile' not found."},
        {"-cd", "MAIN: ERROR: Missing Camera Data filename",
         "MAIN: ERROR: Camera Data file 'nofile' not found."},
        {"-cfpga", "MAIN: ERROR: Missing Camera FPGA filename",
         "MAIN: ERROR: Camera FPGA file 'nofile' not found."},
        {"-clk", "MAIN: ERROR: Missing Clock Script filename",
         "MAIN: ERROR: Clock Script file 'nofile' not found."},
        {"-cu", "MAIN: ERROR: Missing Camera uC filename", "MAIN: ERROR: Camera uC file 'nofile' not found."},
        {"-edid", "Missing EDID filename\n", "EDID Config file 'nofile' not found.\n"},
        {"-edidl", "Missing EDID Left Channel filename\n", "EDID Config file 'nofile' not found.\n"},
        {"-edidr", "Missing EDID Right Channel filename\n", "EDID Config file 'nofile' not found.\n"},
        {"-edid3dl", "Missing 3D EDID Left Channel filename\n", "3D EDID Config file 'nofile' not found.\n"},
        {"-wl", "Missing Warp Line filename\n", "Warp Line file 'nofile' not found.\n"},
        {"-wll", "Missing Warp Line filename\n", "Warp Line file 'nofile' not found.\n"},
        {"-wlr", "Missing Warp Line filename\n", "Warp Line file 'nofile' not found.\n"},
        {"-wp", "Missing Warp Pixel filename\n", "Warp Pixel file 'nofile' not found.\n"},
        {"-wpl", "Missing Warp Pixel filename\n", "Warp Pixel file 'nofile' not found.\n"},
        {"-wpr", "Missing Warp Pixel filename\n", "Warp Pixel file 'nofile' not found.\n"},
        {"-wz", "Missing Warp ZIP filename\n", "Warp Zip file 'nofile' not found.\n"},
    };
    for (const FileOptionCase& c : cases) {
        EXPECT_EQ(parse({"-r", c.option}), -1) << c.option;
        EXPECT_TRUE(logged(c.missing)) << c.option;
        logfile_testing::reset();
        std::remove("log/QLM_logfile_0001.log");
        EXPECT_EQ(parse({c.option, "nofile", "-r"}), -1) << c.option;
        EXPECT_TRUE(logged(c.notFound)) << c.option;
        EXPECT_FALSE(logged("Run mode On")) << c.option;
        std::remove("log/QLM_logfile_0001.log");
        logfile_testing::reset();
    }
}

TEST_F(OptionsTest, ValueOptionsWithoutTheirValueEndWithMinusOne) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"-gbc"}, "MAIN: ERROR: Missing GUI Background Colour"},
        {{"-mbc"}, "MAIN: ERROR: Missing Menu Background Colour"},
        {{"-b", "440"}, "MAIN: ERROR: Missing Beep frequency or cycle count"},
        {{"-l", "2"}, "MAIN: ERROR: Missing Lighting channel or level"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(parse(args), -1) << message;
        EXPECT_TRUE(logged(message)) << message;
    }
}

TEST_F(OptionsTest, TestPatternWithoutValueGoesOn) {
    cameraTestPattern = 9;
    EXPECT_EQ(parse({"-ctp"}), std::nullopt);
    EXPECT_EQ(cameraTestPattern, 0);
    EXPECT_TRUE(logged("MAIN: ERROR: Missing Test Pattern code - using defaults"));
    EXPECT_EQ(parse({"-ctp", "0x1F"}), std::nullopt);
    EXPECT_EQ(cameraTestPattern, 0x1F);
}

TEST_F(OptionsTest, ConfWithoutValueOrFileGoesOnWithTheDefaults) {
    EXPECT_EQ(parse({"-conf"}), std::nullopt);
    EXPECT_TRUE(logged("MAIN: ERROR: Missing Config filename - using defaults"));
    EXPECT_TRUE(execute_mode.configfile);

    EXPECT_EQ(parse({"-conf", "absent.cfg", "-R"}), std::nullopt);
    EXPECT_TRUE(logged("MAIN: ERROR: Config file not found, reverting to default"));
    EXPECT_EQ(controller_files.config_file, "ostrix.cfg");
    EXPECT_TRUE(execute_mode.configfile);
    EXPECT_FALSE(execute_mode.run); // the options after it still count
}

TEST_F(OptionsTest, ConfIsReadAtItsPosition) {
    write("clk-option.txt", "x");
    write("clk-file.txt", "x");
    write("mine.cfg", "[CAMERA]\ntest_pattern = 2\n[CLOCK]\nscript = clk-file.txt\n");
    EXPECT_EQ(parse({"-ctp", "7", "-clk", "clk-option.txt", "-conf", "mine.cfg"}), std::nullopt);
    EXPECT_EQ(cameraTestPattern, 2); // the file overrides the options before it
    EXPECT_EQ(controller_files.clock_script_file, "clk-file.txt");
    EXPECT_EQ(controller_files.config_file, "mine.cfg");
    EXPECT_FALSE(execute_mode.configfile);

    reset_process_state();
    EXPECT_EQ(parse({"-conf", "mine.cfg", "-ctp", "7", "-clk", "clk-option.txt"}), std::nullopt);
    EXPECT_EQ(cameraTestPattern, 7); // options after it override the file
    EXPECT_EQ(controller_files.clock_script_file, "clk-option.txt");
}

TEST_F(OptionsTest, Pi3ModeClearsExactlyItsSwitches) {
    EXPECT_EQ(parse({"-X"}), std::nullopt);
    EXPECT_TRUE(logged("No bus switch or FPGA\n"));
    EXPECT_EQ(USE_BUS_SWITCH, 0);
    EXPECT_EQ(USE_FPGA, 0);
    EXPECT_EQ(USE_AUDIO, 0);
    EXPECT_EQ(USE_CLOCKS, 0);
    EXPECT_EQ(USE_POWER, 0);
    EXPECT_EQ(USE_HDMI_CHIPS, 0);
    EXPECT_EQ(USE_CROSSLINK, 0);
    EXPECT_EQ(USE_CAMERA_SETTINGS, 1);
    EXPECT_EQ(USE_CAMERA_BOARD, 1);
}

TEST_F(OptionsTest, EdidOptionsSetTheirChannels) {
    write("a.edid", "x");
    write("b.edid", "x");
    write("c.edid", "x");
    EXPECT_EQ(parse({"-edid", "a.edid"}), std::nullopt);
    for (int c = 0; c < CHANNELS; ++c) {
        EXPECT_EQ(controller_files.edid_config_file[c], "a.edid");
        EXPECT_EQ(controller_files.edid_3Dconfig_file[c], "a.edid");
    }
    EXPECT_EQ(parse({"-edidr", "b.edid", "-edidl", "c.edid"}), std::nullopt);
    EXPECT_EQ(controller_files.edid_config_file[0], "c.edid");
    EXPECT_EQ(controller_files.edid_3Dconfig_file[0], "a.edid");
    EXPECT_EQ(controller_files.edid_config_file[1], "b.edid");
    EXPECT_EQ(controller_files.edid_3Dconfig_file[1], "b.edid");
    EXPECT_EQ(parse({"-edid3dl", "b.edid"}), std::nullopt);
    EXPECT_EQ(controller_files.edid_3Dconfig_file[0], "b.edid");
    EXPECT_EQ(controller_files.edid_config_file[0], "c.edid");
}

TEST_F(OptionsTest, WarpOptionsApplyInOrder) {
    write("a", "x");
    write("b", "x");
    write("z.zip", "x");
    EXPECT_EQ(parse({"-wl", "a", "-wlr", "b", "-wp", "b", "-wpl", "a", "-wz", "z.zip"}), std::nullopt);
    EXPECT_EQ(controller_files.warp_line_filename[0], "a");
    EXPECT_EQ(controller_files.warp_line_filename[1], "b");
    EXPECT_EQ(controller_files.warp_pixel_filename[0], "a");
    EXPECT_EQ(controller_files.warp_pixel_filename[1], "b");
    EXPECT_EQ(controller_files.warp_zip_filename, "z.zip");
    EXPECT_EQ(parse({"-wll", "b", "-wpr", "a"}), std::nullopt);
    EXPECT_EQ(controller_files.warp_line_filename[0], "b");
    EXPECT_EQ(controller_files.warp_pixel_filename[1], "a");
}

TEST_F(OptionsTest, CameraFilesRequestTheirUpdates) {
    for (const char* name : {"c.iea", "c.ied", "c.jic", "c.bin"}) {
        write(name, "x");
    }
    EXPECT_EQ(parse({"-ca", "c.iea"}), std::nullopt);
    EXPECT_EQ(controller_files.camera_crosslink_algo_file, "c.iea");
    EXPECT_EQ(camera_crosslink_update, 1);
    EXPECT_EQ(camera_fpga_update, 0);

    reset_process_state();
    EXPECT_EQ(parse({"-cd", "c.ied", "-cu", "c.bin"}), std::nullopt);
    EXPECT_EQ(controller_files.camera_crosslink_data_file, "c.ied");
    EXPECT_EQ(controller_files.camera_uC_file, "c.bin");
    EXPECT_EQ(camera_crosslink_update, 1);
    EXPECT_EQ(camera_uC_update, 1);

    reset_process_state();
    EXPECT_EQ(parse({"-cfpga", "c.jic"}), std::nullopt);
    EXPECT_EQ(controller_files.camera_fpga_file, "c.jic");
    EXPECT_EQ(camera_fpga_update, 1);
    EXPECT_EQ(camera_crosslink_update, 1);
    EXPECT_EQ(camera_uC_update, 0);
}

TEST_F(OptionsTest, NumbersTakeTheirBaseFromTheText) {
    EXPECT_EQ(parse({"-gbc", "0xFF00FF", "-mbc", "010", "-b", "0x3E8", "3", "-l", "0x5", "070"}),
              std::nullopt);
    EXPECT_EQ(guibgcolour, 0xFF00FFu);
    EXPECT_EQ(menubgcolour, 8u);
    EXPECT_EQ(beep_frequency, 1000);
    EXPECT_EQ(beep_cycles, 3);
    EXPECT_EQ(lighting_level[5], 56);
}

TEST_F(OptionsTest, LightingChannelOutsideTheRangeIsNotStored) {
    EXPECT_EQ(parse({"-l", "6", "100", "-l", "-1", "100", "-l", "0", "7"}), std::nullopt);
    EXPECT_TRUE(logged("MAIN: ERROR: Lighting channel 6 out of range 0..5"));
    for (int channel = 1; channel < LIGHTING_CHANNELS; ++channel) {
        EXPECT_EQ(lighting_level[channel], 0) << channel;
    }
    EXPECT_EQ(lighting_level[0], 7);
}

TEST_F(OptionsTest, ModeOptions) {
    EXPECT_EQ(parse({"-I", "-R", "-tspi", "-vwl"}), std::nullopt);
    EXPECT_FALSE(execute_mode.initialise);
    EXPECT_FALSE(execute_mode.run);
    EXPECT_TRUE(execute_mode.testSPI);
    EXPECT_TRUE(execute_mode.verifywarpleft);
    EXPECT_FALSE(execute_mode.verifywarpright);
    EXPECT_TRUE(warp_verification_requested());
    EXPECT_EQ(parse({"-i", "-r", "-vwr"}), std::nullopt);
    EXPECT_TRUE(execute_mode.initialise);
    EXPECT_TRUE(execute_mode.run);
    EXPECT_TRUE(execute_mode.verifywarpright);
    for (const char* line :
         {"Initialise mode Off\n", "Run mode Off\n", "Initialise mode On\n", "Run mode On\n"}) {
        EXPECT_TRUE(logged(line)) << line;
    }
}

TEST(ExecuteModeLayout, BitsAreWhereTheConstantsSay) {
    EXPECT_EQ(execute_mode_word(EXECUTE_MODE_START), 0x2113u);
    EXPECT_TRUE(execute_mode_from_word(INITIALISE).initialise);
    EXPECT_TRUE(execute_mode_from_word(RUN).run);
    EXPECT_TRUE(execute_mode_from_word(STANDBY).standby);
    EXPECT_TRUE(execute_mode_from_word(PNGDISPLAY).pngdisplay);
    EXPECT_TRUE(execute_mode_from_word(CONFIGFILE).configfile);
    EXPECT_TRUE(execute_mode_from_word(STANDBYAFTERPOWERUP).standbyafterpowerup);
    EXPECT_TRUE(execute_mode_from_word(VERIFYWARPLEFT).verifywarpleft);
    EXPECT_TRUE(execute_mode_from_word(VERIFYWARPRIGHT).verifywarpright);
    EXPECT_EQ(execute_mode_from_word(0xC00).mode3D, 3u);
    EXPECT_TRUE(execute_mode_from_word(1u << 18).screensblanked);
    EXPECT_EQ(execute_mode_from_word(0xFFF80000u).unused, 0x1FFFu);
    EXPECT_EQ(execute_mode_word(execute_mode_from_word(0xFFF80000u)), 0xFFF80000u);
}

} // namespace
