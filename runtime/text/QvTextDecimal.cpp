// Decimal digits of floats and currency values, their rounding and their layouts.
#include "QvTextDecimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

void StripTrailingZeros(TDecimal& d) {
    while (!d.Digits.empty() && d.Digits.back() == '0')
        d.Digits.pop_back();
    if (d.Digits.empty()) {
        d.Exponent = 0;
        d.Negative = false;
    }
}

std::string ExponentPart(int e, int minDigits, bool plusSign) {
    std::string s = "E";
    if (e < 0)
        s += '-';
    else if (plusSign)
        s += '+';
    std::string n = std::to_string(e < 0 ? -e : e);
    if (static_cast<int>(n.size()) < minDigits) s.append(minDigits - n.size(), '0');
    return s + n;
}

} // namespace

TDecimal DoubleToDecimal(double v, int precision) {
    TDecimal d;
    if (precision < 1) precision = 1;
    if (precision > 17) precision = 17;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, std::fabs(v));
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') d.Digits += *p;
    if (*p == 'e') d.Exponent = std::atoi(p + 1) + 1;
    d.Negative = std::signbit(v);
    // Leading zeros only appear for zero itself.
    if (d.Digits.find_first_not_of('0') == std::string::npos) d.Digits.clear();
    StripTrailingZeros(d);
    return d;
}

TDecimal CurrToDecimal(Currency c) {
    TDecimal d;
    const uint64_t mag = c.Value < 0 ? 0 - static_cast<uint64_t>(c.Value) : static_cast<uint64_t>(c.Value);
    if (mag == 0) return d;
    d.Digits = std::to_string(mag);
    d.Exponent = static_cast<int>(d.Digits.size()) - 4;
    d.Negative = c.Value < 0;
    StripTrailingZeros(d);
    return d;
}

void RoundDigitsAt(TDecimal& d, int keep) {
    if (keep >= static_cast<int>(d.Digits.size())) return;
    if (keep < 0) {
        d = TDecimal{};
        return;
    }
    const bool up = d.Digits[keep] >= '5';
    d.Digits.resize(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.Digits[i] == '9')
            d.Digits[i--] = '0';
        if (i < 0) {
            d.Digits.insert(d.Digits.begin(), '1');
            ++d.Exponent;
        } else {
            ++d.Digits[i];
        }
    }
    StripTrailingZeros(d);
}

std::string FixedText(const TDecimal& d, int decimals, std::string_view thousandSep) {
    const int len = static_cast<int>(d.Digits.size());
    std::string intPart;
    if (d.Exponent <= 0) {
        intPart = "0";
    } else {
        intPart.reserve(d.Exponent);
        for (int i = 0; i < d.Exponent; ++i)
            intPart += i < len ? d.Digits[i] : '0';
    }
    std::string out;
    if (d.Negative && !d.Digits.empty()) out += '-';
    if (thousandSep.empty()) {
        out += intPart;
    } else {
        for (size_t i = 0; i < intPart.size(); ++i) {
            if (i > 0 && (intPart.size() - i) % 3 == 0) out += thousandSep;
            out += intPart[i];
        }
    }
    if (decimals > 0) {
        out += FormatSettings().DecimalSeparator;
        for (int i = 0; i < decimals; ++i) {
            const int idx = d.Exponent + i;
            out += idx >= 0 && idx < len ? d.Digits[idx] : '0';
        }
    }
    return out;
}

std::string GeneralText(const TDecimal& d, int precision, int expDigits) {
    if (d.Digits.empty()) return "0";
    const int len = static_cast<int>(d.Digits.size());
    const char sep = FormatSettings().DecimalSeparator;
    std::string out = d.Negative ? "-" : "";
    if (d.Exponent > precision || d.Exponent < -3) {
        out += d.Digits[0];
        if (len > 1) {
            out += sep;
            out.append(d.Digits, 1);
        }
        return out + ExponentPart(d.Exponent - 1, expDigits, false);
    }
    if (d.Exponent <= 0) {
        out += '0';
        out += sep;
        out.append(-d.Exponent, '0');
        return out + d.Digits;
    }
    for (int i = 0; i < d.Exponent; ++i)
        out += i < len ? d.Digits[i] : '0';
    if (len > d.Exponent) {
        out += sep;
        out.append(d.Digits, d.Exponent);
    }
    return out;
}

std::string ExponentText(const TDecimal& d, int precision, int expDigits) {
    std::string digits = d.Digits;
    if (static_cast<int>(digits.size()) < precision) digits.append(precision - digits.size(), '0');
    std::string out = d.Negative && !d.Digits.empty() ? "-" : "";
    out += digits[0];
    if (precision > 1) {
        out += FormatSettings().DecimalSeparator;
        out.append(digits, 1, precision - 1);
    }
    return out + ExponentPart(d.Digits.empty() ? 0 : d.Exponent - 1, expDigits, true);
}

std::string NonFiniteText(double v) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    return {};
}

void RaiseInvalidFloat(std::string_view s) {
    throw Exception("'" + std::string(s) + "' 不是有效的浮点数");
}
