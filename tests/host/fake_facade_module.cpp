// A tiny plug-in module built on the facade: it checks that the module's own initialisers
// find QvApp already created, and reports through the host what the facade knows.
#include "uIApplication.h"

namespace {

bool gQvAppAtLoad = false;

void Listener(uint8_t APhase) {
    if (QvApp) QvApp->WriteLog(0, "FacadeModule", "Phase", std::to_string(APhase));
}

// A unit registering its listener from its own initialiser, as the plug-in's units do.
struct TRegisterAtLoad {
    TRegisterAtLoad() {
        gQvAppAtLoad = QvApp != nullptr;
        if (QvApp) QvApp->AddListener(&Listener);
    }
} RegisterAtLoad;

} // namespace

extern "C" QV_EXPORT void QV_STDCALL CreateInstance(IQVExtention** AExtension, IQvApplication* AApplication) {
    *AExtension = nullptr;
    if (!QvApp) return;
    QvApp->SetApplication(AApplication);
    QvApp->Connect();
    QvApp->WriteLog(0, "FacadeModule", "QvAppAtLoad", gQvAppAtLoad ? "yes" : "no");
    QvApp->WriteLog(0, "FacadeModule", "Version", TQvApplication::GetModuleVersion(true));
    QvApp->WriteLog(0, "FacadeModule", "File", QvApp->ModuleFileName());
}

extern "C" QV_EXPORT int32_t QV_STDCALL ReleaseInstance() {
    FreeQvApp();
    return 0;
}
