// The facade's free helpers and the reading of a module's own version.
#include "uIApplication.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string Bytes(std::initializer_list<int> AValues) {
    std::string s;
    for (int v : AValues)
        s += static_cast<char>(v);
    return s;
}

std::filesystem::path TempFile(const std::string& AName, const std::string& AContent) {
    auto path =
        std::filesystem::temp_directory_path() / ("qvhost_" + std::to_string(::getpid()) + "_" + AName);
    std::ofstream(path, std::ios::binary) << AContent;
    return path;
}

std::string Block(std::initializer_list<std::string> AEntries) {
    std::string block;
    for (const auto& e : AEntries)
        block += e + '\0';
    return block;
}

} // namespace

TEST(HostHelpers, StrToHexWritesTwoUpperCaseDigitsPerByte) {
    struct Case {
        std::string Bytes, Hex;
    };
    const Case cases[] = {
        {"A", "41"},
        {"", ""},
        {Bytes({0x00, 0xFF, 0x0A}), "00FF0A"},
        {Bytes({0xD6, 0xD0}), "D6D0"}, // GBK bytes of a Chinese character
    };
    for (const Case& c : cases)
        EXPECT_EQ(StrToHex(c.Bytes), c.Hex) << c.Hex;
}

TEST(HostHelpers, HexToStrDecodesPairsAndStopsAtTheFirstBadPair) {
    struct Case {
        const char* Name;
        std::string Hex, Bytes;
    };
    const Case cases[] = {
        {"odd length drops the last digit", "414", "A"},
        {"either case", "6a6B", "jk"},
        {"empty", "", ""},
        // The result keeps length div 2 bytes; everything from the bad pair on is zero.
        {"bad pair in the middle", "41ZZ42", Bytes({'A', 0, 0})},
        {"bad first pair", "G141", Bytes({0, 0})},
        {"half a bad pair", "4Z41", Bytes({0, 0})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HexToStr(c.Hex), c.Bytes) << c.Name;
}

TEST(HostHelpers, TextsOfTheProgramTravelAsAnsiHex) {
    EXPECT_EQ(Utf8ToHex("中A"), "D6D041");
    EXPECT_EQ(HexToUtf8("D6D041"), "中A");
    EXPECT_EQ(HexToUtf8(Utf8ToHex("门诊收费 12.50")), "门诊收费 12.50");
}

TEST(HostHelpers, ReadValuesFromKeyValueText) {
    const TStringList list(
        "TransAmountOk=12.50\r\nTransId=778\r\nMemo=D6D0\r\nBad=abc\r\nEmpty=\r\nPadded= 7");
    EXPECT_EQ(ReadIntValue(list, "TransId", -1), 778);
    EXPECT_EQ(ReadIntValue(list, "transid", -1), 778); // names without regard to case
    EXPECT_EQ(ReadIntValue(list, "Missing", -1), -1);
    EXPECT_EQ(ReadIntValue(list, "Bad", -1), -1);
    EXPECT_EQ(ReadIntValue(list, "TransAmountOk", -1), -1);
    EXPECT_DOUBLE_EQ(ReadFloatValue(list, "TransAmountOk", 0), 12.5);
    EXPECT_DOUBLE_EQ(ReadFloatValue(list, "Bad", 3.5), 3.5);
    EXPECT_DOUBLE_EQ(ReadFloatValue(list, "Missing", 0), 0);

    struct Case {
        const char* Name;
        const char* Key;
        bool Hex;
        const char* Default;
        const char* Expected;
    };
    const Case cases[] = {
        {"absent key, default", "Missing", false, "x", "x"},
        {"absent key, empty default", "Missing", false, "", ""},
        {"empty value, default", "Empty", false, "x", "x"},
        {"present value wins", "Bad", false, "x", "abc"},
        {"hex-decoded ANSI text", "Memo", true, "", "中"},
        {"value untrimmed", "Padded", false, "", " 7"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadStrValue(list, c.Key, c.Hex, c.Default), c.Expected) << c.Name;
}

TEST(HostHelpers, FormatStdDateTimeUsesTheFixedLayout) {
    EXPECT_EQ(FormatStdDateTime(EncodeDateTime(2024, 3, 5, 8, 9, 10, 0)), "2024-03-05 08:09:10");
    EXPECT_EQ(FormatStdDateTime(EncodeDate(2024, 3, 5)), "2024-03-05 00:00:00");
}

TEST(HostVersion, FormatFileVersionMakesFourPartsOfFourDigits) {
    struct Case {
        const char* Text;
        const char* Expected;
    };
    const Case cases[] = {
        {"8.0.1.33", "0008.0000.0001.0033"},
        {" 8 . x", "0008.0000.0000.0000"},
        {"8 . 0 . 1 . 33", "0008.0000.0001.0033"}, // blanks around dots make no parts
        {"8.0", "0008.0000.0000.0000"},
        {"1.2.3.4.5", "0001.0002.0003.0004"},
        {"12345.1.1.1", "12345.0001.0001.0001"}, // at least four digits
        {"8a.1.x.2", "0000.0001.0000.0002"},
        {"99999999999.1", "0000.0001.0000.0000"}, // too large for a whole number
        {"", "0000.0000.0000.0000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatFileVersion(c.Text), c.Expected) << '"' << c.Text << '"';
}

TEST(HostVersion, VersionBlockAnswersTheFirstTranslationsFileVersion) {
    struct Case {
        const char* Name;
        std::string Block;
        const char* Expected;
    };
    const Case cases[] = {
        {"one language",
         Block({"QVVERSIONINFO", "VarFileInfo\\Translation=080404B0",
                "StringFileInfo\\080404B0\\FileVersion= 8.0.1.33 "}),
         "8.0.1.33"},
        {"the first pair wins",
         Block({"QVVERSIONINFO", "VarFileInfo\\Translation=040904E4 080404B0",
                "StringFileInfo\\080404B0\\FileVersion=8.0.1.33",
                "StringFileInfo\\040904E4\\FileVersion=9.1.0.0"}),
         "9.1.0.0"},
        {"key case does not matter",
         Block({"QVVERSIONINFO", "VarFileInfo\\Translation=080404b0",
                "StringFileInfo\\080404B0\\FileVersion=1.2"}),
         "1.2"},
        {"no string for that language",
         Block({"QVVERSIONINFO", "VarFileInfo\\Translation=040904E4",
                "StringFileInfo\\080404B0\\FileVersion=8.0"}),
         ""},
        {"no translation table", Block({"QVVERSIONINFO", "StringFileInfo\\080404B0\\FileVersion=8.0"}), ""},
        {"no marker",
         Block({"VarFileInfo\\Translation=080404B0", "StringFileInfo\\080404B0\\FileVersion=8.0"}), ""},
        {"empty block", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VersionBlockFileVersion(c.Block), c.Expected) << c.Name;
}

TEST(HostVersion, ReadModuleVersionReadsTheBlockFromTheFile) {
    // A module that is not a valid ELF file in full: its header survives, the rest is cut.
    std::ifstream in(QVTEST_PLUGIN_FULL, std::ios::binary);
    std::string head(256, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    const auto truncated = TempFile("truncated.so", head);
    const auto text = TempFile("text.so", "not a module\n");

    struct Case {
        const char* Name;
        std::string File;
        const char* Expected;
    };
    const Case cases[] = {
        {"module with the project's version", QVTEST_PLUGIN_FULL, "0008.0000.0001.0033"},
        {"module with an odd version text", QVTEST_PLUGIN_ODD_VERSION, "0008.0000.0000.0000"},
        {"module without version block", QVTEST_PLUGIN_CREATE_ONLY, "0000.0000.0000.0000"},
        {"missing file", "/nonexistent/Plugin.so", "0000.0000.0000.0000"},
        {"text file", text.string(), "0000.0000.0000.0000"},
        {"truncated module", truncated.string(), "0000.0000.0000.0000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadModuleVersion(c.File), c.Expected) << c.Name;
    std::filesystem::remove(truncated);
    std::filesystem::remove(text);
}
