#include "ClinicRateVAK.h"

#include "QvDateTime.h"
#include "QvForms.h"
#include "uCoreDlg.h"
#include "uIApplication.h"
#include "UQVChargeAdapter.h"
#include "uSettleCoreDM.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <memory>
#include <regex>

TClinicPayServices ClinicPayServices;

namespace {

const char* const PaymentSetCode = "QV.Clinical.PaymentSet.01";

QString Q(const std::string& AText) {
    return QString::fromStdString(AText);
}

QFont ButtonFont() {
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(27);
    font.setBold(true);
    return font;
}

QFont LabelFont() {
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(15);
    font.setBold(true);
    return font;
}

// Selects the item whose value is AValue; no item matches: nothing is selected. No change
// handler runs (the set-up loads what depends on the selection itself).
void SelectValue(QComboBox& ABox, const std::string& AValue) {
    const QSignalBlocker blocker(&ABox);
    ABox.setCurrentIndex(ABox.findData(Q(AValue)));
}

} // namespace

const TPayPath& MemberCardPath() {
    static const TPayPath path{PayKindMemberCard,
                               "请设置会员支付的支付方式应用于门诊结帐.",
                               "诊间会员支付本地his结算返回vak01值==",
                               {},
                               {},
                               {}};
    return path;
}
const TPayPath& InsurancePath() {
    static const TPayPath path{
        PayKindInsurance, "请设置医保结算类型的支付方式应用于门诊结帐.", {}, {}, {}, {}};
    return path;
}
const TPayPath& BankPOSPath() {
    static const TPayPath path{PayKindBankPOS,
                               "请设置托收类型的支付方式应用于门诊结帐.",
                               "诊间银行pos本地his结算返回vak01值==",
                               {},
                               {},
                               {}};
    return path;
}
const TPayPath& WeChatPath() {
    static const TPayPath path{PayKindWeChat,
                               "请设置微信扫码支付的支付方式应用于门诊结帐.",
                               "诊间微信扫码支付本地his结算返回vak01值==",
                               {},
                               {},
                               {}};
    return path;
}
const TPayPath& AlipayPath() {
    static const TPayPath path{PayKindAlipay,
                               "请设置支付宝扫码支付的支付方式应用于门诊结帐.",
                               "诊间支付宝扫码支付本地his结算返回vak01值==",
                               {},
                               {},
                               {}};
    return path;
}

void CheckFeeRecordKeys(const std::string& ASVAI01) {
    // Whole numbers, commas between them, blanks around them, at most one trailing comma.
    static const std::regex keys(R"(^[ \t]*[0-9]+[ \t]*(,[ \t]*[0-9]+[ \t]*)*(,[ \t]*)?$)");
    if (!std::regex_match(ASVAI01, keys)) throw Exception("费用单据号无效：" + ASVAI01);
}

// ---------------------------------------------------------------------------------------

TFrmClinicRateVAK::TFrmClinicRateVAK(QWidget* AOwner) : TDForm(AOwner) {
    setObjectName(QStringLiteral("FrmClinicRateVAK"));
    SetCaption("诊间结算");
    SetBorderStyle(TFormBorderStyle::Sizeable);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);

    auto button = [this](const char* AName, int ATop, const char* ACaption, QStyle::StandardPixmap APicture) {
        auto* b = new QPushButton(Q(ACaption), this);
        b->setObjectName(QString::fromLatin1(AName));
        b->setGeometry(12, ATop, 248, 55);
        b->setFont(ButtonFont());
        b->setIcon(style()->standardIcon(APicture));
        b->setIconSize(QSize(32, 32));
        b->setAutoDefault(false);
        return b;
    };
    btn_VBUPay = button("btn_VBUPay", 22, "会员卡支付结算", QStyle::SP_DriveHDIcon);
    btn_ybkard = button("btn_ybkard", 95, "刷医保卡结算", QStyle::SP_FileDialogInfoView);
    btn_posKard = button("btn_posKard", 168, "刷银行POS结算", QStyle::SP_ComputerIcon);
    btn_WeChat = button("btn_WeChat", 241, "微信支付结算", QStyle::SP_DialogApplyButton);
    btn_alipay = button("btn_alipay", 313, "支付宝支付结算", QStyle::SP_DialogOkButton);

    auto label = [this](const char* AName, int ALeft, int ATop, const char* ACaption) {
        auto* l = new QLabel(Q(ACaption), this);
        l->setObjectName(QString::fromLatin1(AName));
        l->setFont(LabelFont());
        l->move(ALeft, ATop);
        l->adjustSize();
        return l;
    };
    auto dropDown = [this](const char* AName, int ALeft, int ATop, int AWidth) {
        auto* c = new QComboBox(this);
        c->setObjectName(QString::fromLatin1(AName));
        c->setEditable(false);
        c->setGeometry(ALeft, ATop, AWidth, c->sizeHint().height());
        return c;
    };
    cxLabel1 = label("cxLabel1", 274, 101, "选择保险机构");
    imgbox_iaa = dropDown("imgbox_iaa", 276, 123, 299);
    cxLabel2 = label("cxLabel2", 274, 150, "选择医疗类别");
    imgbox_iai = dropDown("imgbox_iai", 276, 175, 299);
    cxLabel3 = label("cxLabel3", 276, 206,
                     "说明：1、若是刷医保卡结算，则先选择保险机构和医疗类别,然后点“刷医保卡结算”按钮。");
    cxLabel4 = label("cxLabel4", 276, 267, "    2、若是用银行POS结算，则直接点击“刷银行POS结算”即可。");
    for (QLabel* l : {cxLabel3, cxLabel4}) {
        l->setWordWrap(true);
        l->setStyleSheet(QStringLiteral("color: navy;"));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    cxLabel3->setGeometry(276, 206, 310, 56);
    cxLabel4->setGeometry(276, 267, 310, 48);
    ReportList = dropDown("ReportList", 389, 348, 52);
    ReportList->hide();

    // Tab order by the controls' tab order numbers.
    QWidget* const order[] = {btn_ybkard, btn_posKard, imgbox_iaa, imgbox_iai,
                              btn_WeChat, btn_alipay,  ReportList, btn_VBUPay};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    // A change of the insurer by the user loads its medical categories.
    connect(imgbox_iaa, &QComboBox::currentIndexChanged, this,
            [this] { GuardedHandler([this] { imgbox_iaaPropertiesEditValueChanged(); }); });

    SetClientSize(609, 389);
    const QRect area = ScreenWorkArea();
    move(area.center() - rect().center());
    AfterConstruction();
}

TFrmClinicRateVAK::~TFrmClinicRateVAK() = default;

int TFrmClinicRateVAK::Execute(int32_t AACF01, int32_t ACommandNo, const std::string& ASVAI01) {
    auto form = std::make_unique<TFrmClinicRateVAK>(Application->OwnerWidget());
    form->FACF01 = AACF01;
    form->FCommandNo = ACommandNo;
    form->FSVAI01 = ASVAI01;
    return form->ShowModal();
}

std::string TFrmClinicRateVAK::CheckedSQL(int32_t AID) const {
    std::string sql = GetSQL(AID);
    // The SQL library answers a missing or empty text with its message instead.
    if (sql.find("为空") != std::string::npos || sql.find("不存在") != std::string::npos)
        throw Exception(sql);
    return sql;
}

QPushButton* TFrmClinicRateVAK::PathButton(int32_t AFid) const {
    switch (AFid) {
    case 1:
        return btn_VBUPay;
    case 2:
        return btn_ybkard;
    case 3:
        return btn_posKard;
    case 4:
        return btn_WeChat;
    case 5:
        return btn_alipay;
    default:
        return nullptr;
    }
}

void TFrmClinicRateVAK::ApplyPaymentSet() {
    std::string sql;
    Report_Query::Run(QvApp ? QvApp->GetProgramID(PaymentSetCode) : 0, false, false, {}, sql);
    if (Trim(sql).empty())
        throw Exception("请先进行诊间支付场合支付方式设置(" + std::string(PaymentSetCode) + ").");
    TkbmMemTable rows("PaymentSet");
    OpenSQLToTable(Format(sql, {FCommandNo}), rows);
    // Rows apply in order: a later row for the same path wins.
    for (rows.First(); !rows.Eof(); rows.Next())
        if (QPushButton* b = PathButton(rows.FieldByName("fid").AsInteger()))
            b->setEnabled(rows.FieldByName("enabled").AsInteger() == 1);
}

void TFrmClinicRateVAK::FirstShow() {
    for (int fid = 1; fid <= 5; ++fid)
        PathButton(fid)->setEnabled(false);
    // The key text goes into the fee SQL: nothing runs unless it is a plain list of ids.
    CheckFeeRecordKeys(FSVAI01);
    ApplyPaymentSet();

    FSelfPayFlag = 0;
    FIAA01 = 0;
    FPayOrderNo.clear();
    FSelfPayOrderNo.clear();

    LoadInsurers();

    OpenSQLToTable(Format(CheckedSQL(7521), {FACF01, FSVAI01}), kbmVAI);
    if (kbmVAI.Active() && !kbmVAI.IsEmpty()) {
        kbmVAI.First();
        FTotalMoney = kbmVAI.FieldByName("sumVAJ38").AsFloat();
        FVAA01 = kbmVAI.FieldByName("VAA01").AsInteger();
        FVAC01 = kbmVAI.FieldByName("VAC01").AsInteger();
        FVAA03 = kbmVAI.FieldByName("VAA03").AsString();
        FVAA05 = kbmVAI.FieldByName("VAA05").AsString();
        FIAA01 = kbmVAI.FieldByName("IAA01").AsInteger();
        FVBU01 = kbmVAI.FieldByName("VBU01").AsInteger();
    } else {
        FTotalMoney = 0;
    }

    if (FIAA01 > 0) SelectValue(*imgbox_iaa, std::to_string(FIAA01));
    if (!Trim(imgbox_iaa->currentText().toStdString()).empty())
        LoadMedicalCategories(StrToIntDef(imgbox_iaa->currentData().toString().toStdString(), 0));
}

void TFrmClinicRateVAK::LoadInsurers() {
    const std::string sql = CheckedSQL(2251);
    LoadDropDown(imgbox_iaa, sql, "IAA01", "IAA03");
    OpenSQLToTable(sql, kbmIAA1);
    if (kbmIAA1.Active() && !kbmIAA1.IsEmpty()) {
        kbmIAA1.SortOn("ROWNR");
        kbmIAA1.First();
        if (kbmIAA1.FieldByName("ROWNR").AsInteger() > 0)
            SelectValue(*imgbox_iaa, kbmIAA1.FieldByName("IAA01").AsString());
    }
}

void TFrmClinicRateVAK::LoadMedicalCategories(int32_t AInsurerID) {
    const std::string sql = Format(CheckedSQL(7400), {FACF01, AInsurerID});
    LoadDropDown(imgbox_iai, sql, "IAI03", "IAI04");
    OpenSQLToTable(sql, kbmIAA1);
    if (!kbmIAA1.Active() || kbmIAA1.IsEmpty()) return;
    std::string code;
    for (kbmIAA1.First(); !kbmIAA1.Eof(); kbmIAA1.Next())
        if (kbmIAA1.FieldByName("IsDef").AsInteger() == 1) {
            code = kbmIAA1.FieldByName("IAI03").AsString();
            break;
        }
    if (kbmIAA1.Eof()) {
        kbmIAA1.First();
        code = kbmIAA1.FieldByName("IAI03").AsString();
    }
    SelectValue(*imgbox_iai, code);
}

void TFrmClinicRateVAK::imgbox_iaaPropertiesEditValueChanged() {
    LoadMedicalCategories(StrToIntDef(imgbox_iaa->currentData().toString().toStdString(), 0));
}

// ---------------------------------------------------------------------------------------

std::string TFrmClinicRateVAK::MakeBillNo(int32_t AVisitID) {
    return MakeBillNo(AVisitID, Now());
}

std::string TFrmClinicRateVAK::MakeBillNo(int32_t AVisitID, TDateTime ANow) {
    return "No" + std::to_string(AVisitID) + FormatDateTime("yyyymmddhhnnss", ANow);
}

std::string TFrmClinicRateVAK::ReadReplyValue(const WideString& AReply, const std::string& AKey) {
    const std::string value = TStringList(AReply.str()).Values(AKey);
    if (QvApp) QvApp->WriteLog(0, "诊间支付", "0", "支付宝或微信返回支付单号：" + value);
    return value;
}

Currency TFrmClinicRateVAK::MoneyToCurrency(double AMoney) {
    return DoubleToCurr(AMoney);
}

std::string TFrmClinicRateVAK::MoneyText(double AMoney) {
    return CurrToStr(MoneyToCurrency(AMoney));
}

// ---------------------------------------------------------------------------------------

std::string TFrmClinicRateVAK::GetPayMethod(int32_t APayKind) {
    if (ClinicPayServices.GetPayMethod) return ClinicPayServices.GetPayMethod(*this, APayKind);
    TQvSettleContext context;
    return ::GetPayMethod(context, APayKind, 0);
}

TSettleWindowData TFrmClinicRateVAK::SettleData() {
    TSettleWindowData data;
    data.FVAA01 = FVAA01;
    data.FVAC01 = FVAC01;
    data.FACF01 = FACF01;
    data.FVBU01 = FVBU01;
    data.FSVAI01 = FSVAI01;
    data.FVAA05 = FVAA05;
    data.FTotalMoney = FTotalMoney;
    data.FYbMoney = FYbMoney;
    data.FSelfMoney = FSelfMoney;
    data.FSelfPayFlag = FSelfPayFlag;
    data.FSelfPayKind = FSelfPayKind;
    data.FPayMethodName = FPayMethodName;
    data.FPayOrderNo = FPayOrderNo;
    data.FSelfPayFAF01 = FSelfPayFAF01;
    data.FSelfPayOrderNo = FSelfPayOrderNo;
    data.kbmVAI = &kbmVAI;
    return data;
}

int32_t TFrmClinicRateVAK::SettleLocal(int32_t APayKind, int32_t AFAF01, const std::string& AInsuranceXML) {
    if (ClinicPayServices.SettleLocal) return ClinicPayServices.SettleLocal(*this, APayKind, AFAF01, AInsuranceXML);
    TQvSettleContext context;
    TSettleWindowData data = SettleData();
    return ::SettleLocal(context, data, APayKind, AFAF01, AInsuranceXML);
}

void TFrmClinicRateVAK::PrintSettlementReceipt(int32_t APayKind, int32_t AVAK01) {
    if (ClinicPayServices.PrintSettlementReceipt) ClinicPayServices.PrintSettlementReceipt(*this, APayKind, AVAK01);
}

void TFrmClinicRateVAK::WriteClinicLog(const std::string& AText) {
    if (ClinicPayServices.WriteClinicLog) return ClinicPayServices.WriteClinicLog(AText);
    TQvSettleContext context;
    ::WriteClinicLog(context, AText);
}

void TFrmClinicRateVAK::RunPaymentPath(QPushButton* AButton, const TPayPath& APath,
                                       const std::function<bool()>& ADeviceStep) {
    if (!AButton || !AButton->isEnabled()) return;
    AButton->setEnabled(false);
    if (FTotalMoney <= 0.000001) throw Exception("没有需要结账的费用，请返回。");
    FPayMethodName = GetPayMethod(APath.PayKind);
    if (Trim(FPayMethodName).empty()) throw Exception(APath.ConfigMessage);

    bool success = false;
    if (ADeviceStep()) {
        const int32_t vak01 = SettleLocal(APath.PayKind);
        WriteClinicLog(APath.LogLine + std::to_string(vak01));
        if (vak01 < 1) {
            ShowMessage(APath.NotSettled);
        } else {
            PrintSettlementReceipt(APath.PayKind, vak01);
            ShowMessage(APath.Success);
            success = true;
        }
    } else {
        ShowMessage(APath.Failure);
    }
    SetModalResult(success ? mrOk : mrNo);
}
