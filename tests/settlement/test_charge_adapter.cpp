// The charge adapter: request keys, validation order and messages, the charge document,
// the procedure modes, the operator override, and failures shown as "提示".
#include "SettleRequestRender.h"
#include "UQVChargeAdapter.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

// A request for patient 11, visit 22, outpatient clinic, fee records 1023 and 1024, paid
// 30.5 by WeChat; the head and extra lists can be replaced.
std::string
Request(const std::string& AHead = "<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\" VAK07=\"30.5\" "
                                   "VAK08=\"30.5\"/></VAA1>",
        const std::string& AFees = "<VAI1><Ie VAI01=\"1023\"/><Ie VAI01=\"1024\"/></VAI1>",
        const std::string& AExtra = "<VBL1><Ie VBU01=\"0\" VBL13=\"30.5\" VBL14=\"微信\" VBL15=\"09\" "
                                    "FAF01=\"0\" BAQ03=\"\" VBL11=\"WX001\"/></VBL1>") {
    return "<Root>" + AHead + AFees + AExtra + "</Root>";
}

class ChargeAdapter : public TSettleFixture {
protected:
    void AddFeeRules(std::vector<int> AFeeIds = {1023, 1024}) { AddSettleRules(*Ctx.Db, AFeeIds); }

    int32_t Run(const std::string& ARequest) {
        TQVCharge charge(Ctx);
        charge.SetRequest(ARequest);
        const int32_t result = charge.Execute();
        LastCharge = charge.ChargeXML();
        LastSVAI01 = charge.SVAI01();
        return result;
    }

    std::string LastCharge;
    std::string LastSVAI01;
};

} // namespace

TEST_F(ChargeAdapter, RequestKeysAndFeeList) {
    StartHost();
    TQVCharge charge(Ctx);
    charge.SetRequest(
        Request("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\" VAK07=\"12.345\" VAK08=\"0.3\"/></VAA1>",
                "<VAI1><Ie VAI01=\"7\"/><Ie VAI01=\"9\"/></VAI1>"));
    EXPECT_EQ(charge.VAA01(), 11);
    EXPECT_EQ(charge.VAA07(), 22);
    EXPECT_EQ(charge.ACF01(), 1);
    EXPECT_EQ(charge.VAK07(), Currency{123450});
    EXPECT_EQ(charge.VAK08(), Currency{3000});
    EXPECT_EQ(charge.SVAI01(), "7,9,");
}

TEST_F(ChargeAdapter, ValidationOrderAndMessages) {
    struct TCase {
        const char* Name;
        std::string Request;
        const char* Message;
        bool QueriesRun; // the refusal comes after the fee records were read
    };
    const std::string fees = "<VAI1><Ie VAI01=\"1023\"/><Ie VAI01=\"1024\"/></VAI1>";
    const TCase cases[] = {
        {"NoHead", "<Root>" + fees + "</Root>", "病人ID不能为空。", false},
        {"PatientZero", Request("<VAA1><Ie VAA01=\"0\" VAA07=\"22\" ACF01=\"1\"/></VAA1>"),
         "病人ID不能为空。", false},
        {"PatientNotNumber", Request("<VAA1><Ie VAA01=\"x1\" VAA07=\"22\" ACF01=\"1\"/></VAA1>"),
         "病人ID不能为空。", false},
        {"VisitMissing", Request("<VAA1><Ie VAA01=\"11\" ACF01=\"1\"/></VAA1>"), "就诊ID不能为空。", false},
        {"ServiceObjectMissing", Request("<VAA1><Ie VAA01=\"11\" VAA07=\"22\"/></VAA1>"),
         "服务对象不能为空。", false},
        // The keys go into the database's texts: nothing but whole numbers.
        {"NoFeeRecords", Request(std::string("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\"/></VAA1>"), ""),
         "没有需要结算的收费记录。", false},
        {"FeeKeyNotNumber",
         Request("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\"/></VAA1>",
                 "<VAI1><Ie VAI01=\"1023) or (1=1\"/></VAI1>"),
         "收费记录ID无效：1023) or (1=1", false},
        {"AmountNotNumber",
         Request("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\" VAK07=\"三十\" VAK08=\"30.5\"/></VAA1>"),
         "结算金额不是有效的数值。", false},
        {"FeeRecordGone",
         Request("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\" VAK07=\"30.5\"/></VAA1>",
                 "<VAI1><Ie VAI01=\"1023\"/><Ie VAI01=\"999\"/></VAI1>"),
         "收费记录不存在或已结算，不能结算：999", true},
    };
    StartHost();
    AddFeeRules();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Ctx.Messages.clear();
        Ctx.Db->Statements.clear();
        EXPECT_EQ(Run(c.Request), 0);
        ASSERT_EQ(Ctx.Messages.size(), 1u);
        EXPECT_EQ(Ctx.Messages[0].Text, c.Message);
        EXPECT_EQ(Ctx.Messages[0].Caption, "提示");
        EXPECT_EQ(Ctx.Messages[0].Flags, 16);
        EXPECT_EQ(Ctx.Db->CountContaining("QVRate"), 0u);
        EXPECT_EQ(Ctx.Db->Statements.empty(), !c.QueriesRun);
    }
}

TEST_F(ChargeAdapter, OtherServiceObjectWritesDocumentOnly) {
    StartHost();
    AddFeeRules();
    EXPECT_EQ(Run(Request("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"2\" VAK07=\"30.5\"/></VAA1>")), 0);
    EXPECT_TRUE(FileExists("ClinicRate.xml"));
    EXPECT_THAT(RenderDocument(ReadFile("ClinicRate.xml")), ElementsAreArray(RenderDocument(LastCharge)));
    EXPECT_EQ(Ctx.Db->CountContaining("from VAI1"), 1u);
    EXPECT_EQ(Ctx.Db->CountContaining("QVRate"), 0u);
    EXPECT_TRUE(Ctx.Messages.empty());
}

TEST_F(ChargeAdapter, ProcedureModes) {
    struct TCase {
        const char* Name;
        const char* Mode; // host parameter 100/103010/6/1
        std::vector<Variant> Outputs;
        int32_t Expected;
        const char* Statement; // the procedure statement sent, empty: none
    };
    const TCase cases[] = {
        {"Mode0Output", "0", {Variant(1001), Variant("MZ1")}, 1001, "Exec QVRate_VAK1_Update ?,? out,? out"},
        {"Mode0NullOutput",
         "0",
         {Variant::Null(), Variant::Null()},
         0,
         "Exec QVRate_VAK1_Update ?,? out,? out"},
        {"EmptyModeIsMode0",
         "",
         {Variant(1001), Variant("MZ1")},
         1001,
         "Exec QVRate_VAK1_Update ?,? out,? out"},
        {"Mode1FirstRow", "1", {}, 1002, "Exec QVRate_DVAK01_Update ? "},
        {"Mode2RunsNothing", "2", {}, 0, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        HostConfig.SysParams[{100, 103010, 6, 1}] = c.Mode;
        StartHost();
        Ctx.Db->Rules.clear();
        Ctx.Db->Statements.clear();
        Ctx.Db->Inputs.clear();
        AddFeeRules();
        Ctx.Db->Rules.insert(Ctx.Db->Rules.begin(), {"QVRate_VAK1_Update", {{}, {}, c.Outputs}});
        EXPECT_EQ(Run(Request()), c.Expected);
        EXPECT_TRUE(Ctx.Messages.empty());
        const std::string last = Ctx.Db->Statements.back();
        if (*c.Statement) {
            EXPECT_THAT(last, HasSubstr(c.Statement));
            // The procedure receives the charge document as it was saved.
            ASSERT_FALSE(Ctx.Db->Inputs.empty());
            EXPECT_EQ(Ctx.Db->Inputs.back(), LastCharge);
        } else {
            EXPECT_EQ(Ctx.Db->CountContaining("QVRate"), 0u);
        }
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
        Host.reset();
    }
}

TEST_F(ChargeAdapter, ChargeDocumentShape) {
    StartHost();
    AddFeeRules();
    Ctx.Rate = 2;
    const std::string extra =
        "<VBL1><Ie VBU01=\"0\" VBL13=\"20\" VBL14=\"医保\" VBL15=\"03\" FAF01=\"0\" BAQ03=\"\" VBL11=\"\"/>"
        "<Ie VBU01=\"900\" VBL13=\"10.5\" VBL14=\"会员卡\" VBL15=\"05\" FAF01=\"66\" BAQ03=\"\" "
        "VBL11=\"RM01\"/></VBL1>"
        "<VCA><Ie VBU01=\"900\" VCB04=\"\" VCA10=\"10.5\" VCA20=\"0\" BBP02=\"会员卡\" AAO01=\"05\" "
        "AMODE=\"1\" "
        "VBU07=\"1\"/></VCA>"
        "<RefundInfo><Ie IAS01=\"501\" VAI01=\"1023\"/><Ie IAS01=\"502\" VAI01=\"1024\"/></RefundInfo>";
    EXPECT_EQ(
        Run(Request("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\" VAK07=\"30.5\" VAK08=\"10.5\"/></VAA1>",
                    "<VAI1><Ie VAI01=\"1023\"/><Ie VAI01=\"1024\"/></VAI1>", extra)),
        1001);
    const std::vector<std::string> lines = RenderDocument(LastCharge);
    const std::vector<std::string> expectedHead = {
        "VAA: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=10.5 VAK09=10.5 VAK10=0 WorkType=4 WorkFrom=1 "
        "WorkName= "
        "IsHyType=2 BCK01A=5",
        "VAI: VAI00=MZ1023 VAI01=1023 BCK01B=3 BCE02A=0003 BCE03A=张医生 VAI04=MZ1023 VAI05=2024-03-05 "
        "OldMoney=15.25 SumMoney=15.25 YbMoney=0 Enabled=0 VAI17=1",
        "VAI: VAI00=MZ1024 VAI01=1024 BCK01B=3 BCE02A=0003 BCE03A=张医生 VAI04=MZ1024 VAI05=2024-03-05 "
        "OldMoney=15.25 SumMoney=15.25 YbMoney=0 Enabled=0 VAI17=1",
    };
    ASSERT_GE(lines.size(), 11u);
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 3), ElementsAreArray(expectedHead));
    // One VAJ row per item with every attribute in order.
    EXPECT_EQ(
        lines[3],
        "VAJ: VAI00=t VAJ01=10230 ROWNR=1 VAI01=1023 BDN01=t BBY01=1 VAJ22=1 VAJ23=1 VAJ24=15.25 VAJ25=15.25 "
        "VAJ26=1 VAJ27=1 VAJ01A=1 VAJ57=t VAF01=1 BCK01D=1 BCK01E=1 VAJ30=1.5 VAJ31=1.5 VAJ59=1.5 VAJ32=1.5 "
        "VAJ33=1.5 VAJ67=1.5 VAJ34=1.5 VAJ35=t VAJ53=1 VAJ36=15.25 VAJ37=15.25 VAJ38=15.25 VAJ61=15.25 "
        "IsBackFee=1 VAJ39=0 BCK01C=1 BCE02B=t BCE03B=t DSK01=1 VAJ54=t");
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 5, lines.end()),
                ElementsAre("VBL: VBU01=0 VBL13=20 VBL14=医保 VBL15=03 FAF01=0 BAQ03= VBL11=",
                            "VBL: VBU01=900 VBL13=10.5 VBL14=会员卡 VBL15=05 FAF01=66 BAQ03= VBL11=RM01",
                            "VCA: VBU01=900 VBU07=1 AMODE=1 AAO01=05 BBP02=会员卡 VCA10=10.5 VCA20=0 VCB04=",
                            "IAS: IAS01=501 VAI01=1023", "IAS: IAS01=502 VAI01=1024",
                            "OperInfo: UserId=1 EmpId=3 EmpNo=0003 EmpName=张医生"));
}

TEST_F(ChargeAdapter, NoPaymentRowsStillGiveVblAndNoOptionalLists) {
    StartHost();
    AddFeeRules();
    Run(Request(std::string("<VAA1><Ie VAA01=\"11\" VAA07=\"22\" ACF01=\"1\" VAK07=\"30.5\"/></VAA1>"),
                "<VAI1><Ie VAI01=\"1023\"/><Ie VAI01=\"1024\"/></VAI1>", ""));
    auto doc = ParseXml(LastCharge);
    EXPECT_THAT(ChildNames(doc->child("Root")), ElementsAre("VAA", "VAI", "VAJ", "VBL", "OperInfo"));
}

TEST_F(ChargeAdapter, OperatorOverride) {
    struct TCase {
        const char* Name;
        const char* EmpParam; // host parameter 9999/9999/98/1
        bool EmployeeRow;
        const char* Expected;
    };
    const TCase cases[] = {
        {"NoOverride", "", true, "OperInfo: UserId=1 EmpId=3 EmpNo=0003 EmpName=张医生"},
        {"NotANumber", "abc", true, "OperInfo: UserId=1 EmpId=3 EmpNo=0003 EmpName=张医生"},
        {"Employee25", "25", true, "OperInfo: UserId=1 EmpId=25 EmpNo=0025 EmpName=赵护士"},
        {"Employee25Unknown", "25", false, "OperInfo: UserId=1 EmpId=25 EmpNo= EmpName="},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        HostConfig.SysParams[{9999, 9999, 98, 1}] = c.EmpParam;
        StartHost();
        Ctx.Db->Rules.clear();
        Ctx.Db->Statements.clear();
        AddFeeRules();
        TFakeAnswer employee{{TextCol("BCE02"), TextCol("BCE03")}, {}};
        if (c.EmployeeRow) employee.Rows.push_back({Variant("0025"), Variant("赵护士")});
        Ctx.Db->Rules.push_back({"from BCE1 where BCE01 = 25", employee});
        EXPECT_EQ(Run(Request()), 1001);
        EXPECT_EQ(RenderDocument(LastCharge).back(), c.Expected);
        EXPECT_EQ(Ctx.Db->CountContaining("select BCE02 , BCE03 from BCE1 where BCE01 = 25"),
                  std::string(c.EmpParam) == "25" ? 1u : 0u);
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
        Host.reset();
    }
}

// Every failure inside Execute is shown as "提示" with flags 16 and gives 0.
TEST_F(ChargeAdapter, FailuresShownAndZero) {
    struct TCase {
        const char* Name;
        const char* FailingRule; // statement part that fails
        const char* Error;
        std::vector<Variant> Outputs; // procedure outputs when it does not fail
        const char* Message;
        int Rollbacks;
    };
    const TCase cases[] = {
        {"ProcedureRefuses",
         "QVRate_VAK1_Update",
         "费用记录1023已经结账(结算ID 7)，不能重复结账。",
         {},
         "费用记录1023已经结账(结算ID 7)，不能重复结账。",
         1},
        {"FeeQueryFails", "from VAJ1", "对象名 'VAJ1' 无效。", {}, "对象名 'VAJ1' 无效。", 1},
        {"OutputNotANumber", "", "", {Variant("abc"), Variant::Null()}, "'abc' 不是有效的整数值", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        StartHost();
        Ctx.Db->Rules.clear();
        Ctx.Messages.clear();
        Ctx.Rollbacks = 0;
        if (*c.FailingRule)
            Ctx.Db->Rules.push_back({c.FailingRule, {{}, {}, {}, c.Error}});
        else
            Ctx.Db->Rules.push_back({"QVRate_VAK1_Update", {{}, {}, c.Outputs}});
        AddFeeRules();
        EXPECT_EQ(Run(Request()), 0);
        ASSERT_EQ(Ctx.Messages.size(), 1u);
        EXPECT_THAT(Ctx.Messages[0].Text, HasSubstr(c.Message));
        EXPECT_EQ(Ctx.Messages[0].Caption, "提示");
        EXPECT_EQ(Ctx.Messages[0].Flags, 16);
        EXPECT_EQ(Ctx.Rollbacks, c.Rollbacks);
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
        Host.reset();
    }
}

TEST_F(ChargeAdapter, UnwritableFolderShownBeforeSettling) {
    HostConfig.WorkPath = Folder.string() + "/missing/";
    StartHost();
    AddFeeRules();
    EXPECT_EQ(Run(Request()), 0);
    ASSERT_EQ(Ctx.Messages.size(), 1u);
    EXPECT_THAT(Ctx.Messages[0].Text, HasSubstr("ClinicRate.xml”保存失败："));
    EXPECT_EQ(Ctx.Db->CountContaining("QVRate"), 0u);
}

TEST_F(ChargeAdapter, RequestThatIsNotXmlRaises) {
    StartHost();
    TQVCharge charge(Ctx);
    EXPECT_THROW(charge.SetRequest("<Root><VAA1>"), Exception);
}
