// Date and time as on the original platform: TDateTime is a double counting days since
// 1899-12-30, its fraction the time of day. Before that day the whole part counts days
// backwards while the fraction still means the time of day (-1.25 is 1899-12-29 06:00).
// Texts use the process formats: "yyyy-mm-dd", "hh:nn:ss", separators "-" and ":".
#pragma once

#include "QvText.h"

#include <chrono>
#include <string>
#include <string_view>

using TDateTime = double;

// Current local date and time, with milliseconds.
TDateTime Now();
// Today's local date (midnight).
TDateTime Date();
// Current local time of day (fraction only).
TDateTime Time();

// Raise Exception on values out of range (year 1..9999, valid month/day, h 0..23 etc.):
// "无效的日期参数" (date) / "无效的时间参数" (time).
TDateTime EncodeDate(int y, int m, int d);
TDateTime EncodeTime(int h, int n, int s, int ms);
TDateTime EncodeDateTime(int y, int m, int d, int h, int n, int s, int ms);
bool TryEncodeDate(int y, int m, int d, TDateTime& out);
bool TryEncodeTime(int h, int n, int s, int ms, TDateTime& out);
// Decoding rounds to the nearest millisecond first.
void DecodeDate(TDateTime dt, int& y, int& m, int& d);
void DecodeTime(TDateTime dt, int& h, int& n, int& s, int& ms);
void DecodeDateTime(TDateTime dt, int& y, int& m, int& d, int& h, int& n, int& s, int& ms);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime dt);

// Pattern text. Specifiers (case-insensitive): yyyy yy, m mm mmm mmmm, d dd ddd dddd,
// ddddd (short date), dddddd (long date), h hh, n nn, s ss, z zzz, t (short time),
// tt (long time), c (short date, then long time unless midnight), am/pm a/p ampm,
// "/" the date separator, ":" the time separator, text in '...' or "..." literal.
// "m"/"mm" right after an hour specifier means minutes. An empty pattern is "c".
std::string FormatDateTime(std::string_view fmt, TDateTime dt);

// The process texts.
std::string DateToStr(TDateTime dt);     // "yyyy-mm-dd"
std::string TimeToStr(TDateTime dt);     // "hh:nn:ss"
std::string DateTimeToStr(TDateTime dt); // "yyyy-mm-dd hh:nn:ss"; only the date at midnight

// Parse "yyyy-mm-dd" with an optional " hh:nn[:ss[.zzz]]" (blanks around are ignored;
// month, day and time fields may have one or two digits). Raise
// "'<s>' 不是有效的日期和时间" / "'<s>' 不是有效的日期" / "'<s>' 不是有效的时间".
TDateTime StrToDateTime(std::string_view s);
bool TryStrToDateTime(std::string_view s, TDateTime& out);
TDateTime StrToDate(std::string_view s); // date only
bool TryStrToDate(std::string_view s, TDateTime& out);
TDateTime StrToTime(std::string_view s); // "hh:nn[:ss[.zzz]]"
bool TryStrToTime(std::string_view s, TDateTime& out);

// Local time of a clock reading.
TDateTime FromTimePoint(std::chrono::system_clock::time_point tp);
// The clock reading of a local TDateTime.
std::chrono::system_clock::time_point ToTimePoint(TDateTime dt);

// Whole units between two moments (absolute, truncated), as the original's DateUtils.
int64_t SecondsBetween(TDateTime a, TDateTime b);
int64_t MilliSecondsBetween(TDateTime a, TDateTime b);
int64_t DaysBetween(TDateTime a, TDateTime b);
TDateTime IncDay(TDateTime dt, int days);
TDateTime IncSecond(TDateTime dt, int64_t seconds);
