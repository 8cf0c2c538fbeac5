// The print package, the report query through the host's system component and the
// drop-down filling, against fake host components.
#include "ClinicTestHost.h"
#include "uCoreDlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>

namespace {

const std::string ReportSQL = "SELECT Name, id, xDefault FROM Reports WHERE Code=%s";

class ServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Host.State.Scripts[1485] = ReportSQL;
        Host.State.Components["Qv.Print"] = PrintComponent;
        Host.State.Components["QV.System"] = System;
    }

    TFakePrint& Print() { return *PrintComponent->Print; }

    TClinicTestHost Host;
    ComPtr<TFakePrintComponent> PrintComponent = MakeCom<TFakePrintComponent>();
    ComPtr<TFakeSystemComponent> System = MakeCom<TFakeSystemComponent>();
    TPrintPackage Package;
};

// ---------------------------------------------------------------------------------------
// Connecting

TEST_F(ServicesTest, PrepareConnectsOnceThenResets) {
    EXPECT_TRUE(Package.Prepare(false));
    EXPECT_TRUE(Package.Prepare(false));
    EXPECT_EQ(PrintComponent->CreateFlags, std::vector<int32_t>{1});
    EXPECT_EQ(Print().Resets, 2);
    EXPECT_NE(Package.PrintIntf2(), nullptr);
    EXPECT_TRUE(Host.State.Messages.empty());
}

TEST_F(ServicesTest, PrepareChecksTheUserWhenAsked) {
    for (int answer : {1, 0, 2}) {
        Print().CheckUserAnswer = answer;
        EXPECT_EQ(Package.Prepare(true), answer == 1) << answer;
    }
    EXPECT_EQ(Print().Commands, (std::vector<std::string>{".CheckUser", ".CheckUser", ".CheckUser"}));
}

TEST_F(ServicesTest, MissingPrintComponentIsAHostMessageNotAnError) {
    struct {
        const char* Name;
        bool Registered;
        bool GivesObject;
        std::string Message;
    } const cases[] = {
        {"NoComponent", false, true, "打印接口Qv.Print访问失败.\r\n未注册的组件"},
        {"NoObject", true, false, "打印接口Qv.Print访问失败."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Host.State.Messages.clear();
        if (!c.Registered) Host.State.Components.erase("Qv.Print");
        PrintComponent->GiveObject = c.GivesObject;
        TPrintPackage package;
        bool prepared = true;
        EXPECT_NO_THROW(prepared = package.Prepare(true));
        EXPECT_FALSE(prepared);
        EXPECT_EQ(Host.HostMessages(), std::vector<std::string>{c.Message});
        // Printing without a component says so instead of failing silently.
        EXPECT_THROW(package.Print(1, false, false), Exception);
        Host.State.Components["Qv.Print"] = PrintComponent;
    }
}

// ---------------------------------------------------------------------------------------
// Report list

TEST_F(ServicesTest, ReportListDefaults) {
    struct {
        const char* Name;
        std::vector<std::tuple<std::string, int, int>> Rows;
        int Default;
    } const cases[] = {
        {"NoDefault", {{"收费单", 11, 0}, {"发票", 12, 0}}, 0},
        {"LaterDefaultWins", {{"收费单", 11, 1}, {"发票", 12, 0}, {"清单", 13, 1}}, 13},
        {"Empty", {}, 0},
    };
    const std::string code = "QV.Clinical.YS'01";
    const std::string sql = Format(ReportSQL, {QuotedStr(code)});
    EXPECT_EQ(sql, "SELECT Name, id, xDefault FROM Reports WHERE Code='QV.Clinical.YS''01'");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRows rows{{"Name", "id", "xDefault"}, {}};
        for (const auto& [name, id, def] : c.Rows)
            rows.Rows.push_back({name, id, def});
        Host.State.Answers[sql] = rows;
        QComboBox box;
        box.addItem("old");
        int32_t id = -1;
        Package.LoadReportList(&box, code, id);
        EXPECT_EQ(id, c.Default);
        ASSERT_EQ(box.count(), static_cast<int>(c.Rows.size()));
        for (int i = 0; i < box.count(); ++i) {
            EXPECT_EQ(box.itemText(i).toStdString(), std::get<0>(c.Rows[i]));
            EXPECT_EQ(box.itemData(i).toInt(), std::get<1>(c.Rows[i]));
        }
    }
    // Opened directly, not through the logged statement runner.
    EXPECT_EQ(Host.State.StatementsLogged, std::vector<bool>(3, false));
}

TEST_F(ServicesTest, ReportListIgnoresOtherControls) {
    QLabel label;
    int32_t id = -1;
    EXPECT_NO_THROW(Package.LoadReportList(&label, "X", id));
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(Host.State.Statements.empty());
}

// ---------------------------------------------------------------------------------------
// Variables, opening and printing

TEST_F(ServicesTest, VariablesGoToTheComponentWithSetVars) {
    ASSERT_TRUE(Package.Prepare(false));
    Package.SetReportVars({"V"});
    Package.SetVar("svai01", "V");
    EXPECT_EQ(Package.Variables().Text(), "ReportVar.0=V\r\nsvai01=V\r\n");
    EXPECT_TRUE(Package.Print(12, true, false));
    EXPECT_EQ(Print().Commands.back(), "SetVars ReportVar.0=V\r\nsvai01=V\r\n");
    ASSERT_EQ(Print().Printed.size(), 1u);
    EXPECT_EQ(Print().Printed[0].ID, 12);
    EXPECT_TRUE(Print().Printed[0].Flag1);
    EXPECT_FALSE(Print().Printed[0].Flag2);

    Package.OpenReport("QV.Clinical.YS.ZJJSDY.01");
    ASSERT_EQ(Print().Opened.size(), 1u);
    EXPECT_EQ(Print().Opened[0].Code, "QV.Clinical.YS.ZJJSDY.01");
    EXPECT_EQ(Print().Opened[0].Variables, "ReportVar.0=V\r\nsvai01=V\r\n");
    EXPECT_EQ(Print().Opened[0].Data, "");
}

TEST_F(ServicesTest, SetReportVarsReplacesAndEmptyValueRemoves) {
    Package.SetVar("old", "1");
    Package.SetReportVars({"a", "b", "c"});
    EXPECT_EQ(Package.Variables().Text(), "ReportVar.0=a\r\nReportVar.1=b\r\nReportVar.2=c\r\n");
    Package.SetVar("ReportVar.1", "");
    EXPECT_EQ(Package.Variables().Text(), "ReportVar.0=a\r\nReportVar.2=c\r\n");
    // Prepare starts the next report with no variables.
    Package.Prepare(false);
    EXPECT_EQ(Package.Variables().Count(), 0);
}

TEST_F(ServicesTest, ComponentFailuresRaiseItsLastError) {
    ASSERT_TRUE(Package.Prepare(false));
    Print().Fail = true;
    for (auto call : {+[](TPrintPackage& p) { p.OpenReport("R"); },
                      +[](TPrintPackage& p) { p.Print(1, false, false); }}) {
        try {
            call(Package);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "打印机未就绪");
        }
    }
}

// ---------------------------------------------------------------------------------------
// Report query

TEST_F(ServicesTest, ReportQueryRun) {
    struct {
        const char* Name;
        int32_t Result;
        std::string Reply;
        bool Raw;
        bool NoDialog;
        std::string Params;
        std::string Expected;
        std::string Request;
    } const cases[] = {
        {"ResultZeroLeavesTextUnchanged", 0, "$SQL=73656C656374", false, false, "", "unchanged", ""},
        {"HexSQL", 1, "RET=1\r\n$SQL=73656C656374", false, false, "", "select", ""},
        {"LowerCaseHex", 1, "$sql=73656c656374", false, false, "", "select", ""},
        {"ChineseSQLInGBK", 1, "$SQL=" + StrToHex(Utf8ToAnsi("select '门诊'")), false, false, "",
         "select '门诊'", ""},
        {"MissingKey", 1, "RET=1", false, false, "", "", ""},
        {"Raw", 1, "RET=1\r\n$SQL=41", true, false, "", "RET=1\r\n$SQL=41", ""},
        {"NoDialog", 1, "$SQL=41", false, true, "A=1", "A", "##NoDialog=1\r\nA=1"},
        {"ParamsOnly", 1, "$SQL=41", false, false, "A=1", "A", "A=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        System->Requests.clear();
        System->Result = c.Result;
        System->Reply = c.Reply;
        std::string result = "unchanged";
        Report_Query::Run(77, c.Raw, c.NoDialog, c.Params, result);
        EXPECT_EQ(result, c.Expected);
        ASSERT_EQ(System->Requests.size(), 1u);
        EXPECT_EQ(System->Requests[0].Command, 23);
        EXPECT_EQ(System->Requests[0].Param, 77);
        EXPECT_EQ(System->Requests[0].Text, c.Request);
    }
}

TEST_F(ServicesTest, ReportQueryWithoutSystemComponentRaisesTheHostMessage) {
    Host.State.Components.erase("QV.System");
    std::string result = "unchanged";
    try {
        Report_Query::Run(1, false, false, "", result);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "未注册的组件");
    }
    EXPECT_EQ(result, "unchanged");
}

// ---------------------------------------------------------------------------------------
// Drop-down lists

TEST_F(ServicesTest, LoadDropDownFillsValuesAndDescriptions) {
    Host.State.Answers["SELECT IAA01, IAA03 FROM IAA"] =
        TRows{{"IAA01", "IAA03"}, {{10, std::string("新农合")}, {20, std::string("城乡居民")}}};
    QComboBox box;
    box.addItem("old");
    LoadDropDown(&box, "SELECT IAA01, IAA03 FROM IAA", "IAA01", "IAA03");
    ASSERT_EQ(box.count(), 2);
    EXPECT_EQ(box.itemText(1).toStdString(), "城乡居民");
    EXPECT_EQ(box.itemData(1).toString().toStdString(), "20");
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(Host.State.StatementsLogged, std::vector<bool>{true});
}

TEST_F(ServicesTest, LoadDropDownRefusesOtherControlsAfterRunning) {
    Host.State.Answers["SELECT 1 AS A"] = TRows{{"A"}, {{1}}};
    QLabel label;
    try {
        LoadDropDown(&label, "SELECT 1 AS A", "A", "A");
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "无效的下拉列表.");
    }
    EXPECT_EQ(Host.State.Statements, std::vector<std::string>{"SELECT 1 AS A"});
}

TEST(PrintPackageListener, CreatesOnConnectFreesOnDisconnect) {
    PrintPackageListener(QvPhaseConnected);
    TPrintPackage* first = PrintPackage.get();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(DataPicker, nullptr);
    EXPECT_NE(Privileges, nullptr);
    PrintPackageListener(QvPhaseConnected);
    EXPECT_EQ(PrintPackage.get(), first);
    PrintPackageListener(QvPhaseReleaseCaches);
    EXPECT_EQ(PrintPackage.get(), first);
    PrintPackageListener(QvPhaseDisconnecting);
    EXPECT_EQ(PrintPackage, nullptr);
    EXPECT_EQ(DataPicker, nullptr);
    EXPECT_EQ(Privileges, nullptr);
}

} // namespace
