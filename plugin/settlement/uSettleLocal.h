// The local settlement of the settlement window: the payment method lookup, the
// settlement request, the settlement through the charge adapter and the department
// material stock deduction that follows it.
//
// The window keeps its state in its own fields; these operations read what they need
// from a TSettleWindowData the window fills (or keeps) and take the window's context.
#pragma once

#include "uSettleContext.h"

#include <cstdint>
#include <string>

// The window fields the local settlement reads, as the payment paths leave them.
struct TSettleWindowData {
    int32_t FVAA01 = 0;          // patient id
    int32_t FVAC01 = 0;          // visit id (VAA07 of the request)
    int32_t FACF01 = 0;          // service object (1 = outpatient clinic)
    int32_t FVBU01 = 0;          // member card account, 0 when none
    std::string FSVAI01;         // fee-record key list the window was opened with
    std::string FVAA05;          // patient name
    double FTotalMoney = 0;      // total due
    double FYbMoney = 0;         // paid by insurance
    double FSelfMoney = 0;       // self-paid remainder after insurance
    int32_t FSelfPayFlag = 0;    // 1: the remainder was paid otherwise
    int32_t FSelfPayKind = 0;    // pay kind of the remainder, 2 to 5
    std::string FPayMethodName;  // payment method name of the main pay kind
    std::string FPayOrderNo;     // order number of a scan payment
    int32_t FSelfPayFAF01 = 0;   // POS transaction key of the remainder payment
    std::string FSelfPayOrderNo; // order number of the remainder payment
    TDataSet* kbmVAI = nullptr;  // the fee records being settled (column VAI01)
};

// Pay kinds and their settlement-type codes.
enum : int32_t {
    PayKindInsurance = 1,
    PayKindBankPOS = 2,
    PayKindWeChat = 3,
    PayKindAlipay = 4,
    PayKindMemberCard = 5,
};
// "03" insurance, "02" bank POS, "09" WeChat, "10" Alipay, "05" member card; "02" for
// any other kind.
std::string SettleTypeCode(int32_t APayKind);

// The payment method configured for a pay kind (host SQL 7522): its settlement-type code
// AAO01 when AColumn is 1, else its name BBP02; empty when none is configured.
std::string GetPayMethod(TSettleContext& AContext, int32_t APayKind, int32_t AColumn);

// The settlement request for a pay kind, saved as "诊间his结算传入值.XML" in the working
// folder; returns its XML text. AInsuranceXML (pay kind 1 only) must be XML. Raises on
// any failure; nothing is settled then.
std::string BuildSettleRequest(TSettleContext& AContext, const TSettleWindowData& AWindow, int32_t APayKind,
                               int32_t AFAF01, const std::string& AInsuranceXML);

// Builds and logs the request, settles it through TQVCharge and, when parameter 97 is set,
// deducts the department's material stock. Returns VAK01 (1 or more: settled; 0: failed,
// the reason already shown). Errors while building the request are raised.
int32_t SettleLocal(TSettleContext& AContext, TSettleWindowData& AWindow, int32_t APayKind, int32_t AFAF01,
                    const std::string& AInsuranceXML);

// Deducts the department's material stock for the settled fee records (host SQL 7427)
// behind the host's wait notice; a failure is shown with the patient's name and goes no
// further.
void DeductMaterialStock(TSettleContext& AContext, const std::string& ASVAI01,
                         const std::string& APatientName, int32_t AFlag, int32_t AVAA01, int32_t AVAC01);
