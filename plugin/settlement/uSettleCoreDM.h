// The plug-in's settlement context: statements through CoreDM and ExecuteQuery (script
// logged, rolled back on error), the user context of QVUserInfo, and the plug-in's own
// message box. The settlement window keeps one and hands it to the settlement operations.
#pragma once

#include "uSettleContext.h"

class TQvSettleContext : public TSettleContext {
public:
    std::unique_ptr<TADOQuery> NewQuery() override;
    void ExecuteQuery(TADOQuery& AQuery, bool AOpen) override;
    TDateTime GetServerTime() override;
    std::string ParamExists(int32_t AParamNo) override;
    int32_t RateMode() override;
    void WriteOperInfo(TQVXMLDocument& ADocument) override;
    int32_t UserID() override;
    std::string UserName() override;
    std::string HostName() override;
    int ShowMsgBox(const std::string& AText, const std::string& ACaption, int AFlags) override;
    int ShowAppMsgBox(const std::string& AText, int AFlags) override;
};
