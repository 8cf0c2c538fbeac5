#include "UQVChargeAdapter.h"

#include "uIApplication.h"
#include "uSettleXml.h"

#include <fstream>
#include <set>
#include <span>
#include <vector>

namespace {

enum class TColKind { Text, Int, Curr, Float, Const };

// One attribute of a charge document row: its name, the column it comes from and how
// the column is read. Const rows carry their fixed text instead of a column.
struct TColMap {
    const char* Attr;
    const char* Source;
    TColKind Kind;
};

// The fee records (host SQL 16663), in the order the procedure reads them.
constexpr TColMap kVAIColumns[] = {
    {"VAI00", "VAI04", TColKind::Text},    {"VAI01", "VAI01", TColKind::Int},
    {"BCK01B", "BCK01B", TColKind::Int},   {"BCE02A", "BCE02A", TColKind::Text},
    {"BCE03A", "BCE03A", TColKind::Text},  {"VAI04", "VAI04", TColKind::Text},
    {"VAI05", "VAI05", TColKind::Text},    {"OldMoney", "VAI22", TColKind::Curr},
    {"SumMoney", "VAI23", TColKind::Curr}, {"YbMoney", "YbMoney", TColKind::Curr},
    {"Enabled", "0", TColKind::Const},     {"VAI17", "1", TColKind::Const},
};

// The fee items (host SQL 16664).
constexpr TColMap kVAJColumns[] = {
    {"VAI00", "VAI04", TColKind::Text},   {"VAJ01", "VAJ01", TColKind::Int},
    {"ROWNR", "ROWNR", TColKind::Int},    {"VAI01", "VAI01", TColKind::Int},
    {"BDN01", "BDN01", TColKind::Text},   {"BBY01", "BBY01", TColKind::Int},
    {"VAJ22", "VAJ22", TColKind::Int},    {"VAJ23", "VAJ23", TColKind::Int},
    {"VAJ24", "VAJ24", TColKind::Curr},   {"VAJ25", "VAJ25", TColKind::Curr},
    {"VAJ26", "VAJ26", TColKind::Int},    {"VAJ27", "VAJ27", TColKind::Int},
    {"VAJ01A", "VAJ01A", TColKind::Int},  {"VAJ57", "VAJ57", TColKind::Text},
    {"VAF01", "VAF01", TColKind::Int},    {"BCK01D", "BCK01D", TColKind::Int},
    {"BCK01E", "BCK01E", TColKind::Int},  {"VAJ30", "VAJ30", TColKind::Float},
    {"VAJ31", "VAJ31", TColKind::Float},  {"VAJ59", "VAJ59", TColKind::Float},
    {"VAJ32", "VAJ32", TColKind::Float},  {"VAJ33", "VAJ33", TColKind::Float},
    {"VAJ67", "VAJ67", TColKind::Float},  {"VAJ34", "VAJ34", TColKind::Float},
    {"VAJ35", "VAJ35", TColKind::Text},   {"VAJ53", "VAJ53", TColKind::Int},
    {"VAJ36", "VAJ36", TColKind::Curr},   {"VAJ37", "VAJ37", TColKind::Curr},
    {"VAJ38", "VAJ38", TColKind::Curr},   {"VAJ61", "VAJ61", TColKind::Curr},
    {"IsBackFee", "1", TColKind::Const},  {"VAJ39", "0", TColKind::Const},
    {"BCK01C", "BCK01C", TColKind::Int},  {"BCE02B", "BCE02B", TColKind::Text},
    {"BCE03B", "BCE03B", TColKind::Text}, {"DSK01", "DSK01", TColKind::Int},
    {"VAJ54", "VAJ54", TColKind::Text},
};

// Payment rows, member-card movements and insurance links are copied from the request
// as text.
constexpr const char* kVBLAttrs[] = {"VBU01", "VBL13", "VBL14", "VBL15", "FAF01", "BAQ03", "VBL11"};
constexpr const char* kVCAAttrs[] = {"VBU01", "VBU07", "AMODE", "AAO01", "BBP02", "VCA10", "VCA20", "VCB04"};
constexpr const char* kIASAttrs[] = {"IAS01", "VAI01"};

void AddRow(TQVXMLDocument& ADoc, TQVXMLNode& AList, TDataSet& ARows, std::span<const TColMap> AColumns) {
    ComPtr<TQVXMLNode> ie = XmlAddChild(ADoc, AList, "Ie");
    for (const TColMap& col : AColumns) {
        if (col.Kind == TColKind::Const) {
            // Numeric constants are written as numbers, the text constant as text.
            if (std::string_view(col.Attr) == "VAJ39")
                XmlSetText(*ie, col.Attr, col.Source);
            else
                XmlSetInt(*ie, col.Attr, StrToInt(col.Source));
            continue;
        }
        const TField& field = ARows.FieldByName(col.Source);
        switch (col.Kind) {
        case TColKind::Text:
            XmlSetText(*ie, col.Attr, field.AsString());
            break;
        case TColKind::Int:
            XmlSetInt(*ie, col.Attr, field.IsNull() ? 0 : field.AsInteger());
            break;
        case TColKind::Curr:
            XmlSetCurr(*ie, col.Attr, field.IsNull() ? Currency{} : field.AsCurrency());
            break;
        case TColKind::Float:
            XmlSetFloat(*ie, col.Attr, field.IsNull() ? 0.0 : field.AsFloat());
            break;
        case TColKind::Const:
            break;
        }
    }
}

void CopyRows(TQVXMLDocument& ARequest, const std::string& AFrom, TQVXMLDocument& ADoc,
              const std::string& ATo, std::span<const char* const> AAttrs, bool AAlwaysCreate) {
    const auto rows = XmlSelectNodes(ARequest, AFrom);
    if (!rows && !AAlwaysCreate) return;
    ComPtr<TQVXMLNode> list = XmlForceNode(ADoc, ATo);
    if (!rows) return;
    for (const ComPtr<TQVXMLNode>& row : *rows) {
        ComPtr<TQVXMLNode> ie = XmlAddChild(ADoc, *list, "Ie");
        for (const char* name : AAttrs)
            XmlSetText(*ie, name, XmlAttr(*row, name));
    }
}

// An amount of the request: missing or empty reads as 0; any other text must be a number,
// so that a damaged request is refused rather than settled with a wrong amount.
bool ReadAmount(const std::string& AText, Currency& AValue) {
    const std::string text = Trim(AText);
    AValue = Currency{};
    if (text.empty()) return true;
    return TryStrToCurr(text, AValue);
}

int32_t HostParamInt(int32_t ASystemNo, int32_t AParamNo, int32_t AKind, int32_t AFlag) {
    if (!QvApp) return 0;
    return StrToIntDef(Trim(QvApp->GetSysParam(ASystemNo, AParamNo, AKind, AFlag)), 0);
}

ComPtr<TQVXMLDocument> NewDocument() {
    if (!QvApp) throw Exception("创建XML文档管理接口失败.");
    ComPtr<TQVXMLDocument> doc = QvApp->CreateXMLDocument();
    if (!doc) throw Exception("创建XML文档管理接口失败.");
    return doc;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Shared helpers

std::string SettleSQL(int32_t ANumber, std::initializer_list<TVarRec> AArgs) {
    if (!QvApp) throw Exception(Format("SQL脚本[%d]不存在。", {ANumber}));
    std::string sql = QvApp->FormatScript(ANumber, AArgs);
    if (sql.find("为空") != std::string::npos || sql.find("不存在") != std::string::npos)
        throw Exception(sql);
    return sql;
}

std::unique_ptr<TADOQuery> OpenSettleQuery(TSettleContext& AContext, const std::string& ASQL) {
    std::unique_ptr<TADOQuery> query = AContext.NewQuery();
    query->SQL().SetText(ASQL);
    AContext.ExecuteQuery(*query, true);
    return query;
}

std::string SettleWorkFolder() {
    if (!QvApp) return {};
    IQvPathInfo info;
    QvApp->GetPathInfo(info);
    return BstrToUtf8(info.WorkPath);
}

// ---------------------------------------------------------------------------------------
// TQVCharge

TQVCharge::TQVCharge(TSettleContext& AContext)
    : FContext(AContext), FProcMode(HostParamInt(100, 103010, 6, 1)),
      FOperatorEmpID(HostParamInt(9999, 9999, 98, 1)) {}

void TQVCharge::SetRequest(const std::string& AXML) {
    FRequestXML = AXML;
    FRequest = NewDocument();
    XmlLoad(*FRequest, AXML);

    if (const auto heads = XmlSelectNodes(*FRequest, "/Root/VAA1/Ie"); heads && !heads->empty()) {
        TQVXMLNode& head = *heads->front();
        FVAA01 = StrToIntDef(Trim(XmlAttr(head, "VAA01")), 0);
        FVAA07 = StrToIntDef(Trim(XmlAttr(head, "VAA07")), 0);
        FACF01 = StrToIntDef(Trim(XmlAttr(head, "ACF01")), 0);
        FAmountsValid =
            ReadAmount(XmlAttr(head, "VAK07"), FVAK07) & ReadAmount(XmlAttr(head, "VAK08"), FVAK08);
    }
    if (const auto fees = XmlSelectNodes(*FRequest, "/Root/VAI1/Ie")) {
        for (const ComPtr<TQVXMLNode>& fee : *fees) {
            const std::string key = XmlAttr(*fee, "VAI01");
            FSVAI01 += key + ",";
            FFeeKeys.push_back(key);
        }
    }
}

void TQVCharge::Validate() const {
    if (FVAA01 <= 0) throw Exception("病人ID不能为空。");
    if (FVAA07 <= 0) throw Exception("就诊ID不能为空。");
    if (FACF01 <= 0) throw Exception("服务对象不能为空。");
    // The fee-record list goes into the database's texts: only whole numbers pass.
    if (FFeeKeys.empty()) throw Exception("没有需要结算的收费记录。");
    for (const std::string& key : FFeeKeys) {
        int id = 0;
        if (!TryStrToInt(Trim(key), id) || id <= 0) throw Exception("收费记录ID无效：" + key);
    }
    if (!FAmountsValid) throw Exception("结算金额不是有效的数值。");
}

std::string TQVCharge::BuildChargeDocument() {
    ComPtr<TQVXMLDocument> doc = NewDocument();
    XmlNewDocument(*doc, "Root");

    // The settlement head.
    {
        ComPtr<TQVXMLNode> list = XmlForceNode(*doc, "/Root/VAA");
        ComPtr<TQVXMLNode> ie = XmlAddChild(*doc, *list, "Ie");
        XmlSetInt(*ie, "VAA01", FVAA01);
        XmlSetInt(*ie, "VAA07", FVAA07);
        XmlSetInt(*ie, "ACF01", FACF01);
        XmlSetCurr(*ie, "VAK07", FVAK07);
        XmlSetCurr(*ie, "VAK08", FVAK08);
        XmlSetCurr(*ie, "VAK09", FVAK08);
        XmlSetInt(*ie, "VAK10", 0);
        XmlSetInt(*ie, "WorkType", 4);
        XmlSetInt(*ie, "WorkFrom", 1);
        XmlSetText(*ie, "WorkName", "");
        XmlSetInt(*ie, "IsHyType", FContext.RateMode());
        std::unique_ptr<TADOQuery> rows = OpenSettleQuery(FContext, SettleSQL(16666, {FVAA01, FVAA07}));
        rows->First();
        if (!rows->Eof()) {
            const TField& field = rows->FieldByName("BCK01A");
            XmlSetInt(*ie, "BCK01A", field.IsNull() ? 0 : field.AsInteger());
        }
    }

    // Fee records and their items, loaded once for the whole list.
    {
        ComPtr<TQVXMLNode> vai = XmlForceNode(*doc, "/Root/VAI");
        ComPtr<TQVXMLNode> vaj = XmlForceNode(*doc, "/Root/VAJ");
        std::unique_ptr<TADOQuery> fees = OpenSettleQuery(FContext, SettleSQL(16663, {FSVAI01}));
        // Every fee record of the request must still be there to be settled.
        std::set<int32_t> found;
        for (fees->First(); !fees->Eof(); fees->Next()) {
            found.insert(fees->FieldByName("VAI01").AsInteger());
            AddRow(*doc, *vai, *fees, kVAIColumns);
        }
        for (const std::string& key : FFeeKeys)
            if (!found.contains(StrToInt(Trim(key))))
                throw Exception("收费记录不存在或已结算，不能结算：" + Trim(key));
        fees.reset();

        std::unique_ptr<TADOQuery> items = OpenSettleQuery(FContext, SettleSQL(16664, {FVAA07, FSVAI01}));
        for (items->First(); !items->Eof(); items->Next())
            AddRow(*doc, *vaj, *items, kVAJColumns);
    }

    CopyRows(*FRequest, "/Root/VBL1/Ie", *doc, "/Root/VBL", kVBLAttrs, true);
    CopyRows(*FRequest, "/Root/VCA/Ie", *doc, "/Root/VCA", kVCAAttrs, false);
    CopyRows(*FRequest, "/Root/RefundInfo/Ie", *doc, "/Root/IAS", kIASAttrs, false);

    FContext.WriteOperInfo(*doc);
    if (FOperatorEmpID > 0) {
        std::string number, name;
        std::unique_ptr<TADOQuery> emp = OpenSettleQuery(
            FContext, Format("select BCE02 , BCE03 from BCE1 where BCE01 = %d", {FOperatorEmpID}));
        emp->First();
        if (!emp->Eof()) {
            number = emp->FieldByName("BCE02").AsString();
            name = emp->FieldByName("BCE03").AsString();
        }
        const std::pair<const char*, std::string> overrides[] = {
            {"/Root/OperInfo/@EmpId", IntToStr(FOperatorEmpID)},
            {"/Root/OperInfo/@EmpNo", number},
            {"/Root/OperInfo/@EmpName", name},
        };
        for (const auto& [path, value] : overrides)
            if (ComPtr<TQVXMLNode> attr = XmlSelectNode(*doc, path)) XmlSetNodeText(*attr, value);
    }

    std::string xml = XmlRootText(*doc);
    XmlSave(*doc, SettleWorkFolder() + "ClinicRate.xml");
    return xml;
}

int32_t TQVCharge::SettleClinic(const std::string& AXML) {
    if (FProcMode != 0 && FProcMode != 1) return 0;
    std::unique_ptr<TADOQuery> query = FContext.NewQuery();
    if (FProcMode == 0) {
        query->SQL().SetText("Exec QVRate_VAK1_Update :XML,:VAK01 out,:VAK04 out");
        TParameter& xml = query->Parameters().ParamByName("XML");
        xml.SetDataType(ftWideMemo);
        xml.SetValue(Variant(AXML));
        FContext.ExecuteQuery(*query, false);
        const Variant vak01 = query->Parameters().ParamByName("VAK01").Value();
        return StrToInt(vak01.IsNullOrEmpty() ? std::string("0") : Trim(vak01.AsString()));
    }
    query->SQL().SetText("Exec QVRate_DVAK01_Update :XML ");
    TParameter& xml = query->Parameters().ParamByName("XML");
    xml.SetDataType(ftWideMemo);
    xml.SetValue(Variant(AXML));
    FContext.ExecuteQuery(*query, true);
    query->First();
    if (query->Eof()) throw Exception("结算过程没有返回结算ID。");
    return query->FieldByName("VAK01").AsInteger();
}

int32_t TQVCharge::Execute() {
    try {
        Validate();
        FChargeXML = BuildChargeDocument();
        return FACF01 == 1 ? SettleClinic(FChargeXML) : 0;
    } catch (const std::exception& e) {
        FContext.ShowMsgBox(e.what(), "提示", 16);
        return 0;
    }
}

// ---------------------------------------------------------------------------------------
// Clinic log

std::string ClinicLogFileName(const std::string& AFolder, TDateTime ADay) {
    return AFolder + "qvClinicLog" + FormatDateTime("yyyy-mm-dd", ADay) + ".log";
}

std::string ClinicLogLine(TDateTime ATime, const std::string& AText) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", ATime) + "--" + AText;
}

void WriteClinicLog(TSettleContext& AContext, const std::string& AText) {
    try {
        TDateTime now{};
        try {
            now = AContext.GetServerTime();
        } catch (...) {
            now = Now(); // keep the line: the local clock stands in for the server's
        }
        const std::string bytes = Utf8ToAnsi(ClinicLogLine(now, AText)) + "\r\n";
        std::ofstream out(ClinicLogFileName(SettleWorkFolder(), now), std::ios::binary | std::ios::app);
        if (!out) return;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    } catch (...) {
        // The audit trail never stops a payment.
    }
}
