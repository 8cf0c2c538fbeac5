// Internal: a number as decimal digits, the common ground of every float and currency
// text. Rounding is done on these digits, half away from zero, as the original platform
// rounds the decimal text of a value.
#pragma once

#include "QvText.h"

#include <string>
#include <string_view>

struct TDecimal {
    bool Negative = false;
    std::string Digits; // significant digits without leading or trailing zeros; empty = zero
    int Exponent = 0;   // value = 0.Digits x 10^Exponent
};

// The value's decimal text with `precision` significant digits (1..17). v must be finite.
TDecimal DoubleToDecimal(double v, int precision);
// The shortest decimal text (15 significant digits) that later rounding starts from.
inline TDecimal DoubleToDecimal15(double v) {
    return DoubleToDecimal(v, 15);
}
TDecimal CurrToDecimal(Currency c);

// Keeps the first `keep` digits, rounding half away from zero on the next one.
void RoundDigitsAt(TDecimal& d, int keep);
inline void RoundToDecimals(TDecimal& d, int decimals) {
    RoundDigitsAt(d, d.Exponent + decimals);
}
inline void RoundToSignificant(TDecimal& d, int digits) {
    RoundDigitsAt(d, digits);
}

// "-ddd.ddd" with exactly `decimals` decimals (d already rounded); the thousands separator
// goes between groups of three integer digits when not empty. No sign for zero.
std::string FixedText(const TDecimal& d, int decimals, std::string_view thousandSep);
// General layout: fixed unless the exponent is beyond `precision` or below -4, then
// "d.dddE-x" with at least `expDigits` exponent digits and a sign only when negative.
std::string GeneralText(const TDecimal& d, int precision, int expDigits);
// Scientific layout with exactly `precision` mantissa digits: "d.dddE+xxx".
std::string ExponentText(const TDecimal& d, int precision, int expDigits);
// "NAN", "INF", "-INF" for the values that have no digits; empty for finite values.
std::string NonFiniteText(double v);

// The exact message of an invalid float text.
[[noreturn]] void RaiseInvalidFloat(std::string_view s);
