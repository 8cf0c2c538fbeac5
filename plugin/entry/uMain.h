// The clinic payment command object handed to the host for "IQVClinicalPayment".
//
// TQVClinicalPayCmdAdapter is the reference-counted base: the interface's three
// operations forward to its virtual operations; its Execute does nothing and answers 0.
// TQVClinicalPayObject is the command itself: it asks whether to settle the clinic
// charges, opens the settlement window and appends the window's result to the text.
#pragma once

#include "uCaseCore.h"

#include <string>

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

// The clinic payment command. Holds no state between calls.
class TQVClinicalPayObject : public TQVClinicalPayCmdAdapter {
public:
    using TQVClinicalPayCmdAdapter::Execute;

    void Initialize() override {}
    void Finalize() override {}
    bool QV_STDCALL IsEnabled() override { return true; }
    int32_t QV_STDCALL Check(int32_t AParam1, int32_t AParam2) override { return 1; }
    // Served numbers 10000028 to 10000031 and 20000001; AData is the key=value text of the
    // order-sending plug-in and receives the reply lines.
    int32_t Execute(int32_t ACommandNo, WideString& AData) override;

    static bool IsServedCommand(int32_t ACommandNo);

    // Opens the settlement window and answers its modal result; the settlement window's
    // Execute unless replaced (the host's stand-ins replace it in tests).
    using TSettlementWindow = int (*)(int32_t AACF01, int32_t ACommandNo, const std::string& ASVAI01);
    static TSettlementWindow SettlementWindow;
};
