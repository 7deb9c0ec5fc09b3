#include <gtest/gtest.h>

#include <cfloat>
#include <climits>

#include "controller/core/ConfigFile.h"
#include "tests/unit/controller/ControllerTest.h"

namespace {

using controller_testing::ControllerTest;

class ConfigFileTest : public ControllerTest {
protected:
    ConfigFile load(const std::string& text) {
        write("test.cfg", text);
        return ConfigFile("test.cfg");
    }
};

TEST_F(ConfigFileTest, SectionsTrimKeysAndValues) {
    ConfigFile cfg = load("top = level\n[CAMERA]\n algofile = a.iea \n[ WARP ]x\n\tfolder\t=\t./w/\t\r\n");
    EXPECT_EQ(cfg.get_string("CAMERA", "algofile"), "a.iea");
    EXPECT_EQ(cfg.get_string("WARP", "folder"), "./w/");
    EXPECT_EQ(cfg.get_string("", "top"), "level"); // before the first section
    EXPECT_EQ(cfg.get_string("CAMERA", "top"), "");
}

TEST_F(ConfigFileTest, OnlyTheFirstCharacterMakesAComment) {
    ConfigFile cfg = load("# key = hidden\n; other = hidden\n[S]\n  # note\n");
    EXPECT_EQ(cfg.get_string("", "# key"), "");
    EXPECT_EQ(cfg.get_string("", "; other"), "");
    EXPECT_EQ(cfg.get_string("S", "# note"), "# note");
}

TEST_F(ConfigFileTest, EntryShapes) {
    ConfigFile cfg = load("[S]\nkey=a=b\nbare word\nsame = 1\nsame = 2\nempty =\n[s]\nsame = lower\n");
    EXPECT_EQ(cfg.get_string("S", "key"), "a=b");
    EXPECT_EQ(cfg.get_string("S", "bare word"), "bare word");
    EXPECT_EQ(cfg.get_string("S", "same"), "2"); // a later entry replaces an earlier one
    EXPECT_EQ(cfg.get_string("s", "same"), "lower");
    EXPECT_EQ(cfg.get_string("S", "empty"), "");
    EXPECT_EQ(static_cast<std::string>(cfg.Value("S", "empty")), ""); // present, not missing
}

TEST_F(ConfigFileTest, SectionLineWithoutClosingBracketNamesTheRestOfTheLine) {
    ConfigFile cfg = load("[ CLOCK \nscript = s.txt\n");
    EXPECT_EQ(cfg.get_string("CLOCK", "script"), "s.txt");
}

TEST_F(ConfigFileTest, ValueOfAMissingEntryRaisesTheCString) {
    ConfigFile cfg = load("[S]\na = 1\n");
    try {
        cfg.Value("S", "b");
        FAIL() << "no exception";
    } catch (const char* text) {
        EXPECT_STREQ(text, "does not exist");
    }
}

TEST_F(ConfigFileTest, IntegersTruncateTowardZero) {
    ConfigFile cfg = load("[N]\na = 12.9\nb = -3.7\nc = abc\nd = 0x10\ne = 7 apples\n");
    EXPECT_EQ(cfg.get_int("N", "a"), 12);
    EXPECT_EQ(cfg.get_int("N", "b"), -3);
    EXPECT_EQ(cfg.get_int("N", "c"), 0);
    EXPECT_EQ(cfg.get_int("N", "e"), 7);
    EXPECT_FLOAT_EQ(cfg.get_float("N", "a"), 12.9f);
    EXPECT_FLOAT_EQ(cfg.get_float("N", "c"), 0.0f);
}

TEST_F(ConfigFileTest, NumbersOutsideTheTargetRangeClamp) {
    ConfigFile cfg = load("[N]\nbig = 1e300\nsmall = -1e300\ninf = inf\nnan = nan\nhuge = 1e999\n");
    EXPECT_EQ(cfg.get_int("N", "big"), INT_MAX);
    EXPECT_EQ(cfg.get_int("N", "small"), INT_MIN);
    EXPECT_EQ(cfg.get_int("N", "inf"), INT_MAX);
    EXPECT_EQ(cfg.get_int("N", "nan"), 0);
    EXPECT_EQ(cfg.get_int("N", "huge"), INT_MAX);
    EXPECT_EQ(cfg.get_float("N", "big"), FLT_MAX);
    EXPECT_EQ(cfg.get_float("N", "small"), -FLT_MAX);
    EXPECT_EQ(cfg.get_float("N", "nan"), 0.0f);
}

TEST_F(ConfigFileTest, MissingKeysAreLoggedAndNeutral) {
    ConfigFile cfg = load("[S]\n");
    EXPECT_EQ(cfg.get_string("S", "text"), "");
    EXPECT_EQ(cfg.get_int("S", "count"), 0);
    EXPECT_EQ(cfg.get_float("S", "ratio"), 0.0f);
    EXPECT_EQ(cfg.get_filename("S", "file"), "");
    const std::string log = logText();
    EXPECT_NE(log.find("No entry for '[S]text'\n"), std::string::npos);
    EXPECT_NE(log.find("No entry for '[S]count'\n"), std::string::npos);
    EXPECT_NE(log.find("No entry for '[S]ratio'\n"), std::string::npos);
    EXPECT_NE(log.find("MAIN: No entry for '[S]file'\n"), std::string::npos);
}

TEST_F(ConfigFileTest, UnreadableFileLeavesTheMapEmpty) {
    ConfigFile cfg("no-such.cfg");
    EXPECT_EQ(cfg.get_string("S", "a"), "");
    EXPECT_EQ(cfg.get_int_vector("S", "a"), std::vector<int>{0});
}

TEST_F(ConfigFileTest, FilenamesAreCheckedButKept) {
    write("present.bin", "x");
    ConfigFile cfg = load("[F]\nhere = present.bin\ngone = absent.bin\nblank =\nfolder = log\n");
    EXPECT_EQ(cfg.get_filename("F", "here"), "present.bin");
    EXPECT_EQ(cfg.get_filename("F", "gone"), "absent.bin");
    EXPECT_EQ(cfg.get_filename("F", "blank"), "");
    EXPECT_EQ(cfg.get_filename("F", "folder"), "log");
    const std::string log = logText();
    EXPECT_EQ(log.find("present.bin but file"), std::string::npos);
    EXPECT_NE(log.find("MAIN: Read filename absent.bin but file does not exist\n"), std::string::npos);
    EXPECT_NE(log.find("MAIN: filename is blank for [F].blank\n"), std::string::npos);
    EXPECT_NE(log.find("MAIN: Read filename log but file does not exist\n"), std::string::npos);
}

TEST_F(ConfigFileTest, Vectors) {
    ConfigFile cfg = load("[V]\nf = 1.0, 2.5,3\nbad = 1,x, 1e99 ,nan,-2\ni = 4, 5.9,y,99999999999, -7\n");
    EXPECT_EQ(cfg.get_float_vector("V", "f"), (std::vector<float>{1.0f, 2.5f, 3.0f}));
    EXPECT_EQ(cfg.get_float_vector("V", "bad"), (std::vector<float>{1.0f, 0, 0, 0, -2.0f}));
    EXPECT_EQ(cfg.get_int_vector("V", "i"), (std::vector<int>{4, 5, 0, 0, -7}));
    EXPECT_EQ(cfg.get_float_vector("V", "missing"), std::vector<float>{0});
}

TEST(CsvSplit, FieldsAreNotTrimmed) {
    EXPECT_EQ(csv_split("1.0, 2.5,3", ','), (std::vector<std::string>{"1.0", " 2.5", "3"}));
    EXPECT_EQ(csv_split("", ','), std::vector<std::string>{""});
    EXPECT_EQ(csv_split("a,,b,", ','), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(csv_split("a;b,c", ';'), (std::vector<std::string>{"a", "b,c"}));
}

TEST(CsvSplit, Quotes) {
    // A single quote is an ordinary character.
    EXPECT_EQ(csv_split("a\"b,c", ','), (std::vector<std::string>{"a\"b", "c"}));
    // A doubled quote opens a quoted run; inside it a doubled quote is one quote
    // character and the delimiter does not split.
    EXPECT_EQ(csv_split("\"\"\"a,b\",c", ','), (std::vector<std::string>{"\"a,b", "c"}));
    // The quote right after the opening pair ends the run at once.
    EXPECT_EQ(csv_split("\"\"a,b", ','), (std::vector<std::string>{"a", "b"}));
    // A run still open at the end keeps the rest in one field.
    EXPECT_EQ(csv_split("x,\"\"\"y,z", ','), (std::vector<std::string>{"x", "\"y,z"}));
}

TEST(ChameleonTest, Conversions) {
    EXPECT_EQ(static_cast<std::string>(Chameleon(1.0 / 3)), "0.333333");
    EXPECT_EQ(static_cast<std::string>(Chameleon(1234567.0)), "1.23457e+06");
    EXPECT_EQ(static_cast<double>(Chameleon("12abc")), 12.0);
    EXPECT_EQ(static_cast<double>(Chameleon(std::string("x1"))), 0.0);
    EXPECT_EQ(static_cast<std::string>(Chameleon(static_cast<const char*>(nullptr))), "");
}

TEST_F(ConfigFileTest, LineEndsAndLastLine) {
    ConfigFile cfg = load("[S]\r\na = 1\r\n\r\n   \nb = 2");
    EXPECT_EQ(cfg.get_string("S", "a"), "1");
    EXPECT_EQ(cfg.get_string("S", "b"), "2"); // no line end after the last line
    EXPECT_EQ(cfg.get_string("S", ""), "");   // blank lines make no entry
    EXPECT_EQ(logText().find("No entry for '[S]a'"), std::string::npos);
}

TEST_F(ConfigFileTest, MegabyteLineIsReadWhole) {
    const std::string longValue(1 << 20, 'v');
    ConfigFile cfg = load("[S]\nlong = " + longValue + "\nafter = 1\n");
    EXPECT_EQ(cfg.get_string("S", "long"), longValue);
    EXPECT_EQ(cfg.get_string("S", "after"), "1");
}

TEST_F(ConfigFileTest, BinaryGarbageDoesNotHideLaterEntries) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage += static_cast<char>((i * 131 + 7) % 256);
    }
    garbage += std::string("\0\0[\0]=\0", 7);
    ConfigFile cfg = load(garbage + "\n[S]\nkey = value\n");
    EXPECT_EQ(cfg.get_string("S", "key"), "value");
}

TEST(Loggable, ControlCharactersAndLength) {
    EXPECT_EQ(loggable("plain text"), "plain text");
    EXPECT_EQ(loggable("a\033[31mb\n\x7f"), "a?[31mb??");
    EXPECT_EQ(loggable("\xc3\xa9"), "\xc3\xa9"); // UTF-8 stays
    const std::string cut = loggable(std::string(5000, 'x'));
    EXPECT_EQ(cut, std::string(200, 'x') + "...");
}

} // namespace
