// The host's components: "Qv.Print", "QV.System", the scripted device stand-ins, and the
// comparison of table snapshots.
#include "QvHostComponents.h"
#ifdef QVHOST_WITH_DB
#include "QvHostDb.h"
#endif
#include "QvPrintIntf.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& AFile) {
    std::ifstream in(AFile, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

ComPtr<IQVPrint> PrintObject(IQVExtention& AComponent) {
    ComPtr<IInterface> object;
    int32_t result = 0;
    const WideString empty("");
    EXPECT_EQ(AComponent.CreateObject(object.out(), 1, empty.c_bstr(), &result), S_OK);
    return object.As<IQVPrint>();
}

fs::path CleanFolder(const std::string& AName) {
    const fs::path folder = fs::path(QV_RUN_DIR) / AName;
    fs::remove_all(folder);
    return folder;
}

std::vector<std::string> Operations(const TQvComponentJournal& AJournal) {
    std::vector<std::string> ops;
    for (const auto& r : AJournal.Requests)
        ops.push_back(r.Component + "." + r.Operation);
    return ops;
}

TEST(PrintComponent, RecordsReportsAndWritesEachPrintedReportAsReadableText) {
    auto journal = std::make_shared<TQvComponentJournal>();
    auto record = std::make_shared<TQvPrintRecord>();
    TQvPrintSettings settings;
    settings.OutputFolder = CleanFolder("print-ok");
    const ComPtr<IQVExtention> component = NewPrintComponent(settings, journal, record);
    const ComPtr<IQVPrint> print = PrintObject(*component);
    ASSERT_TRUE(print);
    EXPECT_TRUE(print.As<IQVPrint2>()) << "the print package asks for the second interface";

    ASSERT_EQ(print->Reset(), S_OK);
    EXPECT_EQ(print->Command(WideString(".CheckUser").c_bstr()), 1);
    int32_t value = 0;
    EXPECT_EQ(print->OpenReport(WideString("QV.Clinical.mzyszfsyzdyxp.01").c_bstr(),
                                WideString("ReportVar.0=1023\r\n").c_bstr(), WideString("").c_bstr(), &value),
              S_OK);
    print->Command(WideString("SetVars ReportVar.0=1023\r\nsvai01=1023,1024\r\n").c_bstr());
    WordBool success = 0;
    ASSERT_EQ(print->Print(6001, -1, 0, &success), S_OK);
    EXPECT_NE(success, 0);

    ASSERT_EQ(record->Opened.size(), 1u);
    EXPECT_EQ(record->Opened[0].Variables, "ReportVar.0=1023\r\n");
    ASSERT_EQ(record->Printed.size(), 1u);
    const TPrintedReport& printed = record->Printed[0];
    EXPECT_EQ(printed.ReportCode, "QV.Clinical.mzyszfsyzdyxp.01");
    EXPECT_EQ(printed.ReportID, 6001);
    EXPECT_TRUE(printed.Flag1);
    EXPECT_FALSE(printed.Flag2);
    EXPECT_EQ(printed.Variables, "ReportVar.0=1023\r\nsvai01=1023,1024\r\n") << "the variables of SetVars";
    const std::string receipt = ReadFile(printed.File);
    EXPECT_NE(receipt.find("报表：QV.Clinical.mzyszfsyzdyxp.01\n"), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("报表编号：6001\n"), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("  svai01=1023,1024\n"), std::string::npos) << receipt;

    EXPECT_EQ(Operations(*journal),
              (std::vector<std::string>{"Qv.Print.CreateObject", "Qv.Print.Reset", "Qv.Print.Command",
                                        "Qv.Print.OpenReport", "Qv.Print.Command", "Qv.Print.Print"}));
}

TEST(PrintComponent, FailsWithItsLastErrorTextAndPrintsNothing) {
    auto journal = std::make_shared<TQvComponentJournal>();
    auto record = std::make_shared<TQvPrintRecord>();
    TQvPrintSettings settings;
    settings.FailText = "打印机未就绪";
    settings.OutputFolder = CleanFolder("print-fail");
    const ComPtr<IQVPrint> print = PrintObject(*NewPrintComponent(settings, journal, record));
    ASSERT_TRUE(print);

    int32_t value = 0;
    EXPECT_TRUE(Failed(print->OpenReport(WideString("R").c_bstr(), WideString("").c_bstr(),
                                         WideString("").c_bstr(), &value)));
    EXPECT_EQ(GetErrorInfoText(), "打印机未就绪");
    WordBool success = -1;
    EXPECT_TRUE(Failed(print->Print(1, 0, 0, &success)));
    EXPECT_EQ(success, 0);
    WideString last;
    ASSERT_EQ(print->GetLastError(last.out()), S_OK);
    EXPECT_EQ(last.str(), "打印机未就绪");

    EXPECT_TRUE(record->Printed.empty());
    EXPECT_FALSE(fs::exists(settings.OutputFolder) && !fs::is_empty(settings.OutputFolder));
    ASSERT_FALSE(journal->Requests.empty());
    EXPECT_EQ(journal->Requests.back().Error, "打印机未就绪");
}

TEST(PrintComponent, ThatHandsOutNoObjectAnswersNil) {
    TQvPrintSettings settings;
    settings.NoObject = true;
    const ComPtr<IQVExtention> component = NewPrintComponent(settings, nullptr, nullptr);
    ComPtr<IInterface> object;
    int32_t result = -1;
    EXPECT_EQ(component->CreateObject(object.out(), 1, WideString("").c_bstr(), &result), S_OK);
    EXPECT_FALSE(object);
    EXPECT_EQ(result, 0);
}

TEST(SystemComponent, Command23AnswersTheScriptAsHexUnderSql) {
    struct TCase {
        const char* Name;
        std::optional<int32_t> FixedResult;
        std::optional<std::string> FixedReply;
        int32_t ScriptID;
        int32_t Result;
        std::string Reply;
    };
    // Script 1 is "select", script 2 Chinese text (hex of its GBK bytes), 3 is missing.
    const TCase cases[] = {
        {"plain script", {}, {}, 1, 1, "$SQL=73656C656374"},
        {"GBK bytes of Chinese text", {}, {}, 2, 1, "$SQL=D1A1D4F1"},
        {"missing script: 0, text unchanged", {}, {}, 3, 0, "##NoDialog=1\r\n"},
        {"told to answer 0", 0, {}, 1, 0, "##NoDialog=1\r\n"},
        {"told a reply", 1, "$SQL=", 1, 1, "$SQL="},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto journal = std::make_shared<TQvComponentJournal>();
        TQvSystemSettings settings;
        settings.ScriptSql = [](int32_t id) -> std::optional<std::string> {
            if (id == 1) return "select";
            if (id == 2) return "选择";
            return std::nullopt;
        };
        settings.Result = c.FixedResult;
        settings.Reply = c.FixedReply;
        const ComPtr<IQVExtention> system = NewSystemComponent(settings, journal);
        BSTR data = Utf8ToBstr("##NoDialog=1\r\n");
        int32_t result = -1;
        ASSERT_EQ(system->Execute(23, c.ScriptID, &data, &result), S_OK);
        const WideString reply = WideString::Attach(data);
        EXPECT_EQ(result, c.Result);
        EXPECT_EQ(reply.str(), c.Reply);
        ASSERT_EQ(journal->Requests.size(), 1u);
        EXPECT_EQ(journal->Requests[0].Param, c.ScriptID);
        EXPECT_EQ(journal->Requests[0].Reply, c.Reply);
    }
}

TEST(SystemComponent, OtherCommandsFailWithAMessage) {
    const ComPtr<IQVExtention> system = NewSystemComponent({}, nullptr);
    BSTR data = Utf8ToBstr("x");
    int32_t result = 0;
    EXPECT_TRUE(Failed(system->Execute(5, 0, &data, &result)));
    EXPECT_EQ(GetErrorInfoText(), "组件QV.System不支持命令5。");
    const WideString owned = WideString::Attach(data);
    EXPECT_EQ(owned.str(), "x") << "a failed request leaves the text as it was";
}

TEST(ScriptedComponent, AnswersMatchingRepliesOnceThenTheDefault) {
    auto journal = std::make_shared<TQvComponentJournal>();
    TScriptedComponentSettings settings;
    settings.Replies.push_back({2, 1, std::string("OrderNo=W1"), {}});
    settings.Replies.push_back({{}, 0, std::string("busy"), {}});
    settings.Replies.push_back({{}, 0, {}, "设备未连接"});
    settings.Default = {{}, 7, std::string("default"), {}};
    const ComPtr<IQVExtention> pos = NewScriptedComponent("POS", settings, journal);

    struct TStep {
        int32_t Command;
        HRESULT Code;
        int32_t Result;
        std::string Reply;
    };
    // Command 1 skips the reply kept for command 2; each reply serves once.
    const TStep steps[] = {
        {1, S_OK, 0, "busy"},
        {2, S_OK, 1, "OrderNo=W1"},
        {2, E_UNEXPECTED, 0, "in"},
        {2, S_OK, 7, "default"},
    };
    for (const TStep& s : steps) {
        BSTR data = Utf8ToBstr("in");
        int32_t result = 0;
        EXPECT_EQ(pos->Execute(s.Command, 0, &data, &result), s.Code);
        const WideString reply = WideString::Attach(data);
        EXPECT_EQ(reply.str(), s.Reply);
        if (s.Code == S_OK) {
            EXPECT_EQ(result, s.Result);
        }
    }
    ASSERT_EQ(journal->Requests.size(), 4u);
    WordBool ready = 0;
    ASSERT_EQ(pos->GetInitialized(&ready), S_OK);
    EXPECT_NE(ready, 0) << "ready unless told otherwise";
    EXPECT_EQ(journal->Requests[2].Error, "设备未连接");
    EXPECT_EQ(journal->Requests[0].Request, "in");
}

#ifdef QVHOST_WITH_DB
TEST(ScriptedComponent, ThatIsNotReadySaysSo) {
    TScriptedComponentSettings settings;
    settings.Ready = false;
    WordBool ready = -1;
    ASSERT_EQ(NewScriptedComponent("IQVIDCard", settings, nullptr)->GetInitialized(&ready), S_OK);
    EXPECT_EQ(ready, 0);
}

TEST(TableChanges, MatchesRowsByTheKeyColumn) {
    using nlohmann::json;
    // The key sorts after the other column: rows are matched by it, not by the first name.
    const json before = json::parse(R"([{"id":1,"a":"x"},{"id":2,"a":"y"},{"id":3,"a":null}])");
    const json after = json::parse(R"([{"id":1,"a":"x"},{"id":2,"a":"z"},{"id":4,"a":"new"}])");
    const json changes = TableChanges(before, after, "id");
    EXPECT_EQ(changes["added"], json::parse(R"([{"id":4,"a":"new"}])"));
    EXPECT_EQ(changes["removed"], json::parse(R"([{"id":3,"a":null}])"));
    EXPECT_EQ(changes["changed"], json::parse(R"([{"before":{"id":2,"a":"y"},"after":{"id":2,"a":"z"}}])"));
    EXPECT_EQ(TableChanges(after, after, "id")["changed"].size(), 0u);
}
#endif

} // namespace
