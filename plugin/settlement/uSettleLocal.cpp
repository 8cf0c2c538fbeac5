#include "uSettleLocal.h"

#include "UQVChargeAdapter.h"
#include "uIApplication.h"
#include "uSettleXml.h"

#include <optional>
#include <vector>

namespace {

// One member-card movement of the request.
void AddCardMovement(TSettleContext& AContext, TQVXMLDocument& ADoc, int32_t AVBU01, double AAmount,
                     int32_t APayKind) {
    ComPtr<TQVXMLNode> list = XmlForceNode(ADoc, "/Root/VCA");
    ComPtr<TQVXMLNode> ie = XmlAddChild(ADoc, *list, "Ie");
    XmlSetInt(*ie, "VBU01", AVBU01);
    XmlSetText(*ie, "VCB04", "");
    XmlSetFloat(*ie, "VCA10", AAmount);
    XmlSetInt(*ie, "VCA20", 0);
    XmlSetText(*ie, "BBP02", GetPayMethod(AContext, APayKind, 0));
    XmlSetText(*ie, "AAO01", GetPayMethod(AContext, APayKind, 1));
    XmlSetInt(*ie, "AMODE", 1);
    XmlSetInt(*ie, "VBU07", 1);
}

struct TPaymentRow {
    int32_t VBU01;
    double VBL13;
    std::string VBL14, VBL15;
    int32_t FAF01;
    std::string VBL11;
};

void AddPayment(TQVXMLDocument& ADoc, const TPaymentRow& ARow) {
    ComPtr<TQVXMLNode> list = XmlForceNode(ADoc, "/Root/VBL1");
    ComPtr<TQVXMLNode> ie = XmlAddChild(ADoc, *list, "Ie");
    XmlSetInt(*ie, "VBU01", ARow.VBU01);
    XmlSetFloat(*ie, "VBL13", ARow.VBL13);
    XmlSetText(*ie, "VBL14", ARow.VBL14);
    XmlSetText(*ie, "VBL15", ARow.VBL15);
    XmlSetInt(*ie, "FAF01", ARow.FAF01);
    XmlSetText(*ie, "BAQ03", "");
    XmlSetText(*ie, "VBL11", ARow.VBL11);
}

ComPtr<TQVXMLDocument> NewHostDocument() {
    ComPtr<TQVXMLDocument> doc = QvApp ? QvApp->CreateXMLDocument() : ComPtr<TQVXMLDocument>{};
    if (!doc) throw Exception("创建XML文档管理接口失败.");
    return doc;
}

// The insurance links (IAS01, VAI01) of the insurance component's answer.
std::vector<std::pair<std::string, std::string>> ReadInsurancePayInfo(const std::string& AXML) {
    ComPtr<TQVXMLDocument> doc = NewHostDocument();
    try {
        XmlLoad(*doc, AXML);
    } catch (const std::exception& e) {
        throw Exception(std::string("医保结算返回信息不是有效的XML，不能结算：") + e.what());
    }
    std::vector<std::pair<std::string, std::string>> links;
    if (const auto rows = XmlSelectNodes(*doc, "/Root/PayInfo/Ie"))
        for (const ComPtr<TQVXMLNode>& row : *rows)
            links.emplace_back(XmlAttr(*row, "IAS01"), XmlAttr(*row, "VAI01"));
    return links;
}

// Fee-record key lists go into the database's texts: digits, commas and blanks only.
bool IsKeyList(const std::string& AList) {
    return AList.find_first_not_of("0123456789, ") == std::string::npos;
}

} // namespace

std::string SettleTypeCode(int32_t APayKind) {
    switch (APayKind) {
    case PayKindInsurance:
        return "03";
    case PayKindWeChat:
        return "09";
    case PayKindAlipay:
        return "10";
    case PayKindMemberCard:
        return "05";
    default:
        return "02";
    }
}

std::string GetPayMethod(TSettleContext& AContext, int32_t APayKind, int32_t AColumn) {
    std::unique_ptr<TADOQuery> query = OpenSettleQuery(AContext, SettleSQL(7522, {APayKind}));
    query->First();
    if (query->Eof()) return {};
    return query->FieldByName(AColumn == 1 ? "AAO01" : "BBP02").AsString();
}

std::string BuildSettleRequest(TSettleContext& AContext, const TSettleWindowData& AWindow, int32_t APayKind,
                               int32_t AFAF01, const std::string& AInsuranceXML) {
    const bool insurance = APayKind == PayKindInsurance;
    const bool remainder = insurance && AWindow.FSelfPayFlag == 1;
    // Read the insurance answer first: a damaged one stops the settlement before anything
    // is written.
    std::optional<std::vector<std::pair<std::string, std::string>>> links;
    if (insurance) links = ReadInsurancePayInfo(AInsuranceXML);

    ComPtr<TQVXMLDocument> doc = NewHostDocument();
    XmlNewDocument(*doc, "Root");

    {
        ComPtr<TQVXMLNode> list = XmlForceNode(*doc, "/Root/VAA1");
        ComPtr<TQVXMLNode> ie = XmlAddChild(*doc, *list, "Ie");
        XmlSetInt(*ie, "VAA01", AWindow.FVAA01);
        XmlSetInt(*ie, "VAA07", AWindow.FVAC01);
        XmlSetInt(*ie, "ACF01", AWindow.FACF01);
        XmlSetFloat(*ie, "VAK07", AWindow.FTotalMoney);
        XmlSetFloat(*ie, "VAK08", insurance ? (remainder ? AWindow.FSelfMoney : 0.0) : AWindow.FTotalMoney);
    }
    {
        ComPtr<TQVXMLNode> list = XmlForceNode(*doc, "/Root/VAI1");
        if (AWindow.kbmVAI) {
            TDataSet& fees = *AWindow.kbmVAI;
            for (fees.First(); !fees.Eof(); fees.Next()) {
                ComPtr<TQVXMLNode> ie = XmlAddChild(*doc, *list, "Ie");
                XmlSetInt(*ie, "VAI01", fees.FieldByName("VAI01").AsInteger());
            }
        }
    }
    AddPayment(*doc, {APayKind == PayKindMemberCard ? AWindow.FVBU01 : 0,
                      remainder ? AWindow.FYbMoney : AWindow.FTotalMoney, AWindow.FPayMethodName,
                      SettleTypeCode(APayKind), AFAF01, AWindow.FPayOrderNo});
    if (APayKind == PayKindMemberCard)
        AddCardMovement(AContext, *doc, AWindow.FVBU01, AWindow.FTotalMoney, PayKindMemberCard);
    if (remainder) {
        AddPayment(*doc, {AWindow.FSelfPayKind == PayKindMemberCard ? AWindow.FVBU01 : 0, AWindow.FSelfMoney,
                          GetPayMethod(AContext, AWindow.FSelfPayKind, 0),
                          GetPayMethod(AContext, AWindow.FSelfPayKind, 1), AWindow.FSelfPayFAF01,
                          AWindow.FSelfPayOrderNo});
        if (AWindow.FSelfPayKind == PayKindMemberCard)
            AddCardMovement(AContext, *doc, AWindow.FVBU01, AWindow.FSelfMoney, AWindow.FSelfPayKind);
    }
    if (insurance) {
        ComPtr<TQVXMLNode> list = XmlForceNode(*doc, "/Root/RefundInfo");
        for (const auto& [ias01, vai01] : *links) {
            ComPtr<TQVXMLNode> ie = XmlAddChild(*doc, *list, "Ie");
            XmlSetText(*ie, "IAS01", ias01);
            XmlSetText(*ie, "VAI01", vai01);
        }
    }

    std::string xml = XmlRootText(*doc);
    XmlSave(*doc, SettleWorkFolder() + "诊间his结算传入值.XML");
    return xml;
}

int32_t SettleLocal(TSettleContext& AContext, TSettleWindowData& AWindow, int32_t APayKind, int32_t AFAF01,
                    const std::string& AInsuranceXML) {
    const std::string request = BuildSettleRequest(AContext, AWindow, APayKind, AFAF01, AInsuranceXML);
    WriteClinicLog(AContext, "诊间his结算传入xml==" + request);

    int32_t vak01 = 0;
    {
        TQVCharge charge(AContext);
        charge.SetRequest(request);
        vak01 = charge.Execute();
    }
    if (vak01 < 1) return vak01;

    // The settlement is made: nothing after it may turn it into a failure.
    bool deduct = false;
    try {
        deduct = AContext.ParamExists(97) == "1";
    } catch (const std::exception& e) {
        AContext.ShowAppMsgBox(
            "发送【" + AWindow.FVAA05 + "】医嘱，冲减材料库存出现错误，详细信息：" + e.what(), 0);
    }
    if (deduct)
        DeductMaterialStock(AContext, AWindow.FSVAI01, AWindow.FVAA05, 1, AWindow.FVAA01, AWindow.FVAC01);
    return vak01;
}

void DeductMaterialStock(TSettleContext& AContext, const std::string& ASVAI01,
                         const std::string& APatientName, int32_t AFlag, int32_t AVAA01, int32_t AVAC01) {
    if (Trim(ASVAI01).empty()) return;
    const std::string failure = "发送【" + APatientName + "】医嘱，冲减材料库存出现错误，详细信息：";
    if (!IsKeyList(ASVAI01)) {
        AContext.ShowAppMsgBox(failure + "收费记录ID无效：" + ASVAI01, 0);
        return;
    }
    // The wait notice is closed exactly once, before the message on failure.
    const auto endWait = [] {
        if (QvApp) QvApp->EndWait();
    };
    if (QvApp) QvApp->ShowWait("正在冲减当前科室材料库存......");
    try {
        // The script takes the visit first and the patient second.
        // The names stand inside quoted literals of the text: their quotes are doubled.
        const std::string userName = StringReplace(AContext.UserName(), "'", "''", true, false);
        const std::string hostName = StringReplace(AContext.HostName(), "'", "''", true, false);
        const std::string sql =
            SettleSQL(7427, {AVAC01, AVAA01, AFlag, 6, AContext.UserID(), ASVAI01, userName, hostName});
        std::unique_ptr<TADOQuery> query = AContext.NewQuery();
        query->SQL().SetText(sql);
        AContext.ExecuteQuery(*query, false);
    } catch (const std::exception& e) {
        endWait();
        AContext.ShowAppMsgBox(failure + e.what(), 0);
        return;
    }
    endWait();
}
