// Process formats, the ANSI code page, number and currency conversions, string helpers.
#include "QvText.h"
#include "QvTextDecimal.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <iconv.h>

// ---------------------------------------------------------------------------------------
// Process formats

const TFormatSettings& FormatSettings() {
    static const TFormatSettings settings{
        .CurrencyString = "",
        .CurrencyFormat = 0,
        .NegCurrFormat = 2,
        .ThousandSeparator = "",
        .DecimalSeparator = '.',
        .CurrencyDecimals = 6,
        .DateSeparator = '-',
        .TimeSeparator = ':',
        .ShortDateFormat = "YYYY-MM-DD",
        .LongDateFormat = "YYYY-MM-DD HH:NN:SS",
        .ShortTimeFormat = "HH:NN",
        .LongTimeFormat = "HH:NN:SS",
    };
    return settings;
}

// ---------------------------------------------------------------------------------------
// ANSI code page

namespace {

// One conversion descriptor per thread and direction (a descriptor keeps state and must
// not be shared between threads).
class TIconv {
public:
    TIconv(const char* to, const char* from) : FHandle(iconv_open(to, from)) {
        if (FHandle == reinterpret_cast<iconv_t>(-1))
            throw Exception(std::string("No conversion from ") + from + " to " + to);
    }
    ~TIconv() { iconv_close(FHandle); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // Converts `in`; at each sequence the conversion rejects, `onBad` appends its
    // replacement and tells how many input bytes to skip.
    template <class OnBad> std::string Convert(std::string_view in, OnBad onBad) {
        iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(in.size());
        char* inp = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        char buf[4096];
        while (inLeft > 0) {
            char* outp = buf;
            size_t outLeft = sizeof buf;
            const size_t r = iconv(FHandle, &inp, &inLeft, &outp, &outLeft);
            out.append(buf, outp - buf);
            if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
            const size_t skip = onBad(std::string_view(inp, inLeft), out);
            inp += skip;
            inLeft -= skip;
            iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t FHandle;
};

// Length of the well-formed UTF-8 sequence at the start of s, 0 when it is not one.
size_t Utf8SequenceLength(std::string_view s) {
    if (s.empty()) return 0;
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    size_t n;
    uint32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

std::string Utf8ToAnsi(std::string_view utf8) {
    // Code page 936 ("CP936") rather than plain GBK: it is the Windows table, 0x80 = euro.
    // A converter per call: a thread-local one would keep a loaded plug-in from unloading.
    TIconv conv("CP936", "UTF-8");
    return conv.Convert(utf8, [](std::string_view rest, std::string& out) {
        out += '?';
        const size_t n = Utf8SequenceLength(rest);
        return n ? n : 1;
    });
}

std::string AnsiToUtf8(std::string_view ansi) {
    TIconv conv("UTF-8", "CP936");
    return conv.Convert(ansi, [](std::string_view, std::string& out) {
        // Only the offending lead byte is replaced: the byte after it starts afresh, so
        // an ASCII character after a broken lead byte is kept.
        out += "\xEF\xBF\xBD";
        return size_t{1};
    });
}

// ---------------------------------------------------------------------------------------
// Number texts

namespace {

[[noreturn]] void RaiseInvalidInteger(std::string_view s) {
    throw Exception("'" + std::string(s) + "' 不是有效的整数值");
}

// Blanks, sign, then decimal digits or "$"/"0x" and hexadecimal digits; the value must lie
// in [minValue, maxValue].
bool ParseInteger(std::string_view s, int64_t minValue, int64_t maxValue, int64_t& out) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    unsigned base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    const uint64_t limit = negative ? 0 - static_cast<uint64_t>(minValue) : static_cast<uint64_t>(maxValue);
    uint64_t mag = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        if (d >= base || mag > (limit - d) / base) return false;
        mag = mag * base + d;
    }
    if (negative && minValue >= 0 && mag != 0) return false;
    out = negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    return true;
}

// The parts of a float text: blanks, sign, digits, ".", digits, exponent, blanks.
struct TFloatText {
    bool Negative = false;
    std::string_view IntDigits, FracDigits;
    int64_t Exp = 0;
};

bool ScanFloatText(std::string_view s, TFloatText& t) {
    size_t i = 0, end = s.size();
    while (i < end && s[i] == ' ')
        ++i;
    while (end > i && s[end - 1] == ' ')
        --end;
    const auto isDigit = [&](size_t k) { return k < end && s[k] >= '0' && s[k] <= '9'; };
    if (i < end && (s[i] == '+' || s[i] == '-')) t.Negative = s[i++] == '-';
    size_t start = i;
    while (isDigit(i))
        ++i;
    t.IntDigits = s.substr(start, i - start);
    if (i < end && s[i] == FormatSettings().DecimalSeparator) {
        start = ++i;
        while (isDigit(i))
            ++i;
        t.FracDigits = s.substr(start, i - start);
    }
    if (t.IntDigits.empty() && t.FracDigits.empty()) return false;
    if (i < end && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        bool expNegative = false;
        if (i < end && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
        if (!isDigit(i)) return false;
        int64_t e = 0;
        for (; isDigit(i); ++i)
            if (e < 1000000000) e = e * 10 + (s[i] - '0'); // beyond any range: saturate
        t.Exp = expNegative ? -e : e;
    }
    return i == end;
}

} // namespace

bool TryStrToInt64(std::string_view s, int64_t& out) {
    return ParseInteger(s, INT64_MIN, INT64_MAX, out);
}

bool TryStrToInt(std::string_view s, int& out) {
    int64_t v;
    if (!ParseInteger(s, INT_MIN, INT_MAX, v)) return false;
    out = static_cast<int>(v);
    return true;
}

int StrToInt(std::string_view s) {
    int v;
    if (!TryStrToInt(s, v)) RaiseInvalidInteger(s);
    return v;
}

int StrToIntDef(std::string_view s, int def) {
    int v;
    return TryStrToInt(s, v) ? v : def;
}

int64_t StrToInt64(std::string_view s) {
    int64_t v;
    if (!TryStrToInt64(s, v)) RaiseInvalidInteger(s);
    return v;
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
    int64_t v;
    return TryStrToInt64(s, v) ? v : def;
}

bool TryStrToFloat(std::string_view s, double& out) {
    TFloatText t;
    if (!ScanFloatText(s, t)) return false;
    std::string text(t.IntDigits.empty() ? "0" : t.IntDigits);
    text += '.';
    text += t.FracDigits.empty() ? "0" : t.FracDigits;
    text += 'e';
    text += std::to_string(t.Exp);
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Too small to hold is zero; too large to hold is not a number we accept.
        const std::string digits = std::string(t.IntDigits) + std::string(t.FracDigits);
        const size_t first = digits.find_first_not_of('0');
        const int64_t magnitude =
            static_cast<int64_t>(t.IntDigits.size()) - static_cast<int64_t>(first) + t.Exp;
        if (magnitude > 0) return false;
        v = 0;
    } else if (r.ec != std::errc{} || r.ptr != text.data() + text.size()) {
        return false;
    }
    out = t.Negative ? -v : v;
    return true;
}

double StrToFloat(std::string_view s) {
    double v;
    if (!TryStrToFloat(s, v)) RaiseInvalidFloat(s);
    return v;
}

double StrToFloatDef(std::string_view s, double def) {
    double v;
    return TryStrToFloat(s, v) ? v : def;
}

std::string IntToStr(int64_t v) {
    return std::to_string(v);
}

std::string IntToHex(int64_t v, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    uint64_t u = static_cast<uint64_t>(v);
    std::string s;
    do {
        s.insert(s.begin(), hex[u & 0xF]);
        u >>= 4;
    } while (u);
    if (digits > 32) digits = 32;
    if (static_cast<int>(s.size()) < digits) s.insert(0, digits - s.size(), '0');
    return s;
}

// ---------------------------------------------------------------------------------------
// Currency

namespace {

[[noreturn]] void RaiseOverflow() {
    throw Exception("浮点溢出");
}

// Digits followed by `zeros` zeros as a scaled value, or false when it does not fit.
bool DigitsToScaled(std::string_view digits, int64_t zeros, bool negative, int64_t& out) {
    const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
    if (static_cast<int64_t>(digits.size()) + zeros > 19) {
        if (digits.empty())
            zeros = 0;
        else
            return false;
    }
    uint64_t mag = 0;
    for (int64_t i = 0; i < static_cast<int64_t>(digits.size()) + zeros; ++i) {
        const unsigned d = i < static_cast<int64_t>(digits.size()) ? digits[i] - '0' : 0;
        if (mag > (limit - d) / 10) return false;
        mag = mag * 10 + d;
    }
    out = negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    return true;
}

} // namespace

Currency& Currency::operator+=(Currency o) {
    return *this = *this + o;
}
Currency& Currency::operator-=(Currency o) {
    return *this = *this - o;
}

Currency operator+(Currency a, Currency b) {
    Currency r;
    if (__builtin_add_overflow(a.Value, b.Value, &r.Value)) RaiseOverflow();
    return r;
}

Currency operator-(Currency a, Currency b) {
    Currency r;
    if (__builtin_sub_overflow(a.Value, b.Value, &r.Value)) RaiseOverflow();
    return r;
}

Currency operator-(Currency a) {
    return Currency{} - a;
}

Currency operator*(Currency a, int64_t n) {
    Currency r;
    if (__builtin_mul_overflow(a.Value, n, &r.Value)) RaiseOverflow();
    return r;
}

Currency DoubleToCurr(double v) {
    if (!std::isfinite(v)) throw Exception("无效的浮点运算");
    TDecimal d = DoubleToDecimal15(v);
    RoundToDecimals(d, 4);
    Currency c;
    if (!DigitsToScaled(d.Digits,
                        static_cast<int64_t>(d.Exponent) + 4 - static_cast<int64_t>(d.Digits.size()),
                        d.Negative, c.Value))
        RaiseOverflow();
    return c;
}

double CurrToDouble(Currency c) {
    return static_cast<double>(c.Value) / 10000.0;
}

std::string CurrToStr(Currency c) {
    return GeneralText(CurrToDecimal(c), 19, 0);
}

std::string CurrToStrF(Currency c, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 18) decimals = 18;
    TDecimal d = CurrToDecimal(c);
    RoundToDecimals(d, decimals);
    return FixedText(d, decimals, {});
}

bool TryStrToCurr(std::string_view s, Currency& out) {
    TFloatText t;
    if (!ScanFloatText(s, t)) return false;
    std::string digits = std::string(t.IntDigits) + std::string(t.FracDigits);
    int64_t point = static_cast<int64_t>(t.IntDigits.size()) + t.Exp + 4; // digits before the 4th decimal
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        out = Currency{};
        return true;
    }
    digits.erase(0, first);
    point -= static_cast<int64_t>(first);
    const int64_t len = static_cast<int64_t>(digits.size());
    if (point > 19) return false;
    if (point < 0) {
        out = Currency{};
        return true;
    }
    std::string kept = digits.substr(0, static_cast<size_t>(std::min(point, len)));
    int64_t zeros = point > len ? point - len : 0;
    int64_t v;
    if (!DigitsToScaled(kept, zeros, t.Negative, v)) return false;
    if (point < len && digits[point] >= '5') {
        if (t.Negative ? __builtin_sub_overflow(v, 1, &v) : __builtin_add_overflow(v, 1, &v)) return false;
    }
    out = Currency{v};
    return true;
}

Currency StrToCurr(std::string_view s) {
    Currency c;
    if (!TryStrToCurr(s, c)) RaiseInvalidFloat(s);
    return c;
}

Currency StrToCurrDef(std::string_view s, Currency def) {
    Currency c;
    return TryStrToCurr(s, c) ? c : def;
}

// ---------------------------------------------------------------------------------------
// String helpers

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool BlankChar(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

size_t FindText(std::string_view s, std::string_view sub, size_t from, bool ignoreCase) {
    if (!ignoreCase) return s.find(sub, from);
    if (sub.size() > s.size()) return std::string_view::npos;
    for (size_t i = from; i + sub.size() <= s.size(); ++i)
        if (SameText(s.substr(i, sub.size()), sub)) return i;
    return std::string_view::npos;
}

} // namespace

std::string Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

std::string TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && BlankChar(s[i]))
        ++i;
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && BlankChar(s[n - 1]))
        --n;
    return std::string(s.substr(0, n));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = AsciiUpper(c);
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = AsciiLower(c);
    return r;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

bool StartsText(std::string_view subText, std::string_view text) {
    return text.size() >= subText.size() && SameText(text.substr(0, subText.size()), subText);
}

bool EndsText(std::string_view subText, std::string_view text) {
    return text.size() >= subText.size() && SameText(text.substr(text.size() - subText.size()), subText);
}

bool ContainsText(std::string_view text, std::string_view subText) {
    return FindText(text, subText, 0, true) != std::string_view::npos;
}

std::string StringReplace(std::string_view s, std::string_view from, std::string_view to, bool all,
                          bool ignoreCase) {
    if (from.empty()) return std::string(s);
    std::string out;
    size_t pos = 0;
    while (true) {
        const size_t hit = FindText(s, from, pos, ignoreCase);
        if (hit == std::string_view::npos) break;
        out.append(s, pos, hit - pos);
        out += to;
        pos = hit + from.size();
        if (!all) break;
    }
    out.append(s, pos);
    return out;
}

std::string QuotedStr(std::string_view s) {
    return "'" + StringReplace(s, "'", "''", true, false) + "'";
}

std::vector<std::string> SplitString(std::string_view s, std::string_view delimiters) {
    std::vector<std::string> parts;
    if (s.empty()) return parts;
    size_t start = 0;
    while (true) {
        const size_t hit = s.find_first_of(delimiters, start);
        parts.emplace_back(
            s.substr(start, hit == std::string_view::npos ? std::string_view::npos : hit - start));
        if (hit == std::string_view::npos) break;
        start = hit + 1;
    }
    return parts;
}
