// The local settlement end to end on the hospital database stand-in: what a settlement
// records, what a refused one leaves (nothing), the stock deduction, and amounts that
// must arrive as exact currency.
#include "SettleTestSupport.h"
#include "kbmMemTable.h"
#include "uSettleLocal.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// Statements run on the hospital database; a failed one rolls back the open transaction,
// as the data module does.
class THospitalContext : public TTestSettleContext {
public:
    THospitalContext() { Reset(); }

    // A fresh database with the demo data; nothing recorded.
    void Reset() {
        Messages.clear();
        Run.clear();
        Rollbacks = 0;
        setenv("QV_MODULE_DIR", QV_TEST_MODULE_DIR, 0);
        Hospital = std::make_unique<TADOConnection>("Hospital");
        Hospital->SetConnectionString(
            "Provider=QvHospitalLite;Data Source=:memory:;Seed=" + std::string(QV_TEST_SOURCE_DIR) +
            "/hostsim/hospitaldb/seed.sql;Clock=2024-03-05 08:09:10");
        Hospital->Open();
    }

    std::unique_ptr<TADOConnection> Hospital;
    std::vector<std::string> Run; // statements sent, in order

    std::unique_ptr<TADOQuery> NewQuery() override {
        auto q = std::make_unique<TADOQuery>();
        q->SetConnection(Hospital.get());
        q->SetParamCheck(true);
        return q;
    }
    void ExecuteQuery(TADOQuery& AQuery, bool AOpen) override {
        Run.push_back(AQuery.SQL().Text());
        try {
            AOpen ? AQuery.Open() : void(AQuery.ExecSQL());
        } catch (...) {
            ++Rollbacks;
            Hospital->Execute("IF @@TRANCOUNT>0 ROLLBACK TRAN");
            throw;
        }
    }
    TDateTime GetServerTime() override {
        auto q = NewQuery();
        q->SQL().SetText("SELECT getdate()");
        ExecuteQuery(*q, true);
        return q->Fields()[0].AsDateTime();
    }

    Variant Scalar(const std::string& ASQL) {
        TADOQuery q;
        q.SetConnection(Hospital.get());
        q.SetParamCheck(false);
        q.SQL().SetText(ASQL);
        q.Open();
        return q.Eof() ? Variant::Null() : q.Fields()[0].Value();
    }
    void Exec(const std::string& ASQL) { Hospital->Execute(ASQL, adExecuteNoRecords); }

    // Everything a settlement or a stock deduction may change, as one text.
    std::string Snapshot() {
        std::string s;
        for (const char* sql :
             {"SELECT count(*) FROM VAK1", "SELECT count(*) FROM VBL1", "SELECT count(*) FROM VCA1",
              "SELECT count(*) FROM VAKIAS", "SELECT count(*) FROM DSK2",
              "SELECT group_concat(VAI01 || ':' || VAI10 || ':' || ifnull(VAK01, '-')) FROM VAI1",
              "SELECT group_concat(VBU01 || ':' || VBU14) FROM VBU1",
              "SELECT group_concat(DSK01 || ':' || DSK05) FROM DSK1"})
            s += Scalar(sql).AsString() + "|";
        return s;
    }
};

class SettleHospital : public TSettleFixture {
public:
    void SetUp() override {
        TSettleFixture::SetUp();
        HostConfig.SqlTexts.clear();
        HostConfig.DataFolder = std::string(QV_TEST_SOURCE_DIR) + "/hostsim/hospitaldb";
        Db.Params[97] = "1";
        Fees.AddField("VAI01", ftInteger);
        Fees.CreateTable();
    }

    // The window after patient 1 (visit 1001) chose to pay fee records 1023 and 1024.
    TSettleWindowData Patient(int32_t AVAA01, int32_t AVAC01, std::vector<int> AFees, double ATotal,
                              const std::string& AName) {
        Fees.EmptyTable();
        std::string keys;
        for (int id : AFees) {
            Fees.Append();
            Fees.FieldByName("VAI01").SetAsInteger(id);
            Fees.Post();
            keys += (keys.empty() ? "" : ",") + std::to_string(id);
        }
        TSettleWindowData w;
        w.FVAA01 = AVAA01;
        w.FVAC01 = AVAC01;
        w.FACF01 = 1;
        w.FSVAI01 = keys;
        w.FVAA05 = AName;
        w.FTotalMoney = ATotal;
        w.kbmVAI = &Fees;
        return w;
    }
    TSettleWindowData Patient1() { return Patient(1, 1001, {1023, 1024}, 105.5, "张三"); }

    int32_t Pay(TSettleWindowData& AWindow, int32_t AKind, const std::string& AInsuranceXML = "") {
        AWindow.FPayMethodName = GetPayMethod(Db, AKind, 0);
        return SettleLocal(Db, AWindow, AKind, 0, AInsuranceXML);
    }

    THospitalContext Db;
    TkbmMemTable Fees;
};

} // namespace

TEST_F(SettleHospital, WeChatSettlementFullyRecorded) {
    HostConfig.SysParams[{9999, 9999, 98, 1}] = "25";
    StartHost();
    TSettleWindowData w = Patient1();
    w.FPayOrderNo = "WX20240305001";
    const int32_t vak01 = Pay(w, 3);
    ASSERT_GE(vak01, 1) << (Db.Messages.empty() ? "" : Db.Messages[0].Text);
    const std::string id = std::to_string(vak01);
    EXPECT_EQ(
        Db.Scalar(
              "SELECT VAA01 || ',' || VAC01 || ',' || yuan(VAK07) || ',' || yuan(VAK08) || ',' || BCE01 || "
              "',' || BCE02 || ',' || BCE03 FROM VAK1 WHERE VAK01 = " +
              id)
            .AsString(),
        "1,1001,105.5,105.5,25,0025,王收费");
    EXPECT_EQ(
        Db.Scalar(
              "SELECT group_concat(yuan(VBL13) || ',' || VBL14 || ',' || VBL15 || ',' || VBL11, ';') FROM "
              "VBL1 WHERE VAK01 = " +
              id)
            .AsString(),
        "105.5,微信扫码,09,WX20240305001");
    EXPECT_EQ(
        Db.Scalar("SELECT group_concat(VAI01 || ':' || VAI10) FROM VAI1 WHERE VAK01 = " + id).AsString(),
        "1023:1,1024:1");
    // Parameter 97: the injector used from stock 1 (2 pieces) is deducted once.
    EXPECT_EQ(Db.Scalar("SELECT DSK05 FROM DSK1 WHERE DSK01 = 1").AsFloat(), 98.0);
    EXPECT_EQ(Db.Scalar("SELECT count(*) FROM DSK2").AsInteger(), 1);
    EXPECT_TRUE(Db.Messages.empty());
    EXPECT_TRUE(FileExists("ClinicRate.xml"));
    EXPECT_THAT(AnsiToUtf8(ReadFile("qvClinicLog2024-03-05.log")),
                ::testing::StartsWith("2024-03-05 08:09:10--诊间his结算传入xml==<Root>"));
}

TEST_F(SettleHospital, MemberCardBalanceGoesDown) {
    StartHost();
    TSettleWindowData w = Patient1();
    w.FVBU01 = 1;
    const int32_t vak01 = Pay(w, 5);
    ASSERT_GE(vak01, 1) << (Db.Messages.empty() ? "" : Db.Messages[0].Text);
    EXPECT_EQ(Db.Scalar("SELECT yuan(VBU14) FROM VBU1 WHERE VBU01 = 1").AsFloat(), 394.5);
    EXPECT_EQ(
        Db.Scalar(
              "SELECT VBU01 || ',' || yuan(VCA10) || ',' || BBP02 || ',' || AAO01 FROM VCA1 WHERE VAK01 = " +
              std::to_string(vak01))
            .AsString(),
        "1,105.5,会员卡,05");
}

TEST_F(SettleHospital, InsuranceWithRemainderRecordsBothPaymentsAndLinks) {
    StartHost();
    TSettleWindowData w = Patient1();
    w.FVBU01 = 1;
    w.FYbMoney = 80;
    w.FSelfMoney = 25.5;
    w.FSelfPayFlag = 1;
    w.FSelfPayKind = 5;
    const int32_t vak01 = Pay(w, 1,
                              "<Root><PayInfo><Ie IAS01=\"YB001\" VAI01=\"1023\"/><Ie IAS01=\"YB001\" "
                              "VAI01=\"1024\"/></PayInfo></Root>");
    ASSERT_GE(vak01, 1) << (Db.Messages.empty() ? "" : Db.Messages[0].Text);
    const std::string id = std::to_string(vak01);
    EXPECT_EQ(
        Db.Scalar("SELECT group_concat(VBU01 || ',' || yuan(VBL13) || ',' || VBL15, ';') FROM VBL1 WHERE "
                  "VAK01 = " +
                  id)
            .AsString(),
        "0,80.0,03;1,25.5,05");
    EXPECT_EQ(Db.Scalar("SELECT yuan(VAK08) FROM VAK1 WHERE VAK01 = " + id).AsFloat(), 25.5);
    EXPECT_EQ(
        Db.Scalar("SELECT group_concat(IAS01 || ':' || VAI01) FROM VAKIAS WHERE VAK01 = " + id).AsString(),
        "YB001:1023,YB001:1024");
    EXPECT_EQ(Db.Scalar("SELECT yuan(VBU14) FROM VBU1 WHERE VBU01 = 1").AsFloat(), 474.5);
}

TEST_F(SettleHospital, ProcedureModeOneRecordsTheSame) {
    HostConfig.SysParams[{100, 103010, 6, 1}] = "1";
    StartHost();
    TSettleWindowData w = Patient1();
    const int32_t vak01 = Pay(w, 4);
    ASSERT_GE(vak01, 1) << (Db.Messages.empty() ? "" : Db.Messages[0].Text);
    EXPECT_EQ(Db.Scalar("SELECT VBL15 FROM VBL1 WHERE VAK01 = " + std::to_string(vak01)).AsString(), "10");
}

// A refused settlement leaves the database as it was, is shown, gives 0 and deducts nothing.
TEST_F(SettleHospital, RefusedSettlementLeavesNothing) {
    struct TCase {
        const char* Name;
        std::function<TSettleWindowData(SettleHospital&)> Window;
        bool SettleFirst; // settle the same records once before
        const char* Message;
    };
    const TCase cases[] = {
        {"AlreadySettled", [](SettleHospital& t) { return t.Patient1(); }, true, "已经结账"},
        {"UnknownFeeRecord",
         [](SettleHospital& t) {
             return t.Patient(1, 1001, {1023, 9999}, 25.5, "张三");
         },
         false, "9999"},
        {"AmountsDoNotAddUp",
         [](SettleHospital& t) {
             return t.Patient(1, 1001, {1023, 1024}, 100, "张三");
         },
         false, "不一致"},
        {"FeeRecordOfAnotherVisit", [](SettleHospital& t) { return t.Patient(1, 1001, {2001}, 35, "张三"); },
         false, "不属于本次就诊"},
        {"CardBalanceTooLow",
         [](SettleHospital& t) {
             TSettleWindowData w = t.Patient(2, 1002, {2001}, 35, "李四");
             w.FVBU01 = 2;
             return w;
         },
         false, "余额不足"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Db.Reset();
        StartHost();
        TSettleWindowData w = c.Window(*this);
        const int32_t kind = w.FVBU01 ? 5 : 3;
        if (c.SettleFirst) {
            ASSERT_GE(Pay(w, kind), 1);
        }
        Db.Messages.clear();
        const std::string before = Db.Snapshot();
        const size_t deductions = std::count_if(Db.Run.begin(), Db.Run.end(), [](const std::string& s) {
            return s.find("QVRate_Material_Deduct") != std::string::npos;
        });
        EXPECT_EQ(Pay(w, kind), 0);
        EXPECT_EQ(Db.Snapshot(), before);
        ASSERT_EQ(Db.Messages.size(), 1u);
        EXPECT_THAT(Db.Messages[0].Text, HasSubstr(c.Message));
        EXPECT_EQ(Db.Messages[0].Caption, "提示");
        EXPECT_EQ(Db.Messages[0].Flags, 16);
        EXPECT_EQ(std::count_if(Db.Run.begin(), Db.Run.end(),
                                [](const std::string& s) {
                                    return s.find("QVRate_Material_Deduct") != std::string::npos;
                                }),
                  static_cast<long>(deductions));
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
        Host.reset();
    }
}

TEST_F(SettleHospital, StockOnlyWithParameter97AndOnlyOnce) {
    StartHost();
    Db.Params[97] = "0";
    TSettleWindowData w = Patient1();
    ASSERT_GE(Pay(w, 3), 1);
    EXPECT_EQ(Db.Scalar("SELECT DSK05 FROM DSK1 WHERE DSK01 = 1").AsFloat(), 100.0);
    // Deducting for the settled records goes down once; asking again changes nothing.
    DeductMaterialStock(Db, w.FSVAI01, w.FVAA05, 1, w.FVAA01, w.FVAC01);
    DeductMaterialStock(Db, w.FSVAI01, w.FVAA05, 1, w.FVAA01, w.FVAC01);
    EXPECT_EQ(Db.Scalar("SELECT DSK05 FROM DSK1 WHERE DSK01 = 1").AsFloat(), 98.0);
    EXPECT_TRUE(Db.Messages.empty());
}

// The user and host names go into the deduction's SQL text as quoted literals: a quote in
// them must not break (or rewrite) the statement.
TEST_F(SettleHospital, StockDeductionTakesNamesWithQuotes) {
    StartHost();
    Db.Params[97] = "0";
    Db.User = "O'Neil";
    TSettleWindowData w = Patient1();
    ASSERT_GE(Pay(w, 3), 1);
    DeductMaterialStock(Db, w.FSVAI01, w.FVAA05, 1, w.FVAA01, w.FVAC01);
    EXPECT_EQ(Db.Scalar("SELECT DSK05 FROM DSK1 WHERE DSK01 = 1").AsFloat(), 98.0);
    EXPECT_TRUE(Db.Messages.empty());
}

TEST_F(SettleHospital, FailingStockScriptShownSettlementKept) {
    StartHost();
    Db.Exec("UPDATE DSK1 SET DSK05 = 1 WHERE DSK01 = 2");
    TSettleWindowData w = Patient(3, 1003, {3001}, 12.5, "王五");
    const int32_t vak01 = Pay(w, 3);
    EXPECT_GE(vak01, 1);
    EXPECT_EQ(Db.Scalar("SELECT VAI10 FROM VAI1 WHERE VAI01 = 3001").AsInteger(), 1);
    EXPECT_EQ(Db.Scalar("SELECT DSK05 FROM DSK1 WHERE DSK01 = 2").AsFloat(), 1.0);
    ASSERT_EQ(Db.Messages.size(), 1u);
    EXPECT_THAT(Db.Messages[0].Text,
                ::testing::StartsWith("发送【王五】医嘱，冲减材料库存出现错误，详细信息："));
    EXPECT_THAT(Db.Messages[0].Text, HasSubstr("库存不足"));
    std::vector<int32_t> kinds;
    for (const THostWaitCall& call : Host->State().WaitCalls)
        kinds.push_back(call.Kind);
    EXPECT_THAT(kinds, ElementsAre(1, 2));
}

// Floating amounts of the window arrive in the database as the exact currency value.
TEST_F(SettleHospital, MoneyRoundTrip) {
    struct TCase {
        const char* Name;
        double Total;
        const char* Stored; // yuan as the database's exact text
        int64_t Scaled;     // 1/10000 yuan
    };
    const TCase cases[] = {
        {"SumOfTenths", 0.1 + 0.2, "0.30", 3000},
        {"FourDecimals", 12.345, "12.345", 123450},
        {"LargeAmount", 99999999.99, "99999999.99", 999999999900},
    };
    StartHost();
    int id = 4000;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ++id;
        Db.Exec(Format(
            "INSERT INTO VAI1 (VAI01, VAA01, VAC01, ACF01, VAI04, VAI05, VAI13, BCK01B, BCE01A, VAI22, "
            "VAI23) VALUES (%d, 3, 1003, 1, 'T%d', '测试', 3, 102, 1002, cy('%s'), cy('%s'))",
            {id, id, c.Stored, c.Stored}));
        Db.Exec(Format(
            "INSERT INTO VAJ1 (VAJ01, VAI01, ROWNR, BDN01, BBY01, VAJ24, VAJ25, VAJ30, VAJ36, VAJ37, "
            "VAJ38) VALUES (%d, %d, 1, '6', 6001, cy('%s'), cy('%s'), 1, cy('%s'), cy('%s'), cy('%s'))",
            {id * 10, id, c.Stored, c.Stored, c.Stored, c.Stored, c.Stored}));
        TSettleWindowData w = Patient(3, 1003, {id}, c.Total, "王五");
        const int32_t vak01 = Pay(w, 3);
        ASSERT_GE(vak01, 1) << (Db.Messages.empty() ? "" : Db.Messages.back().Text);
        const std::string key = std::to_string(vak01);
        EXPECT_EQ(Db.Scalar("SELECT VAK07 FROM VAK1 WHERE VAK01 = " + key).AsCurrency(), Currency{c.Scaled});
        EXPECT_EQ(Db.Scalar("SELECT VAK08 FROM VAK1 WHERE VAK01 = " + key).AsCurrency(), Currency{c.Scaled});
        EXPECT_EQ(Db.Scalar("SELECT VBL13 FROM VBL1 WHERE VAK01 = " + key).AsCurrency(), Currency{c.Scaled});
    }
}
