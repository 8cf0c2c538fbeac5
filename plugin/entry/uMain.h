// The clinic payment command object handed to the host for "IQVClinicalPayment".
//
// TQVClinicalPayCmdAdapter is the reference-counted base: the interface's three
// operations forward to its virtual operations. Until the payment command itself joins,
// the module hands out this base, whose Execute does nothing and answers 0.
#pragma once

#include "uCaseCore.h"

class TQVClinicalPayCmdAdapter : public TTeardownInterfacedObject<IQVClinicalPayment> {
public:
    // The class reference the package creates the command object with: makes one and
    // runs its Initialize.
    template <class TCmd> static ComPtr<IQVClinicalPayment> Create() {
        ComPtr<TCmd> obj = MakeCom<TCmd>();
        obj->Initialize();
        return obj;
    }

    virtual void Initialize() {}
    // Runs when the last reference goes.
    virtual void Finalize() {}
    bool QV_STDCALL IsEnabled() override { return true; }
    int32_t QV_STDCALL Check(int32_t AParam1, int32_t AParam2) override { return 1; }
    // The command: AData in and out. The base changes nothing and answers 0.
    virtual int32_t Execute(int32_t ACommandNo, WideString& AData) { return 0; }

    // IQVClinicalPayment::Execute: hands the text to the virtual Execute; no error leaves
    // the module (an error answers 0 and keeps its message in the error info).
    int32_t QV_STDCALL Execute(int32_t ACommandNo, BSTR* AData) final;

protected:
    void BeforeDestruction() noexcept override;
};
