// A tiny plug-in module for the loader tests: it keeps the contract of the two exports, logs
// to the host library when created, and answers a few framework commands.
#include "QvHostIntf.h"

namespace {

class TFakePackage : public TInterfacedObject<IQVExtention> {
public:
    HRESULT QV_STDCALL GetVersion(double* AVersion) override {
        return SafeCall([&] { *AVersion = 2.8; });
    }
    HRESULT QV_STDCALL GetName(BSTR* AName) override {
        return SafeCall([&] { *AName = Utf8ToBstr("Test.FakePlugin"); });
    }
    HRESULT QV_STDCALL GetMessage(BSTR* AMessage) override {
        return SafeCall([&] { *AMessage = Utf8ToBstr("就绪"); });
    }
    HRESULT QV_STDCALL GetModuleHandle(QvHandle* AHandle) override {
        return SafeCall([&] { *AHandle = 0; });
    }
    HRESULT QV_STDCALL GetInitialized(WordBool* AValue) override {
        return SafeCall([&] { *AValue = -1; });
    }
    // -10 answers the tag; 99 fails with a message; everything else echoes the text.
    HRESULT QV_STDCALL Execute(int32_t ACommand, int32_t AParam, BSTR* AData, int32_t* AResult) override {
        return SafeCall([&] {
            if (ACommand == 99) throw Exception("命令99失败");
            std::string reply = ACommand == -10 ? "0" : BstrToUtf8(*AData) + "|" + std::to_string(AParam);
            SysFreeString(*AData);
            *AData = Utf8ToBstr(reply);
            *AResult = ACommand == -10 ? 1 : 2;
        });
    }
    HRESULT QV_STDCALL CreateObject(IInterface** AObject, int32_t, BSTR AName, int32_t* AResult) override {
        return SafeCall([&] {
            *AResult = 0;
            if (BstrToUtf8(AName) == "IQVClinicalPayment") {
                *AObject = ComPtr<IInterface>(static_cast<IQVExtention*>(this)).Detach();
                *AResult = 1;
            }
        });
    }
};

} // namespace

extern "C" QV_EXPORT void QV_STDCALL CreateInstance(IQVExtention** AExtension, IQvApplication* AApplication) {
    if (AApplication) {
        ComPtr<IQVLibrary> library;
        BSTR message = nullptr;
        if (Succeeded(AApplication->GetLibrary(library.out(), 0, &message)) && library) {
            const WideString app("Test.FakePlugin"), source("FakePlugin"), title("CreateInstance"),
                detail("已连接");
            library->WriteLog(0, app.c_bstr(), source.c_bstr(), title.c_bstr(), detail.c_bstr());
        }
        SysFreeString(message);
    }
    *AExtension = MakeCom<TFakePackage>().Detach();
}

#ifdef QVTEST_WITH_RELEASE
extern "C" QV_EXPORT int32_t QV_STDCALL ReleaseInstance() {
    return 0;
}
#endif
