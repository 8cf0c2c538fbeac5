// A small plug-in module for the scenario runner's own tests: its command object does one
// of everything the runner records — a host log entry, a modal question, a clinic log line
// and a file in the working folder, a component request, and database rows — so that the
// transcript can be checked without depending on the real command's progress.
#include "AdoInt.h"
#include "QvClinicalPayIntf.h"
#include "QvHostIntf.h"
#include "QvText.h"

#include <QMessageBox>
#include <QPushButton>

#include <fstream>

namespace {

IQvApplication* Host = nullptr;

void Check(HRESULT hr) {
    if (Failed(hr)) throw Exception("probe: " + GetErrorInfoText());
}

class TProbeCommand : public TInterfacedObject<IQVClinicalPayment> {
public:
    bool QV_STDCALL IsEnabled() override { return true; }
    int32_t QV_STDCALL Check(int32_t, int32_t) override { return 1; }
    int32_t QV_STDCALL Execute(int32_t ACommandNo, BSTR* AData) override {
        int32_t result = 0;
        const HRESULT hr = SafeCall([&] { result = Run(ACommandNo, AData); });
        return Failed(hr) ? -1 : result;
    }

private:
    int32_t Run(int32_t ACommandNo, BSTR* AData) {
        const std::string text = BstrToUtf8(*AData);
        ComPtr<IQVLibrary> lib;
        WideString message;
        ::Check(Host->GetLibrary(lib.out(), 0, message.out()));
        ::Check(lib->WriteLog(0, WideString("Probe").c_bstr(), WideString("探针").c_bstr(),
                              WideString("入参").c_bstr(), WideString(text).c_bstr()));

        QMessageBox box(QMessageBox::Question, QString::fromUtf8("询问"), QString::fromUtf8("继续吗？"),
                        QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setObjectName("Yes");
        box.button(QMessageBox::No)->setObjectName("No");
        if (box.exec() != QMessageBox::Yes) return 0;

        IQvPathInfo paths{};
        ::Check(Host->GetPathInfo(&paths));
        const std::string work = BstrToUtf8(paths.WorkPath);
        // The clinic log is ANSI text; the request copy is a plain file.
        std::ofstream(work + "qvClinicLog2024-03-05.log", std::ios::binary)
            << Utf8ToAnsi("2024-03-05 09:30:00--诊间结算请求==" + std::to_string(ACommandNo) + "\r\n");
        std::ofstream(work + "probe.xml", std::ios::binary) << "<Root/>";

        ComPtr<IQVExtention> system;
        WideString none;
        ::Check(Host->GetLibraryComponent(WideString("QV.System").c_bstr(), none.out(), system.out()));
        BSTR request = Utf8ToBstr("");
        int32_t reply = 0;
        const HRESULT hr = system->Execute(23, 5001, &request, &reply);
        SysFreeString(request);
        ::Check(hr);

        ComPtr<_Connection> conn;
        ::Check(lib->GetConnection(conn.out()));
        for (const char* sql :
             {"INSERT INTO ProbeT VALUES (2, 'new')", "UPDATE ProbeT SET v = 'changed' WHERE id = 1"}) {
            int32_t affected = 0;
            ::Check(conn->Execute(WideString(sql).c_bstr(), nullptr, 0, adExecuteNoRecords, -1, &affected,
                                  nullptr));
        }

        const std::string answer = text + "\r\nreMsgID= 1";
        SysFreeString(*AData);
        *AData = Utf8ToBstr(answer);
        return 1;
    }
};

class TProbePackage : public TInterfacedObject<IQVExtention> {
public:
    HRESULT QV_STDCALL GetVersion(double* AVersion) override {
        return SafeCall([&] { *AVersion = 1; });
    }
    HRESULT QV_STDCALL GetName(BSTR* AName) override {
        return SafeCall([&] { *AName = Utf8ToBstr("Probe"); });
    }
    HRESULT QV_STDCALL GetMessage(BSTR* AMessage) override {
        return SafeCall([&] { *AMessage = Utf8ToBstr(""); });
    }
    HRESULT QV_STDCALL GetModuleHandle(QvHandle* AHandle) override {
        return SafeCall([&] { *AHandle = 0; });
    }
    HRESULT QV_STDCALL GetInitialized(WordBool* AValue) override {
        return SafeCall([&] { *AValue = -1; });
    }
    // 77: asks the host's message box with the flags in the parameter; answers its result.
    HRESULT QV_STDCALL Execute(int32_t ACommand, int32_t AParam, BSTR*, int32_t* AResult) override {
        return SafeCall([&] {
            *AResult = 1;
            if (ACommand != 77) return;
            IQVMsgInfo info;
            info.Flags = AParam;
            info.Caption = Utf8ToBstr("主程序");
            info.Text = Utf8ToBstr("保存吗？");
            ::Check(Host->ShowMessageBox(&info, AResult));
        });
    }
    HRESULT QV_STDCALL CreateObject(IInterface** AObject, int32_t, BSTR, int32_t* AResult) override {
        return SafeCall([&] {
            *AObject = ComPtr<IInterface>(MakeCom<TProbeCommand>()).Detach();
            *AResult = 1;
        });
    }
};

} // namespace

extern "C" QV_EXPORT void QV_STDCALL CreateInstance(IQVExtention** AExtension, IQvApplication* AApplication) {
    Host = AApplication;
    *AExtension = ComPtr<IQVExtention>(MakeCom<TProbePackage>()).Detach();
}

extern "C" QV_EXPORT int32_t QV_STDCALL ReleaseInstance() {
    Host = nullptr;
    return 0;
}
