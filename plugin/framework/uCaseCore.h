// The extension package: the object the host holds for the plug-in.
//
// Three layers: TQVExtentionAdapter answers the host's extension interface and its
// framework commands, TCasePackage adds the window registry and the adoption of the host's
// settings, TCasePackageQVClinicalPay hands out this plug-in's command object.
#pragma once

#include "QvClinicalPayIntf.h"
#include "QvHostIntf.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TQvBaseForm;
class TQvForm;
class TDForm;

// ---------------------------------------------------------------------------------------
// Window classes the package can open for a command number.

// A window class: its class name (as the window's metaObject()->className() reports it)
// and how to make one with the given owner.
struct TFormClassInfo {
    std::string ClassName;
    std::function<std::unique_ptr<QWidget>(QWidget* AOwner)> Create;
};
// A class reference; nil marks a separator in the command list.
using TFormClass = const TFormClassInfo*;

// The class reference of a window class TForm (a QWidget with Q_OBJECT and a constructor
// taking the owner).
template <class TForm> TFormClass FormClassOf() {
    static const TFormClassInfo info{
        TForm::staticMetaObject.className(),
        [](QWidget* AOwner) -> std::unique_ptr<QWidget> { return std::make_unique<TForm>(AOwner); }};
    return &info;
}

// One command registration, fields in the host's order.
struct TDllRegFormClass {
    int32_t ID = 0;                 // the 16-bit command number
    TFormClass FormClass = nullptr; // nil: separator
    std::string Caption;
    bool Visible = false;
    std::string Text;
    int32_t Data = 0;
};

// The system command posted to a registered window that is already open when its
// command comes again (code 3023, parameter 0): bring it to the front.
constexpr int QvSysCommandRestore = 3023;
constexpr QEvent::Type QvSysCommandEvent = static_cast<QEvent::Type>(QEvent::User + QvSysCommandRestore);

// Makes the command object handed out for "IQVClinicalPayment" (the command class).
using TQVClinicalPayCmdClass = ComPtr<IQVClinicalPayment> (*)();

// ---------------------------------------------------------------------------------------
// Reference-counted implementation whose teardown runs, with virtual dispatch intact,
// when the last reference goes (before the destructors run).

template <class... Intfs> class TTeardownInterfacedObject : public TInterfacedObject<Intfs...> {
public:
    uint32_t QV_STDCALL Release() override {
        if (this->RefCount() == 1 && !FTearingDown) {
            FTearingDown = true;
            BeforeDestruction();
        }
        return TInterfacedObject<Intfs...>::Release();
    }

protected:
    // Runs once, while the object still holds its last reference; must not raise.
    virtual void BeforeDestruction() noexcept {}
    bool TearingDown() const { return FTearingDown; }

private:
    bool FTearingDown = false;
};

// ---------------------------------------------------------------------------------------
// TQVExtentionAdapter: the host's extension interface and the framework commands.

class TQVExtentionAdapter : public TTeardownInterfacedObject<IQVExtention> {
public:
    ~TQVExtentionAdapter() override;

    // IQVInterface
    HRESULT QV_STDCALL GetVersion(double* AVersion) override;
    HRESULT QV_STDCALL GetName(BSTR* AName) override;
    HRESULT QV_STDCALL GetMessage(BSTR* AMessage) override;
    // IQVExtention
    HRESULT QV_STDCALL GetModuleHandle(QvHandle* AHandle) override;
    HRESULT QV_STDCALL GetInitialized(WordBool* AValue) override;
    HRESULT QV_STDCALL Execute(int32_t ACommand, int32_t AParam, BSTR* AData, int32_t* AResult) override;
    HRESULT QV_STDCALL CreateObject(IInterface** AObject, int32_t AFlags, BSTR AName,
                                    int32_t* AResult) override;

    // Virtual operations, in slot order.
    virtual void Initialize();
    virtual void Finalize();
    virtual bool CheckHostVersion();
    virtual void ApplySettings(int32_t& AResult, int32_t AKind);
    virtual void DoExecute(int32_t& AResult, int32_t ACommand, int32_t AParam, std::string& AData);
    virtual void DoCreateObject(int32_t& AResult, ComPtr<IInterface>& AObject, int32_t AFlags,
                                const std::string& AName);
    virtual void GetFormList(int32_t& AResult, std::string& AData);
    virtual void GetOpenForms(int32_t& AResult, std::string& AData);
    virtual void ExecuteDefault(int32_t& AResult, int32_t AParam, std::string& AData);
    virtual void ExecuteCommand(int32_t& AResult, int32_t ACommand, int32_t AParam, std::string& AData);
    virtual int32_t QueryFeature();
    virtual int32_t CanTerminate();
    virtual void Terminating(int32_t& AResult);

    const std::string& Name() const { return FName; }
    const std::string& Message() const { return FMessage; }
    double Version() const { return FVersion; }
    bool Initialized() const { return FInitialized; }
    int32_t Tag() const { return FTag; }
    int32_t WindowMode() const { return FWindowMode; }

protected:
    TQVExtentionAdapter(const std::string& AName, int32_t ATag);

    // Creation steps after construction (host checks, facade connection, Initialize).
    // Never raises: a failure becomes Message and the package stays not initialised.
    void Setup(const std::string& AAppName) noexcept;
    // Teardown when the host lets the package go (only an initialised package acts).
    void BeforeDestruction() noexcept override;

    std::string FName;
    std::string FMessage;
    double FVersion = 1.0;
    bool FInitialized = false;
    int32_t FTag = 0;
    int32_t FWindowMode = 0;
};

// ---------------------------------------------------------------------------------------
// TCasePackage: the window registry and the host settings adoption.

class TCasePackage : public TQVExtentionAdapter {
public:
    ~TCasePackage() override;

    void Initialize() override;
    void Finalize() override;
    void ApplySettings(int32_t& AResult, int32_t AKind) override;
    void GetFormList(int32_t& AResult, std::string& AData) override;
    void GetOpenForms(int32_t& AResult, std::string& AData) override;
    void ExecuteCommand(int32_t& AResult, int32_t ACommand, int32_t AParam, std::string& AData) override;

    // Added virtual operations, in slot order.
    virtual int32_t BeforeCommand(int32_t ACommand, int32_t AParam, std::string& AData);
    virtual QWidget* FindOpenForm(const std::string& AClassName);
    virtual TFormClass GetFormClass(int32_t ACommand);
    virtual void AfterFormList(TQVXMLDocument* ADoc, TQVXMLNode* ARoot);
    virtual void RegisterForm(uint16_t AID, TFormClass AFormClass, const std::string& ACaption, bool AVisible,
                              const std::string& AText);
    virtual int32_t SetCommandData(uint16_t AID, int32_t AValue);
    // Called by every plug-in form when it is destroyed.
    virtual void UnregisterForm(QWidget* AForm);
    virtual int32_t AddOpenForm(QWidget* AForm);

    // Gives the editors of a window the host's input-method name (every plug-in form calls
    // this on creation).
    void ApplyImeName(QWidget* AContainer);

    // The open windows, in list order (windows already gone are left out).
    std::vector<QWidget*> OpenForms() const;
    const std::vector<TDllRegFormClass>& Registrations() const { return FRegistrations; }

protected:
    using TQVExtentionAdapter::TQVExtentionAdapter;

    // Host settings adoption. The data module's side (its connection, formats, editor
    // fonts and appearance) comes through these hooks; the defaults do nothing.
    virtual void AdoptHostConnection();                    // Initialize: connection and time-out
    virtual void AdoptDataFormats();                       // Initialize: date and time formats
    virtual void ApplyDataFonts(const IQVFontInfo& AFont); // kind 1
    virtual void ApplyDataAppearance();                    // kind 2
    virtual void NotifyDataModule();                       // kind 3
    virtual void ReconnectDatabase();                      // kind 10
    virtual void DetachDataConnection();                   // Finalize
    // The package's own side: the UI application object takes the host's title, main
    // window and icon (Initialize), and one settings kind is applied (ApplySettings).
    virtual void AdoptHostWindow();
    virtual void ApplySettingsKind(int32_t AKind);

    // Shows a window made for a command and returns AResult. Takes the window over: a
    // modal window is freed afterwards, a non-modal one frees itself when it closes.
    int32_t ShowForm(std::unique_ptr<QWidget>& AForm, int32_t AMode, std::string& AData);
    // Frees an open window: drops it from the list and deletes it.
    void FreeForm(QWidget* AForm) noexcept;

private:
    bool FListsCreated = false;
    std::vector<QPointer<QWidget>> FOpenForms;
    std::vector<TDllRegFormClass> FRegistrations;
};

// ---------------------------------------------------------------------------------------
// TCasePackageQVClinicalPay: this plug-in's package.

class TCasePackageQVClinicalPay : public TCasePackage {
public:
    // Creation with the host checks; never raises (see Initialized and Message).
    static ComPtr<TCasePackageQVClinicalPay> Create(TQVClinicalPayCmdClass ACommandClass,
                                                    const std::string& AName, const std::string& AAppName,
                                                    int32_t ATag);
    ~TCasePackageQVClinicalPay() override;

    void Finalize() override;
    void DoCreateObject(int32_t& AResult, ComPtr<IInterface>& AObject, int32_t AFlags,
                        const std::string& AName) override;
    int32_t QueryFeature() override;

protected:
    TCasePackageQVClinicalPay(TQVClinicalPayCmdClass ACommandClass, const std::string& AName, int32_t ATag);

private:
    TQVClinicalPayCmdClass FCommandClass;
    ComPtr<IQVClinicalPayment> FCommandObject;
};

// The package the host holds (not counted; cleared when that package is torn down).
extern TCasePackageQVClinicalPay* CasePackage;
