#include "core/numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

using namespace tambrel;

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(to_int16(2.5), 2);
    EXPECT_EQ(to_int16(3.5), 4);
    EXPECT_EQ(to_int16(-2.5), -2);
    EXPECT_EQ(to_int16(-3.5), -4);
    EXPECT_EQ(to_int16(2.4999), 2);
    EXPECT_EQ(to_int16(2.5001), 3);
    EXPECT_EQ(to_int32(0.5), 0);
    EXPECT_EQ(to_int32(1.5), 2);
}

TEST(Rounding, OutOfRangeIsAFailure) {
    EXPECT_EQ(to_int16(32767.0), 32767);
    EXPECT_EQ(to_int16(32767.4), 32767);
    EXPECT_FALSE(to_int16(32767.5));  // rounds to 32768
    EXPECT_EQ(to_int16(-32768.0), -32768);
    EXPECT_FALSE(to_int16(-32768.6));
    EXPECT_FALSE(to_int16(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(to_int16(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(to_int32(2147483647.0), 2147483647);
    EXPECT_FALSE(to_int32(2147483648.0));
    EXPECT_EQ(to_int32(-2147483648.0), std::numeric_limits<int32_t>::min());
}

TEST(CommandNumberForms, LeadingBlankAndPlain) {
    EXPECT_EQ(leading_blank(320), " 320");
    EXPECT_EQ(leading_blank(0), " 0");
    EXPECT_EQ(leading_blank(-5), "-5");
    EXPECT_EQ(plain(65552), "65552");
    EXPECT_EQ(plain(-7), "-7");
    EXPECT_EQ(format_integer(8), "8");
    EXPECT_EQ(format_integer(-1), "-1");
}

TEST(ReplyAsNumber, ReadsTheLeadingNumberAndRoundsToEven) {
    EXPECT_EQ(reply_as_int16("12"), 12);
    EXPECT_EQ(reply_as_int16(" 12"), 12);
    EXPECT_EQ(reply_as_int16("   12abc"), 12);
    EXPECT_EQ(reply_as_int16(""), 0);
    EXPECT_EQ(reply_as_int16("The device is not open."), 0);
    EXPECT_EQ(reply_as_int16("2.5"), 2);
    EXPECT_EQ(reply_as_int16("3.5"), 4);
    EXPECT_EQ(reply_as_int16("-7"), -7);
    EXPECT_EQ(reply_as_int16("1e3"), 1000);
    EXPECT_EQ(reply_as_int16("5e"), 5);  // an exponent without digits is not read
    EXPECT_EQ(reply_as_int16("."), 0);
    EXPECT_FALSE(reply_as_int16("32768"));
    EXPECT_FALSE(reply_as_int16("100000"));
    EXPECT_FALSE(reply_as_int16("1e400"));
}

TEST(TextAsNumber, AcceptsOneNumberOnly) {
    EXPECT_EQ(text_as_int16("1"), 1);
    EXPECT_EQ(text_as_int16(" 3 "), 3);
    EXPECT_EQ(text_as_int16("-2"), -2);
    EXPECT_EQ(text_as_int16("2.5"), 2);
    EXPECT_EQ(text_as_int16("2,5", U','), 2);
    EXPECT_FALSE(text_as_int16(""));
    EXPECT_FALSE(text_as_int16("   "));
    EXPECT_FALSE(text_as_int16("abc"));
    EXPECT_FALSE(text_as_int16("3x"));
    EXPECT_FALSE(text_as_int16("40000"));
}

TEST(GeneralSingleFormat, SevenDigitsNoTrailingZeros) {
    EXPECT_EQ(format_single(2.0f), "2");
    EXPECT_EQ(format_single(0.0f), "0");
    EXPECT_EQ(format_single(1.025f), "1.025");
    EXPECT_EQ(format_single(0.75f), "0.75");
    EXPECT_EQ(format_single(-0.75f), "-0.75");
    EXPECT_EQ(format_single(1.25f), "1.25");
    EXPECT_EQ(format_single(1.0f / 3.0f), "0.3333333");
    EXPECT_EQ(format_single(123456.7f), "123456.7");
    EXPECT_EQ(format_single(-1.0f), "-1");
    EXPECT_EQ(format_single(0.025f, ","), "0,025");
    EXPECT_EQ(format_single(1.5e-5f), "1.5E-05");
    EXPECT_EQ(format_single(12345678.0f), "1.234568E+07");
}

TEST(ReplyAsNumber, IgnoresTheProcessLocale) {
    // A comma-decimal locale must not change how replies are read.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) std::setlocale(LC_NUMERIC, "C.UTF-8");
    EXPECT_EQ(reply_as_int16("3.5"), 4);
    EXPECT_EQ(text_as_int16("2,5", U','), 2);
    std::setlocale(LC_NUMERIC, saved.c_str());
}
