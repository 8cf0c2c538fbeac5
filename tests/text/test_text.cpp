// Text helpers: ANSI code page, Format, float and currency texts, number conversions,
// string helpers and the name=value list.
#include "QvText.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::string Unhex(std::string_view hex) {
    std::string s;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        s += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return s;
}

Currency Curr(int64_t scaled) {
    return Currency{scaled};
}

} // namespace

// ---------------------------------------------------------------------------------------
// ANSI code page

TEST(AnsiCodePage, ConvertsTheSystemTextsToGbkBytesAndBack) {
    struct Case {
        const char* utf8;
        const char* gbkHex; // from an independent encoder (Python's gbk codec)
    };
    const Case cases[] = {
        {"医生站结帐", "D2BDC9FAD5BEBDE1D5CA"},
        {"门诊医师站发送医嘱诊间支付", "C3C5D5EFD2BDCAA6D5BEB7A2CBCDD2BDD6F6D5EFBCE4D6A7B8B6"},
        {"VAA01=12 张三", "56414130313D313220D5C5C8FD"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Hex(Utf8ToAnsi(c.utf8)), c.gbkHex);
        EXPECT_EQ(AnsiToUtf8(Unhex(c.gbkHex)), c.utf8);
    }
}

TEST(AnsiCodePage, EuroSignIsTheSingleByte80AsInWindowsCodePage936) {
    EXPECT_EQ(Hex(Utf8ToAnsi("€5")), "8035");
    EXPECT_EQ(AnsiToUtf8("\x80"), "€");
}

TEST(AnsiCodePage, CharactersGbkCannotHoldBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToAnsi("a😀b"), "a?b");         // outside the BMP: one "?" per character
    EXPECT_EQ(Utf8ToAnsi("x한y"), "x?y");        // Hangul has no GBK code
    EXPECT_EQ(Hex(Utf8ToAnsi("é")), "A8A6");     // pinyin letters do
    EXPECT_EQ(Utf8ToAnsi("a\xC0z\xFF"), "a?z?"); // broken UTF-8 bytes
    EXPECT_EQ(Utf8ToAnsi("a\xE5\x8C"), "a??");   // truncated sequence at the end
}

TEST(AnsiCodePage, InvalidGbkBytesBecomeReplacementCharactersWithoutEatingTheNextOne) {
    EXPECT_EQ(AnsiToUtf8("\xFF"), "\xEF\xBF\xBD");
    EXPECT_EQ(AnsiToUtf8("\x81\x30"
                         "A"),
              "\xEF\xBF\xBD"
              "0A");                                   // lead byte + ASCII
    EXPECT_EQ(AnsiToUtf8("ok\xD2"), "ok\xEF\xBF\xBD"); // lead byte at the end
}

TEST(AnsiCodePage, KeepsNulBytesAndLongTexts) {
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(Utf8ToAnsi(withNul), withNul);
    EXPECT_EQ(AnsiToUtf8(withNul), withNul);
    std::string longText;
    for (int i = 0; i < 20000; ++i)
        longText += "诊间支付";
    const std::string ansi = Utf8ToAnsi(longText);
    EXPECT_EQ(ansi.size(), 20000u * 8);
    EXPECT_EQ(AnsiToUtf8(ansi), longText);
}

// ---------------------------------------------------------------------------------------
// Format

TEST(Format, ProducesTheTextsTheSystemSends) {
    // The card sale request: integers, currency amounts with two decimals, texts.
    EXPECT_EQ(
        Format("VAA01=%d\r\nVAA07=%d\r\nACF01=%d\r\nTransAmount=%f\r\nMemo=%s\r\nBillNo=%s\r\nTransId=%d\r\n"
               "MaxMoney=%f\r\nYJK=%f\r\nTransList=%s",
               {123, 456, 1, Curr(125000), "D2BDC9FAD5BEBDE1D5CA", "B001", 0, Curr(125000), Curr(0), ""}),
        "VAA01=123\r\nVAA07=456\r\nACF01=1\r\nTransAmount=12.50\r\nMemo=D2BDC9FAD5BEBDE1D5CA\r\n"
        "BillNo=B001\r\nTransId=0\r\nMaxMoney=12.50\r\nYJK=0.00\r\nTransList=");
    // A numbered SQL text filled with its arguments.
    EXPECT_EQ(Format("select * from VAK1 where VAK01=%d and VAA01=%d and BCK01='%s'", {42, int64_t{7}, "x"}),
              "select * from VAK1 where VAK01=42 and VAA01=7 and BCK01='x'");
}

TEST(Format, FollowsTheSpecifierRules) {
    struct Case {
        const char* name;
        std::string fmt;
        std::vector<TVarRec> args;
        std::string expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"literal percent", "100%% %s", {"ok"}, "100% ok"},
        {"no specifiers", "plain", {}, "plain"},
        {"two args", "%d,%s", {5, "x"}, "5,x"},
        {"width right", "[%5d]", {42}, "[   42]"},
        {"width left", "[%-5d]", {42}, "[42   ]"},
        {"width smaller than text", "[%1d]", {12345}, "[12345]"},
        {"precision pads digits", "%.5d", {-42}, "-00042"},
        {"hex upper", "%x", {255}, "FF"},
        {"hex lower type letter", "%X|%.4x", {255, 10}, "FF|000A"},
        // A 32-bit argument shows its 32-bit pattern, a 64-bit one its 64-bit pattern.
        {"hex of negative int", "%x", {-1}, "FFFFFFFF"},
        {"hex of negative int64", "%x", {int64_t{-1}}, "FFFFFFFFFFFFFFFF"},
        {"unsigned of negative int", "%u", {-1}, "4294967295"},
        {"unsigned 64", "%d", {std::numeric_limits<unsigned long long>::max()}, "18446744073709551615"},
        {"int64 min", "%d", {std::numeric_limits<int64_t>::min()}, "-9223372036854775808"},
        {"size_t", "%d", {size_t{3}}, "3"},
        {"index", "%1:s %0:s", {"a", "b"}, "b a"},
        {"index then next", "%1:s %s %0:s", {"a", "b", "c"}, "b c a"},
        {"star width", "[%*d]", {4, 7}, "[   7]"},
        {"star precision", "%.*f", {3, 1.5}, "1.500"},
        {"type letter case", "%D %S", {1, "s"}, "1 s"},
        {"char", "%s%s", {'a', "b"}, "ab"},
        {"string precision", "%.3s", {"abcdef"}, "abc"},
        {"std::string", "%s", {std::string("str")}, "str"},
        // Strings measure in ANSI bytes: a Chinese character takes two, and precision never
        // cuts one in half.
        {"chinese width", "[%-6s]", {"张三"}, "[张三  ]"},
        {"chinese right width", "[%5s]", {"张三"}, "[ 张三]"},
        {"chinese precision", "[%.3s]", {"张三"}, "[张]"},
        {"fixed default 2", "%f", {1.5}, "1.50"},
        // Half away from zero on the decimal text, as amounts are expected to round.
        {"fixed 1.005", "%.2f", {1.005}, "1.01"},
        {"fixed 2.675", "%.2f", {2.675}, "2.68"},
        {"fixed -2.675", "%.2f", {-2.675}, "-2.68"},
        {"fixed 0.1+0.2", "%.2f", {0.1 + 0.2}, "0.30"},
        {"fixed no negative zero", "%.2f", {-0.001}, "0.00"},
        {"fixed zero decimals", "%.0f", {2.5}, "3"},
        {"fixed large", "%.2f", {99999999.99}, "99999999.99"},
        {"fixed currency", "%.3f", {Curr(123456)}, "12.346"},
        {"fixed currency negative", "%f", {Curr(-5)}, "0.00"},
        {"fixed width", "[%8.2f]", {3.14159}, "[    3.14]"},
        {"number without separators", "%n", {1234567.891}, "1234567.89"},
        {"money six decimals", "%m", {Curr(125000)}, "12.500000"},
        {"money negative", "%m", {-12.5}, "-12.500000"},
        {"money precision", "%.2m", {1234.5}, "1234.50"},
        {"scientific", "%e", {1234.5}, "1.23450000000000E+003"},
        {"scientific precision", "%.3e", {-0.00015678}, "-1.57E-004"},
        {"scientific zero", "%.2e", {0.0}, "0.0E+000"},
        {"general", "%g", {0.1 + 0.2}, "0.3"},
        {"general precision", "%.3g", {1234.5}, "1.23E003"},
        {"nan", "%f", {nan}, "NAN"},
        {"infinity",
         "%.2f|%e",
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()},
         "INF|-INF"},
        {"float from float", "%.1f", {2.25f}, "2.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Format(c.fmt, std::span<const TVarRec>(c.args)), c.expected);
    }
}

TEST(Format, MismatchedOrMissingArgumentsRaiseTheMessageNamingTheFormat) {
    struct Case {
        const char* name;
        std::string fmt;
        std::vector<TVarRec> args;
    };
    const Case cases[] = {
        {"integer from text", "VAK01=%d", {"12"}},
        {"text from integer", "name=%s", {12}},
        {"text from float", "%s", {1.5}},
        {"float from integer", "%.2f", {12}},
        {"integer from float", "%d", {1.5}},
        {"integer from currency", "%d", {Curr(10000)}},
        {"boolean", "%d", {true}},
        {"missing argument", "%d,%s", {5}},
        {"no arguments", "%s", {}},
        {"index beyond", "%3:s", {"a"}},
        {"percent at end", "50%", {}},
        {"unknown type", "%q", {1}},
        {"pointer type", "%p", {1}},
        {"star from text", "%*d", {"4", 1}},
        {"absurd width", "%99999999d", {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RaisedMessage<Exception>([&] { Format(c.fmt, std::span<const TVarRec>(c.args)); }),
                  "格式 '" + c.fmt + "' 无效或与参数不兼容");
    }
}

// ---------------------------------------------------------------------------------------
// Float texts

TEST(FloatToStr, UsesFifteenSignificantDigitsAndExponentOnlyWhenNeeded) {
    struct Case {
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {12.5, "12.5"},
        {3.0, "3"},
        {-1.25, "-1.25"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1E15"},
        {1e20, "1E20"},
        {123456789012345678.0, "1.23456789012346E17"},
        {0.0001, "0.0001"},
        {1.5e-5, "1.5E-5"},
        {-2.5e-10, "-2.5E-10"},
        {99999999.99, "99999999.99"},
        {9.9999999999999999e14, "1E15"}, // rounding to 15 digits carries into the exponent
        {std::numeric_limits<double>::quiet_NaN(), "NAN"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(FloatToStr(c.value), c.expected);
    }
}

TEST(FormatFloat, AppliesPatternsWithHalfAwayFromZeroRounding) {
    struct Case {
        const char* fmt;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {"0.00", 1.005, "1.01"},
        {"0.00", 2.675, "2.68"},
        {"0.00", -2.675, "-2.68"},
        {"0.00", 12.5, "12.50"},
        {"0.00", -0.001, "0.00"},
        {"0.##", 1.5, "1.5"},
        {"0.##", 2.0, "2"},
        {"0.##", 1.999, "2"},
        {"#.##", 0.5, ".5"},
        {"#,##0.00", 1234567.891, "1234567.89"}, // the process has no thousands separator
        {"000", 7.0, "007"},
        {"0", 2.5, "3"},
        {"0", -2.5, "-3"},
        {"0", 123456.0, "123456"},
        {"0.0000", 0.00005, "0.0001"},
        {"0.00;(0.00)", -5.0, "(5.00)"},
        {"0.00;(0.00);零", 0.0, "零"},
        {"0.00;(0.00);零", 0.001, "零"}, // shows as zero, so the zero section
        {"'¥'0.00", 3.0, "¥3.00"},
        {"\"金额:\"0.00\"元\"", -3.0, "-金额:3.00元"},
        {"0.00E+00", 1234.5, "1.23E+03"},
        {"0.00E-00", 0.00012345, "1.23E-04"},
        {"0.0E+0", 0.0, "0.0E+0"},
        {"", 1.5, "1.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fmt) + " " + std::to_string(c.value));
        EXPECT_EQ(FormatFloat(c.fmt, c.value), c.expected);
    }
}

// ---------------------------------------------------------------------------------------
// Currency

TEST(Currency, DoubleToCurrRoundsTypicalAmountsAsExpected) {
    struct Case {
        double value;
        int64_t scaled;
    };
    const Case cases[] = {
        {0.1 + 0.2, 3000},
        {12.345, 123450},
        {99999999.99, 999999999900},
        {-12.345, -123450},
        {0.00005, 1},   // half away from zero
        {-0.00005, -1}, // half away from zero
        {1.00005, 10001},
        {2.00015, 20002},
        {0.000049999, 0},
        {1.23456789, 12346},
        {0.0, 0},
        {-0.0, 0},
        {922337203685477.0, 9223372036854770000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(DoubleToCurr(c.value).Value, c.scaled);
    }
    EXPECT_EQ(RaisedMessage<Exception>([] { DoubleToCurr(1e16); }), "浮点溢出");
    EXPECT_EQ(RaisedMessage<Exception>([] { DoubleToCurr(std::numeric_limits<double>::quiet_NaN()); }),
              "无效的浮点运算");
}

TEST(Currency, RoundTripsThroughDoubleAndText) {
    for (double v : {0.1 + 0.2, 12.345, 99999999.99, -99999999.99, -0.0001, 12.5, 1e-4, 123456789.1234}) {
        SCOPED_TRACE(v);
        const Currency c = DoubleToCurr(v);
        EXPECT_EQ(DoubleToCurr(CurrToDouble(c)), c);
        EXPECT_EQ(StrToCurr(CurrToStr(c)), c);
        EXPECT_EQ(StrToCurr(CurrToStrF(c, 4)), c);
    }
}

TEST(Currency, Texts) {
    struct Case {
        int64_t scaled;
        const char* general;
        const char* fixed2;
    };
    const Case cases[] = {
        {125000, "12.5", "12.50"},
        {30000, "3", "3.00"},
        {3000, "0.3", "0.30"},
        {-500, "-0.05", "-0.05"},
        {0, "0", "0.00"},
        {1250, "0.125", "0.13"}, // half away from zero
        {-1250, "-0.125", "-0.13"},
        {-10, "-0.001", "0.00"}, // no "-0.00"
        {999999999900, "99999999.99", "99999999.99"},
        {std::numeric_limits<int64_t>::max(), "922337203685477.5807", "922337203685477.58"},
        {std::numeric_limits<int64_t>::min(), "-922337203685477.5808", "-922337203685477.58"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.general);
        EXPECT_EQ(CurrToStr(Curr(c.scaled)), c.general);
        EXPECT_EQ(CurrToStrF(Curr(c.scaled), 2), c.fixed2);
    }
    EXPECT_EQ(CurrToStrF(Curr(125000), 0), "13");
    EXPECT_EQ(CurrToStrF(Curr(125000), 6), "12.500000");
}

TEST(Currency, StrToCurrReadsDecimalTextExactly) {
    struct Case {
        const char* text;
        int64_t scaled;
    };
    const Case cases[] = {
        {"12.345", 123450},
        {" 12.5 ", 125000},
        {"+3", 30000},
        {"-0.3", -3000},
        {".5", 5000},
        {"7.", 70000},
        {"1e2", 1000000},
        {"1.5E-3", 15},
        {"0.00005", 1},
        {"-0.00005", -1},
        {"0.000049999999", 0},
        {"99999999.99", 999999999900},
        {"922337203685477.5807", std::numeric_limits<int64_t>::max()},
        {"-922337203685477.5808", std::numeric_limits<int64_t>::min()},
        {"0000000000000000000000012", 120000},
        {"0e999999999999", 0},
        {"1e-999999999999", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToCurr(c.text).Value, c.scaled);
    }
    for (const char* bad : {"", " ", "abc", "1,000", "12.5元", "1e", "--1", "922337203685477.5808", "1e19",
                            "1e999999999999", "nan", "1 2"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RaisedMessage<Exception>([&] { StrToCurr(bad); }),
                  "'" + std::string(bad) + "' 不是有效的浮点数");
        Currency c = Curr(77);
        EXPECT_FALSE(TryStrToCurr(bad, c));
        EXPECT_EQ(c.Value, 77); // untouched on failure
    }
    EXPECT_EQ(StrToCurrDef("x", Curr(5)).Value, 5);
}

TEST(Currency, ArithmeticIsExactAndRefusesToOverflow) {
    EXPECT_EQ((DoubleToCurr(0.1) + DoubleToCurr(0.2)).Value, 3000);
    EXPECT_EQ((Curr(100) - Curr(250)).Value, -150);
    EXPECT_EQ((-Curr(100)).Value, -100);
    EXPECT_EQ((Curr(12345) * 3).Value, 37035);
    Currency c = Curr(1);
    c += Curr(2);
    c -= Curr(5);
    EXPECT_EQ(c.Value, -2);
    EXPECT_LT(Curr(-1), Curr(0));
    EXPECT_GE(Curr(5), Curr(5));
    EXPECT_NE(Curr(5), Curr(6));
    const Currency max = Curr(std::numeric_limits<int64_t>::max());
    EXPECT_EQ(RaisedMessage<Exception>([&] { (void)(max + Curr(1)); }), "浮点溢出");
    EXPECT_EQ(RaisedMessage<Exception>([&] { (void)(-max - Curr(2)); }), "浮点溢出");
    EXPECT_EQ(RaisedMessage<Exception>([&] { (void)(max * 2); }), "浮点溢出");
}

// ---------------------------------------------------------------------------------------
// Number conversions

TEST(IntegerText, AcceptsLeadingBlanksSignAndHexOnly) {
    struct Case {
        const char* text;
        int value;
    };
    const Case good[] = {
        {"12", 12},
        {" 12", 12},
        {"+12", 12},
        {"-12", -12},
        {"007", 7},
        {"$1F", 31},
        {"0x1f", 31},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const Case& c : good) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToInt(c.text), c.value);
    }
    for (const char* bad : {"", " ", "12 ", "1.0", "abc", "0x", "$", "-", "2147483648", "-2147483649",
                            "$80000000", "1e3", "١"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RaisedMessage<Exception>([&] { StrToInt(bad); }),
                  "'" + std::string(bad) + "' 不是有效的整数值");
        EXPECT_EQ(StrToIntDef(bad, -7), -7);
        int v = 99;
        EXPECT_FALSE(TryStrToInt(bad, v));
        EXPECT_EQ(v, 99);
    }
    EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(StrToInt64Def("9223372036854775808", 3), 3);
    EXPECT_EQ(StrToInt64Def("4294967296", 0), 4294967296);
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToHex(0x1234, 2), "1234");
    EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFFFFFFFFFF");
}

TEST(FloatText, AcceptsDecimalTextWithPointAndExponent) {
    struct Case {
        const char* text;
        double value;
    };
    const Case good[] = {
        {"1.5", 1.5}, {" -2.5e3 ", -2500}, {".5", 0.5}, {"1.", 1}, {"+0.1", 0.1}, {"1E-400", 0}, {"12", 12},
    };
    for (const Case& c : good) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToFloat(c.text), c.value);
    }
    for (const char* bad : {"", ".", "1,5", "abc", "1e", "1e400", "nan", "inf", "0x10", "1.2.3", "- 1"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RaisedMessage<Exception>([&] { StrToFloat(bad); }),
                  "'" + std::string(bad) + "' 不是有效的浮点数");
        EXPECT_EQ(StrToFloatDef(bad, -1.5), -1.5);
    }
}

// ---------------------------------------------------------------------------------------
// String helpers

TEST(StringHelpers, TrimRemovesControlCharactersAndBlanksOnly) {
    const std::string s(" \t\r\n\0x y\x01 ", 10);
    EXPECT_EQ(Trim(s), "x y");
    EXPECT_EQ(TrimLeft(s), "x y\x01 ");
    EXPECT_EQ(TrimRight(s), std::string(" \t\r\n\0x y", 8));
    EXPECT_EQ(Trim(" 张三 "), "张三"); // multi-byte characters are never trimmed
    EXPECT_EQ(Trim("   "), "");
}

TEST(StringHelpers, CaseRulesAreAscii) {
    EXPECT_EQ(UpperCase("abc张z"), "ABC张Z");
    EXPECT_EQ(LowerCase("ABC张Z"), "abc张z");
    EXPECT_TRUE(SameText("TransId", "TRANSID"));
    EXPECT_FALSE(SameText("TransId", "TransIds"));
    EXPECT_TRUE(StartsText("select", "SELECT * from x"));
    EXPECT_FALSE(StartsText("SELECT * from x", "select"));
    EXPECT_TRUE(EndsText(".LOG", "qvClinicLog.log"));
    EXPECT_TRUE(ContainsText("a Provider=SQLOLEDB.1;", "provider="));
    EXPECT_FALSE(ContainsText("abc", "abcd"));
}

TEST(StringHelpers, StringReplace) {
    struct Case {
        const char* s;
        const char* from;
        const char* to;
        bool all, ignoreCase;
        const char* expected;
    };
    const Case cases[] = {
        {"a-b-c", "-", "+", false, false, "a+b-c"}, {"a-b-c", "-", "+", true, false, "a+b+c"},
        {"xAxa", "a", "_", true, false, "xAx_"},    {"xAxa", "a", "_", true, true, "x_x_"},
        {"aaa", "aa", "a", true, false, "aa"}, // no rescanning of the replacement
        {"abc", "", "x", true, false, "abc"},       {"'O'", "'", "''", true, false, "''O''"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.s);
        EXPECT_EQ(StringReplace(c.s, c.from, c.to, c.all, c.ignoreCase), c.expected);
    }
    EXPECT_EQ(QuotedStr("O'Brien"), "'O''Brien'");
    EXPECT_EQ(QuotedStr(""), "''");
}

TEST(StringHelpers, SplitStringKeepsEmptyParts) {
    EXPECT_EQ(SplitString("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitString("8.0 1.33", ". "), (std::vector<std::string>{"8", "0", "1", "33"}));
    EXPECT_EQ(SplitString("a,", ","), (std::vector<std::string>{"a", ""}));
    EXPECT_TRUE(SplitString("", ",").empty());
}

// ---------------------------------------------------------------------------------------
// Name=value list

TEST(StringList, SplitsAtCrLfLoneCrAndLoneLf) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"one line", "a", {"a"}},
        {"crlf", "a\r\nb", {"a", "b"}},
        {"mixed breaks", "a\rb\nc\r\n", {"a", "b", "c"}},
        {"only a break", "\r\n", {""}},
        {"empty line inside", "a\n\nb", {"a", "", "b"}},
        {"lf then cr is two breaks", "\n\r", {"", ""}},
        {"trailing empty line", "a\r\n\r\n", {"a", ""}},
        {"nul inside", std::string("k=v\0w\r\nx", 8), {std::string("k=v\0w", 5), "x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TStringList list(c.text);
        EXPECT_EQ(list.Items(), c.lines);
    }
}

TEST(StringList, TextEndsEveryLineWithCrLf) {
    TStringList list;
    EXPECT_EQ(list.Text(), "");
    list.Add("a=1");
    list.Add("");
    list.Add(std::string("b\0c", 3));
    EXPECT_EQ(list.Text(), std::string("a=1\r\n\r\nb\0c\r\n", 12));
    TStringList again(list.Text());
    EXPECT_EQ(again.Items(), list.Items());
}

TEST(StringList, NamesMatchWithoutCaseFirstWinsValuesUntrimmed) {
    TStringList list(
        "TransAmountOk=12.5\r\ntransid=778\r\nTRANSID=999\r\n a = b \r\nnoequals\r\nempty=\r\n=x\r\n"
        "url=a=b");
    EXPECT_EQ(list.IndexOfName("TransId"), 1);
    EXPECT_EQ(list.Values("TRANSID"), "778");
    EXPECT_EQ(list.Values(" a "), " b ");
    EXPECT_EQ(list.Values("a"), ""); // names are not trimmed
    EXPECT_EQ(list.IndexOfName("noequals"), -1);
    EXPECT_EQ(list.Values("missing"), "");
    EXPECT_EQ(list.IndexOfName("empty"), 5);
    EXPECT_EQ(list.Values(""), "x");
    EXPECT_EQ(list.Values("url"), "a=b"); // the first "=" separates
    EXPECT_EQ(list.Names(7), "url");
    EXPECT_EQ(list.ValueFromIndex(7), "a=b");
    EXPECT_EQ(list.Names(4), "");
    EXPECT_EQ(list.ValueFromIndex(4), ""); // a line without "=" has no value
    EXPECT_EQ(list.IndexOf("NOEQUALS"), 4);
}

TEST(StringList, SetValueReplacesAddsAndDeletesOnEmpty) {
    TStringList list("a=1\r\nB=2\r\nb=3");
    list.SetValue("b", "20");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"a=1", "b=20", "b=3"}));
    list.SetValue("c", "x");
    EXPECT_EQ(list.Text(), "a=1\r\nb=20\r\nb=3\r\nc=x\r\n");
    list.SetValue("B", "");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"a=1", "b=3", "c=x"}));
    list.SetValue("absent", "");
    EXPECT_EQ(list.Count(), 3);
}

TEST(StringList, EditingAndIndexChecks) {
    TStringList list;
    EXPECT_EQ(list.Add("b"), 0);
    list.Insert(0, "a");
    list.Insert(2, "c");
    list.Put(1, "B");
    list[2] = "C";
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"a", "B", "C"}));
    list.Delete(1);
    EXPECT_EQ(list.Strings(1), "C");
    EXPECT_EQ(RaisedMessage<Exception>([&] { (void)list[2]; }), "列表索引越界 (2)");
    EXPECT_EQ(RaisedMessage<Exception>([&] { list.Delete(-1); }), "列表索引越界 (-1)");
    EXPECT_EQ(RaisedMessage<Exception>([&] { list.Insert(3, "x"); }), "列表索引越界 (3)");
    EXPECT_EQ(RaisedMessage<Exception>([&] { (void)list.Names(5); }), "列表索引越界 (5)");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, KeepsAVeryLongLineWhole) {
    const std::string value(1 << 20, 'x');
    TStringList list("head=1\r\nbig=" + value + "\r\ntail=2");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Values("big"), value);
    EXPECT_EQ(list.Values("tail"), "2");
    EXPECT_EQ(list.Text().size(), 8 + (4 + value.size() + 2) + 8);
}
