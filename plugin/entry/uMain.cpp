#include "uMain.h"

int32_t QV_STDCALL TQVClinicalPayCmdAdapter::Execute(int32_t ACommandNo, BSTR* AData) {
    int32_t result = 0;
    const HRESULT hr = SafeCall([&] {
        WideString data = AData ? WideString::Copy(*AData) : WideString();
        result = Execute(ACommandNo, data);
        if (AData) {
            SysFreeString(*AData);
            *AData = data.Detach();
        }
    });
    return Succeeded(hr) ? result : 0;
}

void TQVClinicalPayCmdAdapter::BeforeDestruction() noexcept {
    try {
        Finalize();
    } catch (...) {
        // the object goes in any case
    }
}
