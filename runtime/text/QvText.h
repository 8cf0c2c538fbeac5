// Text helpers with the semantics of the original platform's runtime library: the ANSI
// code page (GBK), Format, float and currency texts, number conversions, small string
// helpers and the name=value string list.
//
// All text is UTF-8 std::string. The process formats are fixed (see FormatSettings()):
// decimal separator ".", no thousands separator, no currency symbol, six currency
// decimals. Errors are raised as Exception (QvCom.h) carrying the exact message text.
#pragma once

#include "QvCom.h"

#include <compare>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------------------
// Process formats

// The process-wide locale settings, fixed when a module loads. Date and time fields are
// the patterns FormatDateTime understands (case-insensitive).
struct TFormatSettings {
    std::string CurrencyString;    // "" - no currency symbol
    uint8_t CurrencyFormat;        // 0: symbol before the amount, no blank
    uint8_t NegCurrFormat;         // 2: symbol, minus, amount ("-12.50" without a symbol)
    std::string ThousandSeparator; // "" - none
    char DecimalSeparator;         // '.'
    uint8_t CurrencyDecimals;      // 6
    char DateSeparator;            // '-'
    char TimeSeparator;            // ':'
    std::string ShortDateFormat;   // "YYYY-MM-DD"
    std::string LongDateFormat;    // "YYYY-MM-DD HH:NN:SS"
    std::string ShortTimeFormat;   // "HH:NN"
    std::string LongTimeFormat;    // "HH:NN:SS"
};

const TFormatSettings& FormatSettings();

// ---------------------------------------------------------------------------------------
// ANSI code page (GBK, Windows code page 936)

// UTF-8 -> GBK bytes. A character GBK cannot hold becomes "?", as the Windows conversion
// does; invalid UTF-8 bytes also become "?".
std::string Utf8ToAnsi(std::string_view utf8);
// GBK bytes -> UTF-8. A byte sequence that is not valid GBK becomes U+FFFD.
std::string AnsiToUtf8(std::string_view ansi);

// ---------------------------------------------------------------------------------------
// Currency: fixed point, four decimals (Value = amount x 10000)

struct Currency {
    int64_t Value = 0;

    friend auto operator<=>(const Currency&, const Currency&) = default;
    friend bool operator==(const Currency&, const Currency&) = default;
    Currency& operator+=(Currency o);
    Currency& operator-=(Currency o);
};

// Sums and differences are exact; they raise Exception on overflow.
Currency operator+(Currency a, Currency b);
Currency operator-(Currency a, Currency b);
Currency operator-(Currency a);
// Exact multiplication by a whole number (quantities); raises Exception on overflow.
Currency operator*(Currency a, int64_t n);

// Nearest currency value, half away from zero, rounding the value's 15-significant-digit
// decimal text (so 0.1+0.2 -> 0.3, 12.345 -> 12.345, 1.00005 -> 1.0001). Raises
// Exception for NaN, infinity and values outside the currency range.
Currency DoubleToCurr(double v);
double CurrToDouble(Currency c);
// Shortest text: at most four decimals, no trailing zeros ("12.5", "3", "0.3", "-0.05").
std::string CurrToStr(Currency c);
// Fixed text with the given number of decimals (0..4 exact; more are padded with zeros),
// half away from zero when fewer than four.
std::string CurrToStrF(Currency c, int decimals);
// Decimal text (optional sign, digits, ".", digits, optional exponent; blanks around are
// ignored) -> currency, decimals beyond four rounded half away from zero. Raises
// Exception "'<text>' 不是有效的浮点数" on any other text.
Currency StrToCurr(std::string_view s);
bool TryStrToCurr(std::string_view s, Currency& out);
Currency StrToCurrDef(std::string_view s, Currency def);

// ---------------------------------------------------------------------------------------
// Format ("array of const" and the format function)

// One argument of Format. Strings are copied, so an argument never dangles.
struct TVarRec {
    enum TKind { vtInteger, vtInt64, vtUInt64, vtExtended, vtBoolean, vtChar, vtString, vtCurrency };

    TKind Kind;
    int64_t VInt = 0;   // vtInteger (32-bit source), vtInt64, vtBoolean, vtChar
    uint64_t VUInt = 0; // vtUInt64
    double VFloat = 0;  // vtExtended
    Currency VCurr;     // vtCurrency
    std::string VStr;   // vtString

    TVarRec(int v) : Kind(vtInteger), VInt(v) {}
    TVarRec(unsigned v) : Kind(vtInt64), VInt(v) {}
    TVarRec(long v) : Kind(vtInt64), VInt(v) {}
    TVarRec(unsigned long v) : Kind(vtUInt64), VUInt(v) {}
    TVarRec(long long v) : Kind(vtInt64), VInt(v) {}
    TVarRec(unsigned long long v) : Kind(vtUInt64), VUInt(v) {}
    TVarRec(double v) : Kind(vtExtended), VFloat(v) {}
    TVarRec(bool v) : Kind(vtBoolean), VInt(v ? 1 : 0) {}
    TVarRec(char v) : Kind(vtChar), VInt(static_cast<unsigned char>(v)), VStr(1, v) {}
    TVarRec(const char* v) : Kind(vtString), VStr(v ? v : "") {}
    TVarRec(const std::string& v) : Kind(vtString), VStr(v) {}
    TVarRec(std::string_view v) : Kind(vtString), VStr(v) {}
    TVarRec(Currency v) : Kind(vtCurrency), VCurr(v) {}
};

// Delphi Format. Specifier: "%" [index ":"] ["-"] [width] ["." precision] type, with "*"
// for width or precision taken from the next (integer) argument; an index sets the
// position of the next argument taken.
//   d u x  integers; precision = minimum digits (zero padded); x is upper case
//   s      strings and characters; precision = maximum length
//   f n m  float or currency, fixed with precision decimals (default 2; m defaults to the
//          currency decimals); n has no thousands separator, m no currency symbol
//   e      scientific, precision = significant digits (default 15): "1.23E+003"
//   g      general, precision = significant digits (default 15)
//   %      a literal "%"
// Width and precision of strings count bytes of the ANSI text (a Chinese character
// counts two, as on the original platform); precision never splits a character.
// A wrong argument type, a missing argument or a malformed specifier raises Exception
// "格式 '<fmt>' 无效或与参数不兼容". A boolean fits no conversion (as on the original).
std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args);
std::string Format(std::string_view fmt, std::span<const TVarRec> args);

// ---------------------------------------------------------------------------------------
// Float texts

// General text, 15 significant digits; exponent form when the decimal exponent is below
// -4 or at least 15 ("1E20", "1.5E-5"); "NAN", "INF", "-INF".
std::string FloatToStr(double v);
// Pattern text: sections "positive;negative;zero", "0" digit, "#" optional digit, "."
// decimal point, "," thousands grouping (the process has no thousands separator, so
// nothing is inserted), "E+"/"E-" exponent, quoted literals. Rounded half away from
// zero on the 15-significant-digit decimal text. An empty pattern gives FloatToStr.
std::string FormatFloat(std::string_view fmt, double v);

// ---------------------------------------------------------------------------------------
// Number conversions
//
// Integer text: blanks (spaces) before the number are skipped, then an optional "+" or
// "-", then decimal digits or hexadecimal digits after "$" or "0x"; nothing may follow,
// and the value must fit the result type.
// Float text: optional blanks, sign, digits with "." decimal point, optional exponent
// "E"/"e" [sign] digits, optional blanks; no thousands separators.

int StrToInt(std::string_view s); // raises "'<s>' 不是有效的整数值"
int StrToIntDef(std::string_view s, int def);
bool TryStrToInt(std::string_view s, int& out);
int64_t StrToInt64(std::string_view s); // raises "'<s>' 不是有效的整数值"
int64_t StrToInt64Def(std::string_view s, int64_t def);
bool TryStrToInt64(std::string_view s, int64_t& out);
double StrToFloat(std::string_view s); // raises "'<s>' 不是有效的浮点数"
double StrToFloatDef(std::string_view s, double def);
bool TryStrToFloat(std::string_view s, double& out);
std::string IntToStr(int64_t v);
// Upper-case hexadecimal, at least `digits` digits; a negative value is shown as its
// 64-bit two's complement.
std::string IntToHex(int64_t v, int digits);

// ---------------------------------------------------------------------------------------
// String helpers (ASCII case rules; other bytes are compared as they are)

std::string Trim(std::string_view s); // removes characters <= ' ' at both ends
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
// Argument order as on the original platform: StartsText(sub, text), EndsText(sub, text),
// ContainsText(text, sub).
bool StartsText(std::string_view subText, std::string_view text);
bool EndsText(std::string_view subText, std::string_view text);
bool ContainsText(std::string_view text, std::string_view subText);
// Replaces the first (or every, when `all`) occurrence of `from`; an empty `from` leaves
// the text unchanged.
std::string StringReplace(std::string_view s, std::string_view from, std::string_view to, bool all,
                          bool ignoreCase);
// 'text' with embedded single quotes doubled.
std::string QuotedStr(std::string_view s);
// Splits at every character of `delimiters`; empty parts are kept ("a,,b" -> a, "", b);
// an empty text gives no parts.
std::vector<std::string> SplitString(std::string_view s, std::string_view delimiters);

// ---------------------------------------------------------------------------------------
// Name=value string list

// A list of lines, each possibly "name=value". The name is the part before the first
// "=", compared without regard to ASCII case and without trimming; the first matching
// line wins; the value is the rest of the line, untrimmed. Lines may hold any byte,
// NUL included.
class TStringList {
public:
    TStringList() = default;
    explicit TStringList(std::string_view text) { SetText(text); }

    // Replaces the lines with those of `text`, split at CR LF, lone CR or lone LF. A final
    // line break does not start another line; an empty text gives no lines.
    void SetText(std::string_view text);
    // Every line followed by CR LF.
    std::string Text() const;

    int Count() const { return static_cast<int>(FItems.size()); }
    // Index checks raise Exception "列表索引越界 (<i>)".
    const std::string& operator[](int i) const;
    std::string& operator[](int i);
    const std::string& Strings(int i) const { return (*this)[i]; }
    void Put(int i, std::string_view s);

    int Add(std::string_view s);
    void Insert(int i, std::string_view s);
    void Delete(int i);
    void Clear() { FItems.clear(); }

    // Index of the first line equal to `s` (ASCII case-insensitive), -1 when none.
    int IndexOf(std::string_view s) const;
    // Index of the first line whose name matches, -1 when none.
    int IndexOfName(std::string_view name) const;
    // The value of the first line named `name`; empty when there is none.
    std::string Values(std::string_view name) const;
    // Sets the value of the first line named `name`, or adds "name=value". As on the
    // original platform, an empty value deletes that line.
    void SetValue(std::string_view name, std::string_view value);
    // The name of line i: the part before the first "=", empty when the line has none.
    std::string Names(int i) const;
    // The part of line i after the first "=", empty when the line has none.
    std::string ValueFromIndex(int i) const;

    const std::vector<std::string>& Items() const { return FItems; }

private:
    void CheckIndex(int i, bool allowEnd = false) const;

    std::vector<std::string> FItems;
};
