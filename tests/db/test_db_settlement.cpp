// The hospital database's settlement, card and stock procedures, and the host's
// numbered SQL texts written for it.
#include "DbTestUtil.h"

#include <fstream>
#include <sstream>

namespace {

// A charge document as the charge adapter builds it; the defaults settle patient 1's
// two fee records (105.50) by WeChat.
struct TChargeDoc {
    std::string VAA01 = "1", VAA07 = "1001", ACF01 = "1", VAK07 = "105.5", VAK08 = "105.5";
    std::vector<std::string> Fees = {"1023", "1024"};
    struct TPay {
        std::string VBU01 = "0", VBL13 = "105.5", VBL14 = "微信扫码", VBL15 = "09", VBL11 = "WX20240305001";
    };
    std::vector<TPay> Pays = {TPay{}};
    struct TCard {
        std::string VBU01 = "1", VCA10 = "105.5", AMODE = "1";
    };
    std::vector<TCard> Cards;
    std::vector<std::pair<std::string, std::string>> Links; // IAS01, VAI01
    bool Oper = true;

    std::string Xml() const {
        std::ostringstream x;
        x << "<Root><VAA><Ie VAA01=\"" << VAA01 << "\" VAA07=\"" << VAA07 << "\" ACF01=\"" << ACF01
          << "\" VAK07=\"" << VAK07 << "\" VAK08=\"" << VAK08 << "\" VAK09=\"" << VAK08
          << "\" VAK10=\"0\" WorkType=\"4\" WorkFrom=\"1\" WorkName=\"\" IsHyType=\"0\" "
             "BCK01A=\"101\"/></VAA><VAI>";
        for (const auto& f : Fees)
            x << "<Ie VAI01=\"" << f << "\" Enabled=\"0\" VAI17=\"1\"/>";
        x << "</VAI><VAJ/><VBL>";
        for (const auto& p : Pays)
            x << "<Ie VBU01=\"" << p.VBU01 << "\" VBL13=\"" << p.VBL13 << "\" VBL14=\"" << p.VBL14
              << "\" VBL15=\"" << p.VBL15 << "\" FAF01=\"0\" BAQ03=\"\" VBL11=\"" << p.VBL11 << "\"/>";
        x << "</VBL>";
        if (!Cards.empty()) {
            x << "<VCA>";
            for (const auto& c : Cards)
                x << "<Ie VBU01=\"" << c.VBU01 << "\" VBU07=\"1\" AMODE=\"" << c.AMODE
                  << "\" AAO01=\"05\" BBP02=\"会员卡\" VCA10=\"" << c.VCA10 << "\" VCA20=\"0\" VCB04=\"\"/>";
            x << "</VCA>";
        }
        if (!Links.empty()) {
            x << "<IAS>";
            for (const auto& [ias, vai] : Links)
                x << "<Ie IAS01=\"" << ias << "\" VAI01=\"" << vai << "\"/>";
            x << "</IAS>";
        }
        if (Oper)
            x << "<OperInfo UserId=\"7\" UserCode=\"u7\" UserName=\"门诊医生\" UserLoginDate=\"2024-03-05 "
                 "08:00:00\" "
                 "HostName=\"QV-CLINIC-01\" HostIp=\"127.0.0.1\" HostMac=\"00-16\" EmpId=\"1001\" "
                 "EmpNo=\"0101\" "
                 "EmpName=\"张明\" DeptId=\"101\" DeptNo=\"NK01\" DeptName=\"内科门诊\" "
                 "FileVer=\"8.0.1.33\"/>";
        x << "</Root>";
        return x.str();
    }
};

// Settles as the charge adapter does in procedure mode 0 (output parameter) or 1 (row).
int Settle(TADOConnection& c, const std::string& xml, int mode = 0) {
    if (mode == 0) {
        auto q = NewQuery(c, "Exec QVRate_VAK1_Update :XML,:VAK01 out,:VAK04 out");
        q->Parameters().ParamByName("XML").SetDataType(ftWideString);
        q->Parameters().ParamByName("XML").SetValue(Variant(xml));
        q->SetExecuteOptions({eoExecuteNoRecords});
        q->ExecSQL();
        const Variant v = q->Parameters().ParamByName("VAK01").Value();
        return v.IsNull() ? 0 : v.AsInteger();
    }
    auto q = NewQuery(c, "Exec QVRate_DVAK01_Update :XML ");
    q->Parameters().ParamByName("XML").SetValue(Variant(xml));
    q->Open();
    return q->FieldByName("VAK01").AsInteger();
}

// Everything a settlement may write, as one text.
std::string Snapshot(TADOConnection& c) {
    return Scalar(c, "SELECT (SELECT count(*) FROM VAK1) || '/' || (SELECT count(*) FROM VBL1) || '/' || "
                     "(SELECT count(*) FROM VCA1) || '/' || (SELECT count(*) FROM VAKIAS) || '/' || "
                     "(SELECT group_concat(VBU01 || ':' || VBU14) FROM VBU1) || '/' || "
                     "(SELECT group_concat(VAI01 || ':' || VAI10 || ':' || ifnull(VAK01, '-')) FROM VAI1) || "
                     "'/' || "
                     "ifnull((SELECT seq FROM sqlite_sequence WHERE name = 'VAK1'), 0)")
        .AsString();
}

TEST(Settlement, WritesHeadPaymentsAndMarksTheFeeRecordsSettled) {
    auto c = OpenHospital();
    auto q = NewQuery(*c, "Exec QVRate_VAK1_Update :XML,:VAK01 out,:VAK04 out");
    q->Parameters().ParamByName("XML").SetValue(Variant(TChargeDoc{}.Xml()));
    q->ExecSQL();
    EXPECT_EQ(q->Parameters().ParamByName("VAK01").Value(), Variant(1));
    EXPECT_EQ(q->Parameters().ParamByName("VAK04").Value(), Variant("MZ20240305000001"));

    auto head = NewQuery(*c, "SELECT * FROM VAK1");
    head->Open();
    ASSERT_EQ(head->RecordCount(), 1);
    EXPECT_EQ(head->FieldByName("VAA01").AsInteger(), 1);
    EXPECT_EQ(head->FieldByName("VAC01").AsInteger(), 1001);
    EXPECT_EQ(head->FieldByName("VAK07").AsCurrency(), Currency{1055000});
    EXPECT_EQ(head->FieldByName("VAK13").AsString(), "2024-03-05 08:09:10");
    EXPECT_EQ(head->FieldByName("BCE01").AsInteger(), 1001);
    EXPECT_EQ(head->FieldByName("BCE03").AsString(), "张明");
    EXPECT_EQ(head->FieldByName("UserName").AsString(), "门诊医生");

    auto pay = NewQuery(*c, "SELECT VAK01, VBL13, VBL14, VBL15, VBL11 FROM VBL1");
    pay->Open();
    ASSERT_EQ(pay->RecordCount(), 1);
    EXPECT_EQ(pay->FieldByName("VBL13").AsCurrency(), Currency{1055000});
    EXPECT_EQ(pay->FieldByName("VBL15").AsString(), "09");
    EXPECT_EQ(pay->FieldByName("VBL11").AsString(), "WX20240305001");

    EXPECT_EQ(
        Scalar(*c, "SELECT group_concat(VAI01 || ':' || VAI10 || ':' || VAK01) FROM VAI1 WHERE VAK01 = 1")
            .AsString(),
        "1023:1:1,1024:1:1");
    EXPECT_EQ(Count(*c, "VCA1"), 0);
}

TEST(Settlement, MemberCardPaymentLowersTheBalanceInTheSameSettlement) {
    auto c = OpenHospital();
    TChargeDoc doc;
    doc.Pays[0].VBU01 = "1";
    doc.Pays[0].VBL14 = "会员卡";
    doc.Pays[0].VBL15 = "05";
    doc.Cards = {TChargeDoc::TCard{}};
    EXPECT_EQ(Settle(*c, doc.Xml(), 1), 1);
    EXPECT_EQ(Scalar(*c, "SELECT VBU14 FROM VBU1 WHERE VBU01 = 1").AsCurrency(), Currency{3945000});
    auto mv = NewQuery(*c, "SELECT VAK01, VCA10, VCA11, VCA12, BBP02 FROM VCA1");
    mv->Open();
    ASSERT_EQ(mv->RecordCount(), 1);
    EXPECT_EQ(mv->FieldByName("VAK01").AsInteger(), 1);
    EXPECT_EQ(mv->FieldByName("VCA10").AsCurrency(), Currency{1055000});
    EXPECT_EQ(mv->FieldByName("VCA11").AsCurrency(), Currency{5000000});
    EXPECT_EQ(mv->FieldByName("VCA12").AsCurrency(), Currency{3945000});
}

TEST(Settlement, InsuranceLinksAndTwoPaymentRows) {
    auto c = OpenHospital();
    TChargeDoc doc;
    doc.VAK08 = "25.5";
    doc.Pays = {TChargeDoc::TPay{"0", "80", "医保结算", "03", ""},
                TChargeDoc::TPay{"0", "25.5", "微信扫码", "09", "WX9"}};
    doc.Links = {{"IAS-1", "1023"}, {"IAS-1", "1024"}};
    EXPECT_EQ(Settle(*c, doc.Xml()), 1);
    EXPECT_EQ(Count(*c, "VBL1"), 2);
    EXPECT_EQ(Scalar(*c, "SELECT group_concat(IAS01 || ':' || VAI01) FROM VAKIAS WHERE VAK01 = 1").AsString(),
              "IAS-1:1023,IAS-1:1024");
    EXPECT_EQ(Scalar(*c, "SELECT VAK08 FROM VAK1").AsCurrency(), Currency{255000});
}

TEST(Settlement, SecondSettlementOfTheSameFeeRecordsIsRefusedAndChangesNothing) {
    auto c = OpenHospital();
    ASSERT_EQ(Settle(*c, TChargeDoc{}.Xml()), 1);
    const std::string before = Snapshot(*c);
    EXPECT_EQ(RaisedMessage<Exception>([&] { Settle(*c, TChargeDoc{}.Xml()); }),
              "费用记录1023已经结账(结算ID 1)，不能重复结账。");
    TChargeDoc part;
    part.Fees = {"1024"};
    part.VAK07 = part.VAK08 = part.Pays[0].VBL13 = "80";
    EXPECT_EQ(RaisedMessage<Exception>([&] { Settle(*c, part.Xml(), 1); }),
              "费用记录1024已经结账(结算ID 1)，不能重复结账。");
    EXPECT_EQ(Snapshot(*c), before);
}

TEST(Settlement, FailingSettlementLeavesNoRowBehind) {
    struct Case {
        const char* name;
        std::function<void(TChargeDoc&)> change;
        std::string message;
    };
    auto patient2 = [](TChargeDoc& d) {
        d.VAA01 = "2";
        d.VAA07 = "1002";
        d.Fees = {"2001"};
        d.VAK07 = d.VAK08 = "35";
        d.Pays = {TChargeDoc::TPay{"2", "35", "会员卡", "05", ""}};
        d.Cards = {TChargeDoc::TCard{"2", "35"}};
    };
    const Case cases[] = {
        {"amount differs from the fee items", [](TChargeDoc& d) { d.VAK07 = d.Pays[0].VBL13 = "100"; },
         "结算金额(VAK07=100.00)与费用明细合计(105.50)不一致。"},
        {"payments do not cover the amount", [](TChargeDoc& d) { d.Pays[0].VBL13 = "100"; },
         "支付金额合计(100.00)与结算金额(VAK07=105.50)不一致。"},
        {"card balance too low", patient2, "会员卡账户2余额不足：可用余额10.00元，本次扣费35.00元。"},
        {"card of another patient", [](TChargeDoc& d) { d.Cards = {TChargeDoc::TCard{"2"}}; },
         "会员卡账户2不属于病人1。"},
        {"unknown fee record", [](TChargeDoc& d) { d.Fees = {"9999"}; }, "费用记录9999不存在。"},
        {"fee record of another visit",
         [](TChargeDoc& d) {
             d.Fees = {"1023", "2001"};
         },
         "费用记录2001不属于本次就诊(VAA07=1001)。"},
        {"repeated fee record",
         [](TChargeDoc& d) {
             d.Fees = {"1023", "1023"};
         },
         "费用记录1023在结算单据中重复。"},
        {"link to a record not settled here",
         [](TChargeDoc& d) {
             d.Links = {{"IAS-1", "2001"}};
         },
         "医保结算记录关联的费用记录2001不在本次结算中。"},
        {"no operator", [](TChargeDoc& d) { d.Oper = false; }, "结算单据缺少操作员信息(OperInfo)。"},
        {"amount is not a number", [](TChargeDoc& d) { d.VAK07 = "12,5"; },
         "结算单据VAA第1条的金额VAK07“12,5”不是有效的金额。"},
        {"no patient", [](TChargeDoc& d) { d.VAA01 = ""; }, "结算单据VAA第1条缺少VAA01。"},
        {"visit of another patient", [](TChargeDoc& d) { d.VAA07 = "1002"; },
         "就诊记录(VAA07=1002)不存在或不属于病人1。"},
        {"no payment row", [](TChargeDoc& d) { d.Pays.clear(); }, "结算单据中没有支付记录(VBL)。"},
    };
    auto c = OpenHospital();
    const std::string before = Snapshot(*c);
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        TChargeDoc doc;
        cs.change(doc);
        EXPECT_EQ(RaisedMessage<Exception>([&] { Settle(*c, doc.Xml()); }), cs.message);
        EXPECT_EQ(Snapshot(*c), before);
    }
    EXPECT_EQ(
        RaisedMessage<Exception>([&] { Settle(*c, "<Root><VAA>"); }).rfind("结算单据不是有效的XML：", 0), 0u);
    // Failed attempts use up no settlement id.
    EXPECT_EQ(Settle(*c, TChargeDoc{}.Xml()), 1);
}

TEST(Settlement, FailureAfterRowsWereWrittenUndoesThemAll) {
    auto c = OpenHospital();
    // The links are written last but one: make that write fail.
    c->Execute(
        "CREATE TRIGGER fail_links BEFORE INSERT ON VAKIAS BEGIN SELECT RAISE(ABORT, '关联写入失败'); END");
    const std::string before = Snapshot(*c);
    TChargeDoc doc;
    doc.Pays[0].VBU01 = "1";
    doc.Cards = {TChargeDoc::TCard{}};
    doc.Links = {{"IAS-7", "1023"}};
    EXPECT_EQ(RaisedMessage<Exception>([&] { Settle(*c, doc.Xml()); }), "数据库执行错误：关联写入失败");
    EXPECT_EQ(Snapshot(*c), before);
    EXPECT_EQ(Scalar(*c, "select @@TRANCOUNT").AsInteger(), 0);
}

TEST(Settlement, AmountsAreExactCurrencyFromTextToDatabase) {
    struct Case {
        std::string text;
        int64_t scaled;
    };
    const Case cases[] = {
        {FloatToStr(0.1 + 0.2), 3000}, // the host renders the double sum with 15 digits: 0.3
        {"0.30000000000000004", 3000}, // a longer rendering rounds to four decimals
        {"12.345", 123450},
        {"99999999.99", 999999999900},
        {"1.00005", 10001}, // the fifth decimal rounds half away from zero
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.text);
        auto c = OpenHospital();
        c->Execute("UPDATE VAJ1 SET VAJ38 = " + IntToStr(cs.scaled) + " WHERE VAJ01 = 30011");
        TChargeDoc doc;
        doc.VAA01 = "3";
        doc.VAA07 = "1003";
        doc.Fees = {"3001"};
        doc.VAK07 = doc.VAK08 = doc.Pays[0].VBL13 = cs.text;
        ASSERT_EQ(Settle(*c, doc.Xml()), 1);
        EXPECT_EQ(Scalar(*c, "SELECT VAK07 * 1 FROM VAK1").AsInt64(), cs.scaled);
        EXPECT_EQ(Scalar(*c, "SELECT VBL13 * 1 FROM VBL1").AsInt64(), cs.scaled);
        EXPECT_EQ(Scalar(*c, "SELECT typeof(VAK07) FROM VAK1").AsString(), "integer");
    }
}

// ---------------------------------------------------------------------------------------
// Host SQL texts

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::ostringstream b;
    b << in.rdbuf();
    return b.str();
}

std::string HostSql(const std::string& file) {
    return ReadText(TestSourceDir() + "/hostsim/hospitaldb/" + file);
}

TEST(HostSql, TextsRunWithTheirArgumentsAndGiveTheColumnsRead) {
    auto c = OpenHospital();
    ASSERT_EQ(Settle(*c, TChargeDoc{}.Xml()), 1); // for the texts about a settlement
    struct Case {
        const char* file;
        std::vector<TVarRec> args;
        std::vector<const char*> columns;
        int rows;
    };
    const Case cases[] = {
        {"sql/86.sql", {QuotedStr("QV.Clinical.PaymentSet.01")}, {"ID"}, 1},
        {"sql/1485.sql", {QuotedStr("QV.Clinical.mzyszfsyzdyxp.01")}, {"Name", "id", "xDefault"}, 1},
        {"sql/2251.sql", {}, {"IAA01", "IAA03", "ROWNR"}, 2},
        {"sql/7307.sql", {1, "'2'"}, {}, 1},
        {"sql/7307.sql", {3, "'2'"}, {}, 0},
        {"sql/7400.sql", {1, 1}, {"IAI03", "IAI04", "IsDef"}, 2},
        {"sql/7515.sql", {71}, {"BLP03", "BLP04", "BLP05"}, 1},
        {"sql/7515.sql", {12345}, {"BLP03", "BLP04", "BLP05"}, 0},
        {"sql/7521.sql",
         {1, "2001"},
         {"sumVAJ38", "VAA01", "VAC01", "VAA03", "VAA05", "IAA01", "VBU01", "VAC02", "BDP02", "BCK01",
          "BCK02", "BCK03", "BCE01", "BCE02", "BCE03", "VAI01", "fVAJ38"},
         1},
        {"sql/7521.sql", {1, "1023,1024"}, {"sumVAJ38"}, 0}, // settled: no longer pending
        {"sql/7522.sql", {3}, {"BBP02", "AAO01"}, 1},
        {"sql/7523.sql", {1}, {"sVAI01"}, 1},
        {"sql/7543.sql", {2, "1023,1024"}, {}, 1},
        {"sql/16663.sql",
         {"1023,1024,"},
         {"VAI04", "VAI01", "BCK01B", "BCE02A", "BCE03A", "VAI05", "VAI22", "VAI23", "YbMoney"},
         2},
        {"sql/16664.sql",
         {1001, "1023,1024,"},
         {"VAI04", "VAJ01", "ROWNR", "VAI01",  "BDN01",  "BBY01",  "VAJ22",  "VAJ23",  "VAJ24",
          "VAJ25", "VAJ26", "VAJ27", "VAJ01A", "VAJ57",  "VAF01",  "BCK01D", "BCK01E", "VAJ30",
          "VAJ31", "VAJ59", "VAJ32", "VAJ33",  "VAJ67",  "VAJ34",  "VAJ35",  "VAJ53",  "VAJ36",
          "VAJ37", "VAJ38", "VAJ61", "BCK01C", "BCE02B", "BCE03B", "DSK01",  "VAJ54"},
         5},
        {"sql/16666.sql", {1, 1001}, {"BCK01A"}, 1},
        {"scripts/5001.QV.Clinical.PaymentSet.01.sql", {10000028}, {"fid", "enabled"}, 5},
        {"scripts/5002.QV.Clinical.YS.ZJJSDY.01.sql", {1}, {"sValue"}, 1},
        {"scripts/6001.QV.Clinical.mzyszfsyzdyxp.01.sql", {"1023,1024"}, {"VAA05", "BBY05", "VAJ38"}, 5},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.file);
        auto q = NewQuery(*c, Format(HostSql(cs.file), std::span<const TVarRec>(cs.args)));
        q->Open();
        EXPECT_EQ(q->RecordCount(), cs.rows);
        for (const char* col : cs.columns)
            EXPECT_NE(q->FindField(col), nullptr) << col;
    }
    // The values the plug-in relies on.
    auto fees = NewQuery(*c, Format(HostSql("sql/7521.sql"), {1, "2001"}));
    fees->Open();
    EXPECT_DOUBLE_EQ(fees->FieldByName("sumVAJ38").AsFloat(), 35.0);
    EXPECT_EQ(fees->FieldByName("VBU01").AsInteger(), 2);
    EXPECT_EQ(fees->FieldByName("IAA01").AsInteger(), 1);
    EXPECT_EQ(Scalar(*c, Format(HostSql("sql/7523.sql"), {1})).AsString(), "1023,1024");
    EXPECT_EQ(Scalar(*c, Format(HostSql("sql/86.sql"), {QuotedStr("QV.Clinical.YS.ZJJSDY.01")})).AsInteger(),
              5002);
    EXPECT_EQ(Scalar(*c, Format(HostSql("scripts/5002.QV.Clinical.YS.ZJJSDY.01.sql"), {1})).AsString(),
              "MZ20240305000001|MZ000001|张三|105.50|2024-03-05 08:09:10");
}

// ---------------------------------------------------------------------------------------
// Stock deduction (host SQL text 7427)

std::string Deduction(const char* feeKeys) {
    return Format(HostSql("sql/7427.sql"), {1001, 1, 1, 6, 7, feeKeys, "门诊医生", "QV-CLINIC-01"});
}

TEST(StockDeduction, DeductsMaterialsOfSettledRecordsOnce) {
    auto c = OpenHospital();
    ASSERT_EQ(Settle(*c, TChargeDoc{}.Xml()), 1);
    for (int run = 0; run < 2; ++run) { // a second run finds nothing left to deduct
        auto q = NewQuery(*c, Deduction("1023,1024"));
        q->ExecSQL();
        EXPECT_DOUBLE_EQ(Scalar(*c, "SELECT DSK05 FROM DSK1 WHERE DSK01 = 1").AsFloat(), 98.0);
        EXPECT_EQ(Count(*c, "DSK2"), 1);
    }
    EXPECT_EQ(Scalar(*c, "SELECT UserName || '@' || HostName || '#' || Kind FROM DSK2").AsString(),
              "门诊医生@QV-CLINIC-01#6");
}

TEST(StockDeduction, RefusalsChangeNoStock) {
    struct Case {
        const char* name;
        bool settle;
        const char* setup;
        const char* keys;
        const char* message;
    };
    const Case cases[] = {
        {"not settled yet", false, "", "1023,1024", "费用记录1023尚未结账，不能冲减材料库存。"},
        {"stock too low", true, "UPDATE DSK1 SET DSK05 = 1 WHERE DSK01 = 1", "1023,1024",
         "科室材料“一次性注射器”库存不足：库存1，需要2。"},
        {"record of another visit", true, "", "1023,2001", "费用记录2001不属于本次就诊。"},
        {"not a record id", true, "", "1023,abc", "费用记录列表中的“abc”不是有效的费用记录ID。"},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        auto c = OpenHospital();
        if (cs.settle) {
            ASSERT_EQ(Settle(*c, TChargeDoc{}.Xml()), 1);
        }
        if (*cs.setup) c->Execute(cs.setup);
        const std::string stock = Scalar(*c, "SELECT group_concat(DSK05) FROM DSK1").AsString();
        auto q = NewQuery(*c, Deduction(cs.keys));
        EXPECT_EQ(RaisedMessage<Exception>([&] { q->ExecSQL(); }), cs.message);
        EXPECT_EQ(Scalar(*c, "SELECT group_concat(DSK05) FROM DSK1").AsString(), stock);
        EXPECT_EQ(Count(*c, "DSK2"), 0);
    }
}

} // namespace
