// The settlement window: layout, set-up on first show, results, and the payment path
// frame the payment paths share.
#include "ClinicRateVAK.h"
#include "ClinicTestHost.h"
#include "QvDateTime.h"
#include "QvScriptedUser.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace {

using Step = TScriptStep;

const std::string PaySetSQL = "SELECT fid, enabled FROM PaySet WHERE CommandNo=%d";
const std::string InsurerSQL = "SELECT IAA01, IAA03, ROWNR FROM IAA";
const std::string FeeSQL = "SELECT * FROM VAI WHERE ACF01=%d AND VAI01 IN (%s)";
const std::string CategorySQL = "SELECT IAI03, IAI04, IsDef FROM IAI WHERE ACF01=%d AND IAA01=%d";
const std::string MissingScriptError = "请先进行诊间支付场合支付方式设置(QV.Clinical.PaymentSet.01).";

TRows PaySetRows(std::vector<std::pair<int, int>> ARows) {
    TRows rows{{"fid", "enabled"}, {}};
    for (auto [fid, enabled] : ARows)
        rows.Rows.push_back({fid, enabled});
    return rows;
}

TRows FeeRows(double ATotal, int AIAA01) {
    return {{"VAI01", "sumVAJ38", "VAA01", "VAC01", "VAA03", "VAA05", "IAA01", "VBU01"},
            {{101, ATotal, 7001, 8001, std::string("M0001"), std::string("张三"), AIAA01, 66},
             {102, ATotal, 7001, 8001, std::string("M0001"), std::string("张三"), AIAA01, 66}}};
}

TRows InsurerRows(std::vector<std::tuple<int, std::string, int>> ARows) {
    TRows rows{{"IAA01", "IAA03", "ROWNR"}, {}};
    for (auto& [id, name, order] : ARows)
        rows.Rows.push_back({id, name, order});
    return rows;
}

TRows CategoryRows(std::vector<std::tuple<std::string, std::string, int>> ARows) {
    TRows rows{{"IAI03", "IAI04", "IsDef"}, {}};
    for (auto& [code, name, def] : ARows)
        rows.Rows.push_back({code, name, def});
    return rows;
}

std::string Hex(const std::string& AText) {
    return StrToHex(Utf8ToAnsi(AText));
}

class WindowTest : public ::testing::Test {
protected:
    static constexpr int CommandNo = 10000029;
    const std::string Keys = "101,102";

    void SetUp() override {
        Host.State.Scripts = {{86, "SELECT ID FROM Programs WHERE Code=%s"},
                              {2251, InsurerSQL},
                              {7521, FeeSQL},
                              {7400, CategorySQL}};
        Host.State.ProgramIDs = {{"QV.Clinical.PaymentSet.01", 501}};
        System = MakeCom<TFakeSystemComponent>();
        System->Reply = "$SQL=" + Hex(PaySetSQL);
        System->ScriptID = 501;
        Host.State.Components["QV.System"] = System;
        SetPaySet({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}});
        SetFees(25.5, 0);
        SetInsurers(InsurerRows({{30, "城镇职工", 3}, {10, "新农合", 1}, {20, "城乡居民", 2}}));
        for (int insurer : {10, 20, 30})
            SetCategories(insurer, CategoryRows({{"11", "普通门诊", 0}, {"14", "门诊慢病", 1}}));
    }

    void SetPaySet(std::vector<std::pair<int, int>> ARows) {
        Host.State.Answers[Format(PaySetSQL, {CommandNo})] = PaySetRows(std::move(ARows));
    }
    void SetFees(double ATotal, int AIAA01) {
        Host.State.Answers[Format(FeeSQL, {1, Keys})] = FeeRows(ATotal, AIAA01);
    }
    void SetInsurers(TRows ARows) { Host.State.Answers[InsurerSQL] = std::move(ARows); }
    void SetCategories(int AInsurer, TRows ARows) {
        Host.State.Answers[Format(CategorySQL, {1, AInsurer})] = std::move(ARows);
    }

    // Shows the window modally as the command does; the scripted user closes it.
    std::unique_ptr<TFrmClinicRateVAK> ShowAndClose(std::vector<Step> ASteps = {Step::Close()},
                                                    const std::string& ASVAI01 = "101,102") {
        auto form = std::make_unique<TFrmClinicRateVAK>();
        form->FACF01 = 1;
        form->FCommandNo = CommandNo;
        form->FSVAI01 = ASVAI01;
        User.AddSteps(ASteps);
        Result = form->ShowModal();
        return form;
    }

    static std::vector<std::string> Enabled(const TFrmClinicRateVAK& AForm) {
        std::vector<std::string> names;
        for (QPushButton* b :
             {AForm.btn_VBUPay, AForm.btn_ybkard, AForm.btn_posKard, AForm.btn_WeChat, AForm.btn_alipay})
            if (b->isEnabled()) names.push_back(b->objectName().toStdString());
        return names;
    }
    static std::string Selected(const QComboBox* ABox) {
        return ABox->currentData().toString().toStdString();
    }

    TClinicTestHost Host;
    ComPtr<TFakeSystemComponent> System;
    TScriptedUser User;
    int Result = -1;
};

// ---------------------------------------------------------------------------------------
// Layout

struct TPlace {
    const char* Name;
    QRect Rect; // width/height 0: not fixed by the layout
    const char* Text;
};

const TPlace Places[] = {
    {"btn_VBUPay", {12, 22, 248, 55}, "会员卡支付结算"},
    {"btn_ybkard", {12, 95, 248, 55}, "刷医保卡结算"},
    {"btn_posKard", {12, 168, 248, 55}, "刷银行POS结算"},
    {"btn_WeChat", {12, 241, 248, 55}, "微信支付结算"},
    {"btn_alipay", {12, 313, 248, 55}, "支付宝支付结算"},
    {"cxLabel1", {274, 101, 0, 0}, "选择保险机构"},
    {"imgbox_iaa", {276, 123, 299, 0}, nullptr},
    {"cxLabel2", {274, 150, 0, 0}, "选择医疗类别"},
    {"imgbox_iai", {276, 175, 299, 0}, nullptr},
    {"cxLabel3",
     {276, 206, 310, 56},
     "说明：1、若是刷医保卡结算，则先选择保险机构和医疗类别,然后点“刷医保卡结算”按钮。"},
    {"cxLabel4", {276, 267, 310, 48}, "    2、若是用银行POS结算，则直接点击“刷银行POS结算”即可。"},
    {"ReportList", {389, 348, 52, 0}, nullptr},
};

TEST_F(WindowTest, LayoutFollowsTheFormTable) {
    TFrmClinicRateVAK form;
    EXPECT_EQ(form.Caption(), "诊间结算");
    EXPECT_EQ(form.size(), QSize(609, 389));
    EXPECT_EQ(form.font().family(), "Tahoma");
    EXPECT_EQ(form.font().pointSize(), 8);
    for (const TPlace& p : Places) {
        SCOPED_TRACE(p.Name);
        auto* w = form.findChild<QWidget*>(p.Name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->pos(), p.Rect.topLeft());
        if (p.Rect.width()) EXPECT_EQ(w->width(), p.Rect.width());
        if (p.Rect.height()) EXPECT_EQ(w->height(), p.Rect.height());
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(b->text().toStdString(), p.Text);
            EXPECT_EQ(b->font().pixelSize(), 27);
            EXPECT_TRUE(b->font().bold());
        }
        if (auto* l = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(l->text().toStdString(), p.Text);
            EXPECT_EQ(l->font().pixelSize(), 15);
            EXPECT_TRUE(l->font().bold());
        }
    }
    EXPECT_TRUE(form.cxLabel3->wordWrap());
    EXPECT_TRUE(form.ReportList->isHidden());
    // Tab order by the tab order numbers: 0 insurance card ... 11 member card.
    std::vector<std::string> chain;
    QWidget* w = form.btn_ybkard;
    for (int i = 0; i < 8; ++i) {
        chain.push_back(w->objectName().toStdString());
        do
            w = w->nextInFocusChain();
        while (w->objectName().isEmpty() || w->focusPolicy() == Qt::NoFocus);
    }
    EXPECT_EQ(chain, (std::vector<std::string>{"btn_ybkard", "btn_posKard", "imgbox_iaa", "imgbox_iai",
                                               "btn_WeChat", "btn_alipay", "ReportList", "btn_VBUPay"}));
}

// Saved while the window runs modally, as the command opens it; compare with the layout.
TEST_F(WindowTest, ScreenshotShowsTheFiveButtonsAndLabels) {
    SetFees(25.5, 20);
    const QString file = QDir(QV_WINDOW_SHOT_DIR).filePath("ClinicRateVAK.png");
    QFile::remove(file);
    std::vector<std::string> enabled;
    User.OnBeforeAction = [&](QWidget* AWindow, const TScriptedWindow&) {
        auto* form = qobject_cast<TFrmClinicRateVAK*>(AWindow);
        if (!form) return;
        enabled = Enabled(*form);
        EXPECT_TRUE(form->grab().save(file));
    };
    User.AddSteps({Step::Close()});
    EXPECT_EQ(TFrmClinicRateVAK::Execute(1, CommandNo, Keys), mrCancel);
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(enabled.size(), 5u);
}

// ---------------------------------------------------------------------------------------
// Set-up

struct TPaySetCase;
void PrintTo(const TPaySetCase& ACase, std::ostream* AOut);
struct TPaySetCase {
    const char* Name;
    std::vector<std::pair<int, int>> Rows;
    std::vector<std::string> Enabled;
};

const TPaySetCase PaySetCases[] = {
    {"MemberOnOffPosOff", {{1, 1}, {3, 0}}, {"btn_VBUPay"}},
    {"UnknownFidIgnored", {{6, 1}}, {}},
    {"LaterRowWins", {{4, 1}, {4, 0}}, {}},
    {"LaterRowEnables", {{5, 0}, {5, 1}}, {"btn_alipay"}},
    {"EnabledOnlyWhenOne", {{2, 2}, {3, 1}}, {"btn_posKard"}},
    {"AllFive",
     {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}},
     {"btn_VBUPay", "btn_ybkard", "btn_posKard", "btn_WeChat", "btn_alipay"}},
};

class PaySetTest : public WindowTest, public ::testing::WithParamInterface<TPaySetCase> {};

TEST_P(PaySetTest, ConfigurationRowsEnableTheirButtons) {
    SetPaySet(GetParam().Rows);
    auto form = ShowAndClose();
    EXPECT_EQ(Enabled(*form), GetParam().Enabled);
    EXPECT_EQ(Result, mrCancel);
    ASSERT_EQ(System->Requests.size(), 1u);
    EXPECT_EQ(System->Requests[0].Command, 23);
    EXPECT_EQ(System->Requests[0].Param, 501);
    EXPECT_EQ(System->Requests[0].Text, "");
    EXPECT_TRUE(User.Failures().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, PaySetTest, ::testing::ValuesIn(PaySetCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WindowTest, FeesFillTheWindowState) {
    SetFees(25.5, 0);
    auto form = ShowAndClose();
    EXPECT_DOUBLE_EQ(form->FTotalMoney, 25.5);
    EXPECT_EQ(form->FVAA01, 7001);
    EXPECT_EQ(form->FVAC01, 8001);
    EXPECT_EQ(form->FVAA03, "M0001");
    EXPECT_EQ(form->FVAA05, "张三");
    EXPECT_EQ(form->FVBU01, 66);
    EXPECT_EQ(form->kbmVAI.RecordCount(), 2);
    EXPECT_EQ(form->FSelfPayFlag, 0);
    EXPECT_TRUE(form->FPayOrderNo.empty());
}

TEST_F(WindowTest, NoFeeRowsMeansNothingDue) {
    Host.State.Answers[Format(FeeSQL, {1, Keys})] = TRows{{"VAI01", "sumVAJ38"}, {}};
    auto form = ShowAndClose();
    EXPECT_EQ(form->FTotalMoney, 0);
    EXPECT_TRUE(User.Failures().empty());
}

// Errors of the set-up are shown; the set-up stops, every button stays disabled and
// closing gives 2.
struct TSetupErrorCase;
void PrintTo(const TSetupErrorCase& ACase, std::ostream* AOut);
struct TSetupErrorCase {
    const char* Name;
    std::function<void(WindowTest&, TClinicHostState&, TFakeSystemComponent&)> Arrange;
    const char* SVAI01;
    std::string Message;
    bool AnyStatement; // whether any statement ran before the error
    // The payment-set step had already run (its buttons stay as it set them).
    bool ButtonsSet = false;
};

class SetupErrorTest : public WindowTest, public ::testing::WithParamInterface<TSetupErrorCase> {};

TEST_P(SetupErrorTest, ErrorShownButtonsStayDisabledClosingGivesCancel) {
    const TSetupErrorCase& c = GetParam();
    c.Arrange(*this, Host.State, *System);
    auto form = ShowAndClose({Step::ExpectText(c.Message), Step::Press("OK"), Step::Close()}, c.SVAI01);
    EXPECT_EQ(Result, mrCancel);
    EXPECT_EQ(Enabled(*form).size(), c.ButtonsSet ? 5u : 0u);
    // Nothing is due, so no path can take money.
    EXPECT_EQ(form->FTotalMoney, 0);
    EXPECT_TRUE(User.Failures().empty()) << ::testing::PrintToString(User.Failures());
    ASSERT_EQ(User.Windows().size(), 2u);
    EXPECT_EQ(User.Windows()[1].ClassName, "TMessageForm");
    EXPECT_EQ(User.Windows()[1].Text, c.Message);
    EXPECT_EQ(!Host.State.Statements.empty(), c.AnyStatement);
    // The fee statement never ran.
    for (const std::string& s : Host.State.Statements)
        EXPECT_EQ(s.find("FROM VAI"), std::string::npos);
}

const TSetupErrorCase SetupErrorCases[] = {
    {"NoPaymentSetScript",
     [](WindowTest&, TClinicHostState& h, TFakeSystemComponent&) { h.ProgramIDs.clear(); }, "101,102",
     MissingScriptError, false},
    {"EmptyPaymentSetScript",
     [](WindowTest&, TClinicHostState&, TFakeSystemComponent& s) { s.Reply = "$SQL=" + Hex("  \t "); },
     "101,102", MissingScriptError, false},
    {"SystemComponentAnswersFailure",
     [](WindowTest&, TClinicHostState&, TFakeSystemComponent& s) { s.Result = 0; }, "101,102",
     MissingScriptError, false},
    {"SystemComponentMissing",
     [](WindowTest&, TClinicHostState& h, TFakeSystemComponent&) { h.Components.clear(); }, "101,102",
     "未注册的组件", false},
    // The SQL library answers its message in place of a missing text.
    {"FeeSQLMissing", [](WindowTest&, TClinicHostState& h, TFakeSystemComponent&) { h.Scripts.erase(7521); },
     "101,102", "SQL语句7521不存在", true, true},
    {"InjectedKeys", [](WindowTest&, TClinicHostState&, TFakeSystemComponent&) {}, "101);DELETE FROM VAI;--",
     "费用单据号无效：101);DELETE FROM VAI;--", false},
    {"EmptyKeys", [](WindowTest&, TClinicHostState&, TFakeSystemComponent&) {}, "", "费用单据号无效：",
     false},
};

INSTANTIATE_TEST_SUITE_P(Errors, SetupErrorTest, ::testing::ValuesIn(SetupErrorCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WindowTest, InjectedKeysRunNothingAtAll) {
    auto form = ShowAndClose({Step::Press("OK"), Step::Close()}, "1 or 1=1");
    EXPECT_TRUE(Host.State.Statements.empty());
    EXPECT_TRUE(System->Requests.empty()); // not even the script lookup
}

struct TKeysCase {
    const char* Text;
    bool Valid;
};

const TKeysCase KeysCases[] = {
    {"1", true},          {"101,102", true},  {" 101 , 102 ", true}, {"101,102,", true}, {"101,102, ", true},
    {"\t7\t", true},      {"", false},        {" ", false},          {",", false},       {"101,,102", false},
    {"101,102,,", false}, {",101", false},    {"101;102", false},    {"-1", false},      {"1.5", false},
    {"1e3", false},       {"101 102", false}, {"0x10", false},       {"１２", false},    {"1 or 1=1", false},
    {"1)--", false},      {"1,'2'", false},
};

TEST(FeeRecordKeys, OnlyListsOfWholeNumbersPass) {
    for (const TKeysCase& c : KeysCases) {
        SCOPED_TRACE(c.Text);
        if (c.Valid) {
            EXPECT_NO_THROW(CheckFeeRecordKeys(c.Text));
        } else {
            try {
                CheckFeeRecordKeys(c.Text);
                ADD_FAILURE() << "accepted";
            } catch (const Exception& e) {
                EXPECT_EQ(std::string(e.what()), "费用单据号无效：" + std::string(c.Text));
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Insurers and medical categories

struct TInsurerCase;
void PrintTo(const TInsurerCase& ACase, std::ostream* AOut);
struct TInsurerCase {
    const char* Name;
    int PatientInsurer;
    TRows Insurers;
    std::string SelectedInsurer; // empty: none selected
    std::string SelectedCategory;
};

const TInsurerCase InsurerCases[] = {
    // The first row by ROWNR (10, ROWNR 1) is preselected for a patient without insurer.
    {"NoPatientInsurerFirstByRowNr", 0,
     InsurerRows({{30, "城镇职工", 3}, {10, "新农合", 1}, {20, "城乡居民", 2}}), "10", "14"},
    {"PatientInsurerWins", 20, InsurerRows({{30, "城镇职工", 3}, {10, "新农合", 1}, {20, "城乡居民", 2}}),
     "20", "14"},
    // A first row with ROWNR 0 preselects nothing: no categories are loaded.
    {"RowNrZeroSelectsNothing", 0, InsurerRows({{30, "城镇职工", 0}, {10, "新农合", 1}}), "", ""},
    {"NoInsurers", 0, InsurerRows({}), "", ""},
};

class InsurerTest : public WindowTest, public ::testing::WithParamInterface<TInsurerCase> {};

TEST_P(InsurerTest, PreselectsTheInsurerAndItsDefaultCategory) {
    const TInsurerCase& c = GetParam();
    SetFees(25.5, c.PatientInsurer);
    SetInsurers(c.Insurers);
    auto form = ShowAndClose();
    EXPECT_EQ(Selected(form->imgbox_iaa), c.SelectedInsurer);
    EXPECT_EQ(form->FIAA01, c.PatientInsurer);
    EXPECT_EQ(form->imgbox_iaa->count(), static_cast<int>(c.Insurers.Rows.size()));
    EXPECT_EQ(Selected(form->imgbox_iai), c.SelectedCategory);
    const bool categoriesLoaded =
        std::any_of(Host.State.Statements.begin(), Host.State.Statements.end(),
                    [](const std::string& s) { return s.find("FROM IAI") != std::string::npos; });
    EXPECT_EQ(categoriesLoaded, !c.SelectedInsurer.empty());
    if (categoriesLoaded)
        EXPECT_EQ(Host.State.Statements.back(), Format(CategorySQL, {1, std::stoi(c.SelectedInsurer)}));
}

INSTANTIATE_TEST_SUITE_P(Insurers, InsurerTest, ::testing::ValuesIn(InsurerCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WindowTest, CategoriesWithoutDefaultSelectTheFirst) {
    SetCategories(10, CategoryRows({{"21", "门诊统筹", 0}, {"22", "门诊特殊病", 0}}));
    auto form = ShowAndClose();
    EXPECT_EQ(Selected(form->imgbox_iai), "21");
    EXPECT_EQ(form->imgbox_iai->currentText().toStdString(), "门诊统筹");
}

TEST_F(WindowTest, ChoosingAnotherInsurerLoadsItsCategories) {
    SetCategories(30, CategoryRows({{"31", "职工门诊", 0}, {"32", "职工慢病", 1}}));
    auto form = ShowAndClose({Step::Choose("imgbox_iaa", "城镇职工"), Step::Close()});
    EXPECT_EQ(Selected(form->imgbox_iaa), "30");
    EXPECT_EQ(Selected(form->imgbox_iai), "32");
    EXPECT_EQ(form->imgbox_iai->count(), 2);
    EXPECT_TRUE(User.Failures().empty()) << ::testing::PrintToString(User.Failures());
}

// ---------------------------------------------------------------------------------------
// Results of Execute

TEST_F(WindowTest, ExecuteClosedByTheUserGivesCancel) {
    User.AddSteps({Step::ExpectClass("TFrmClinicRateVAK"), Step::ExpectCaption("诊间结算"), Step::Close()});
    EXPECT_EQ(TFrmClinicRateVAK::Execute(1, CommandNo, Keys), mrCancel);
    EXPECT_TRUE(User.Failures().empty()) << ::testing::PrintToString(User.Failures());
}

TEST_F(WindowTest, DisabledButtonDoesNothing) {
    SetPaySet({{4, 0}});
    User.AddSteps({Step::Press("btn_WeChat"), Step::Close()});
    EXPECT_EQ(TFrmClinicRateVAK::Execute(1, CommandNo, Keys), mrCancel);
    ASSERT_EQ(User.Failures().size(), 1u);
    EXPECT_NE(User.Failures()[0].find("disabled"), std::string::npos);
    EXPECT_EQ(User.Windows().size(), 1u); // no message, no other window
}

// ---------------------------------------------------------------------------------------
// The payment path frame

struct TFrameRun {
    int DeviceCalls = 0;
    std::vector<int> PayKindsAsked;
    std::vector<std::pair<int, int>> Receipts;
    std::vector<std::string> ClinicLog;
};

class FrameTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ClinicPayServices.GetPayMethod = [this](TFrmClinicRateVAK&, int32_t kind) {
            Run.PayKindsAsked.push_back(kind);
            return PayMethod;
        };
        ClinicPayServices.SettleLocal = [this](TFrmClinicRateVAK&, int32_t, int32_t, const std::string&) { return VAK01; };
        ClinicPayServices.PrintSettlementReceipt = [this](TFrmClinicRateVAK&, int32_t kind, int32_t vak01) {
            Run.Receipts.push_back({kind, vak01});
        };
        ClinicPayServices.WriteClinicLog = [this](const std::string& line) { Run.ClinicLog.push_back(line); };
        Form.FTotalMoney = 0.01;
        Path = WeChatPath();
        Path.NotSettled = "支付成功，结算失败";
        Path.Success = "结算成功";
        Path.Failure = "支付失败";
    }
    void TearDown() override { ClinicPayServices = {}; }

    std::function<bool()> Device(bool AOk) {
        return [this, AOk] {
            ++Run.DeviceCalls;
            return AOk;
        };
    }

    TFrmClinicRateVAK Form;
    TPayPath Path;
    std::string PayMethod = "微信支付";
    int32_t VAK01 = 15;
    TFrameRun Run;
};

struct TFrameCase;
void PrintTo(const TFrameCase& ACase, std::ostream* AOut);
struct TFrameCase {
    const char* Name;
    bool DeviceOk;
    int32_t VAK01;
    const char* Message;
    int Result;
    bool Receipt;
};

const TFrameCase FrameCases[] = {
    {"Settled", true, 15, "结算成功", mrOk, true},
    {"PaidNotSettled", true, 0, "支付成功，结算失败", mrNo, false},
    {"DeviceFailed", false, 15, "支付失败", mrNo, false},
};

class FrameCaseTest : public FrameTest, public ::testing::WithParamInterface<TFrameCase> {};

TEST_P(FrameCaseTest, EndsWithMessageAndResult) {
    const TFrameCase& c = GetParam();
    VAK01 = c.VAK01;
    User.AddSteps({Step::ExpectText(c.Message), Step::Press("OK")});
    Form.RunPaymentPath(Form.btn_WeChat, Path, Device(c.DeviceOk));
    EXPECT_EQ(Form.result(), c.Result);
    EXPECT_FALSE(Form.btn_WeChat->isEnabled());
    EXPECT_EQ(Form.FPayMethodName, "微信支付");
    EXPECT_EQ(Run.PayKindsAsked, std::vector<int>{PayKindWeChat});
    EXPECT_EQ(Run.DeviceCalls, 1);
    EXPECT_EQ(Run.ClinicLog, c.DeviceOk
                                 ? std::vector<std::string>{"诊间微信扫码支付本地his结算返回vak01值==" +
                                                            std::to_string(c.VAK01)}
                                 : std::vector<std::string>{});
    EXPECT_EQ(Run.Receipts.size(), c.Receipt ? 1u : 0u);
    if (c.Receipt) EXPECT_EQ(Run.Receipts[0], std::make_pair(int(PayKindWeChat), int(c.VAK01)));
    EXPECT_TRUE(User.Failures().empty()) << ::testing::PrintToString(User.Failures());
}

INSTANTIATE_TEST_SUITE_P(Frame, FrameCaseTest, ::testing::ValuesIn(FrameCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FrameTest, NothingDueAtOneMillionthOfAYuan) {
    Form.FTotalMoney = 0.000001;
    try {
        Form.RunPaymentPath(Form.btn_WeChat, Path, Device(true));
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "没有需要结账的费用，请返回。");
    }
    EXPECT_FALSE(Form.btn_WeChat->isEnabled());
    EXPECT_EQ(Run.DeviceCalls, 0);
    EXPECT_TRUE(Run.PayKindsAsked.empty());
    // Pressed again: the button is disabled now, nothing happens.
    Form.FTotalMoney = 10;
    EXPECT_NO_THROW(Form.RunPaymentPath(Form.btn_WeChat, Path, Device(true)));
    EXPECT_EQ(Run.DeviceCalls, 0);
}

TEST_F(FrameTest, MissingPayMethodRaisesThePathsMessage) {
    const std::pair<TPayPath, QPushButton*> paths[] = {{MemberCardPath(), Form.btn_VBUPay},
                                                       {InsurancePath(), Form.btn_ybkard},
                                                       {BankPOSPath(), Form.btn_posKard},
                                                       {WeChatPath(), Form.btn_WeChat},
                                                       {AlipayPath(), Form.btn_alipay}};
    PayMethod = "  ";
    for (const auto& [path, button] : paths) {
        SCOPED_TRACE(path.ConfigMessage);
        try {
            Form.RunPaymentPath(button, path, Device(true));
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), path.ConfigMessage);
        }
        EXPECT_FALSE(button->isEnabled());
    }
    EXPECT_EQ(Run.PayKindsAsked, (std::vector<int>{5, 1, 2, 3, 4}));
    EXPECT_EQ(Run.DeviceCalls, 0);
    EXPECT_EQ(Form.result(), 0);
}

TEST_F(FrameTest, DisabledButtonRunsNothing) {
    Form.btn_alipay->setEnabled(false);
    Form.RunPaymentPath(Form.btn_alipay, AlipayPath(), Device(true));
    EXPECT_TRUE(Run.PayKindsAsked.empty());
    EXPECT_EQ(Run.DeviceCalls, 0);
    EXPECT_EQ(Form.result(), 0);
}

// ---------------------------------------------------------------------------------------
// Bill number, scan-pay replies, amounts

TEST(BillNo, VisitIdAndLocalTime) {
    EXPECT_EQ(TFrmClinicRateVAK::MakeBillNo(123456, EncodeDateTime(2016, 11, 9, 14, 30, 15, 0)),
              "No12345620161109143015");
    EXPECT_EQ(TFrmClinicRateVAK::MakeBillNo(7, EncodeDateTime(2017, 3, 1, 8, 5, 9, 0)), "No720170301080509");
    EXPECT_EQ(TFrmClinicRateVAK::MakeBillNo(7, EncodeDateTime(2017, 3, 1, 8, 5, 9, 999)),
              "No720170301080509");
    EXPECT_EQ(TFrmClinicRateVAK::MakeBillNo(7).size(), std::string("No7").size() + 14);
}

TEST(ReplyValue, FirstLineOfTheKeyInAnyCaseAndLogged) {
    TClinicTestHost host;
    const WideString reply("RESULT=0\r\norderNo=WX2016\nORDERNO=second\r\nmemo=a=b");
    const struct {
        const char* Key;
        const char* Value;
    } cases[] = {{"ORDERNO", "WX2016"}, {"memo", "a=b"}, {"missing", ""}, {"result", "0"}};
    for (const auto& c : cases)
        EXPECT_EQ(TFrmClinicRateVAK::ReadReplyValue(reply, c.Key), c.Value) << c.Key;
    const auto log = host.LogOf("诊间支付");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], (TLogEntry{0, "诊间支付", "0", "支付宝或微信返回支付单号：WX2016"}));
    EXPECT_EQ(log[2].Detail, "支付宝或微信返回支付单号：");
}

TEST(Money, CurrencyAndText) {
    const struct {
        double Money;
        int64_t Scaled;
        const char* Text;
    } cases[] = {{12.5, 125000, "12.5"},   {12.50, 125000, "12.5"},    {0.01, 100, "0.01"},
                 {100, 1000000, "100"},    {1.23456, 12346, "1.2346"}, {0.000001, 0, "0"},
                 {0.1 + 0.2, 3000, "0.3"}, {19.99, 199900, "19.99"}};
    for (const auto& c : cases) {
        EXPECT_EQ(TFrmClinicRateVAK::MoneyToCurrency(c.Money).Value, c.Scaled) << c.Money;
        EXPECT_EQ(TFrmClinicRateVAK::MoneyText(c.Money), c.Text) << c.Money;
    }
}

void PrintTo(const TPaySetCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}
void PrintTo(const TSetupErrorCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}
void PrintTo(const TInsurerCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}
void PrintTo(const TFrameCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}

} // namespace
