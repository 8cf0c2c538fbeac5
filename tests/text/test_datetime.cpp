// Date-time values, their texts and the local clock.
#include "QvDateTime.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <ctime>

TEST(DateTime, EncodesDaysSince18991230) {
    struct Case {
        int y, m, d;
        double serial; // from Python's date arithmetic
    };
    const Case cases[] = {
        {1899, 12, 30, 0},   {1899, 12, 29, -1},   {1900, 1, 1, 2},    {2000, 2, 29, 36585},
        {2024, 3, 5, 45356}, {2016, 11, 9, 42683}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.serial);
        int y, m, d;
        DecodeDate(c.serial, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
    }
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 3, 5)), 3); // a Tuesday; Sunday is 1
    EXPECT_EQ(DayOfWeek(0), 7);                      // 1899-12-30 was a Saturday
}

TEST(DateTime, RejectsImpossibleDatesAndTimes) {
    for (auto [y, m, d] :
         {std::tuple{2023, 2, 29}, {2024, 13, 1}, {2024, 4, 31}, {0, 1, 1}, {10000, 1, 1}, {2024, 1, 0}}) {
        SCOPED_TRACE(y * 10000 + m * 100 + d);
        EXPECT_EQ(RaisedMessage<Exception>([&] { EncodeDate(y, m, d); }), "无效的日期参数");
    }
    for (auto [h, n, s, ms] :
         {std::tuple{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}}) {
        EXPECT_EQ(RaisedMessage<Exception>([&] { EncodeTime(h, n, s, ms); }), "无效的时间参数");
    }
}

TEST(DateTime, BeforeTheEpochTheFractionStillCountsForwards) {
    // 1899-12-29 06:00 is -1.25: the day counts back, the time of day forwards.
    const TDateTime dt = EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
    EXPECT_EQ(dt, -1.25);
    int y, m, d, h, n, s, ms;
    DecodeDateTime(dt, y, m, d, h, n, s, ms);
    EXPECT_EQ(std::tie(y, m, d, h, n, s, ms), std::make_tuple(1899, 12, 29, 6, 0, 0, 0));
    // -0.5 and 0.5 are both noon of 1899-12-30.
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", -0.5), "1899-12-30 12:00");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", 0.5), "1899-12-30 12:00");
    // Spans and steps follow the calendar, not the raw numbers.
    EXPECT_EQ(MilliSecondsBetween(EncodeDateTime(1899, 12, 29, 23, 0, 0, 0),
                                  EncodeDateTime(1899, 12, 30, 1, 0, 0, 0)),
              2 * 3600 * 1000);
    EXPECT_EQ(IncDay(EncodeDateTime(1899, 12, 31, 6, 0, 0, 0), -2), -1.25);
    EXPECT_EQ(IncSecond(-1.25, 24 * 3600), 0.25);
}

TEST(DateTime, DecodingRoundsToTheMillisecond) {
    const TDateTime t = EncodeDateTime(2024, 3, 5, 14, 30, 15, 123);
    int h, n, s, ms;
    DecodeTime(t, h, n, s, ms);
    EXPECT_EQ(std::tie(h, n, s, ms), std::make_tuple(14, 30, 15, 123));
    // A hair before midnight is midnight of the next day, not 23:59:59.1000.
    const TDateTime almost = EncodeDate(2024, 3, 5) + 0.99999999999;
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", almost), "2024-03-06 00:00:00.000");
    EXPECT_EQ(
        SecondsBetween(EncodeDateTime(2024, 3, 5, 0, 0, 1, 0), EncodeDateTime(2024, 3, 4, 23, 59, 59, 0)), 2);
    EXPECT_EQ(DaysBetween(EncodeDate(2024, 3, 5), EncodeDate(2024, 2, 5)), 29);
}

TEST(FormatDateTime, Patterns) {
    const TDateTime dt = EncodeDateTime(2016, 11, 9, 14, 30, 5, 7);
    const TDateTime morning = EncodeDateTime(2024, 3, 5, 0, 5, 9, 0);
    struct Case {
        const char* fmt;
        TDateTime value;
        const char* expected;
    };
    const Case cases[] = {
        {"yyyy-mm-dd hh:nn:ss", dt, "2016-11-09 14:30:05"},
        {"yyyymmddhhmmss", dt, "20161109143005"}, // bill numbers; "mm" after "hh" is minutes
        {"yyyymmddhhnnss", dt, "20161109143005"},
        {"hh:mm", dt, "14:30"},
        {"yy/m/d", morning, "24-3-5"}, // "/" is the date separator
        {"h:n:s.z", morning, "0:5:9.0"},
        {"hh:nn:ss.zzz", dt, "14:30:05.007"},
        {"YYYY-MM-DD", dt, "2016-11-09"}, // specifiers ignore case
        {"hh:nn am/pm", dt, "02:30 pm"},
        {"h:nn AM/PM", morning, "12:05 AM"},
        {"h a/p", dt, "2 p"},
        {"hh ampm", dt, "02 下午"},
        {"'qvClinicLog'yyyy-mm-dd'.log'", morning, "qvClinicLog2024-03-05.log"},
        {"\"d:\"d", dt, "d:9"}, // quoted text is copied as is
        {"ddddd", dt, "2016-11-09"},
        {"dddddd", dt, "2016-11-09 14:30:05"},
        {"tt", dt, "14:30:05"},
        {"t", dt, "14:30"},
        {"c", dt, "2016-11-09 14:30:05"},
        {"c", EncodeDate(2016, 11, 9), "2016-11-09"},
        {"", dt, "2016-11-09 14:30:05"},
        {"ddd dddd", morning, "周二 星期二"},
        {"mmmm", dt, "十一月"},
        {"结算于 yyyy年m月d日", dt, "结算于 2016年11月9日"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fmt);
        EXPECT_EQ(FormatDateTime(c.fmt, c.value), c.expected);
    }
}

TEST(DateTimeText, ProcessFormatsAndTheMidnightRule) {
    const TDateTime dt = EncodeDateTime(2024, 3, 5, 8, 4, 3, 0);
    EXPECT_EQ(DateToStr(dt), "2024-03-05");
    EXPECT_EQ(TimeToStr(dt), "08:04:03");
    EXPECT_EQ(DateTimeToStr(dt), "2024-03-05 08:04:03");
    // At midnight only the date is shown (milliseconds do not count).
    EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5)), "2024-03-05");
    EXPECT_EQ(DateTimeToStr(EncodeDateTime(2024, 3, 5, 0, 0, 0, 500)), "2024-03-05");
    EXPECT_EQ(DateTimeToStr(EncodeDateTime(2024, 3, 5, 0, 0, 1, 0)), "2024-03-05 00:00:01");
}

TEST(DateTimeText, ParsesTheProcessFormats) {
    struct Case {
        const char* text;
        TDateTime expected;
    };
    const Case cases[] = {
        {"2024-03-05 14:30:15", EncodeDateTime(2024, 3, 5, 14, 30, 15, 0)},
        {"2024-03-05", EncodeDate(2024, 3, 5)},
        {" 2024-3-5 8:05 ", EncodeDateTime(2024, 3, 5, 8, 5, 0, 0)},
        {"2024-03-05 14:30:15.5", EncodeDateTime(2024, 3, 5, 14, 30, 15, 500)},
        {"1899-12-29 06:00:00", -1.25},
        {"14:30", EncodeTime(14, 30, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToDateTime(c.text), c.expected);
    }
    for (const char* bad : {"", "abc", "2024-02-30", "2024/03/05", "24-03-05", "2024-03-05 25:00:00",
                            "2024-03-05x", "2024-03-05 14:30:15 junk", "2024-003-05"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RaisedMessage<Exception>([&] { StrToDateTime(bad); }),
                  "'" + std::string(bad) + "' 不是有效的日期和时间");
        TDateTime out = 7;
        EXPECT_FALSE(TryStrToDateTime(bad, out));
        EXPECT_EQ(out, 7);
    }
    EXPECT_EQ(RaisedMessage<Exception>([] { StrToDate("2024-03-05 10:00"); }),
              "'2024-03-05 10:00' 不是有效的日期");
    EXPECT_EQ(RaisedMessage<Exception>([] { StrToTime("25:00"); }), "'25:00' 不是有效的时间");
    EXPECT_EQ(StrToDate("2024-03-05"), 45356);
    // What the process writes, it reads back.
    const TDateTime dt = EncodeDateTime(2031, 12, 31, 23, 59, 59, 0);
    EXPECT_EQ(StrToDateTime(DateTimeToStr(dt)), dt);
}

TEST(DateTime, OutOfRangeValuesRaiseInsteadOfShowingGarbage) {
    EXPECT_EQ(RaisedMessage<Exception>([] { DateToStr(1e20); }), "'1E20' 不是有效的日期和时间");
    EXPECT_EQ(RaisedMessage<Exception>([] { DateToStr(std::numeric_limits<double>::quiet_NaN()); }),
              "'NAN' 不是有效的日期和时间");
}

TEST(DateTime, LocalClockConversions) {
    // China Standard Time as a POSIX rule, so no time-zone database is needed.
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "CST-8", 1);
    tzset();
    const auto tp = std::chrono::system_clock::from_time_t(1478673015) + std::chrono::milliseconds(123);
    const TDateTime dt = FromTimePoint(tp);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", dt), "2016-11-09 14:30:15.123");
    EXPECT_EQ(ToTimePoint(dt), tp);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    // Date is a whole day, Time a fraction of one (checked without comparing two clock
    // readings, which may straddle midnight).
    const TDateTime today = Date();
    EXPECT_EQ(today, std::trunc(today));
    EXPECT_GT(today, EncodeDate(2020, 1, 1));
    const TDateTime time = Time();
    EXPECT_GE(time, 0.0);
    EXPECT_LT(time, 1.0);
}
