// The charge adapter: turns a settlement request into the charge document of the
// hospital's settlement procedure, runs the procedure and answers the new settlement id
// VAK01. It shows its own errors and reports failure as 0.
//
// The same unit keeps the clinic log, the daily payment audit trail in the working folder.
#pragma once

#include "QvText.h"
#include "uSettleContext.h"

#include <cstdint>
#include <string>
#include <vector>

class TQVCharge {
public:
    // Reads the procedure mode (host parameter 100/103010/6/1) and the operator override
    // (host parameter 9999/9999/98/1); each is 0 when empty or not a number.
    explicit TQVCharge(TSettleContext& AContext);
    TQVCharge(const TQVCharge&) = delete;
    TQVCharge& operator=(const TQVCharge&) = delete;

    // Stores the request and reads its keys, amounts and fee-record list. Call once,
    // before Execute. Raises when the host document cannot be made or the text is not XML.
    void SetRequest(const std::string& AXML);
    // Validates, builds the charge document, runs the settlement procedure; VAK01 (at
    // least 1) or 0 on any failure, which has then been shown as "提示" with flags 16.
    int32_t Execute();

    int32_t VAA01() const { return FVAA01; }
    int32_t ACF01() const { return FACF01; }
    int32_t VAA07() const { return FVAA07; }
    const std::string& SVAI01() const { return FSVAI01; }
    int32_t ProcMode() const { return FProcMode; }
    const std::string& RequestXML() const { return FRequestXML; }
    Currency VAK07() const { return FVAK07; }
    Currency VAK08() const { return FVAK08; }
    int32_t OperatorEmpID() const { return FOperatorEmpID; }
    // The charge document text of the last Execute that got that far (empty before).
    const std::string& ChargeXML() const { return FChargeXML; }

private:
    void Validate() const;
    std::string BuildChargeDocument();
    int32_t SettleClinic(const std::string& AXML);

    TSettleContext& FContext;
    int32_t FVAA01 = 0;
    int32_t FACF01 = 0;
    int32_t FVAA07 = 0;
    std::string FSVAI01;
    int32_t FProcMode = 0;
    std::string FRequestXML;
    Currency FVAK07{};
    Currency FVAK08{};
    int32_t FOperatorEmpID = 0;
    std::string FChargeXML;
    ComPtr<TQVXMLDocument> FRequest;   // the parsed request
    std::vector<std::string> FFeeKeys; // the request's fee-record ids as written
    bool FAmountsValid = true;         // VAK07 and VAK08 were empty or numbers
};

// The clinic log file for a day: working folder + "qvClinicLog" + yyyy-mm-dd + ".log".
std::string ClinicLogFileName(const std::string& AFolder, TDateTime ADay);
// One line of the clinic log without its line end: "YYYY-MM-DD HH:NN:SS--" + text.
std::string ClinicLogLine(TDateTime ATime, const std::string& AText);

// Appends one line (GBK, CR LF) to the day's clinic log. The server clock is read once
// and gives both the file's day and the line's time, so a line never lands in another
// day's file; when the server clock cannot be read the local clock is used, so the line
// is kept. Never raises.
void WriteClinicLog(TSettleContext& AContext, const std::string& AText);
