#include "uCoreDlg.h"

#include "CoreDataModule.h"
#include "uIApplication.h"

#include <QComboBox>
#include <QSignalBlocker>

TQvOpenSQLProc QvOpenSQLProc;

std::unique_ptr<TPrintPackage> PrintPackage;
std::unique_ptr<TQVDataPicker> DataPicker;
std::unique_ptr<TQVPrivileges> Privileges;

namespace {

const char* const PrintFailed = "打印接口Qv.Print访问失败.";

// Keeps a combo box from repainting and signalling while its items are rebuilt; the
// bracket ends also when an error passes through.
class TItemsUpdate {
public:
    explicit TItemsUpdate(QComboBox& ABox) : FBox(ABox), FBlocker(&ABox) { FBox.setUpdatesEnabled(false); }
    ~TItemsUpdate() { FBox.setUpdatesEnabled(true); }

private:
    QComboBox& FBox;
    QSignalBlocker FBlocker;
};

} // namespace

void OpenSQLToTable(const std::string& ASQL, TkbmMemTable& ATable, bool ALogged) {
    if (QvOpenSQLProc) return QvOpenSQLProc(ASQL, ATable, ALogged);
    if (!CoreDM) throw Exception("数据库连接不可用。");
    // A new query without parameter checking; logged: through the data module's runner
    // (script logged, rollback on error), otherwise opened directly.
    std::unique_ptr<TADOQuery> query = CoreDM->NewQuery(false);
    query->SQL().SetText(ASQL);
    if (ALogged) ExecuteQuery(*query, true, 0, "", true, true, false);
    else query->Open();
    ATable.LoadFromDataSet(*query, {.Structure = true, .IgnoreErrors = true});
    query->Close();
}

ComPtr<IQVExtention> GetLibraryComponent(const std::string& AName, std::string& AMessage) {
    AMessage.clear();
    ComPtr<IQVExtention> component;
    if (!QvApp || !QvApp->HasApplication()) return component;
    const WideString name(AName);
    WideString message;
    OleCheck(QvApp->Application()->GetLibraryComponent(name.c_bstr(), message.out(), component.out()));
    AMessage = message.str();
    return component;
}

// ---------------------------------------------------------------------------------------
// TPrintPackage

TPrintPackage::TPrintPackage() = default;
TPrintPackage::~TPrintPackage() = default;

void TPrintPackage::Connect() {
    if (FPrint) {
        OleCheck(FPrint->Reset());
        return;
    }
    if (!QvApp || !QvApp->HasLibrary()) return;
    std::string message;
    ComPtr<IQVExtention> component = GetLibraryComponent("Qv.Print", message);
    if (!component) {
        QvApp->ShowHostMessage(std::string(PrintFailed) + "\r\n" + message, 16);
        return;
    }
    ComPtr<IInterface> object;
    int32_t result = 0;
    const HRESULT hr = component->CreateObject(object.out(), 1, nullptr, &result);
    ComPtr<IQVPrint> print = Succeeded(hr) ? object.As<IQVPrint>() : ComPtr<IQVPrint>();
    if (!print) {
        // No object, or one that is not a print interface: the same as none.
        QvApp->ShowHostMessage(PrintFailed, 16);
        return;
    }
    OleCheck(print->Reset());
    FPrint = print;
    FPrint2 = FPrint.As<IQVPrint2>();
}

bool TPrintPackage::Prepare(bool ACheckUser) {
    Connect();
    FVariables.Clear();
    FData.Clear();
    if (ACheckUser && FPrint) {
        const WideString command(".CheckUser");
        return FPrint->Command(command.c_bstr()) == 1;
    }
    return static_cast<bool>(FPrint);
}

void TPrintPackage::LoadReportList(QObject* AProperties, const std::string& AReportCode,
                                   int32_t& ADefaultID) {
    ADefaultID = 0;
    auto* box = qobject_cast<QComboBox*>(AProperties);
    if (!box) return;
    TItemsUpdate update(*box);
    box->clear();
    const std::string sql = QvApp ? QvApp->FormatScript(1485, {QuotedStr(AReportCode)}) : std::string();
    TkbmMemTable rows("ReportList");
    OpenSQLToTable(sql, rows, false);
    for (rows.First(); !rows.Eof(); rows.Next()) {
        const int32_t id = rows.FieldByName("id").AsInteger();
        box->addItem(QString::fromStdString(rows.FieldByName("Name").AsString()), id);
        if (rows.FieldByName("xDefault").AsInteger() == 1) ADefaultID = id;
    }
    box->setCurrentIndex(-1);
}

void TPrintPackage::SetReportVars(std::initializer_list<std::string> AValues) {
    FVariables.Clear();
    int i = 0;
    for (const std::string& value : AValues)
        SetVar("ReportVar." + std::to_string(i++), value);
}

void TPrintPackage::SetVar(const std::string& AName, const std::string& AValue) {
    FVariables.SetValue(AName, AValue);
}

IQVPrint& TPrintPackage::NeedPrint() const {
    if (!FPrint) throw Exception(PrintFailed);
    return *FPrint;
}

std::string TPrintPackage::LastError() const {
    WideString text;
    if (FPrint && Succeeded(FPrint->GetLastError(text.out()))) return text.str();
    return {};
}

void TPrintPackage::OpenReport(const std::string& AReportCode) {
    IQVPrint& print = NeedPrint();
    const WideString code(AReportCode), variables(FVariables.Text()), data(FData.Text());
    int32_t value = 0;
    if (Failed(print.OpenReport(code.c_bstr(), variables.c_bstr(), data.c_bstr(), &value)))
        throw Exception(LastError());
}

bool TPrintPackage::Print(int32_t AReportID, bool AFlag1, bool AFlag2) {
    IQVPrint& print = NeedPrint();
    const WideString command("SetVars " + FVariables.Text());
    (void)print.Command(command.c_bstr());
    WordBool success = 0;
    if (Failed(print.Print(AReportID, AFlag1 ? -1 : 0, AFlag2 ? -1 : 0, &success)))
        throw Exception(LastError());
    return success != 0;
}

// ---------------------------------------------------------------------------------------
// Report_Query

void Report_Query::Run(int32_t AScriptID, bool ARaw, bool ANoDialog, const std::string& AParams,
                       std::string& AResult) {
    std::string message;
    ComPtr<IQVExtention> component = GetLibraryComponent("QV.System", message);
    // Without a host (or a host without a message) the caller still learns what failed.
    if (!component) throw Exception(message.empty() ? "系统接口QV.System访问失败." : message);
    // The request goes in and the reply comes back in the same text; the component may
    // free the request and hand out a new one.
    BSTR text = Utf8ToBstr(ANoDialog ? "##NoDialog=1\r\n" + AParams : AParams);
    int32_t result = 0;
    const HRESULT hr = component->Execute(23, AScriptID, &text, &result);
    WideString data = WideString::Attach(text);
    OleCheck(hr);
    if (result != 1) return;
    const std::string reply = data.str();
    if (ARaw) {
        AResult = reply;
        return;
    }
    const TStringList lines(reply);
    AResult = lines.IndexOfName("$SQL") >= 0 ? AnsiToUtf8(HexToStr(lines.Values("$SQL"))) : std::string();
}

// ---------------------------------------------------------------------------------------

void LoadDropDown(QObject* AProperties, const std::string& ASQL, const std::string& AValueField,
                  const std::string& ADescField) {
    TkbmMemTable rows("DropDown");
    OpenSQLToTable(ASQL, rows, true);
    auto* box = qobject_cast<QComboBox*>(AProperties);
    if (!box) throw Exception("无效的下拉列表.");
    TItemsUpdate update(*box);
    box->clear();
    for (rows.First(); !rows.Eof(); rows.Next())
        box->addItem(QString::fromStdString(rows.FieldByName(ADescField).AsString()),
                     QString::fromStdString(rows.FieldByName(AValueField).AsString()));
    box->setCurrentIndex(-1);
}

// ---------------------------------------------------------------------------------------
// Listeners

void PrintPackageListener(uint8_t APhase) {
    if (APhase == QvPhaseConnected) {
        if (!DataPicker) DataPicker = std::make_unique<TQVDataPicker>();
        if (!PrintPackage) PrintPackage = std::make_unique<TPrintPackage>();
        if (!Privileges) Privileges = std::make_unique<TQVPrivileges>();
    } else if (APhase == QvPhaseDisconnecting) {
        Privileges.reset();
        PrintPackage.reset();
        DataPicker.reset();
    }
}

void POSClientCacheListener(uint8_t APhase) {
    // The cached device clients join with the payment paths.
}

void NetPOSClientCacheListener(uint8_t APhase) {}

void RegisterCoreDlgListeners() {
    if (!QvApp) return;
    QvApp->AddListener(&PrintPackageListener);
    QvApp->AddListener(&POSClientCacheListener);
    QvApp->AddListener(&NetPOSClientCacheListener);
}
