// The HTTP date parser: the three forms at the ends of the calendar, the
// texts it must refuse, and every truncation of a good date.
#include <gtest/gtest.h>

#include <string>

#include "engine/http_date.hpp"

namespace {

struct DateCase {
    const char* name;
    const char* text;
    bool ok;
    int year, month, day, hour, minute, second, weekday;
};

DateCase Accepts(const char* name, const char* text, int year, int month, int day, int hour, int minute, int second,
    int weekday)
{
    return DateCase{name, text, true, year, month, day, hour, minute, second, weekday};
}

DateCase Refuses(const char* name, const char* text) { return DateCase{name, text, false, 0, 0, 0, 0, 0, 0, 0}; }

void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }

class HttpDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(HttpDateTest, ParsesOrRefuses)
{
    const DateCase& c = GetParam();
    tg::http_date d;
    d.year = -1; // must stay as it was on a refusal
    ASSERT_EQ(tg::parse_http_date(c.text, d), c.ok) << c.text;
    if (!c.ok) {
        EXPECT_EQ(d.year, -1);
        return;
    }
    EXPECT_EQ(d.year, c.year);
    EXPECT_EQ(d.month, c.month);
    EXPECT_EQ(d.day, c.day);
    EXPECT_EQ(d.hour, c.hour);
    EXPECT_EQ(d.minute, c.minute);
    EXPECT_EQ(d.second, c.second);
    EXPECT_EQ(d.weekday, c.weekday);
}

INSTANTIATE_TEST_SUITE_P(Forms, HttpDateTest, ::testing::Values(
    Accepts("ImfFixdate", "Sun, 06 Nov 1994 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, 0),
    Accepts("Rfc850", "Sunday, 06-Nov-94 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, 0),
    Accepts("Asctime", "Sun Nov  6 08:49:37 1994", 1994, 11, 6, 8, 49, 37, 0),
    Accepts("AsctimeTwoDigitDay", "Thu Nov 26 08:49:37 1998", 1998, 11, 26, 8, 49, 37, 4),
    Accepts("Rfc850TwoDigitYearAfterTheMillennium", "Monday, 01-Jan-00 00:00:00 GMT", 2000, 1, 1, 0, 0, 0, 6),
    Accepts("Rfc850YearSeventyIsLastCentury", "Thursday, 01-Jan-70 00:00:00 GMT", 1970, 1, 1, 0, 0, 0, 4),
    Accepts("Year1601", "Mon, 01 Jan 1601 00:00:00 GMT", 1601, 1, 1, 0, 0, 0, 1),
    Accepts("Year1970", "Thu, 01 Jan 1970 00:00:00 GMT", 1970, 1, 1, 0, 0, 0, 4),
    Accepts("Year2038PastTheSigned32BitEnd", "Tue, 19 Jan 2038 03:14:08 GMT", 2038, 1, 19, 3, 14, 8, 2),
    Accepts("Year2100IsNoLeapYear", "Sun, 28 Feb 2100 23:59:59 GMT", 2100, 2, 28, 23, 59, 59, 0),
    Accepts("Year2500", "Fri, 01 Jan 2500 00:00:00 GMT", 2500, 1, 1, 0, 0, 0, 5),
    Accepts("Year9999", "Fri, 31 Dec 9999 23:59:59 GMT", 9999, 12, 31, 23, 59, 59, 5),
    Accepts("LeapDay", "Thu, 29 Feb 2024 12:00:00 GMT", 2024, 2, 29, 12, 0, 0, 4),
    Accepts("LeapSecondIsLeftToTheCaller", "Sat, 31 Dec 2016 23:59:60 GMT", 2016, 12, 31, 23, 59, 60, 6),
    // Windows' conversion ignores the day name; so do we, and give the real one.
    Accepts("WrongWeekdayIsCorrected", "Mon, 06 Nov 1994 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, 0),
    Accepts("NamesInAnyCase", "sun, 06 NOV 1994 08:49:37 gmt", 1994, 11, 6, 8, 49, 37, 0),
    Accepts("BlanksAround", "  Sun, 06 Nov 1994 08:49:37 GMT\t", 1994, 11, 6, 8, 49, 37, 0),
    Refuses("Empty", ""),
    Refuses("Garbage", "yesterday"),
    Refuses("SecondsOnly", "3600"),
    Refuses("MissingZone", "Sun, 06 Nov 1994 08:49:37"),
    Refuses("OtherZone", "Sun, 06 Nov 1994 08:49:37 PST"),
    Refuses("Rfc850MissingZone", "Sunday, 06-Nov-94 08:49:37"),
    Refuses("NotADayName", "Fun, 06 Nov 1994 08:49:37 GMT"),
    Refuses("LongDayNameInTheShortForm", "Sunday, 06 Nov 1994 08:49:37 GMT"),
    Refuses("NotAMonth", "Sun, 06 Now 1994 08:49:37 GMT"),
    Refuses("February30", "Sat, 30 Feb 2019 00:00:00 GMT"),
    Refuses("February29OfACommonYear", "Fri, 29 Feb 2100 00:00:00 GMT"),
    Refuses("Day0", "Sun, 00 Nov 1994 08:49:37 GMT"),
    Refuses("Hour24", "Sun, 06 Nov 1994 24:00:00 GMT"),
    Refuses("Minute60", "Sun, 06 Nov 1994 08:60:00 GMT"),
    Refuses("Second61", "Sun, 06 Nov 1994 08:49:61 GMT"),
    Refuses("FiveDigitYear", "Sun, 06 Nov 19940 08:49:37 GMT"),
    Refuses("OneDigitDay", "Sun, 6 Nov 1994 08:49:37 GMT"),
    Refuses("SignInANumber", "Sun, -6 Nov 1994 08:49:37 GMT"),
    Refuses("TextAfterTheZone", "Sun, 06 Nov 1994 08:49:37 GMT x"),
    Refuses("AsctimeWithAComma", "Sun, Nov  6 08:49:37 1994"),
    Refuses("LongerThanTheBound",
        "Sun, 06 Nov 1994 08:49:37 GMT                                                            x")),
    [](const ::testing::TestParamInfo<DateCase>& info) { return std::string(info.param.name); });

// Every prefix of a good date in each form is refused: the parser never
// reads past the end or takes a part for the whole.
TEST(HttpDate, EveryTruncationIsRefused)
{
    for (std::string good : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
             "Sun Nov  6 08:49:37 1994"}) {
        tg::http_date d;
        ASSERT_TRUE(tg::parse_http_date(good, d));
        for (std::size_t n = 0; n < good.size(); ++n) {
            const std::string cut = good.substr(0, n);
            EXPECT_FALSE(tg::parse_http_date(cut, d)) << "\"" << cut << "\"";
        }
    }
}

TEST(HttpDate, SecondsSinceTheEpoch)
{
    struct {
        const char* text;
        std::int64_t seconds;
    } const cases[] = {
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Tue, 19 Jan 2038 03:14:08 GMT", 2147483648LL},
        {"Mon, 01 Jan 1601 00:00:00 GMT", -11644473600LL},
        {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799LL},
    };
    for (const auto& c : cases) {
        tg::http_date d;
        ASSERT_TRUE(tg::parse_http_date(c.text, d)) << c.text;
        EXPECT_EQ(tg::seconds_since_epoch(d), c.seconds) << c.text;
    }
}

} // namespace
