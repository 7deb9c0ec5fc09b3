// The GUI exception's texts.
#include "gui/app/OstrixException.h"

#include <gtest/gtest.h>

namespace {

std::string messageFor(const OstrixException& e) {
    std::string text;
    e.GetErrorMessage(text);
    return text;
}

TEST(OstrixExceptionTexts, EachCodeHasItsTextAndOthersTheGeneralOne) {
    OstrixException e;
    EXPECT_EQ(e.GetErrorCode(), 0);
    EXPECT_EQ(messageFor(e), "Open image failed");
    e.SetErrorCode(2);
    EXPECT_EQ(messageFor(e), "Disp code level not eaque to num of level");
    e.SetErrorCode(8);
    EXPECT_EQ(messageFor(e), "Serial Port Open Error");
    EXPECT_STREQ(e.what(), "Serial Port Open Error");
    e.SetErrorCode(9);
    EXPECT_EQ(messageFor(e), "QLM Exception happened");
    e.SetErrorCode(-1);
    EXPECT_EQ(messageFor(e), "QLM Exception happened");
}

TEST(OstrixExceptionTexts, ACodeCanBeGivenItsOwnTextAndAnEmptyTextFallsBack) {
    OstrixException e;
    e.SetErrorCode(12, "Menu picture missing");
    EXPECT_EQ(e.GetErrorCode(), 12);
    EXPECT_EQ(messageFor(e), "Menu picture missing");
    e.SetErrorCode(3, "");
    EXPECT_EQ(messageFor(e), "QLM Exception happened");
    try {
        throw OstrixException(0);
    } catch (const std::exception& caught) {
        EXPECT_STREQ(caught.what(), "Open image failed");
    }
}

} // namespace
