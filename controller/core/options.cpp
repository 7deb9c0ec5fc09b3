// The controller's command line: options are taken from left to right, an option with
// values consumes the arguments that follow it.
#include <cstdio>
#include <cstdlib>

#include "common/logfile.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/configuration.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = -1;
constexpr int kAutomaticBase = 0; // decimal, "0x" hexadecimal, leading "0" octal
constexpr int LEFT = 0;
constexpr int RIGHT = 1;

using Result = std::optional<int>;

// The arguments not yet taken.
class Arguments {
public:
    Arguments(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}
    bool next(std::string& value) {
        if (index_ >= argc_ || argv_[index_] == nullptr) {
            return false;
        }
        value = argv_[index_++];
        return true;
    }

private:
    int argc_;
    const char* const* argv_;
    int index_ = 1;
};

long number(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, kAutomaticBase);
}
unsigned long unsignedNumber(const std::string& text) {
    return std::strtoul(text.c_str(), nullptr, kAutomaticBase);
}

// How an option's message is logged: as it stands, or in the error form.
enum class Form { Plain, Error };

struct FileMessages {
    Form form;
    const char* missing;  // the "Missing ..." message
    const char* notFound; // format with the file name
};

void logMissing(const FileMessages& messages) {
    if (messages.form == Form::Error) {
        err_printf(messages.missing);
    } else {
        logprintf("%s", messages.missing);
    }
}

bool readable(const std::string& name) {
    FILE* file = std::fopen(name.c_str(), "r");
    if (!file) {
        return false;
    }
    std::fclose(file);
    return true;
}

// Takes a file name that must exist. On failure the message is logged and the program ends.
Result takeCheckedFile(Arguments& args, const FileMessages& messages, std::string& name) {
    if (!args.next(name)) {
        logMissing(messages);
        return kExitError;
    }
    if (!readable(name)) {
        if (messages.form == Form::Error) {
            logprintferror(messages.notFound, name.c_str());
        } else {
            logprintf(messages.notFound, name.c_str());
        }
        return kExitError;
    }
    return std::nullopt;
}

const FileMessages kAudioMessages{Form::Plain, "Missing Audio Initialisation filename\n",
                                  "Audio Initialisation file '%s' not found.\n"};
const FileMessages kCameraAlgoMessages{Form::Error, "Missing Camera Algo filename",
                                       "MAIN: ERROR: Camera Algo file '%s' not found."};
const FileMessages kCameraDataMessages{Form::Error, "Missing Camera Data filename",
                                       "MAIN: ERROR: Camera Data file '%s' not found."};
const FileMessages kCameraFpgaMessages{Form::Error, "Missing Camera FPGA filename",
                                       "MAIN: ERROR: Camera FPGA file '%s' not found."};
const FileMessages kClockMessages{Form::Error, "Missing Clock Script filename",
                                  "MAIN: ERROR: Clock Script file '%s' not found."};
const FileMessages kCameraUcMessages{Form::Error, "Missing Camera uC filename",
                                     "MAIN: ERROR: Camera uC file '%s' not found."};
const FileMessages kEdidMessages{Form::Plain, "Missing EDID filename\n",
                                 "EDID Config file '%s' not found.\n"};
const FileMessages kEdidLeftMessages{Form::Plain, "Missing EDID Left Channel filename\n",
                                     "EDID Config file '%s' not found.\n"};
const FileMessages kEdidRightMessages{Form::Plain, "Missing EDID Right Channel filename\n",
                                      "EDID Config file '%s' not found.\n"};
const FileMessages kEdid3DLeftMessages{Form::Plain, "Missing 3D EDID Left Channel filename\n",
                                       "3D EDID Config file '%s' not found.\n"};
const FileMessages kWarpLineMessages{Form::Plain, "Missing Warp Line filename\n",
                                     "Warp Line file '%s' not found.\n"};
const FileMessages kWarpPixelMessages{Form::Plain, "Missing Warp Pixel filename\n",
                                      "Warp Pixel file '%s' not found.\n"};
const FileMessages kWarpZipMessages{Form::Plain, "Missing Warp ZIP filename\n",
                                    "Warp Zip file '%s' not found.\n"};

// An option that names one file for one or more targets.
template <size_t N>
Result fileOption(Arguments& args, const FileMessages& messages, std::string* const (&targets)[N]) {
    std::string name;
    if (Result end = takeCheckedFile(args, messages, name)) {
        return end;
    }
    for (std::string* target : targets) {
        *target = name;
    }
    return std::nullopt;
}

Result help(Arguments&) {
    print_help();
    return kExitOk;
}

Result audioScript(Arguments& args) {
    return fileOption(args, kAudioMessages, {&controller_files.audio_init_script});
}

Result beep(Arguments& args) {
    std::string frequency;
    std::string cycles;
    if (!args.next(frequency) || !args.next(cycles)) {
        err_printf("Missing Beep frequency or cycle count");
        return kExitError;
    }
    beep_frequency = static_cast<uint16_t>(number(frequency));
    beep_cycles = static_cast<uint16_t>(number(cycles));
    return std::nullopt;
}

Result cameraAlgo(Arguments& args) {
    if (Result end = fileOption(args, kCameraAlgoMessages, {&controller_files.camera_crosslink_algo_file})) {
        return end;
    }
    camera_crosslink_update = 1;
    return std::nullopt;
}

Result cameraData(Arguments& args) {
    if (Result end = fileOption(args, kCameraDataMessages, {&controller_files.camera_crosslink_data_file})) {
        return end;
    }
    camera_crosslink_update = 1;
    return std::nullopt;
}

Result cameraFpga(Arguments& args) {
    if (Result end = fileOption(args, kCameraFpgaMessages, {&controller_files.camera_fpga_file})) {
        return end;
    }
    camera_fpga_update = 1;
    camera_crosslink_update = 1;
    return std::nullopt;
}

Result clockScript(Arguments& args) {
    return fileOption(args, kClockMessages, {&controller_files.clock_script_file});
}

// Read at once, so that options after it override the file.
Result configFile(Arguments& args) {
    std::string name;
    if (!args.next(name)) {
        err_printf("Missing Config filename - using defaults");
        return std::nullopt;
    }
    controller_files.config_file = name;
    if (read_config_file(controller_files.config_file) == 0) {
        execute_mode.configfile = 0;
    } else {
        err_printf("Config file not found, reverting to default");
        controller_files.config_file = ControllerFiles::default_ostrix_config_file;
    }
    return std::nullopt;
}

Result testPattern(Arguments& args) {
    std::string code;
    if (!args.next(code)) {
        err_printf("Missing Test Pattern code - using defaults");
        cameraTestPattern = 0;
        return std::nullopt;
    }
    cameraTestPattern = static_cast<int>(number(code));
    return std::nullopt;
}

Result cameraUc(Arguments& args) {
    if (Result end = fileOption(args, kCameraUcMessages, {&controller_files.camera_uC_file})) {
        return end;
    }
    camera_uC_update = 1;
    return std::nullopt;
}

Result edidAll(Arguments& args) {
    return fileOption(args, kEdidMessages,
                      {&controller_files.edid_config_file[LEFT], &controller_files.edid_config_file[RIGHT],
                       &controller_files.edid_3Dconfig_file[LEFT],
                       &controller_files.edid_3Dconfig_file[RIGHT]});
}

Result edidLeft(Arguments& args) {
    return fileOption(args, kEdidLeftMessages, {&controller_files.edid_config_file[LEFT]});
}

Result edidRight(Arguments& args) {
    return fileOption(
        args, kEdidRightMessages,
        {&controller_files.edid_config_file[RIGHT], &controller_files.edid_3Dconfig_file[RIGHT]});
}

Result edid3DLeft(Arguments& args) {
    return fileOption(args, kEdid3DLeftMessages, {&controller_files.edid_3Dconfig_file[LEFT]});
}

Result colour(Arguments& args, const char* missing, uint32_t& target) {
    std::string value;
    if (!args.next(value)) {
        err_printf(missing);
        return kExitError;
    }
    target = static_cast<uint32_t>(unsignedNumber(value));
    return std::nullopt;
}

Result guiColour(Arguments& args) {
    return colour(args, "Missing GUI Background Colour", guibgcolour);
}
Result menuColour(Arguments& args) {
    return colour(args, "Missing Menu Background Colour", menubgcolour);
}

Result initialiseOn(Arguments&) {
    execute_mode.initialise = 1;
    logprintf("Initialise mode On\n");
    return std::nullopt;
}

Result initialiseOff(Arguments&) {
    execute_mode.initialise = 0;
    logprintf("Initialise mode Off\n");
    return std::nullopt;
}

Result lighting(Arguments& args) {
    std::string channel;
    std::string level;
    if (!args.next(channel) || !args.next(level)) {
        err_printf("Missing Lighting channel or level");
        return kExitError;
    }
    const long index = number(channel);
    if (index < 0 || index >= LIGHTING_CHANNELS) {
        logprintferror("MAIN: ERROR: Lighting channel %ld out of range 0..%d", index, LIGHTING_CHANNELS - 1);
        return std::nullopt;
    }
    lighting_level[index] = static_cast<uint16_t>(number(level));
    return std::nullopt;
}

Result runOn(Arguments&) {
    execute_mode.run = 1;
    logprintf("Run mode On\n");
    return std::nullopt;
}

Result runOff(Arguments&) {
    execute_mode.run = 0;
    logprintf("Run mode Off\n");
    return std::nullopt;
}

Result testSpi(Arguments&) {
    execute_mode.testSPI = 1;
    return std::nullopt;
}

Result verifyWarpLeft(Arguments&) {
    execute_mode.verifywarpleft = 1;
    return std::nullopt;
}

Result verifyWarpRight(Arguments&) {
    execute_mode.verifywarpright = 1;
    return std::nullopt;
}

Result warpLine(Arguments& args) {
    return fileOption(
        args, kWarpLineMessages,
        {&controller_files.warp_line_filename[LEFT], &controller_files.warp_line_filename[RIGHT]});
}
Result warpLineLeft(Arguments& args) {
    return fileOption(args, kWarpLineMessages, {&controller_files.warp_line_filename[LEFT]});
}
Result warpLineRight(Arguments& args) {
    return fileOption(args, kWarpLineMessages, {&controller_files.warp_line_filename[RIGHT]});
}

Result warpPixel(Arguments& args) {
    return fileOption(
        args, kWarpPixelMessages,
        {&controller_files.warp_pixel_filename[LEFT], &controller_files.warp_pixel_filename[RIGHT]});
}
Result warpPixelLeft(Arguments& args) {
    return fileOption(args, kWarpPixelMessages, {&controller_files.warp_pixel_filename[LEFT]});
}
Result warpPixelRight(Arguments& args) {
    return fileOption(args, kWarpPixelMessages, {&controller_files.warp_pixel_filename[RIGHT]});
}

Result warpZip(Arguments& args) {
    return fileOption(args, kWarpZipMessages, {&controller_files.warp_zip_filename});
}

// A plain Raspberry Pi has none of these devices; touching them would crash it.
Result pi3Mode(Arguments&) {
    logprintf("No bus switch or FPGA\n");
    USE_BUS_SWITCH = USE_FPGA = USE_AUDIO = USE_CLOCKS = USE_POWER = USE_HDMI_CHIPS = USE_CROSSLINK = 0;
    return std::nullopt;
}

struct Option {
    const char* name;
    const char* usage; // the help line, nullptr when the option is not listed
    Result (*apply)(Arguments&);
};

// In the order of the help text.
constexpr Option kOptions[] = {
    {"-h", " options: -h/--help/-?              help", help},
    {"-?", nullptr, help},
    {"--help", nullptr, help},
    {"-a", "          -a <audioinitscript>      initialisation script to run", audioScript},
    {"-b", "          -b <freq> <cycles>        beep with frequency and cyclecount given", beep},
    {"-ca", "          -ca <camera crosslink algo file>    camera board crosslink algo file name",
     cameraAlgo},
    {"-cd", "          -cd <camera crosslink data file>    camera board crosslink data file name",
     cameraData},
    {"-cfpga", "          -cfpga <camera fpga jic>  update the camera board FPGA from the .jic file supplied",
     cameraFpga},
    {"-clk", "          -clk <clock script>       clock config script for Si535x", clockScript},
    {"-conf",
     "          -conf <config filename>   basic config (can be overloaded by later command line parameters)",
     configFile},
    {"-ctp",
     "          -ctp <test_pattern_code>  sets camera test pattern register (308C) to the value given",
     testPattern},
    {"-cu", "          -cu <camera uC filename>  update the camera board uC software", cameraUc},
    {"-edid", "          -edid <filename>          binary initialisation file for all EDID options", edidAll},
    {"-edidl",
     "          -edidl <filename>         binary initialisation file for Left Channel 2D EDID parameters",
     edidLeft},
    {"-edidr",
     "          -edidr <filename>         binary initialisation file for Right Channel 2D EDID parameters",
     edidRight},
    {"-edid3dl",
     "          -edid3dl <filename>       binary initialisation file for Left Channel 3D EDID parameters",
     edid3DLeft},
    {"-gbc", "          -gbc <bg colour>          GUI Screen background colour (always transparent)",
     guiColour},
    {"-i", "          -i                        initialise", initialiseOn},
    {"-I", nullptr, initialiseOff},
    {"-l", "          -l <channel> <level>      lighting control, sets level for specified channel",
     lighting},
    {"-mbc", "          -mbc <bg colour>          Menu background colour (variable transparency)",
     menuColour},
    {"-r", "          -r                        run", runOn},
    {"-R", nullptr, runOff},
    {"-tspi", "          -tspi                     Test SPI into FPGA", testSpi},
    {"-vwl", "          -vwl                      verify left warp pixel table", verifyWarpLeft},
    {"-vwr", "          -vwr                      verify right warp pixel table", verifyWarpRight},
    {"-wl", "          -wl <warp line file>      common left and right warp line file", warpLine},
    {"-wll", "          -wll <warp line file>     left only warp line file", warpLineLeft},
    {"-wlr", "          -wlr <warp line file>     right only warp line file", warpLineRight},
    {"-wp", "          -wp <warp pixel file>     common left and right warp pixel file", warpPixel},
    {"-wpl", "          -wpl <warp pixel file>    left only warp pixel file", warpPixelLeft},
    {"-wpr", "          -wpr <warp pixel file>    right only warp pixel file", warpPixelRight},
    {"-wz", "          -wz  <warp zip file>      warp zip file containing a set of rotation files", warpZip},
    {"-X",
     "          -X                        Pi3 mode: turns off functions that will crash the standard Pi3",
     pi3Mode},
};

const Option* findOption(const std::string& name) {
    for (const Option& option : kOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

} // namespace

void print_help() {
    std::printf(" Initialises and/or controls the functions of the Ostrix system\n");
    std::printf(" useage: OstrixPi [option] [option] ...\n");
    for (const Option& option : kOptions) {
        if (option.usage) {
            std::printf("%s\n", option.usage);
        }
    }
    std::printf("\n");
    std::fflush(stdout);
}

bool asks_for_help(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const Option* option = findOption(argv[i]);
        if (option && option->apply == help) {
            return true;
        }
    }
    return false;
}

std::optional<int> parse_command_line(int argc, const char* const* argv) {
    Arguments args(argc, argv);
    std::string argument;
    while (args.next(argument)) {
        const Option* option = findOption(argument);
        if (!option) {
            logprintferror("MAIN: ERROR: Unrecognised Command Line parameter '%s'", argument.c_str());
            return kExitError;
        }
        if (Result end = option->apply(args)) {
            return end;
        }
    }
    return std::nullopt;
}
