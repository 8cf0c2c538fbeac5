// The clinic payment command interface: implemented by the plug-in's command object and
// handed to the host by the extension package (CreateObject "IQVClinicalPayment").
// Operations return their results directly (no error-code wrapping).
#pragma once

#include "QvCom.h"

struct IQVClinicalPayment : IInterface {
    QV_INTERFACE("{A03C02FE-EE0E-4A73-8227-D7B26E566120}", IInterface);
    virtual bool QV_STDCALL IsEnabled() = 0;                                // 3
    virtual int32_t QV_STDCALL Check(int32_t AParam1, int32_t AParam2) = 0; // 4
    // AData is in and out: the callee may free it and hand back a new text.
    virtual int32_t QV_STDCALL Execute(int32_t ACommandNo, BSTR* AData) = 0; // 5
};
