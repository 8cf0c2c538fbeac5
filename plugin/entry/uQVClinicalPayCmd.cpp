// The module's two exports and its life in the host process.
//
// Load: the facade QvApp is made by its own unit's first initialiser; then this unit's
// initialiser runs the module initialisations of the other units in dependency order
// (their phase listeners, then the insurance objects), initialises COM for the loading
// thread and keeps the application object. Unload runs the detach hook first, then the
// finalisations in reverse order; the facade goes last.
#include "CForms.h"
#include "CoreDataModule.h"
#include "QvForms.h"
#include "uCaseCore.h"
#include "uCoreDlg.h"
#include "uIApplication.h"
#include "uMain.h"
#include "uQvRes.h"

#include <QApplication>

#include <memory>
#include <vector>

namespace {

// One unit's part in the module's life.
struct TModuleUnit {
    // Adds the unit's phase listeners to QvApp, in the unit's order; adding again what is
    // already registered changes nothing.
    void (*RegisterListeners)();
    // The unit's module-wide objects, made at load and freed at unload.
    void (*Initialize)();
    void (*Finalize)();
};

// The insurance log writer and the insurance adapter exist from load to unload. Their
// behaviour belongs to the insurance units; here they are held in their load order.
struct TInsuranceLogWriter {};
struct TInsuranceAdapter {};
// Made before the module's life object (same priority, earlier in this file) so that they
// are still there when its finalisation frees them.
std::unique_ptr<TInsuranceLogWriter> InsuranceLogWriter __attribute__((init_priority(102)));
std::unique_ptr<TInsuranceAdapter> InsuranceAdapter __attribute__((init_priority(102)));

// The dialog services' listeners in their order: data picker and print package (with the
// privileges), the localizer, then the two that drop cached device clients.
void RegisterDialogServiceListeners() {
    if (!QvApp) return;
    QvApp->AddListener(&PrintPackageListener);
    QvApp->AddListener(&LocalizerPhaseListener);
    QvApp->AddListener(&POSClientCacheListener);
    QvApp->AddListener(&NetPOSClientCacheListener);
}

// The units in dependency order; listeners are told every phase in this registration
// order.
constexpr TModuleUnit ModuleUnits[] = {
    {&RegisterQvResListener, nullptr, nullptr},          // uQvRes: host resources
    {&RegisterCoreDMListener, nullptr, nullptr},         // CoreDataModule: the data module
    {&RegisterDialogServiceListeners, nullptr, nullptr}, // uCoreDlg
    {nullptr, [] { InsuranceLogWriter = std::make_unique<TInsuranceLogWriter>(); },
     [] { InsuranceLogWriter.reset(); }}, // uQVSI_Utils
    {nullptr, [] { InsuranceAdapter = std::make_unique<TInsuranceAdapter>(); },
     [] { InsuranceAdapter.reset(); }}, // uQVSI_Adapter
};

void RegisterModuleListeners() {
    for (const TModuleUnit& unit : ModuleUnits)
        if (unit.RegisterListeners) unit.RegisterListeners();
}

// The application object kept at load; the detach hook puts it back.
TApplication* SavedApplication = nullptr;
bool DetachHookInstalled = false;
// True from the end of the module initialisations until their finalisation.
bool ModuleAlive = false;

struct TModuleLife {
    TModuleLife() {
        for (const TModuleUnit& unit : ModuleUnits) {
            if (unit.RegisterListeners) unit.RegisterListeners();
            if (unit.Initialize) unit.Initialize();
        }
        (void)CoInitialize(nullptr); // a thread that already has COM works the same
        SavedApplication = Application;
        DetachHookInstalled = true;
        ModuleAlive = true;
    }
    ~TModuleLife() {
        ModuleAlive = false;
        for (auto it = std::rbegin(ModuleUnits); it != std::rend(ModuleUnits); ++it)
            if (it->Finalize) it->Finalize();
    }
};

// After the facade (priority 101), before the default-priority objects of the runtime.
TModuleLife ModuleLife __attribute__((init_priority(102)));

// The detach hook: on unloading (dlclose) it runs before every finaliser of the module.
// At process exit the finalisers have already run and there is nothing left to do.
__attribute__((destructor)) void ModuleDetach() {
    if (!DetachHookInstalled || !ModuleAlive) return;
    DetachHookInstalled = false;
    // No window of the plug-in may outlive its code: one still there (closed with
    // free-on-close and waiting for its deletion, say) goes now.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::vector<QPointer<QWidget>> windows; // deleting one may delete others it owns
        for (QWidget* window : QApplication::topLevelWidgets())
            if (dynamic_cast<TQvBaseForm*>(window)) windows.emplace_back(window);
        for (const QPointer<QWidget>& window : windows)
            delete window.data();
    }
    // The application object goes back to the state it had before the host's main window
    // and icon were adopted: those handles belong to the host.
    if (SavedApplication) {
        SavedApplication->Handle = 0;
        SavedApplication->IconHandle = 0;
    }
    CoUninitialize();
}

} // namespace

// Connects the host: the facade takes the host application, the package is made (it
// checks the host, connects the facade to the host library and adopts the host's
// settings) and handed to the host with one reference. Never raises; a failure is the
// package's message.
extern "C" QV_EXPORT void QV_STDCALL CreateInstance(IQVExtention** AExtension, IQvApplication* AApplication) {
    if (!AExtension) return;
    *AExtension = nullptr;
    try {
        // After ReleaseInstance (or a package teardown) the facade and its listener list
        // are made again, so a later connection works as the first one did.
        if (!QvApp) CreateQvApp();
        RegisterModuleListeners();
        QvApp->SetApplication(AApplication);
        ComPtr<TCasePackageQVClinicalPay> package =
            TCasePackageQVClinicalPay::Create(&TQVClinicalPayCmdAdapter::Create<TQVClinicalPayObject>,
                                              "Plugin.QVClinicalPayCmd", "Quorvia", 0);
        CasePackage = package.get();
        *AExtension = package.Detach();
    } catch (...) {
        // Nothing leaves the module; the host sees no extension.
    }
}

// Disconnects the host: destroys the facade. Always 0; a second call does nothing.
extern "C" QV_EXPORT int32_t QV_STDCALL ReleaseInstance() {
    FreeQvApp();
    return 0;
}
