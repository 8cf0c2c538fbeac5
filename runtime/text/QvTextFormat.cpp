// Format, FloatToStr and FormatFloat.
#include "QvText.h"
#include "QvTextDecimal.h"

#include <cmath>

namespace {

// Width and precision beyond this are taken as a broken format text rather than a
// request for a huge text.
constexpr int kMaxFormatNumber = 1 << 20;

[[noreturn]] void RaiseInvalidFormat(std::string_view fmt) {
    throw Exception("格式 '" + std::string(fmt) + "' 无效或与参数不兼容");
}

// Bytes the UTF-8 character at the start of s takes in the ANSI code page, and its
// UTF-8 length.
std::pair<size_t, size_t> AnsiCharWidth(std::string_view s) {
    const unsigned char c = static_cast<unsigned char>(s[0]);
    if (c < 0x80) return {1, 1};
    size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (n > s.size()) n = 1;
    for (size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) n = 1;
    if (n == 1) return {1, 1};
    return {Utf8ToAnsi(s.substr(0, n)).size(), n};
}

// The longest prefix of s whose ANSI text takes at most maxBytes bytes; a character is
// never cut in half.
std::string_view AnsiPrefix(std::string_view s, size_t maxBytes) {
    size_t used = 0, pos = 0;
    while (pos < s.size()) {
        const auto [width, len] = AnsiCharWidth(s.substr(pos));
        if (used + width > maxBytes) break;
        used += width;
        pos += len;
    }
    return s.substr(0, pos);
}

std::string UnsignedText(uint64_t v, unsigned base) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v % base]);
        v /= base;
    } while (v);
    return s;
}

// Surrounds an amount with the currency symbol as the process's currency formats say.
std::string CurrencyLayout(const std::string& amount) {
    const TFormatSettings& fs = FormatSettings();
    const std::string& sym = fs.CurrencyString;
    if (amount.empty() || amount[0] != '-') {
        switch (fs.CurrencyFormat) {
        case 1:
            return amount + sym;
        case 2:
            return sym + " " + amount;
        case 3:
            return amount + " " + sym;
        default:
            return sym + amount;
        }
    }
    const std::string a = amount.substr(1);
    switch (fs.NegCurrFormat) {
    case 0:
        return "(" + sym + a + ")";
    case 1:
        return "-" + sym + a;
    case 3:
        return sym + a + "-";
    case 4:
        return "(" + a + sym + ")";
    case 5:
        return "-" + a + sym;
    case 6:
        return a + "-" + sym;
    case 7:
        return a + sym + "-";
    case 8:
        return "-" + a + " " + sym;
    case 9:
        return "-" + sym + " " + a;
    case 10:
        return a + " " + sym + "-";
    case 11:
        return sym + " " + a + "-";
    case 12:
        return sym + " -" + a;
    case 13:
        return a + "- " + sym;
    case 14:
        return "(" + sym + " " + a + ")";
    case 15:
        return "(" + a + " " + sym + ")";
    default:
        return sym + "-" + a;
    }
}

// Decimal digits of a float or currency argument, ready for rounding.
TDecimal ArgDecimal(const TVarRec& a, int significant) {
    if (a.Kind == TVarRec::vtCurrency) return CurrToDecimal(a.VCurr);
    TDecimal d = DoubleToDecimal(a.VFloat, significant > 15 ? significant : 15);
    return d;
}

} // namespace

std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args) {
    return Format(fmt, std::span<const TVarRec>(args.begin(), args.size()));
}

std::string Format(std::string_view fmt, std::span<const TVarRec> args) {
    std::string out;
    size_t argIndex = 0;
    size_t i = 0;
    const size_t n = fmt.size();

    const auto nextArg = [&]() -> const TVarRec& {
        if (argIndex >= args.size()) RaiseInvalidFormat(fmt);
        return args[argIndex++];
    };
    // A number of the specifier: digits, or "*" taking an integer argument.
    const auto readNumber = [&](int& value) {
        if (i < n && fmt[i] == '*') {
            ++i;
            const TVarRec& a = nextArg();
            if (a.Kind != TVarRec::vtInteger && a.Kind != TVarRec::vtInt64) RaiseInvalidFormat(fmt);
            if (a.VInt > kMaxFormatNumber) RaiseInvalidFormat(fmt);
            value = static_cast<int>(a.VInt < -1 ? -1 : a.VInt);
            return true;
        }
        if (i >= n || fmt[i] < '0' || fmt[i] > '9') return false;
        int64_t v = 0;
        for (; i < n && fmt[i] >= '0' && fmt[i] <= '9'; ++i) {
            v = v * 10 + (fmt[i] - '0');
            if (v > kMaxFormatNumber) RaiseInvalidFormat(fmt);
        }
        value = static_cast<int>(v);
        return true;
    };

    while (i < n) {
        const size_t pct = fmt.find('%', i);
        if (pct == std::string_view::npos) {
            out.append(fmt, i);
            break;
        }
        out.append(fmt, i, pct - i);
        i = pct + 1;
        if (i >= n) RaiseInvalidFormat(fmt);
        if (fmt[i] == '%') {
            out += '%';
            ++i;
            continue;
        }

        bool left = false;
        int width = 0, prec = -1, number = 0;
        bool hasNumber = readNumber(number);
        if (hasNumber && i < n && fmt[i] == ':') {
            if (number < 0) RaiseInvalidFormat(fmt);
            argIndex = static_cast<size_t>(number);
            ++i;
            hasNumber = false;
        }
        if (!hasNumber) {
            if (i < n && fmt[i] == '-') {
                left = true;
                ++i;
            }
            hasNumber = readNumber(number);
        }
        if (hasNumber) width = number < 0 ? 0 : number;
        if (i < n && fmt[i] == '.') {
            ++i;
            if (!readNumber(prec)) prec = 0;
        }
        if (i >= n) RaiseInvalidFormat(fmt);
        char type = fmt[i++];
        if (type >= 'a' && type <= 'z') type = static_cast<char>(type - 32);

        std::string text;
        bool isString = false;
        const TVarRec& a = nextArg();
        const bool isInt =
            a.Kind == TVarRec::vtInteger || a.Kind == TVarRec::vtInt64 || a.Kind == TVarRec::vtUInt64;
        const bool isFloat = a.Kind == TVarRec::vtExtended || a.Kind == TVarRec::vtCurrency;
        switch (type) {
        case 'D':
        case 'U':
        case 'X': {
            if (!isInt) RaiseInvalidFormat(fmt);
            bool negative = false;
            uint64_t mag;
            if (a.Kind == TVarRec::vtUInt64) {
                mag = a.VUInt;
            } else if (type == 'D') {
                negative = a.VInt < 0;
                mag = negative ? 0 - static_cast<uint64_t>(a.VInt) : static_cast<uint64_t>(a.VInt);
            } else if (a.Kind == TVarRec::vtInteger) {
                mag = static_cast<uint32_t>(a.VInt); // a 32-bit value shows its 32-bit pattern
            } else {
                mag = static_cast<uint64_t>(a.VInt);
            }
            text = UnsignedText(mag, type == 'X' ? 16 : 10);
            if (prec > static_cast<int>(text.size())) text.insert(0, prec - text.size(), '0');
            if (negative) text.insert(text.begin(), '-');
            break;
        }
        case 'S':
            if (a.Kind != TVarRec::vtString && a.Kind != TVarRec::vtChar) RaiseInvalidFormat(fmt);
            isString = true;
            text = prec >= 0 ? std::string(AnsiPrefix(a.VStr, static_cast<size_t>(prec))) : a.VStr;
            break;
        case 'F':
        case 'N':
        case 'M':
        case 'E':
        case 'G': {
            if (!isFloat) RaiseInvalidFormat(fmt);
            if (a.Kind == TVarRec::vtExtended && !std::isfinite(a.VFloat)) {
                text = NonFiniteText(a.VFloat);
                break;
            }
            if (type == 'E' || type == 'G') {
                int digits = prec < 0 ? 15 : prec;
                if (digits < 1) digits = 1;
                if (digits > 18) digits = 18;
                TDecimal d = ArgDecimal(a, digits);
                RoundToSignificant(d, digits);
                text = type == 'E' ? ExponentText(d, digits, 3) : GeneralText(d, digits, 3);
            } else {
                int decimals = prec >= 0 ? prec : type == 'M' ? FormatSettings().CurrencyDecimals : 2;
                if (decimals > 18) decimals = 18;
                TDecimal d = ArgDecimal(a, 15);
                RoundToDecimals(d, decimals);
                text = FixedText(d, decimals,
                                 type == 'F' ? std::string_view{} : FormatSettings().ThousandSeparator);
                if (type == 'M') text = CurrencyLayout(text);
            }
            break;
        }
        default:
            RaiseInvalidFormat(fmt);
        }

        if (width > 0) {
            const size_t len = isString ? Utf8ToAnsi(text).size() : text.size();
            if (len < static_cast<size_t>(width)) {
                if (left)
                    text.append(width - len, ' ');
                else
                    text.insert(0, width - len, ' ');
            }
        }
        out += text;
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Float texts

std::string FloatToStr(double v) {
    if (!std::isfinite(v)) return NonFiniteText(v);
    return GeneralText(DoubleToDecimal15(v), 15, 0);
}

namespace {

// One section of a FormatFloat pattern, read once.
struct TFloatPattern {
    std::string_view Text;
    int IntPlaces = 0;     // digit placeholders before the decimal point
    int FirstZero = -1;    // index (among IntPlaces) of the first "0" before the point
    int FracPlaces = 0;    // digit placeholders after the point
    int FracMinDigits = 0; // up to and including the last "0" after the point
    bool HasPoint = false;
    bool Thousands = false;
    bool Scientific = false;
    bool ExpPlus = false; // "E+" shows the sign always, "E-" only when negative
    int ExpDigits = 0;
};

// The section of a pattern (sections separated by ";" outside quotes); empty when absent.
std::string_view PatternSection(std::string_view fmt, int index) {
    int current = 0;
    size_t start = 0;
    char quote = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            if (current == index) return fmt.substr(start, i - start);
            ++current;
            start = i + 1;
        }
    }
    return current == index ? fmt.substr(start) : std::string_view{};
}

TFloatPattern ReadPattern(std::string_view text) {
    TFloatPattern p;
    p.Text = text;
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        switch (c) {
        case '\'':
        case '"':
            quote = c;
            break;
        case '0':
        case '#':
            if (p.Scientific) break;
            if (p.HasPoint) {
                ++p.FracPlaces;
                if (c == '0') p.FracMinDigits = p.FracPlaces;
            } else {
                if (c == '0' && p.FirstZero < 0) p.FirstZero = p.IntPlaces;
                ++p.IntPlaces;
            }
            break;
        case '.':
            if (!p.Scientific) p.HasPoint = true;
            break;
        case ',':
            if (!p.HasPoint && !p.Scientific) p.Thousands = true;
            break;
        case 'E':
        case 'e':
            if (!p.Scientific && i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-')) {
                p.Scientific = true;
                p.ExpPlus = text[i + 1] == '+';
                size_t k = i + 2;
                while (k < text.size() && text[k] == '0' && p.ExpDigits < 4) {
                    ++p.ExpDigits;
                    ++k;
                }
            }
            break;
        default:
            break;
        }
    }
    return p;
}

// Lays the digits into the pattern: placeholders take digits, everything else is copied.
std::string ApplyPattern(const TFloatPattern& p, const std::string& intDigits, const std::string& fracDigits,
                         const std::string& expText) {
    const std::string& sep = FormatSettings().ThousandSeparator;
    std::string out;
    int intSeen = 0, fracSeen = 0;
    const int extra = static_cast<int>(intDigits.size()) - p.IntPlaces; // digits beyond the placeholders
    bool inFraction = false, expDone = false;
    char quote = 0;
    const auto putIntDigit = [&](int k) { // k: index in intDigits
        out += intDigits[k];
        const int remaining = static_cast<int>(intDigits.size()) - 1 - k;
        if (p.Thousands && remaining > 0 && remaining % 3 == 0) out += sep;
    };
    for (size_t i = 0; i < p.Text.size(); ++i) {
        const char c = p.Text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                out += c;
            continue;
        }
        if (expDone && c == '0') continue; // exponent digits are in expText
        expDone = false;
        switch (c) {
        case '\'':
        case '"':
            quote = c;
            break;
        case '0':
        case '#':
            if (!inFraction) {
                if (intSeen == 0)
                    for (int k = 0; k < extra; ++k)
                        putIntDigit(k);
                const int k = intSeen + extra;
                if (k >= 0) putIntDigit(k);
                ++intSeen;
            } else {
                if (fracSeen < static_cast<int>(fracDigits.size())) out += fracDigits[fracSeen];
                ++fracSeen;
            }
            break;
        case '.':
            if (!inFraction) {
                // Digits beyond the placeholders still show when no placeholder preceded.
                if (intSeen == 0)
                    for (int k = 0; k < static_cast<int>(intDigits.size()); ++k)
                        putIntDigit(k);
                intSeen = std::max(intSeen, 1);
                inFraction = true;
                if (!fracDigits.empty()) out += FormatSettings().DecimalSeparator;
            }
            break;
        case ',':
            break;
        case 'E':
        case 'e':
            if (p.Scientific && i + 1 < p.Text.size() && (p.Text[i + 1] == '+' || p.Text[i + 1] == '-') &&
                !expText.empty()) {
                out += c;
                out += expText;
                ++i;
                expDone = true;
            } else {
                out += c;
            }
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string FormatFloat(std::string_view fmt, double v) {
    if (!std::isfinite(v)) return NonFiniteText(v);
    if (fmt.empty()) return FloatToStr(v);

    // Section: positive; negative; zero. An empty or missing section falls back to the first.
    const std::string_view positive = PatternSection(fmt, 0);
    const std::string_view negative = PatternSection(fmt, 1);
    const std::string_view zero = PatternSection(fmt, 2);
    std::string_view section = positive;
    bool ownNegative = false;
    if (v < 0 && !negative.empty()) {
        section = negative;
        ownNegative = true;
    }
    TFloatPattern p = ReadPattern(section);

    TDecimal d = DoubleToDecimal15(v);
    std::string intDigits, fracDigits, expText;
    const auto layout = [&](const TFloatPattern& pat) {
        intDigits.clear();
        fracDigits.clear();
        expText.clear();
        if (pat.Scientific) {
            const int places = std::max(pat.IntPlaces, 1);
            RoundToSignificant(d, places + pat.FracPlaces);
            const int e = d.Digits.empty() ? 0 : d.Exponent - places;
            for (int k = 0; k < places; ++k)
                intDigits += k < static_cast<int>(d.Digits.size()) ? d.Digits[k] : '0';
            if (pat.IntPlaces > 0 && pat.FirstZero < 0)
                while (intDigits.size() > 1 && intDigits[0] == '0')
                    intDigits.erase(0, 1);
            if (static_cast<int>(d.Digits.size()) > places) fracDigits = d.Digits.substr(places);
            std::string en = std::to_string(e < 0 ? -e : e);
            if (static_cast<int>(en.size()) < pat.ExpDigits) en.insert(0, pat.ExpDigits - en.size(), '0');
            expText = (e < 0 ? "-" : pat.ExpPlus ? "+" : "") + en;
        } else {
            RoundToDecimals(d, pat.FracPlaces);
            for (int k = 0; k < d.Exponent; ++k)
                intDigits += k < static_cast<int>(d.Digits.size()) ? d.Digits[k] : '0';
            for (int k = 0; k < pat.FracPlaces; ++k) {
                const int idx = d.Exponent + k;
                fracDigits += idx >= 0 && idx < static_cast<int>(d.Digits.size()) ? d.Digits[idx] : '0';
            }
        }
        // Minimum integer digits from the first "0"; optional trailing decimals dropped.
        const int minInt = pat.FirstZero < 0 ? 0 : pat.IntPlaces - pat.FirstZero;
        if (static_cast<int>(intDigits.size()) < minInt) intDigits.insert(0, minInt - intDigits.size(), '0');
        while (static_cast<int>(fracDigits.size()) > pat.FracMinDigits && fracDigits.back() == '0')
            fracDigits.pop_back();
        if (static_cast<int>(fracDigits.size()) < pat.FracMinDigits)
            fracDigits.append(pat.FracMinDigits - fracDigits.size(), '0');
    };
    layout(p);

    // A value that is zero, or shows as zero, takes the zero section when there is one.
    if (d.Digits.empty() && !zero.empty() && section != zero) {
        section = zero;
        ownNegative = false;
        p = ReadPattern(section);
        d = TDecimal{};
        layout(p);
    }
    std::string out = ApplyPattern(p, intDigits, fracDigits, expText);
    if (d.Negative && !d.Digits.empty() && !ownNegative) out.insert(out.begin(), '-');
    return out;
}
