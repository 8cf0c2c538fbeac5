// The clinic payment command: parsing of the host's text, the confirmation, the window's
// result turned into reply lines and return values, and the two log entries.
#include "ClinicRateVAK.h"
#include "ClinicTestHost.h"
#include "QvScriptedUser.h"
#include "uMain.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using Step = TScriptStep;

const char* const Source = "诊间支付接口";
const char* const ReplySource = "Plugin.OrderGate";

// The settlement window as the command sees it: records the call, answers a set result.
struct TWindowStub {
    static inline int Result = 2;
    static inline int Calls = 0;
    static inline int ACF01 = 0, CommandNo = 0;
    static inline std::string SVAI01;
    static int Execute(int32_t AACF01, int32_t ACommandNo, const std::string& ASVAI01) {
        ++Calls;
        ACF01 = AACF01;
        CommandNo = ACommandNo;
        SVAI01 = ASVAI01;
        return Result;
    }
};

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        TWindowStub::Calls = 0;
        TWindowStub::SVAI01.clear();
        TQVClinicalPayObject::SettlementWindow = &TWindowStub::Execute;
        Command = TQVClinicalPayCmdAdapter::Create<TQVClinicalPayObject>();
    }
    void TearDown() override { TQVClinicalPayObject::SettlementWindow = &TFrmClinicRateVAK::Execute; }

    // Runs Execute through the interface, as the host does.
    int32_t Run(int32_t ACommandNo, std::u16string& AText) {
        BSTR data = AText.empty() ? nullptr : SysAllocString(AText.c_str());
        if (data && SysStringLen(data) != AText.size()) { // texts with NUL characters
            SysFreeString(data);
            data = WideString(std::u16string_view(AText)).Detach();
        }
        const int32_t result = Command->Execute(ACommandNo, &data);
        AText = WideString::Attach(data).u16();
        return result;
    }

    TClinicTestHost Host;
    ComPtr<IQVClinicalPayment> Command;
};

using namespace std::string_literals;

std::u16string U(const std::string& AUtf8) {
    return Utf8ToUtf16(AUtf8);
}

struct TCommandCase {
    const char* Name;
    int32_t CommandNo;
    std::u16string Text;
    std::optional<const char*> Answer; // the question's button; none: no question expected
    int WindowResult;
    int32_t Returns;
    const char* Appended; // nullptr: the text stays unchanged
    std::string WindowSVAI01;
};

const TCommandCase CommandCases[] = {
    {"KeysIgnoreCase", 10000029, u"acf01=1\r\nsvai01=11,12", "是", 2, 1,
     "\r\nreMsgID= 2\r\nreMsg= ", "11,12"},
    {"Settled", 10000031, u"ACF01=1\r\nsVAI01=5", "是", 1, 1, "\r\nreMsgID= 1\r\nreMsg= ", "5"},
    {"PathFailed", 20000001, u"ACF01=1\r\nsVAI01=5", "是", 7, 1, "\r\nreMsgID= 7\r\nreMsg= ", "5"},
    // The blank before "=" belongs to the key.
    {"BlankBeforeEqualsNotFound", 10000029, u"ACF01 =1\r\nsVAI01=5", std::nullopt, 2, 0, nullptr, ""},
    {"OtherServiceObject", 10000029, u"ACF01=2\r\nsVAI01=5", std::nullopt, 2, 0, nullptr, ""},
    {"Declined", 10000030, u"ACF01=1\r\nsVAI01=5", "否", 2, 0, nullptr, ""},
    {"UnservedCommand", 12345, u"ACF01=1\r\nsVAI01=5", std::nullopt, 2, 1, "\r\nreMsgID= 0\r\nreMsg= ", ""},
    {"Result9Under10000028", 10000028, u"ACF01=1\r\nsVAI01=5", "是", 9, 1, "\r\nreMsgID= 0\r\nreMsg= ", "5"},
    {"Result9Under10000030", 10000030, u"ACF01=1\r\nsVAI01=5", "是", 9, 3, "\r\nreMsgID= 9", "5"},
    {"EmptyText", 10000028, u"", std::nullopt, 2, 0, nullptr, ""},
    // Bad input: the first of two lines wins; lines without "="; mixed line breaks;
    // values untrimmed; binary characters; other keys in Chinese.
    {"DuplicateKeysFirstWins", 10000029, u"ACF01=2\r\nACF01=1", std::nullopt, 2, 0, nullptr, ""},
    {"NoEqualsSign", 10000029, u"ACF01\r\n1", std::nullopt, 2, 0, nullptr, ""},
    {"MixedLineBreaks", 10000029, u"BCK01=3\nsVAI01=7,8,\rACF01=1\r\nVAA01=9", "是", 2, 1,
     "\r\nreMsgID= 2\r\nreMsg= ", "7,8,"},
    {"TrailingBlankValueIsNotANumber", 10000029, u"ACF01=1 ", std::nullopt, 2, 0, nullptr, ""},
    {"BinaryCharacters", 10000029, u"\u0001\u0002\uFFFF=\u0000x\r\nACF01=1\r\nsVAI01=3"s, "是", 2, 1,
     "\r\nreMsgID= 2\r\nreMsg= ", "3"},
    {"ChineseKeysAndValues", 10000029, U("姓名=张三\r\nACF01=1\r\nsVAI01=42"), "是", 2, 1,
     "\r\nreMsgID= 2\r\nreMsg= ", "42"},
};

void PrintTo(const TCommandCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}

class CommandCaseTest : public CommandTest, public ::testing::WithParamInterface<TCommandCase> {};

TEST_P(CommandCaseTest, AnswersAndAppendsAsTheWindowEnded) {
    const TCommandCase& c = GetParam();
    TWindowStub::Result = c.WindowResult;
    std::vector<Step> steps;
    if (c.Answer)
        steps = {Step::ExpectCaption("询问"), Step::ExpectText("确认进行诊间收费结算吗？"),
                 Step::Press(*c.Answer)};
    TScriptedUser user(steps);

    std::u16string text = c.Text;
    const std::u16string original = text;
    EXPECT_EQ(Run(c.CommandNo, text), c.Returns);

    EXPECT_EQ(text, c.Appended ? original + Utf8ToUtf16(c.Appended) : original);
    EXPECT_EQ(user.Windows().size(), c.Answer ? 1u : 0u);
    EXPECT_TRUE(user.Failures().empty());
    const bool windowShown = c.Answer && std::string(*c.Answer) == "是";
    EXPECT_EQ(TWindowStub::Calls, windowShown ? 1 : 0);
    if (windowShown) {
        EXPECT_EQ(TWindowStub::ACF01, 1);
        EXPECT_EQ(TWindowStub::CommandNo, c.CommandNo);
        EXPECT_EQ(TWindowStub::SVAI01, c.WindowSVAI01);
    }

    // The input entry always; the reply entry exactly when lines were appended.
    const WideString in{std::u16string_view(c.Text)}, out{std::u16string_view(text)};
    std::vector<TLogEntry> expected{{0, Source, "入参", in.str()}};
    std::vector<TLogEntry> replies;
    if (c.Appended) replies.push_back({0, ReplySource, "返回值AData", out.str()});
    EXPECT_EQ(Host.LogOf(Source), expected);
    EXPECT_EQ(Host.LogOf(ReplySource), replies);
    // Without a question (whose box logs itself) these are the only entries.
    if (!c.Answer) EXPECT_EQ(Host.State.Log.size(), c.Appended ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandCaseTest, ::testing::ValuesIn(CommandCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(CommandTest, HugeTextIsParsedAndKeptWhole) {
    std::string big;
    for (int i = 0; i < 50000; ++i)
        big += "LINE" + std::to_string(i) + "=" + std::string(20, 'x') + "\r\n";
    std::u16string text = U(big + "ACF01=1\r\nsVAI01=1");
    const std::u16string original = text;
    TWindowStub::Result = 2;
    TScriptedUser user({Step::Press("是")});
    EXPECT_EQ(Run(10000029, text), 1);
    EXPECT_EQ(text, original + u"\r\nreMsgID= 2\r\nreMsg= ");
    EXPECT_EQ(TWindowStub::SVAI01, "1");
}

TEST_F(CommandTest, IsEnabledAndCheckAnswerFixedValues) {
    EXPECT_TRUE(Command->IsEnabled());
    EXPECT_EQ(Command->Check(0, 0), 1);
    EXPECT_EQ(Command->Check(-5, 99), 1);
    EXPECT_TRUE(Host.State.Log.empty());
}

// The single line ACF01=1 with the real window: the question is answered Yes, the window
// opens (its set-up refuses the missing fee-record keys and the error is shown) and is
// closed from its title bar.
TEST_F(CommandTest, SingleLineYesThenWindowClosed) {
    TQVClinicalPayObject::SettlementWindow = &TFrmClinicRateVAK::Execute;
    TScriptedUser user({Step::Press("是"), Step::Press("OK"), Step::Close()});
    std::u16string text = u"ACF01=1";
    EXPECT_EQ(Run(10000029, text), 1);
    EXPECT_EQ(text, u"ACF01=1\r\nreMsgID= 2\r\nreMsg= ");
    EXPECT_TRUE(user.Failures().empty());
    EXPECT_FALSE(user.RanOut());
    std::vector<std::string> classes;
    for (const TScriptedWindow& w : user.Windows())
        classes.push_back(w.ClassName);
    EXPECT_EQ(classes, (std::vector<std::string>{"TMsgBoxEx", "TFrmClinicRateVAK", "TMessageForm"}));
}

} // namespace
