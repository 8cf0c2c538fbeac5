// The clinic-room settlement window (unit ClinicRateVAK).
//
// The clinic payment command opens it modally once per call. On its first show it
// enables the payment buttons that the site's payment-set script switches on, loads the
// patient's pending fees with their total, and the insurers and medical categories. Each
// payment path then runs inside RunPaymentPath, the frame they share, and ends the window
// with 1 (paid and settled) or 7 (the path failed); closing the window gives 2.
#pragma once

#include "CForms.h"
#include "QvText.h"
#include "kbmMemTable.h"
#include "uSettleLocal.h" // pay kinds, the local settlement

#include <cstdint>
#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;

class TFrmClinicRateVAK;


// One payment path as the frame needs it: its pay kind and its texts.
struct TPayPath {
    int32_t PayKind = 0;
    std::string ConfigMessage; // no payment method configured for the pay kind
    std::string LogLine;       // clinic log line, followed by the settlement id
    std::string NotSettled;    // paid, but the local settlement failed
    std::string Success;
    std::string Failure; // the device step did not succeed
};

// The configured paths' pay kinds, configuration messages and log lines.
const TPayPath& MemberCardPath();
const TPayPath& InsurancePath();
const TPayPath& BankPOSPath();
const TPayPath& WeChatPath();
const TPayPath& AlipayPath();

// The services the frame reaches in other units: the payment method lookup and the local
// settlement (settlement request), the receipts, the clinic log. An empty entry means the
// plug-in's own: the settlement unit over the data module for the payment method, the
// local settlement and the clinic log; no receipt is printed while no receipt service is
// installed. Tests put their own in.
struct TClinicPayServices {
    std::function<std::string(TFrmClinicRateVAK& AForm, int32_t APayKind)> GetPayMethod;
    std::function<int32_t(TFrmClinicRateVAK& AForm, int32_t APayKind, int32_t AFAF01,
                          const std::string& AInsuranceXML)>
        SettleLocal;
    std::function<void(TFrmClinicRateVAK& AForm, int32_t APayKind, int32_t AVAK01)> PrintSettlementReceipt;
    std::function<void(const std::string& AText)> WriteClinicLog;
};
extern TClinicPayServices ClinicPayServices;

// The fee-record key text must be a list of whole numbers separated by commas (blanks
// around them and one trailing comma allowed): it becomes part of the fee SQL. Raises
// "费用单据号无效：" followed by the text otherwise.
void CheckFeeRecordKeys(const std::string& ASVAI01);

class TFrmClinicRateVAK : public TDForm {
    Q_OBJECT
public:
    explicit TFrmClinicRateVAK(QWidget* AOwner = nullptr);
    ~TFrmClinicRateVAK() override;

    // Creates the window, shows it modally and frees it; the modal result (1 settled, 7 a
    // payment path failed, 2 closed).
    static int Execute(int32_t AACF01, int32_t ACommandNo, const std::string& ASVAI01);

    // "No" + visit id + local date and time "yyyymmddhhnnss".
    static std::string MakeBillNo(int32_t AVisitID);
    static std::string MakeBillNo(int32_t AVisitID, TDateTime ANow);
    // The value of the first line named AKey (any case) of a scan-pay reply; logged.
    static std::string ReadReplyValue(const WideString& AReply, const std::string& AKey);
    // An amount in yuan as a currency value (four decimals, nearest) and as the shortest
    // decimal text of it (device requests).
    static Currency MoneyToCurrency(double AMoney);
    static std::string MoneyText(double AMoney);

    void LoadInsurers();
    void LoadMedicalCategories(int32_t AInsurerID);

    // The frame of every payment path: acts only when the button is enabled and disables
    // it, checks that something is due and that a payment method is configured, runs the
    // device step, settles locally, prints, tells the user and sets the modal result (1
    // success, 7 otherwise). Errors of the checks are raised and leave the window open.
    void RunPaymentPath(QPushButton* AButton, const TPayPath& APath,
                        const std::function<bool()>& ADeviceStep);

    // Frame steps reached through ClinicPayServices.
    std::string GetPayMethod(int32_t APayKind);
    // AFAF01: the POS transaction key (bank card paths); AInsuranceXML: the insurance
    // component's answer (pay kind 1).
    int32_t SettleLocal(int32_t APayKind, int32_t AFAF01 = 0, const std::string& AInsuranceXML = {});
    // The window fields the local settlement reads.
    TSettleWindowData SettleData();
    void WriteClinicLog(const std::string& AText);
    void PrintSettlementReceipt(int32_t APayKind, int32_t AVAK01);

    // Controls (owned by the window; object names are the component names).
    QPushButton* btn_VBUPay;
    QPushButton* btn_ybkard;
    QPushButton* btn_posKard;
    QPushButton* btn_WeChat;
    QPushButton* btn_alipay;
    QLabel* cxLabel1;
    QComboBox* imgbox_iaa;
    QLabel* cxLabel2;
    QComboBox* imgbox_iai;
    QLabel* cxLabel3;
    QLabel* cxLabel4;
    QComboBox* ReportList;
    TkbmMemTable kbmVAI{"kbmVAI"};
    TkbmMemTable kbmIAA1{"kbmIAA1"};

    // Window state: set by Execute and the set-up, read by the payment paths.
    int32_t FACF01 = 0;
    int32_t FCommandNo = 0;
    std::string FSVAI01;
    double FTotalMoney = 0;
    int32_t FVAA01 = 0;
    int32_t FVAC01 = 0;
    std::string FVAA03;
    std::string FVAA05;
    int32_t FIAA01 = 0;
    int32_t FVBU01 = 0;
    std::string FPayMethodName;
    std::string FPayOrderNo;
    int32_t FSelfPayFlag = 0;
    double FYbMoney = 0;
    double FSelfMoney = 0;
    int32_t FSelfPayKind = 0;
    int32_t FSelfPayFAF01 = 0;
    std::string FSelfPayOrderNo;

public slots:
    void imgbox_iaaPropertiesEditValueChanged();

protected:
    void FirstShow() override;

private:
    // The host's numbered SQL; an error text returned in its place is raised.
    std::string CheckedSQL(int32_t AID) const;
    void ApplyPaymentSet();
    QPushButton* PathButton(int32_t AFid) const;
};
