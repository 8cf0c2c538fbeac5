// Date and time values, their texts and the local clock.
#include "QvDateTime.h"

#include <cmath>
#include <ctime>

namespace {

constexpr int64_t kMSecsPerDay = 86400000;
constexpr int64_t kMinDay = -693593;     // 0001-01-01
constexpr int64_t kMaxDay = 2958465;     // 9999-12-31
constexpr int64_t kUnixEpochDay = 25569; // 1970-01-01

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool IsLeapYear(int y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

// A TDateTime as its calendar day (days since 1899-12-30) and milliseconds into that day,
// rounded to the millisecond. Before 1899-12-30 the fraction still counts forwards.
struct TDayTime {
    int64_t Day;
    int64_t MSec;
};

TDayTime SplitDateTime(TDateTime dt) {
    if (!std::isfinite(dt) || dt < kMinDay - 1 || dt > kMaxDay + 1)
        throw Exception("'" + FloatToStr(dt) + "' 不是有效的日期和时间");
    const double whole = std::trunc(dt);
    TDayTime r{static_cast<int64_t>(whole), std::llround(std::fabs(dt - whole) * kMSecsPerDay)};
    if (r.MSec >= kMSecsPerDay) {
        r.MSec -= kMSecsPerDay;
        ++r.Day;
    }
    return r;
}

// Milliseconds since 1899-12-30 00:00 on a straight line, and back.
int64_t LinearMSecs(TDateTime dt) {
    const TDayTime t = SplitDateTime(dt);
    return t.Day * kMSecsPerDay + t.MSec;
}

TDateTime FromLinearMSecs(int64_t ms) {
    int64_t day = ms / kMSecsPerDay, rest = ms % kMSecsPerDay;
    if (rest < 0) {
        rest += kMSecsPerDay;
        --day;
    }
    const double time = static_cast<double>(rest) / kMSecsPerDay;
    return day < 0 ? static_cast<double>(day) - time : static_cast<double>(day) + time;
}

const char* const kShortMonthNames[] = {"一月", "二月", "三月", "四月", "五月",   "六月",
                                        "七月", "八月", "九月", "十月", "十一月", "十二月"};
const char* const kShortDayNames[] = {"周日", "周一", "周二", "周三", "周四", "周五", "周六"};
const char* const kLongDayNames[] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};

std::string Pad(int v, int width) {
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    return s;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool StartsNoCase(std::string_view s, size_t i, std::string_view what) {
    return s.size() - i >= what.size() && SameText(s.substr(i, what.size()), what);
}

class TDateTimeFormatter {
public:
    explicit TDateTimeFormatter(TDateTime dt) {
        DecodeDateTime(dt, FYear, FMonth, FDay, FHour, FMin, FSec, FMSec);
        FDayOfWeek = DayOfWeek(dt);
    }

    void Append(std::string_view fmt, int depth = 0) {
        // The nested standard formats cannot refer back to themselves forever.
        if (depth > 2) return;
        char lastToken = ' ';
        size_t i = 0;
        while (i < fmt.size()) {
            const char c = fmt[i];
            const char u = Upper(c);
            if (c == '\'' || c == '"') {
                size_t end = fmt.find(c, i + 1);
                if (end == std::string_view::npos) end = fmt.size();
                FOut.append(fmt, i + 1, end - i - 1);
                i = end < fmt.size() ? end + 1 : end;
                continue;
            }
            if (u == 'A') {
                AppendAmPm(fmt, i);
                lastToken = 'A';
                continue;
            }
            size_t count = 1;
            if (u >= 'A' && u <= 'Z')
                while (i + count < fmt.size() && Upper(fmt[i + count]) == u)
                    ++count;
            const TFormatSettings& fs = FormatSettings();
            switch (u) {
            case 'Y':
                FOut += count <= 2 ? Pad(FYear % 100, 2) : Pad(FYear, 4);
                break;
            case 'M':
                if (lastToken == 'H') { // minutes right after an hour
                    FOut += count == 1 ? std::to_string(FMin) : Pad(FMin, 2);
                    if (count > 2) count = 2;
                } else if (count == 1) {
                    FOut += std::to_string(FMonth);
                } else if (count == 2) {
                    FOut += Pad(FMonth, 2);
                } else {
                    FOut += kShortMonthNames[FMonth - 1];
                    if (count > 4) count = 4;
                }
                break;
            case 'D':
                if (count == 1)
                    FOut += std::to_string(FDay);
                else if (count == 2)
                    FOut += Pad(FDay, 2);
                else if (count == 3)
                    FOut += kShortDayNames[FDayOfWeek - 1];
                else if (count == 4)
                    FOut += kLongDayNames[FDayOfWeek - 1];
                else if (count == 5)
                    Append(fs.ShortDateFormat, depth + 1);
                else {
                    Append(fs.LongDateFormat, depth + 1);
                    count = 6;
                }
                break;
            case 'H': {
                int h = FHour;
                if (UsesTwelveHourClock(fmt, i)) {
                    h %= 12;
                    if (h == 0) h = 12;
                }
                FOut += count == 1 ? std::to_string(h) : Pad(h, 2);
                if (count > 2) count = 2;
                break;
            }
            case 'N':
                FOut += count == 1 ? std::to_string(FMin) : Pad(FMin, 2);
                if (count > 2) count = 2;
                break;
            case 'S':
                FOut += count == 1 ? std::to_string(FSec) : Pad(FSec, 2);
                if (count > 2) count = 2;
                break;
            case 'Z':
                FOut += count < 3 ? std::to_string(FMSec) : Pad(FMSec, 3);
                if (count > 3) count = 3;
                break;
            case 'T':
                Append(count == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, depth + 1);
                if (count > 2) count = 2;
                break;
            case 'C':
                Append(fs.ShortDateFormat, depth + 1);
                if (FHour != 0 || FMin != 0 || FSec != 0) {
                    FOut += ' ';
                    Append(fs.LongTimeFormat, depth + 1);
                }
                count = 1;
                break;
            case '/':
                FOut += fs.DateSeparator;
                break;
            case ':':
                FOut += fs.TimeSeparator;
                break;
            default:
                FOut.append(fmt, i, count);
                break;
            }
            if (u == 'Y' || u == 'M' || u == 'D' || u == 'H' || u == 'N' || u == 'S' || u == 'Z' ||
                u == 'T' || u == 'C')
                lastToken = u;
            i += count;
        }
    }

    std::string Result() { return std::move(FOut); }

private:
    // "am/pm" and "a/p" copy the half of the specifier that applies (in its own case);
    // "ampm" gives the locale's texts; any other "a" is literal.
    void AppendAmPm(std::string_view fmt, size_t& i) {
        const bool pm = FHour >= 12;
        if (StartsNoCase(fmt, i, "am/pm")) {
            FOut.append(fmt, pm ? i + 3 : i, 2);
            i += 5;
        } else if (StartsNoCase(fmt, i, "a/p")) {
            FOut += fmt[pm ? i + 2 : i];
            i += 3;
        } else if (StartsNoCase(fmt, i, "ampm")) {
            FOut += pm ? "下午" : "上午";
            i += 4;
        } else {
            FOut += fmt[i++];
        }
    }

    static bool UsesTwelveHourClock(std::string_view fmt, size_t from) {
        char quote = 0;
        for (size_t i = from; i < fmt.size(); ++i) {
            const char c = fmt[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (StartsNoCase(fmt, i, "am/pm") || StartsNoCase(fmt, i, "a/p") ||
                       StartsNoCase(fmt, i, "ampm")) {
                return true;
            }
        }
        return false;
    }

    int FYear, FMonth, FDay, FHour, FMin, FSec, FMSec, FDayOfWeek;
    std::string FOut;
};

// Reads one to `maxDigits` digits.
bool ReadNumber(std::string_view s, size_t& i, int maxDigits, int& value) {
    size_t start = i;
    value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && static_cast<int>(i - start) < maxDigits)
        value = value * 10 + (s[i++] - '0');
    return i > start && !(i < s.size() && s[i] >= '0' && s[i] <= '9');
}

bool ScanDate(std::string_view s, size_t& i, TDateTime& date) {
    int y, m, d;
    const char sep = FormatSettings().DateSeparator;
    const size_t yearStart = i;
    if (!ReadNumber(s, i, 4, y) || i - yearStart < 3) return false;
    if (i >= s.size() || s[i++] != sep || !ReadNumber(s, i, 2, m)) return false;
    if (i >= s.size() || s[i++] != sep || !ReadNumber(s, i, 2, d)) return false;
    return TryEncodeDate(y, m, d, date);
}

bool ScanTime(std::string_view s, size_t& i, TDateTime& time) {
    int h, n, sec = 0, ms = 0;
    const char sep = FormatSettings().TimeSeparator;
    if (!ReadNumber(s, i, 2, h)) return false;
    if (i >= s.size() || s[i++] != sep || !ReadNumber(s, i, 2, n)) return false;
    if (i < s.size() && s[i] == sep) {
        ++i;
        if (!ReadNumber(s, i, 2, sec)) return false;
        if (i < s.size() && s[i] == FormatSettings().DecimalSeparator) {
            ++i;
            const size_t start = i;
            if (!ReadNumber(s, i, 3, ms)) return false;
            for (size_t k = i - start; k < 3; ++k)
                ms *= 10; // ".5" is half a second
        }
    }
    return TryEncodeTime(h, n, sec, ms, time);
}

void SkipBlanks(std::string_view s, size_t& i) {
    while (i < s.size() && s[i] == ' ')
        ++i;
}

// Date and time joined as the original does: before 1899-12-30 the time counts forwards
// from the (negative) day.
TDateTime Combine(TDateTime date, TDateTime time) {
    return date < 0 ? date - time : date + time;
}

[[noreturn]] void RaiseInvalid(std::string_view s, const char* what) {
    throw Exception("'" + std::string(s) + "' " + what);
}

} // namespace

TDateTime FromTimePoint(std::chrono::system_clock::time_point tp) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(tp.time_since_epoch()).count();
    int64_t secs = ms / 1000, msec = ms % 1000;
    if (msec < 0) {
        msec += 1000;
        --secs;
    }
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    localtime_r(&t, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec > 59 ? 59 : tm.tm_sec, static_cast<int>(msec));
}

std::chrono::system_clock::time_point ToTimePoint(TDateTime dt) {
    int y, m, d, h, n, s, ms;
    DecodeDateTime(dt, y, m, d, h, n, s, ms);
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = n;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    const std::time_t t = mktime(&tm);
    return std::chrono::system_clock::from_time_t(t) + std::chrono::milliseconds(ms);
}

TDateTime Now() {
    return FromTimePoint(std::chrono::system_clock::now());
}

TDateTime Date() {
    return std::trunc(Now());
}

TDateTime Time() {
    const TDateTime now = Now();
    return now - std::trunc(now);
}

bool TryEncodeDate(int y, int m, int d, TDateTime& out) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
    out = static_cast<double>(DaysFromCivil(y, m, d) + kUnixEpochDay);
    return true;
}

bool TryEncodeTime(int h, int n, int s, int ms, TDateTime& out) {
    if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) return false;
    out = static_cast<double>(((h * 60 + n) * 60 + s) * 1000 + ms) / kMSecsPerDay;
    return true;
}

TDateTime EncodeDate(int y, int m, int d) {
    TDateTime r;
    if (!TryEncodeDate(y, m, d, r)) throw Exception("无效的日期参数");
    return r;
}

TDateTime EncodeTime(int h, int n, int s, int ms) {
    TDateTime r;
    if (!TryEncodeTime(h, n, s, ms, r)) throw Exception("无效的时间参数");
    return r;
}

TDateTime EncodeDateTime(int y, int m, int d, int h, int n, int s, int ms) {
    return Combine(EncodeDate(y, m, d), EncodeTime(h, n, s, ms));
}

void DecodeDate(TDateTime dt, int& y, int& m, int& d) {
    CivilFromDays(SplitDateTime(dt).Day - kUnixEpochDay, y, m, d);
}

void DecodeTime(TDateTime dt, int& h, int& n, int& s, int& ms) {
    int64_t t = SplitDateTime(dt).MSec;
    ms = static_cast<int>(t % 1000);
    t /= 1000;
    s = static_cast<int>(t % 60);
    t /= 60;
    n = static_cast<int>(t % 60);
    h = static_cast<int>(t / 60);
}

void DecodeDateTime(TDateTime dt, int& y, int& m, int& d, int& h, int& n, int& s, int& ms) {
    DecodeDate(dt, y, m, d);
    DecodeTime(dt, h, n, s, ms);
}

int DayOfWeek(TDateTime dt) {
    const int64_t day = SplitDateTime(dt).Day;
    return static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
}

std::string FormatDateTime(std::string_view fmt, TDateTime dt) {
    TDateTimeFormatter f(dt);
    f.Append(fmt.empty() ? std::string_view("c") : fmt);
    return f.Result();
}

std::string DateToStr(TDateTime dt) {
    return FormatDateTime(FormatSettings().ShortDateFormat, dt);
}
std::string TimeToStr(TDateTime dt) {
    return FormatDateTime(FormatSettings().LongTimeFormat, dt);
}
std::string DateTimeToStr(TDateTime dt) {
    return FormatDateTime("c", dt);
}

bool TryStrToDate(std::string_view s, TDateTime& out) {
    size_t i = 0;
    SkipBlanks(s, i);
    TDateTime date;
    if (!ScanDate(s, i, date)) return false;
    SkipBlanks(s, i);
    if (i != s.size()) return false;
    out = date;
    return true;
}

bool TryStrToTime(std::string_view s, TDateTime& out) {
    size_t i = 0;
    SkipBlanks(s, i);
    TDateTime time;
    if (!ScanTime(s, i, time)) return false;
    SkipBlanks(s, i);
    if (i != s.size()) return false;
    out = time;
    return true;
}

bool TryStrToDateTime(std::string_view s, TDateTime& out) {
    size_t i = 0;
    SkipBlanks(s, i);
    TDateTime date = 0, time = 0;
    const size_t start = i;
    if (ScanDate(s, i, date)) {
        SkipBlanks(s, i);
        if (i < s.size() && !ScanTime(s, i, time)) return false;
    } else {
        i = start; // a time on its own is a time on day 0
        date = 0;
        if (!ScanTime(s, i, time)) return false;
    }
    SkipBlanks(s, i);
    if (i != s.size()) return false;
    out = Combine(date, time);
    return true;
}

TDateTime StrToDate(std::string_view s) {
    TDateTime r;
    if (!TryStrToDate(s, r)) RaiseInvalid(s, "不是有效的日期");
    return r;
}

TDateTime StrToTime(std::string_view s) {
    TDateTime r;
    if (!TryStrToTime(s, r)) RaiseInvalid(s, "不是有效的时间");
    return r;
}

TDateTime StrToDateTime(std::string_view s) {
    TDateTime r;
    if (!TryStrToDateTime(s, r)) RaiseInvalid(s, "不是有效的日期和时间");
    return r;
}

int64_t MilliSecondsBetween(TDateTime a, TDateTime b) {
    const int64_t d = LinearMSecs(a) - LinearMSecs(b);
    return d < 0 ? -d : d;
}

int64_t SecondsBetween(TDateTime a, TDateTime b) {
    return MilliSecondsBetween(a, b) / 1000;
}

int64_t DaysBetween(TDateTime a, TDateTime b) {
    return MilliSecondsBetween(a, b) / kMSecsPerDay;
}

TDateTime IncDay(TDateTime dt, int days) {
    return FromLinearMSecs(LinearMSecs(dt) + days * kMSecsPerDay);
}

TDateTime IncSecond(TDateTime dt, int64_t seconds) {
    return FromLinearMSecs(LinearMSecs(dt) + seconds * 1000);
}
