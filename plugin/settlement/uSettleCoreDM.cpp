#include "uSettleCoreDM.h"

#include "CoreDataModule.h"
#include "uMsgBox.h"
#include "uQvRes.h"

namespace {

TCoreDM& DataModule() {
    if (!CoreDM) throw Exception("数据模块尚未创建，不能访问数据库。");
    return *CoreDM;
}

} // namespace

std::unique_ptr<TADOQuery> TQvSettleContext::NewQuery() {
    return DataModule().NewQuery(true);
}

void TQvSettleContext::ExecuteQuery(TADOQuery& AQuery, bool AOpen) {
    ::ExecuteQuery(AQuery, AOpen, 0, "", true, true, false);
}

TDateTime TQvSettleContext::GetServerTime() {
    return DataModule().GetServerTime();
}

std::string TQvSettleContext::ParamExists(int32_t AParamNo) {
    std::string result;
    DataModule().ParamExists(AParamNo, result);
    return result;
}

int32_t TQvSettleContext::RateMode() {
    return QVUserInfo::RateMode();
}

void TQvSettleContext::WriteOperInfo(TQVXMLDocument& ADocument) {
    ::WriteOperInfo(&ADocument);
}

int32_t TQvSettleContext::UserID() {
    return QVUserInfo::UserID();
}

std::string TQvSettleContext::UserName() {
    return QVUserInfo::UserName();
}

std::string TQvSettleContext::HostName() {
    return QVUserInfo::HostName();
}

int TQvSettleContext::ShowMsgBox(const std::string& AText, const std::string& ACaption, int AFlags) {
    return MsgBox(AText, ACaption, AFlags);
}

int TQvSettleContext::ShowAppMsgBox(const std::string& AText, int AFlags) {
    return AppMsgBox(AText, AFlags);
}
