#include "uCaseCore.h"

#include "CoreDataModule.h"

#include "CForms.h"
#include "QvForms.h"
#include "QvText.h"
#include "uIApplication.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMetaProperty>

#include <dlfcn.h>

#include <algorithm>

TCasePackageQVClinicalPay* CasePackage = nullptr;

namespace {

constexpr const char* PackageSource = "CaseCore核心接口";
constexpr const char* TerminateSource = "Dll 接口";
constexpr const char* LoadCoreFailed = "加载核心接口失败。";
constexpr const char* SetApplicationFailed = "设置主应用程序接口失败.";
constexpr const char* NotSubsystem = "该文件不是当前应用程序的子系统.";
constexpr const char* CommandObjectName = "IQVClinicalPayment";
constexpr double MinHostVersion = 1.59;
constexpr uint16_t SeparatorID = 65535;
// A window whose alpha-blend value is this is always shown modally.
constexpr int ModalAlphaBlendValue = 99;

bool HasHostApplication() {
    return QvApp && QvApp->HasApplication();
}

// Writes a host log entry; the log is a side channel, so its failure changes nothing.
void LogQuietly(int32_t ALevel, const std::string& ASource, const std::string& ATitle,
                const std::string& ADetail) noexcept {
    try {
        if (QvApp) QvApp->WriteLog(ALevel, ASource, ATitle, ADetail);
    } catch (...) {
    }
}

std::string ExceptionText(std::exception_ptr AError) {
    try {
        std::rethrow_exception(AError);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return SysErrorMessage(E_UNEXPECTED);
    }
}

std::string FormClassName(const QWidget* AForm) {
    return AForm->metaObject()->className();
}

bool IsShownModally(const QWidget* AWidget) {
    return AWidget->isWindow() && AWidget->isVisible() && AWidget->isModal();
}

// Hands the form hooks to the base forms: every plug-in form applies the host's
// input-method name on creation and leaves the open-window list when destroyed.
void InstallFormHooks() {
    QvApplyImeNameHook = [](QWidget* AForm) {
        if (CasePackage) CasePackage->ApplyImeName(AForm);
    };
    QvUnregisterFormHook = [](QWidget* AForm) {
        if (CasePackage) CasePackage->UnregisterForm(AForm);
    };
}

// An XML element of the host document, with attributes and text set from UTF-8.
class TXmlWriter {
public:
    explicit TXmlWriter(const std::string& ARootName) : FDoc(QvApp->CreateXMLDocument()) {
        if (!FDoc) throw Exception("创建XML文档管理接口失败.");
        OleCheck(FDoc->NewDocument(WideString(ARootName).c_bstr()));
        OleCheck(FDoc->GetDocumentElement(FRoot.out()));
    }
    TQVXMLDocument* Doc() const { return FDoc.get(); }
    TQVXMLNode* Root() const { return FRoot.get(); }

    ComPtr<TQVXMLNode> AddItem() {
        ComPtr<TQVXMLNode> node;
        OleCheck(FDoc->AddChild(FRoot.get(), WideString("Item").c_bstr(), node.out()));
        return node;
    }
    static void Attr(TQVXMLNode* ANode, const std::string& AName, const std::string& AValue) {
        OleCheck(ANode->SetAttribute(WideString(AName).c_bstr(), WideString(AValue).c_bstr()));
    }
    std::string XML() const {
        WideString xml;
        OleCheck(FDoc->GetXML(xml.out()));
        return xml.str();
    }

private:
    ComPtr<TQVXMLDocument> FDoc;
    ComPtr<TQVXMLNode> FRoot;
};

} // namespace

// =======================================================================================
// TQVExtentionAdapter

TQVExtentionAdapter::TQVExtentionAdapter(const std::string& AName, int32_t ATag) : FName(AName), FTag(ATag) {
    InstallFormHooks();
}

TQVExtentionAdapter::~TQVExtentionAdapter() = default;

void TQVExtentionAdapter::Setup(const std::string& AAppName) noexcept {
    try {
        if (!HasHostApplication()) throw Exception(SetApplicationFailed);
        if (!AAppName.empty() && !SameText(QvApp->GetApplicationName(), AAppName))
            throw Exception(NotSubsystem);
        if (CheckHostVersion() && !SameText(FName, "Qv.Library")) {
            double version = 0;
            OleCheck(QvApp->Application()->GetVersion(&version));
            if (!(version >= MinHostVersion))
                throw Exception("验证 " + QvApp->GetApplicationName() +
                                " 应用程序版本过低，请升级 Quorvia.exe 到 8.0.1.33 及以上版本。");
        }
        QvApp->Connect();
        // Without the host library nothing of the plug-in can work (no log, no database,
        // no documents): the package says so instead of claiming to be ready.
        if (!QvApp->HasLibrary()) throw Exception(LoadCoreFailed);
        IQvConfigInfo config;
        QvApp->GetConfigInfo(config);
        FWindowMode = config.WindowMode;
        Initialize();
        FInitialized = true;
    } catch (...) {
        FMessage = ExceptionText(std::current_exception());
        FInitialized = false;
    }
}

void TQVExtentionAdapter::BeforeDestruction() noexcept {
    if (FInitialized) {
        LogQuietly(2, TerminateSource, "Terminated", "准备终止DLL接口");
        try {
            Finalize();
        } catch (...) {
        }
        if (QvApp) {
            try {
                QvApp->SetTerminated(true);
            } catch (...) {
            }
            try {
                QvApp->Disconnect();
            } catch (...) {
            }
        }
    }
    if (CasePackage && static_cast<TQVExtentionAdapter*>(CasePackage) == this) CasePackage = nullptr;
}

// --- IQVInterface / IQVExtention: every operation wrapped; errors reach the host as codes

HRESULT QV_STDCALL TQVExtentionAdapter::GetVersion(double* AVersion) {
    if (!AVersion) return E_POINTER;
    return SafeCall([&] { *AVersion = FVersion; });
}

HRESULT QV_STDCALL TQVExtentionAdapter::GetName(BSTR* AName) {
    if (!AName) return E_POINTER;
    return SafeCall([&] { *AName = Utf8ToBstr(FName); });
}

HRESULT QV_STDCALL TQVExtentionAdapter::GetMessage(BSTR* AMessage) {
    if (!AMessage) return E_POINTER;
    return SafeCall([&] { *AMessage = Utf8ToBstr(FMessage); });
}

HRESULT QV_STDCALL TQVExtentionAdapter::GetModuleHandle(QvHandle* AHandle) {
    if (!AHandle) return E_POINTER;
    return SafeCall([&] {
        Dl_info info{};
        *AHandle = dladdr(reinterpret_cast<void*>(&HasHostApplication), &info)
                       ? reinterpret_cast<QvHandle>(info.dli_fbase)
                       : 0;
    });
}

HRESULT QV_STDCALL TQVExtentionAdapter::GetInitialized(WordBool* AValue) {
    if (!AValue) return E_POINTER;
    return SafeCall([&] { *AValue = FInitialized ? -1 : 0; });
}

HRESULT QV_STDCALL TQVExtentionAdapter::Execute(int32_t ACommand, int32_t AParam, BSTR* AData,
                                                int32_t* AResult) {
    if (!AData || !AResult) return E_POINTER;
    // The package stays alive while it serves the call, even if the host lets it go meanwhile.
    ComPtr<IQVExtention> self(this);
    return SafeCall([&] {
        const std::string before = BstrToUtf8(*AData);
        std::string data = before;
        int32_t result = 0;
        DoExecute(result, ACommand, AParam, data);
        if (data != before) {
            BSTR text = Utf8ToBstr(data);
            SysFreeString(*AData);
            *AData = text;
        }
        *AResult = result;
    });
}

HRESULT QV_STDCALL TQVExtentionAdapter::CreateObject(IInterface** AObject, int32_t AFlags, BSTR AName,
                                                     int32_t* AResult) {
    if (!AObject || !AResult) return E_POINTER;
    ComPtr<IQVExtention> self(this);
    return SafeCall([&] {
        ComPtr<IInterface> object;
        int32_t result = 0;
        DoCreateObject(result, object, AFlags, BstrToUtf8(AName));
        if (object) *AObject = object.Detach();
        *AResult = result;
    });
}

// --- Virtual operations

void TQVExtentionAdapter::Initialize() {}

void TQVExtentionAdapter::Finalize() {}

bool TQVExtentionAdapter::CheckHostVersion() {
    return true;
}

void TQVExtentionAdapter::ApplySettings(int32_t& AResult, int32_t AKind) {
    AResult = 0;
}

void TQVExtentionAdapter::DoExecute(int32_t& AResult, int32_t ACommand, int32_t AParam, std::string& AData) {
    AResult = 2;
    if (!HasHostApplication()) {
        FMessage = LoadCoreFailed;
        AResult = 3;
        return;
    }
    if (ACommand > 0) {
        ExecuteCommand(AResult, ACommand, AParam, AData);
        return;
    }
    switch (ACommand) {
    case 0:
        ExecuteDefault(AResult, AParam, AData);
        break;
    case -1:
        GetFormList(AResult, AData);
        break;
    case -2:
        ApplySettings(AResult, AParam);
        break;
    case -3:
        GetOpenForms(AResult, AData);
        break;
    case -5:
        AResult = QueryFeature();
        break;
    case -7:
        AResult = CanTerminate();
        if (AResult == 1 && QvApp) QvApp->NotifyIdle();
        break;
    case -8:
        AResult = 1;
        Terminating(AResult);
        break;
    case -10:
        AData = IntToStr(FTag);
        AResult = 1;
        break;
    case -11:
        CheckHostVersion();
        AResult = 1;
        break;
    default: // -4, -6, -9, -12 and below
        break;
    }
}

void TQVExtentionAdapter::DoCreateObject(int32_t& AResult, ComPtr<IInterface>& AObject, int32_t AFlags,
                                         const std::string& AName) {
    AResult = 0;
}

void TQVExtentionAdapter::GetFormList(int32_t& AResult, std::string& AData) {}

void TQVExtentionAdapter::GetOpenForms(int32_t& AResult, std::string& AData) {}

void TQVExtentionAdapter::ExecuteDefault(int32_t& AResult, int32_t AParam, std::string& AData) {
    AResult = 0;
}

void TQVExtentionAdapter::ExecuteCommand(int32_t& AResult, int32_t ACommand, int32_t AParam,
                                         std::string& AData) {
    AResult = 0;
}

int32_t TQVExtentionAdapter::QueryFeature() {
    return 0;
}

int32_t TQVExtentionAdapter::CanTerminate() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 1;
    const auto windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), IsShownModally) ? 3 : 1;
}

void TQVExtentionAdapter::Terminating(int32_t& AResult) {}

// =======================================================================================
// TCasePackage

TCasePackage::~TCasePackage() {
    // Normally Finalize has freed every window already; a package that never initialised
    // (or a teardown that was skipped) must still not leave windows behind.
    std::vector<QPointer<QWidget>> forms = std::move(FOpenForms);
    FOpenForms.clear();
    for (auto it = forms.rbegin(); it != forms.rend(); ++it)
        if (QWidget* form = *it) delete form;
}

void TCasePackage::Initialize() {
    FVersion = 2.8;
    FOpenForms.clear();
    FRegistrations.clear();
    FListsCreated = true;
    if (HasHostApplication()) AdoptHostConnection();
    if (HasHostApplication()) {
        QvApp->SetAppName(FName);
        AdoptHostWindow();
        int32_t result = 0;
        ApplySettings(result, 0);
    }
    if (HasHostApplication()) AdoptDataFormats();
}

void TCasePackage::Finalize() {
    FRegistrations.clear();
    // Close the open windows, last first; the host hears of each before it goes.
    while (!FOpenForms.empty()) {
        QPointer<QWidget> form = FOpenForms.back();
        FOpenForms.pop_back();
        if (!form) continue;
        try {
            if (QvApp) QvApp->NotifyForm(2, static_cast<QvHandle>(form->winId()));
        } catch (...) {
        }
        FreeForm(form);
    }
    FListsCreated = false;

    std::string unreleased = "未释放的窗口：";
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        for (QWidget* w : QApplication::topLevelWidgets())
            if (dynamic_cast<TQvBaseForm*>(w)) unreleased += FormClassName(w) + "\r\n";
    LogQuietly(0, PackageSource, "释放接口", unreleased);

    DetachDataConnection();
}

void TCasePackage::ApplySettings(int32_t& AResult, int32_t AKind) {
    AResult = 0;
    if (!HasHostApplication()) return;
    if (AKind <= 0) {
        for (int32_t kind : {1, 2, 3})
            ApplySettingsKind(kind);
    } else {
        ApplySettingsKind(AKind);
    }
    AResult = 1;
}

void TCasePackage::ApplySettingsKind(int32_t AKind) {
    switch (AKind) {
    case 1: {
        IQVFontInfo info;
        QvApp->GetFontInfo(info);
        ApplyDataFonts(info);
        const std::vector<QWidget*> forms = OpenForms();
        if (!forms.empty()) {
            const QFont font = info.UseFont ? FontFromHostInfo(info) : GetSystemMessageFont();
            for (QWidget* form : forms)
                form->setFont(font);
        }
        break;
    }
    case 2:
        ApplyDataAppearance();
        break;
    case 3:
        NotifyDataModule();
        break;
    case 9:
        for (QWidget* form : OpenForms())
            ApplyImeName(form);
        break;
    case 10:
        ReconnectDatabase();
        break;
    default:
        break;
    }
}

// The data module's side of the settings adoption; nothing while there is no data module
// (before the listeners made it, or after they freed it).
void TCasePackage::AdoptHostConnection() {
    if (CoreDM) CoreDM->SetupHostConnection();
}
void TCasePackage::AdoptDataFormats() {
    if (CoreDM) CoreDM->FixDateTimeFormats();
}
void TCasePackage::ApplyDataFonts(const IQVFontInfo& AFont) {
    if (CoreDM) CoreDM->ApplyHostFont(AFont);
}
void TCasePackage::ApplyDataAppearance() {
    if (CoreDM) CoreDM->ApplyHostSkin();
}
void TCasePackage::NotifyDataModule() {
    if (CoreDM) CoreDM->HostNotified();
}
void TCasePackage::ReconnectDatabase() {
    if (CoreDM) CoreDM->Reconnect();
}
void TCasePackage::DetachDataConnection() {
    if (CoreDM) CoreDM->DetachConnection();
}

void TCasePackage::AdoptHostWindow() {
    IQvSystemInfo info;
    QvApp->GetSystemInfo(info);
    Application->Title = BstrToUtf8(info.Title);
    Application->Handle = info.MainWindow;
    Application->IconHandle = info.Icon;
}

void TCasePackage::ApplyImeName(QWidget* AContainer) {
    if (!AContainer) return;
    // The targets: each component's "Properties" object for the editor classes ("Tcx..."),
    // else the component itself; only those with an "ImeName" property take the name.
    std::vector<QObject*> targets;
    for (QObject* component : AContainer->findChildren<QObject*>()) {
        QObject* target = component;
        if (StartsText("Tcx", component->metaObject()->className())) {
            const QVariant properties = component->property("Properties");
            if (!properties.isValid()) continue;
            target = properties.value<QObject*>();
            if (!target) continue;
        }
        if (target->property("ImeName").isValid()) targets.push_back(target);
    }
    if (targets.empty() || !HasHostApplication()) return;
    IQvConfigInfo config;
    QvApp->GetConfigInfo(config);
    const QString imeName = QString::fromStdString(BstrToUtf8(config.ImeName));
    for (QObject* target : targets)
        target->setProperty("ImeName", imeName);
}

std::vector<QWidget*> TCasePackage::OpenForms() const {
    std::vector<QWidget*> forms;
    for (const QPointer<QWidget>& form : FOpenForms)
        if (form) forms.push_back(form.data());
    return forms;
}

// --- Command list and open windows as host XML

void TCasePackage::GetFormList(int32_t& AResult, std::string& AData) {
    AResult = 0;
    AData.clear();
    if (FRegistrations.empty()) return;
    TXmlWriter xml("FormList");
    TXmlWriter::Attr(xml.Root(), "Ver", "2.8");
    TXmlWriter::Attr(xml.Root(), "Cmd", QvApp->ModuleFileName());
    for (const TDllRegFormClass& reg : FRegistrations) {
        if (!reg.Visible && reg.ID != SeparatorID) continue;
        ComPtr<TQVXMLNode> item = xml.AddItem();
        TXmlWriter::Attr(item.get(), "ID", IntToStr(reg.ID));
        TXmlWriter::Attr(item.get(), "FormClass", reg.FormClass ? reg.FormClass->ClassName : "Separator");
        TXmlWriter::Attr(item.get(), "Caption", reg.Caption);
        OleCheck(item->SetText(WideString(reg.Text).c_bstr()));
    }
    AfterFormList(xml.Doc(), xml.Root());
    AData = xml.XML();
    AResult = 1;
}

void TCasePackage::GetOpenForms(int32_t& AResult, std::string& AData) {
    AResult = 0;
    AData.clear();
    const std::vector<QWidget*> forms = OpenForms();
    if (forms.empty()) return;
    TXmlWriter xml("FormList");
    for (size_t i = 0; i < forms.size(); ++i) {
        QWidget* form = forms[i];
        ComPtr<TQVXMLNode> item = xml.AddItem();
        TXmlWriter::Attr(item.get(), "ID", IntToStr(static_cast<int64_t>(i)));
        TXmlWriter::Attr(item.get(), "FormClass", FormClassName(form));
        TXmlWriter::Attr(item.get(), "Caption", form->windowTitle().toStdString());
        TXmlWriter::Attr(item.get(), "Visible", form->isVisible() ? "True" : "False");
        TXmlWriter::Attr(item.get(), "Handle", IntToStr(static_cast<int64_t>(form->winId())));
    }
    AData = xml.XML();
    AResult = 1;
}

// --- Registry

int32_t TCasePackage::BeforeCommand(int32_t ACommand, int32_t AParam, std::string& AData) {
    return 0;
}

QWidget* TCasePackage::FindOpenForm(const std::string& AClassName) {
    for (QWidget* form : OpenForms())
        if (FormClassName(form) == AClassName) return form;
    return nullptr;
}

TFormClass TCasePackage::GetFormClass(int32_t ACommand) {
    for (auto it = FRegistrations.rbegin(); it != FRegistrations.rend(); ++it)
        if (it->ID == ACommand) return it->FormClass;
    return nullptr;
}

void TCasePackage::AfterFormList(TQVXMLDocument* ADoc, TQVXMLNode* ARoot) {}

void TCasePackage::RegisterForm(uint16_t AID, TFormClass AFormClass, const std::string& ACaption,
                                bool AVisible, const std::string& AText) {
    if (!FListsCreated) return;
    FRegistrations.push_back(TDllRegFormClass{AID, AFormClass, ACaption, AVisible, AText, 0});
}

int32_t TCasePackage::SetCommandData(uint16_t AID, int32_t AValue) {
    for (auto it = FRegistrations.rbegin(); it != FRegistrations.rend(); ++it)
        if (it->ID == AID) {
            it->Data = AValue;
            break;
        }
    return AValue;
}

void TCasePackage::UnregisterForm(QWidget* AForm) {
    std::erase_if(FOpenForms, [&](const QPointer<QWidget>& f) { return !f || f.data() == AForm; });
}

int32_t TCasePackage::AddOpenForm(QWidget* AForm) {
    std::erase_if(FOpenForms, [](const QPointer<QWidget>& f) { return !f; });
    for (size_t i = 0; i < FOpenForms.size(); ++i)
        if (FOpenForms[i].data() == AForm) return static_cast<int32_t>(i) + 1;
    FOpenForms.emplace_back(AForm);
    return static_cast<int32_t>(FOpenForms.size()) - 1;
}

void TCasePackage::FreeForm(QWidget* AForm) noexcept {
    if (!AForm) return;
    UnregisterForm(AForm);
    delete AForm;
}

// --- Opening a registered window

void TCasePackage::ExecuteCommand(int32_t& AResult, int32_t ACommand, int32_t AParam, std::string& AData) {
    AResult = BeforeCommand(ACommand, AParam, AData);
    if (AResult != 0) return;

    const TDllRegFormClass* reg = nullptr;
    for (auto it = FRegistrations.rbegin(); it != FRegistrations.rend() && !reg; ++it)
        if (it->ID == ACommand) reg = &*it;
    if (!reg || !reg->FormClass) {
        FMessage = "命令(" + IntToStr(ACommand) + ")不存在或没有注册窗口";
        AResult = 3;
        return;
    }
    const TFormClass formClass = reg->FormClass;

    // Already open: bring it to the front and hand it the new command text.
    if (QWidget* open = FindOpenForm(formClass->ClassName)) {
        AResult = 1;
        QCoreApplication::postEvent(open, std::make_unique<QEvent>(QvSysCommandEvent).release());
        open->raise();
        open->activateWindow();
        try {
            if (auto* qvForm = dynamic_cast<TQvForm*>(open)) {
                qvForm->SetProgramID(ACommand);
                qvForm->SetRunParam(AData);
            }
        } catch (...) {
            FMessage = ExceptionText(std::current_exception());
            AResult = 3;
        }
        return;
    }

    std::unique_ptr<QWidget> form;
    try {
        form = formClass->Create(Application->OwnerWidget());
        if (!form) throw Exception("命令(" + IntToStr(ACommand) + ")不存在或没有注册窗口");
        if (auto* base = dynamic_cast<TQvBaseForm*>(form.get())) base->AfterConstruction();
        if (auto* qvForm = dynamic_cast<TQvForm*>(form.get())) {
            qvForm->SetProgramID(ACommand);
            qvForm->SetRunParam(AData);
        }
        AddOpenForm(form.get());
        AResult = ShowForm(form, AParam, AData);
    } catch (...) {
        FMessage = ExceptionText(std::current_exception());
        if (form) FreeForm(form.release());
        AResult = 3;
    }
}

int32_t TCasePackage::ShowForm(std::unique_ptr<QWidget>& AForm, int32_t AMode, std::string& AData) {
    QWidget* form = AForm.get();
    const QVariant alphaBlend = form->property("AlphaBlendValue");
    const bool modal = dynamic_cast<TDForm*>(form) ||
                       (alphaBlend.isValid() && alphaBlend.toInt() == ModalAlphaBlendValue) || AMode == 1;
    if (modal) {
        auto* dialog = qobject_cast<QDialog*>(form);
        if (!dialog) throw Exception("窗口" + FormClassName(form) + "不能以模式方式显示");
        QPointer<QDialog> guard(dialog);
        const int modalResult = dialog->exec();
        if (!guard) { // the window freed itself while it was shown
            (void)AForm.release();
            return 2;
        }
        int32_t result = 2;
        if (modalResult == mrOk)
            if (auto* qvForm = dynamic_cast<TQvForm*>(form)) {
                qvForm->GetResultText(AData);
                result = 1;
            }
        FreeForm(AForm.release());
        return result;
    }
    // Not modal: a maximised window, without border in window mode 1 unless the host keeps it.
    if (FWindowMode == 1) {
        IQvConfigInfo config;
        QvApp->GetConfigInfo(config);
        if (!config.BorderFlag) form->setWindowFlag(Qt::FramelessWindowHint, true);
    }
    form->setWindowState(form->windowState() | Qt::WindowMaximized);
    form->show();
    // The window frees itself when it closes; until then it is on the open list, and the
    // package frees whatever is still open when it goes.
    (void)AForm.release();
    return 1;
}

// =======================================================================================
// TCasePackageQVClinicalPay

TCasePackageQVClinicalPay::TCasePackageQVClinicalPay(TQVClinicalPayCmdClass ACommandClass,
                                                     const std::string& AName, int32_t ATag)
    : TCasePackage(AName, ATag), FCommandClass(ACommandClass) {}

TCasePackageQVClinicalPay::~TCasePackageQVClinicalPay() = default;

ComPtr<TCasePackageQVClinicalPay> TCasePackageQVClinicalPay::Create(TQVClinicalPayCmdClass ACommandClass,
                                                                    const std::string& AName,
                                                                    const std::string& AAppName,
                                                                    int32_t ATag) {
    ComPtr<TCasePackageQVClinicalPay> package(new TCasePackageQVClinicalPay(ACommandClass, AName, ATag));
    package->Setup(AAppName);
    return package;
}

void TCasePackageQVClinicalPay::Finalize() {
    try {
        FCommandObject = nullptr;
    } catch (...) {
    }
    TCasePackage::Finalize();
}

void TCasePackageQVClinicalPay::DoCreateObject(int32_t& AResult, ComPtr<IInterface>& AObject, int32_t AFlags,
                                               const std::string& AName) {
    AResult = 0;
    if (!SameText(AName, CommandObjectName)) return;
    if (!FCommandObject) {
        if (!FCommandClass) throw Exception("创建对象" + std::string(CommandObjectName) + "失败.");
        FCommandObject = FCommandClass();
        if (!FCommandObject) throw Exception("创建对象" + std::string(CommandObjectName) + "失败.");
    }
    AObject = ComPtr<IInterface>(FCommandObject.get());
    AResult = 1;
}

int32_t TCasePackageQVClinicalPay::QueryFeature() {
    return 1;
}
