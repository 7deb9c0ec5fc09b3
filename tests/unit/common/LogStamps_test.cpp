// The stamp reader the log-reading fixtures share: it must not depend on the hour the
// suite happens to run at.
#include <gtest/gtest.h>

#include "common/logfile.h"
#include "tests/support/LogStamps.h"

namespace {

using testing_support::logStampAt;
using testing_support::withoutLogStamps;

struct StampCase {
    const char* text;
    size_t length; // 0: not a stamp
};

const StampCase kStampCases[] = {
    {"2026-12-09 5:07:00.000 > MAIN: x", 25},  // controller, early morning
    {"2026-12-09 05:07:00.000 > GUI: x", 26},  // GUI, same moment
    {"2026-12-31 23:59:59.500 > MAIN: x", 26}, // last half second of the year
    {"2027-01-01 0:00:00.000 > MAIN: x", 25},  // midnight, controller
    {"2024-02-29 12:00:00.999 > x", 26},       // leap day
    {"2026-12-09 123:07:00.000 > x", 0},       // three-digit hour
    {"2026-12-09 5:7:00.000 > x", 0},          // unpadded minute
    {"2026-12-09 5:07:00.00 > x", 0},          // short milliseconds
    {"2026-12-09 5:07:00.000 x", 0},           // no arrow
    {"MAIN: 2026-12-09", 0},
};

TEST(LogStampsTest, RecognisesOneAndTwoDigitHoursOnly) {
    for (const StampCase& c : kStampCases) {
        EXPECT_EQ(logStampAt(c.text, 0), c.length) << c.text;
    }
}

TEST(LogStampsTest, StripsEveryStampOfAMixedLog) {
    EXPECT_EQ(withoutLogStamps("2026-12-09 5:07:00.000 > MAIN: a\n2026-12-09 10:00:00.001 > MAIN: b\n"),
              "MAIN: a\nMAIN: b\n");
}

TEST(LogStampsTest, StripsBothProgramsStampsAsWrittenNow) {
    EXPECT_EQ(withoutLogStamps(timestamp() + "GUI: x"), "GUI: x");
}

} // namespace
