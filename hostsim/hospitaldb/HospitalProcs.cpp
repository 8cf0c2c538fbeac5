// The stored procedures of the hospital database stand-in.
//
// Each runs inside one savepoint opened by the front end: it checks everything it is
// given first, then writes; any error leaves nothing behind. Amounts are currency
// (1/10000 yuan) from the document text to the database, never floating sums.
#include "HospitalDb.h"

#include <pugixml.hpp>

#include <algorithm>
#include <set>

namespace {

std::string CurrText(Currency c) {
    return CurrToStrF(c, 2);
}

// ---------------------------------------------------------------------------------------
// Reading the charge document

// One element of the document with the name used in messages ("VAI第2条").
class TXmlRecord {
public:
    TXmlRecord(pugi::xml_node node, std::string where) : FNode(node), FWhere(std::move(where)) {}

    std::string Text(const char* attr) const { return FNode.attribute(attr).as_string(); }

    // A whole number; `required` refuses a missing or empty attribute.
    int64_t Int(const char* attr, bool required, int64_t def = 0) const {
        const std::string s = Trim(Text(attr));
        if (s.empty()) {
            if (required) HospitalFail("结算单据" + FWhere + "缺少" + attr + "。");
            return def;
        }
        int64_t v;
        if (!TryStrToInt64(s, v))
            HospitalFail("结算单据" + FWhere + "的" + attr + "“" + s + "”不是有效的整数。");
        return v;
    }

    // An amount in yuan as decimal text, read exactly to four decimals.
    Currency Money(const char* attr, bool required) const {
        const std::string s = Trim(Text(attr));
        if (s.empty()) {
            if (required) HospitalFail("结算单据" + FWhere + "缺少金额" + attr + "。");
            return {};
        }
        Currency c;
        if (!TryStrToCurr(s, c))
            HospitalFail("结算单据" + FWhere + "的金额" + attr + "“" + s + "”不是有效的金额。");
        return c;
    }

private:
    pugi::xml_node FNode;
    std::string FWhere;
};

std::vector<TXmlRecord> Records(pugi::xml_node root, const char* list) {
    std::vector<TXmlRecord> out;
    int n = 0;
    for (pugi::xml_node ie : root.child(list).children("Ie"))
        out.emplace_back(ie, std::string(list) + "第" + std::to_string(++n) + "条");
    return out;
}

// ---------------------------------------------------------------------------------------
// Settlement

struct TFeeRecord {
    int64_t VAI01;
};

struct TSettlement {
    int64_t VAK01 = 0;
    std::string VAK04;
};

int64_t QueryInt(sqlite3* db, const std::string& sql, std::initializer_list<Variant> args, bool& found) {
    TSqliteStmt st(db, sql);
    int i = 0;
    for (const Variant& a : args)
        st.Bind(++i, a);
    found = st.Step() && !st.IsNull(0);
    return found ? st.Int(0) : 0;
}

TSettlement Settle(TProcCall& call, const std::string& xml) {
    sqlite3* db = call.Db;
    if (Trim(xml).empty()) HospitalFail("结算单据为空。");
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_string(xml.c_str());
    if (!parsed)
        HospitalFail(std::string("结算单据不是有效的XML：") + parsed.description() + "(位置" +
                     std::to_string(parsed.offset) + ")。");
    const pugi::xml_node root = doc.child("Root");
    if (!root) HospitalFail("结算单据的根元素应为Root。");

    // Head.
    const auto heads = Records(root, "VAA");
    if (heads.empty()) HospitalFail("结算单据缺少结算信息(VAA)。");
    if (heads.size() > 1) HospitalFail("结算单据只能有一条结算信息(VAA)。");
    const TXmlRecord& head = heads.front();
    const int64_t vaa01 = head.Int("VAA01", true);
    const int64_t vac01 = head.Int("VAA07", true);
    const int64_t acf01 = head.Int("ACF01", true);
    const Currency vak07 = head.Money("VAK07", true);
    const Currency vak08 = head.Money("VAK08", false);
    const Currency vak09 = head.Money("VAK09", false);
    const Currency vak10 = head.Money("VAK10", false);
    if (vaa01 <= 0) HospitalFail("结算单据中的病人ID(VAA01)无效。");
    if (vac01 <= 0) HospitalFail("结算单据中的就诊ID(VAA07)无效。");
    if (acf01 <= 0) HospitalFail("结算单据中的服务对象(ACF01)无效。");
    if (vak07 < Currency{}) HospitalFail("结算金额(VAK07)不能为负数。");

    bool found = false;
    QueryInt(db, "SELECT VAA01 FROM VAA1 WHERE VAA01 = ?", {Variant(vaa01)}, found);
    if (!found) HospitalFail("病人(VAA01=" + IntToStr(vaa01) + ")不存在。");
    const int64_t owner = QueryInt(db, "SELECT VAA01 FROM VAC1 WHERE VAC01 = ?", {Variant(vac01)}, found);
    if (!found || owner != vaa01)
        HospitalFail("就诊记录(VAA07=" + IntToStr(vac01) + ")不存在或不属于病人" + IntToStr(vaa01) + "。");

    // Fee records: each belongs to the visit and is still pending.
    const auto fees = Records(root, "VAI");
    if (fees.empty()) HospitalFail("结算单据中没有费用记录(VAI)。");
    std::set<int64_t> feeIds;
    std::vector<int64_t> feeOrder;
    for (const TXmlRecord& r : fees) {
        const int64_t id = r.Int("VAI01", true);
        if (!feeIds.insert(id).second) HospitalFail("费用记录" + IntToStr(id) + "在结算单据中重复。");
        feeOrder.push_back(id);
        TSqliteStmt st(db, "SELECT VAC01, VAI10, VAK01 FROM VAI1 WHERE VAI01 = ?");
        st.Bind(1, Variant(id));
        if (!st.Step()) HospitalFail("费用记录" + IntToStr(id) + "不存在。");
        if (st.Int(0) != vac01)
            HospitalFail("费用记录" + IntToStr(id) + "不属于本次就诊(VAA07=" + IntToStr(vac01) + ")。");
        if (st.Int(1) != 0 || !st.IsNull(2))
            HospitalFail("费用记录" + IntToStr(id) + "已经结账(结算ID " + st.Text(2) + ")，不能重复结账。");
    }

    // The amount due is what the fee items of these records come to.
    Currency due;
    for (int64_t id : feeOrder) {
        TSqliteStmt st(db, "SELECT ifnull(sum(VAJ38), 0) FROM VAJ1 WHERE VAI01 = ?");
        st.Bind(1, Variant(id));
        st.Step();
        due += st.Money(0);
    }
    if (due != vak07)
        HospitalFail("结算金额(VAK07=" + CurrText(vak07) + ")与费用明细合计(" + CurrText(due) + ")不一致。");

    // Fee items named in the document belong to these records.
    for (const TXmlRecord& r : Records(root, "VAJ")) {
        const int64_t vaj01 = r.Int("VAJ01", false);
        if (vaj01 == 0) continue;
        const int64_t vai01 = QueryInt(db, "SELECT VAI01 FROM VAJ1 WHERE VAJ01 = ?", {Variant(vaj01)}, found);
        if (!found || !feeIds.count(vai01))
            HospitalFail("费用明细" + IntToStr(vaj01) + "不属于本次结算的费用记录。");
    }

    // Payments cover the amount due exactly.
    struct TPay {
        int64_t VBU01, FAF01;
        Currency Amount;
        std::string VBL14, VBL15, BAQ03, VBL11;
    };
    std::vector<TPay> pays;
    Currency paid;
    for (const TXmlRecord& r : Records(root, "VBL")) {
        TPay p{r.Int("VBU01", false), r.Int("FAF01", false), r.Money("VBL13", true), r.Text("VBL14"),
               r.Text("VBL15"),       r.Text("BAQ03"),       r.Text("VBL11")};
        if (p.Amount < Currency{}) HospitalFail("支付金额(VBL13)不能为负数。");
        paid += p.Amount;
        pays.push_back(std::move(p));
    }
    if (pays.empty()) HospitalFail("结算单据中没有支付记录(VBL)。");
    if (paid != vak07)
        HospitalFail("支付金额合计(" + CurrText(paid) + ")与结算金额(VAK07=" + CurrText(vak07) + ")不一致。");

    // Member card movements: the patient's active accounts, balance enough.
    struct TCard {
        int64_t VBU01, AMODE, VBU07;
        Currency Amount, VCA20;
        std::string BBP02, AAO01, VCB04;
    };
    std::vector<TCard> cards;
    std::map<int64_t, Currency> available;
    for (const TXmlRecord& r : Records(root, "VCA")) {
        TCard c{r.Int("VBU01", true),    r.Int("AMODE", true), r.Int("VBU07", false), r.Money("VCA10", true),
                r.Money("VCA20", false), r.Text("BBP02"),      r.Text("AAO01"),       r.Text("VCB04")};
        if (c.AMODE != 1) HospitalFail("不支持的会员卡操作方式(AMODE=" + IntToStr(c.AMODE) + ")。");
        if (c.Amount <= Currency{}) HospitalFail("会员卡扣费金额(VCA10)必须大于0。");
        if (!available.count(c.VBU01)) {
            TSqliteStmt st(db, "SELECT VAA01, VBU07, VBU14, VBU15 FROM VBU1 WHERE VBU01 = ?");
            st.Bind(1, Variant(c.VBU01));
            if (!st.Step()) HospitalFail("会员卡账户" + IntToStr(c.VBU01) + "不存在。");
            if (st.Int(0) != vaa01)
                HospitalFail("会员卡账户" + IntToStr(c.VBU01) + "不属于病人" + IntToStr(vaa01) + "。");
            if (st.Int(1) != 1) HospitalFail("会员卡账户" + IntToStr(c.VBU01) + "已停用。");
            available[c.VBU01] = st.Money(2) - st.Money(3);
        }
        Currency& avail = available[c.VBU01];
        if (avail < c.Amount)
            HospitalFail("会员卡账户" + IntToStr(c.VBU01) + "余额不足：可用余额" + CurrText(avail) +
                         "元，本次扣费" + CurrText(c.Amount) + "元。");
        avail -= c.Amount;
        cards.push_back(std::move(c));
    }

    // Insurance settlement links.
    std::vector<std::pair<std::string, int64_t>> links;
    for (const TXmlRecord& r : Records(root, "IAS")) {
        const std::string ias01 = Trim(r.Text("IAS01"));
        const int64_t vai01 = r.Int("VAI01", true);
        if (ias01.empty()) HospitalFail("医保结算记录(IAS01)不能为空。");
        if (!feeIds.count(vai01))
            HospitalFail("医保结算记录关联的费用记录" + IntToStr(vai01) + "不在本次结算中。");
        links.emplace_back(ias01, vai01);
    }

    const pugi::xml_node oper = root.child("OperInfo");
    if (!oper) HospitalFail("结算单据缺少操作员信息(OperInfo)。");
    const TXmlRecord op(oper, "OperInfo");

    // Writing.
    TSettlement out;
    {
        TSqliteStmt st(
            db, "INSERT INTO VAK1 (VAA01, VAC01, ACF01, BCK01A, VAK07, VAK08, VAK09, VAK10, WorkType, "
                "WorkFrom, WorkName, IsHyType, VAK13, BCE01, BCE02, BCE03, UserId, UserName, HostName, "
                "HostIp, FileVer) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        const int64_t bck01a = head.Int("BCK01A", false);
        st.Bind(1, Variant(vaa01))
            .Bind(2, Variant(vac01))
            .Bind(3, Variant(acf01))
            .Bind(4, bck01a ? Variant(bck01a) : Variant::Null())
            .Bind(5, Variant(vak07))
            .Bind(6, Variant(vak08))
            .Bind(7, Variant(vak09))
            .Bind(8, Variant(vak10))
            .Bind(9, Variant(head.Int("WorkType", false)))
            .Bind(10, Variant(head.Int("WorkFrom", false)))
            .Bind(11, Variant(head.Text("WorkName")))
            .Bind(12, Variant(head.Int("IsHyType", false)))
            .Bind(13, Variant(call.Now))
            .Bind(14, Variant(op.Int("EmpId", false)))
            .Bind(15, Variant(op.Text("EmpNo")))
            .Bind(16, Variant(op.Text("EmpName")))
            .Bind(17, Variant(op.Int("UserId", false)))
            .Bind(18, Variant(op.Text("UserName")))
            .Bind(19, Variant(op.Text("HostName")))
            .Bind(20, Variant(op.Text("HostIp")))
            .Bind(21, Variant(op.Text("FileVer")));
        st.Run();
        out.VAK01 = sqlite3_last_insert_rowid(db);
        // Settlement number: "MZ", the settlement date, the id in six digits.
        std::string date = call.Now.substr(0, 10);
        date.erase(std::remove(date.begin(), date.end(), '-'), date.end());
        std::string seq = IntToStr(out.VAK01);
        if (seq.size() < 6) seq.insert(0, 6 - seq.size(), '0');
        out.VAK04 = "MZ" + date + seq;
        TSqliteStmt up(db, "UPDATE VAK1 SET VAK04 = ? WHERE VAK01 = ?");
        up.Bind(1, Variant(out.VAK04)).Bind(2, Variant(out.VAK01)).Run();
    }
    for (const TPay& p : pays) {
        TSqliteStmt st(db, "INSERT INTO VBL1 (VAK01, VBU01, VBL13, VBL14, VBL15, FAF01, BAQ03, VBL11) "
                           "VALUES (?,?,?,?,?,?,?,?)");
        st.Bind(1, Variant(out.VAK01))
            .Bind(2, Variant(p.VBU01))
            .Bind(3, Variant(p.Amount))
            .Bind(4, Variant(p.VBL14))
            .Bind(5, Variant(p.VBL15))
            .Bind(6, Variant(p.FAF01))
            .Bind(7, Variant(p.BAQ03))
            .Bind(8, Variant(p.VBL11))
            .Run();
    }
    for (const TCard& c : cards) {
        TSqliteStmt bal(db, "SELECT VBU14 FROM VBU1 WHERE VBU01 = ?");
        bal.Bind(1, Variant(c.VBU01));
        bal.Step();
        const Currency before = bal.Money(0);
        const Currency after = before - c.Amount;
        TSqliteStmt up(db, "UPDATE VBU1 SET VBU14 = ? WHERE VBU01 = ?");
        up.Bind(1, Variant(after)).Bind(2, Variant(c.VBU01)).Run();
        TSqliteStmt st(
            db, "INSERT INTO VCA1 (VBU01, VAK01, VCA10, VCA20, AMODE, VBU07, BBP02, AAO01, VCB04, VCA11, "
                "VCA12, VCA13, BCE03) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)");
        st.Bind(1, Variant(c.VBU01))
            .Bind(2, Variant(out.VAK01))
            .Bind(3, Variant(c.Amount))
            .Bind(4, Variant(c.VCA20))
            .Bind(5, Variant(c.AMODE))
            .Bind(6, Variant(c.VBU07))
            .Bind(7, Variant(c.BBP02))
            .Bind(8, Variant(c.AAO01))
            .Bind(9, Variant(c.VCB04))
            .Bind(10, Variant(before))
            .Bind(11, Variant(after))
            .Bind(12, Variant(call.Now))
            .Bind(13, Variant(op.Text("EmpName")))
            .Run();
    }
    for (const auto& [ias01, vai01] : links) {
        TSqliteStmt st(db, "INSERT INTO VAKIAS (VAK01, IAS01, VAI01) VALUES (?,?,?)");
        st.Bind(1, Variant(out.VAK01)).Bind(2, Variant(ias01)).Bind(3, Variant(vai01)).Run();
    }
    for (int64_t id : feeOrder) {
        TSqliteStmt st(db,
                       "UPDATE VAI1 SET VAI10 = 1, VAK01 = ?, VAI26 = ? WHERE VAI01 = ? AND VAI10 = 0 AND "
                       "VAK01 IS NULL");
        st.Bind(1, Variant(out.VAK01)).Bind(2, Variant(call.Now)).Bind(3, Variant(id)).Run();
        if (sqlite3_changes(db) != 1) HospitalFail("费用记录" + IntToStr(id) + "已被其他操作结账。");
    }
    return out;
}

// QVRate_VAK1_Update @XML, @VAK01 OUT, @VAK04 OUT
void ProcVAK1Update(TProcCall& call) {
    const TSettlement s = Settle(call, call.Arg(0).AsString());
    call.SetOutput(1, Variant(static_cast<int>(s.VAK01)));
    call.SetOutput(2, Variant(s.VAK04));
}

// QVRate_DVAK01_Update @XML: one row with VAK01 and VAK04.
void ProcDVAK01Update(TProcCall& call) {
    const TSettlement s = Settle(call, call.Arg(0).AsString());
    auto rs = MakeCom<TAdoStaticRecordset>(std::vector<TAdoStaticRecordset::TColumn>{
        {"VAK01", adInteger, 0, adFldIsNullable}, {"VAK04", adVarWChar, 20, adFldIsNullable}});
    rs->AddRow({Variant(static_cast<int>(s.VAK01)), Variant(s.VAK04)});
    call.Result = rs;
}

// ---------------------------------------------------------------------------------------
// Member card balance

// QVRate_Card_Balance @VAA01, @VAA07, @VAJ38, @VBU14 OUT, @VBU15 OUT, @Rvalue OUT
// Rvalue: 0 the card can pay, 1 no active member card for the patient and visit,
// 2 the amount is not valid, 3 the balance is too low. VBU14 is the balance, VBU15 its
// frozen part.
void ProcCardBalance(TProcCall& call) {
    sqlite3* db = call.Db;
    const int64_t vaa01 = call.Arg(0).AsInt64();
    const int64_t vac01 = call.Arg(1).AsInt64();
    auto result = [&call](int r) { call.SetOutput(5, Variant(r)); };
    if (call.Arg(2).IsNullOrEmpty()) return result(2);
    Currency amount;
    try {
        amount = DoubleToCurr(call.Arg(2).AsFloat());
    } catch (const Exception&) {
        return result(2);
    }
    if (amount < Currency{}) return result(2);
    bool found = false;
    const int64_t owner = QueryInt(db, "SELECT VAA01 FROM VAC1 WHERE VAC01 = ?", {Variant(vac01)}, found);
    if (vac01 != 0 && (!found || owner != vaa01)) return result(1);
    TSqliteStmt st(
        db, "SELECT VBU14, VBU15 FROM VBU1 WHERE VAA01 = ? AND VBU03 = '2' AND VBU07 = 1 ORDER BY VBU01");
    st.Bind(1, Variant(vaa01));
    if (!st.Step()) return result(1);
    const Currency balance = st.Money(0), frozen = st.Money(1);
    call.SetOutput(3, Variant(balance));
    call.SetOutput(4, Variant(frozen));
    result(balance - frozen >= amount ? 0 : 3);
}

// ---------------------------------------------------------------------------------------
// Department material stock

// QVRate_Material_Deduct @VAC01, @VAA01, @Flag, @Kind, @UserID, @sVAI01, @UserName, @HostName
// Deducts the department stock of every material item of the listed (settled) fee
// records that was not deducted before; all or nothing.
void ProcMaterialDeduct(TProcCall& call) {
    sqlite3* db = call.Db;
    const int64_t vac01 = call.Arg(0).AsInt64();
    const int64_t vaa01 = call.Arg(1).AsInt64();
    const int64_t flag = call.Arg(2).AsInt64();
    const int64_t kind = call.Arg(3).AsInt64();
    if (flag != 1) HospitalFail("不支持的库存冲减方式(" + IntToStr(flag) + ")。");
    bool found = false;
    const int64_t owner = QueryInt(db, "SELECT VAA01 FROM VAC1 WHERE VAC01 = ?", {Variant(vac01)}, found);
    if (!found || owner != vaa01)
        HospitalFail("就诊记录(" + IntToStr(vac01) + ")不存在或不属于病人" + IntToStr(vaa01) + "。");

    std::vector<int64_t> ids;
    for (const std::string& part : SplitString(call.Arg(5).AsString(), ",")) {
        const std::string p = Trim(part);
        if (p.empty()) continue;
        int64_t id;
        if (!TryStrToInt64(p, id)) HospitalFail("费用记录列表中的“" + p + "”不是有效的费用记录ID。");
        ids.push_back(id);
    }
    if (ids.empty()) HospitalFail("没有需要冲减库存的费用记录。");
    for (int64_t id : ids) {
        TSqliteStmt st(db, "SELECT VAC01, VAI10 FROM VAI1 WHERE VAI01 = ?");
        st.Bind(1, Variant(id));
        if (!st.Step()) HospitalFail("费用记录" + IntToStr(id) + "不存在。");
        if (st.Int(0) != vac01) HospitalFail("费用记录" + IntToStr(id) + "不属于本次就诊。");
        if (st.Int(1) != 1) HospitalFail("费用记录" + IntToStr(id) + "尚未结账，不能冲减材料库存。");
    }
    for (int64_t id : ids) {
        TSqliteStmt items(db,
                          "SELECT j.VAJ01, j.DSK01, j.VAJ30, b.BBY05, d.DSK05 FROM VAJ1 j "
                          "JOIN DSK1 d ON d.DSK01 = j.DSK01 JOIN BBY1 b ON b.BBY01 = j.BBY01 "
                          "WHERE j.VAI01 = ? AND NOT EXISTS (SELECT 1 FROM DSK2 m WHERE m.VAJ01 = j.VAJ01) "
                          "ORDER BY j.ROWNR");
        items.Bind(1, Variant(id));
        while (items.Step()) {
            const int64_t vaj01 = items.Int(0), dsk01 = items.Int(1);
            const double qty = items.Float(2);
            TSqliteStmt stock(db, "SELECT DSK05 FROM DSK1 WHERE DSK01 = ?");
            stock.Bind(1, Variant(dsk01));
            stock.Step();
            const double onHand = stock.Float(0);
            if (onHand + 1e-9 < qty)
                HospitalFail("科室材料“" + items.Text(3) + "”库存不足：库存" + FloatToStr(onHand) + "，需要" +
                             FloatToStr(qty) + "。");
            TSqliteStmt up(db, "UPDATE DSK1 SET DSK05 = DSK05 - ? WHERE DSK01 = ?");
            up.Bind(1, Variant(qty)).Bind(2, Variant(dsk01)).Run();
            TSqliteStmt mv(db,
                           "INSERT INTO DSK2 (DSK01, VAJ01, VAI01, VAA01, VAC01, Kind, DSM05, DSM06, UserId, "
                           "UserName, HostName) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
            mv.Bind(1, Variant(dsk01))
                .Bind(2, Variant(vaj01))
                .Bind(3, Variant(id))
                .Bind(4, Variant(vaa01))
                .Bind(5, Variant(vac01))
                .Bind(6, Variant(kind))
                .Bind(7, Variant(qty))
                .Bind(8, Variant(call.Now))
                .Bind(9, call.Arg(4))
                .Bind(10, call.Arg(6))
                .Bind(11, call.Arg(7))
                .Run();
        }
    }
}

using P = TProcParam;
using T = TProcParamType;

const std::vector<TProcedure>& Procedures() {
    static const std::vector<TProcedure> procs = {
        {"QVRate_VAK1_Update",
         {P{"@XML", T::Text}, P{"@VAK01", T::Int, true}, P{"@VAK04", T::Text, true}},
         ProcVAK1Update},
        {"QVRate_DVAK01_Update", {P{"@XML", T::Text}}, ProcDVAK01Update},
        {"QVRate_Card_Balance",
         {P{"@VAA01", T::Int}, P{"@VAA07", T::Int}, P{"@VAJ38", T::Float}, P{"@VBU14", T::Money, true},
          P{"@VBU15", T::Money, true}, P{"@Rvalue", T::Int, true}},
         ProcCardBalance},
        {"QVRate_Material_Deduct",
         {P{"@VAC01", T::Int}, P{"@VAA01", T::Int}, P{"@Flag", T::Int}, P{"@Kind", T::Int},
          P{"@UserID", T::Int}, P{"@sVAI01", T::Text}, P{"@UserName", T::Text}, P{"@HostName", T::Text}},
         ProcMaterialDeduct},
    };
    return procs;
}

} // namespace

const TProcedure* FindProcedure(const std::string& name) {
    for (const TProcedure& p : Procedures())
        if (SameText(p.Name, name)) return &p;
    return nullptr;
}
