// The host's components: "Qv.Print", "QV.System" and scripted device stand-ins.
#include "QvHostComponents.h"

#include "QvText.h"

#if __has_include("QvPrintIntf.h")
#include "QvPrintIntf.h"
#define QVHOST_WITH_PRINT 1
#endif

#include <fstream>

namespace {

#define QV_COMPONENT_NOTIMPL(n)                                                                              \
    HRESULT QV_STDCALL ReservedP##n() override {                                                             \
        return E_NOTIMPL;                                                                                    \
    }

template <class T> T& Out(T* p) {
    if (!p) throw Exception("缺少输出参数。");
    return *p;
}

std::string TextOf(BSTR AText) {
    return AText ? BstrToUtf8(AText) : std::string();
}

TComponentRequest Request(std::string AOperation, int32_t ACommand, int32_t AParam, std::string ARequest,
                          int32_t AResult = 0) {
    TComponentRequest r;
    r.Operation = std::move(AOperation);
    r.Command = ACommand;
    r.Param = AParam;
    r.Request = std::move(ARequest);
    r.Result = AResult;
    return r;
}

// The common part of a host component: name, version, last message, and the journal.
template <class Intf> class TQvComponentBase : public TInterfacedObject<Intf> {
public:
    TQvComponentBase(std::string AName, std::shared_ptr<TQvComponentJournal> AJournal)
        : FName(std::move(AName)), FJournal(std::move(AJournal)) {}

    HRESULT QV_STDCALL GetVersion(double* AVersion) override {
        return SafeCall([&] { Out(AVersion) = FVersion; });
    }
    HRESULT QV_STDCALL GetName(BSTR* AName) override {
        return SafeCall([&] { Out(AName) = Utf8ToBstr(FName); });
    }
    HRESULT QV_STDCALL GetMessage(BSTR* AMessage) override {
        return SafeCall([&] { Out(AMessage) = Utf8ToBstr(FMessage); });
    }

protected:
    // Records a request; a failing one keeps its message as the component's message.
    void Record(TComponentRequest ARequest) {
        ARequest.Component = FName;
        if (!ARequest.Error.empty()) FMessage = ARequest.Error;
        if (FJournal) FJournal->Requests.push_back(std::move(ARequest));
    }

    std::string FName;
    std::string FMessage;
    double FVersion = 1.0;
    std::shared_ptr<TQvComponentJournal> FJournal;
};

// An IQVExtention component: Execute and CreateObject are its own.
class TQvExtentionComponent : public TQvComponentBase<IQVExtention> {
public:
    using TQvComponentBase::TQvComponentBase;
    HRESULT QV_STDCALL GetModuleHandle(QvHandle* AHandle) override {
        return SafeCall([&] { Out(AHandle) = 0; });
    }
    HRESULT QV_STDCALL GetInitialized(WordBool* AValue) override {
        return SafeCall([&] { Out(AValue) = Ready() ? -1 : 0; });
    }
    HRESULT QV_STDCALL Execute(int32_t ACommand, int32_t AParam, BSTR* AData, int32_t* AResult) override {
        TComponentRequest req = Request("Execute", ACommand, AParam, AData ? TextOf(*AData) : std::string());
        const HRESULT hr = SafeCall([&] {
            int32_t& result = Out(AResult);
            BSTR& data = Out(AData);
            std::string text = req.Request;
            result = DoExecute(ACommand, AParam, text);
            // In and out: the old text is ours to free once a new one goes back.
            SysFreeString(data);
            data = Utf8ToBstr(text);
            req.Result = result;
            req.Reply = text;
        });
        if (Failed(hr)) {
            req.Error = GetErrorInfoText();
            SetErrorInfoText(req.Error);
        }
        Record(std::move(req));
        return hr;
    }
    HRESULT QV_STDCALL CreateObject(IInterface** AObject, int32_t AFlags, BSTR AName,
                                    int32_t* AResult) override {
        TComponentRequest req = Request("CreateObject", AFlags, 0, TextOf(AName));
        const HRESULT hr = SafeCall([&] {
            IInterface*& out = Out(AObject);
            out = nullptr;
            ComPtr<IInterface> object = DoCreateObject(AFlags, req.Request);
            req.Result = object ? 1 : 0;
            req.Reply = object ? "对象" : "没有对象";
            if (AResult) *AResult = req.Result;
            out = object.Detach();
        });
        if (Failed(hr)) {
            req.Error = GetErrorInfoText();
            SetErrorInfoText(req.Error);
        }
        Record(std::move(req));
        return hr;
    }

protected:
    virtual bool Ready() const { return true; }
    virtual int32_t DoExecute(int32_t ACommand, int32_t AParam, std::string& AData) {
        throw Exception("组件" + FName + "不支持命令" + std::to_string(ACommand) + "。");
    }
    virtual ComPtr<IInterface> DoCreateObject(int32_t AFlags, const std::string& AName) { return {}; }
};

// ---------------------------------------------------------------------------------------
// Qv.Print

#ifdef QVHOST_WITH_PRINT

class TQvPrintObject : public TQvComponentBase<IQVPrint2> {
public:
    TQvPrintObject(const TQvPrintSettings& ASettings, std::shared_ptr<TQvComponentJournal> AJournal,
                   std::shared_ptr<TQvPrintRecord> ARecord)
        : TQvComponentBase("Qv.Print", std::move(AJournal)), FSettings(ASettings),
          FRecord(std::move(ARecord)) {}

    QV_COMPONENT_NOTIMPL(1)
    QV_COMPONENT_NOTIMPL(2)
    HRESULT QV_STDCALL GetLastError(BSTR* AText) override {
        return SafeCall([&] { Out(AText) = Utf8ToBstr(FLastError); });
    }
    QV_COMPONENT_NOTIMPL(4)
    QV_COMPONENT_NOTIMPL(5)
    HRESULT QV_STDCALL Print(int32_t AReportID, WordBool AFlag1, WordBool AFlag2,
                             WordBool* ASuccess) override {
        TComponentRequest req = Request("Print", AReportID, 0, FVariables);
        const HRESULT hr = SafeCall([&] {
            WordBool& success = Out(ASuccess);
            success = 0;
            CheckFail();
            TPrintedReport report{FReportCode, AReportID, AFlag1 != 0, AFlag2 != 0, FVariables, {}};
            if (FSettings.PrintSucceeds) report.File = WriteReceipt(report);
            success = FSettings.PrintSucceeds ? -1 : 0;
            req.Result = FSettings.PrintSucceeds ? 1 : 0;
            req.Reply = report.File.empty() ? std::string() : report.File.filename().string();
            if (FSettings.PrintSucceeds && FRecord) FRecord->Printed.push_back(std::move(report));
        });
        Finish(req, hr);
        return hr;
    }
    QV_COMPONENT_NOTIMPL(7)
    QV_COMPONENT_NOTIMPL(8)
    QV_COMPONENT_NOTIMPL(9)
    QV_COMPONENT_NOTIMPL(10)
    QV_COMPONENT_NOTIMPL(11)
    HRESULT QV_STDCALL OpenReport(BSTR AReportCode, BSTR AVariables, BSTR AData, int32_t* AValue) override {
        TComponentRequest req = Request("OpenReport", 0, 0, TextOf(AReportCode));
        const HRESULT hr = SafeCall([&] {
            CheckFail();
            FReportCode = TextOf(AReportCode);
            FVariables = TextOf(AVariables);
            if (AValue) *AValue = 1;
            req.Result = 1;
            req.Reply = FVariables;
            if (FRecord) FRecord->Opened.push_back({FReportCode, 0, false, false, FVariables, {}});
        });
        Finish(req, hr);
        return hr;
    }
    int32_t QV_STDCALL Command(BSTR ACommand) override {
        const std::string text = TextOf(ACommand);
        int32_t result = 0;
        static const std::string SetVars = "SetVars ";
        if (text == ".CheckUser") {
            result = FSettings.CheckUser;
        } else if (text.rfind(SetVars, 0) == 0) {
            FVariables = text.substr(SetVars.size());
            result = 1;
        }
        Record(Request("Command", 0, 0, text, result));
        return result;
    }
    QV_COMPONENT_NOTIMPL(14)
    HRESULT QV_STDCALL Reset() override {
        FReportCode.clear();
        FVariables.clear();
        FLastError.clear();
        Record(Request("Reset", 0, 0, {}, 1));
        return S_OK;
    }

private:
    void CheckFail() {
        if (!FSettings.FailText.empty()) throw Exception(FSettings.FailText);
    }
    void Finish(TComponentRequest& AReq, HRESULT hr) {
        if (Failed(hr)) {
            AReq.Error = GetErrorInfoText();
            FLastError = AReq.Error;
            SetErrorInfoText(AReq.Error);
        }
        Record(std::move(AReq));
    }
    // Writes the printed report as a text file a person can read: what was printed and
    // every variable on its own line.
    std::filesystem::path WriteReceipt(const TPrintedReport& AReport) {
        if (FSettings.OutputFolder.empty()) return {};
        std::filesystem::create_directories(FSettings.OutputFolder);
        const size_t number = FRecord ? FRecord->Printed.size() + 1 : ++FPrintCount;
        char name[64];
        std::snprintf(name, sizeof name, "print-%03zu-report-%d.txt", number, AReport.ReportID);
        const std::filesystem::path file = FSettings.OutputFolder / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!out) throw Exception("无法写入打印文件：" + file.string());
        out << "报表：" << (AReport.ReportCode.empty() ? "（未打开报表）" : AReport.ReportCode) << "\n"
            << "报表编号：" << AReport.ReportID << "\n"
            << "打印参数：" << (AReport.Flag1 ? "True" : "False") << ", "
            << (AReport.Flag2 ? "True" : "False") << "\n"
            << "报表变量：\n";
        const TStringList vars(AReport.Variables);
        for (int i = 0; i < vars.Count(); ++i)
            out << "  " << vars[i] << "\n";
        out.flush();
        if (!out) throw Exception("无法写入打印文件：" + file.string());
        return file;
    }

    TQvPrintSettings FSettings;
    std::shared_ptr<TQvPrintRecord> FRecord;
    std::string FReportCode, FVariables, FLastError;
    size_t FPrintCount = 0;
};

class TQvPrintComponent : public TQvExtentionComponent {
public:
    TQvPrintComponent(TQvPrintSettings ASettings, std::shared_ptr<TQvComponentJournal> AJournal,
                      std::shared_ptr<TQvPrintRecord> ARecord)
        : TQvExtentionComponent("Qv.Print", std::move(AJournal)), FSettings(std::move(ASettings)),
          FRecord(std::move(ARecord)) {}

protected:
    ComPtr<IInterface> DoCreateObject(int32_t, const std::string&) override {
        if (FSettings.NoObject) return {};
        return ComPtr<IQVPrint2>(MakeCom<TQvPrintObject>(FSettings, FJournal, FRecord));
    }

private:
    TQvPrintSettings FSettings;
    std::shared_ptr<TQvPrintRecord> FRecord;
};
#endif

// ---------------------------------------------------------------------------------------
// QV.System

class TQvSystemComponent : public TQvExtentionComponent {
public:
    TQvSystemComponent(TQvSystemSettings ASettings, std::shared_ptr<TQvComponentJournal> AJournal)
        : TQvExtentionComponent("QV.System", std::move(AJournal)), FSettings(std::move(ASettings)) {}

protected:
    int32_t DoExecute(int32_t ACommand, int32_t AParam, std::string& AData) override {
        if (ACommand != 23) return TQvExtentionComponent::DoExecute(ACommand, AParam, AData);
        if (FSettings.Result || FSettings.Reply) {
            if (FSettings.Reply) AData = *FSettings.Reply;
            return FSettings.Result.value_or(1);
        }
        const std::optional<std::string> sql =
            FSettings.ScriptSql ? FSettings.ScriptSql(AParam) : std::nullopt;
        if (!sql) return 0;
        AData = SystemSqlReply(*sql);
        return 1;
    }

private:
    TQvSystemSettings FSettings;
};

// ---------------------------------------------------------------------------------------
// Scripted device stand-ins

class TQvScriptedComponent : public TQvExtentionComponent {
public:
    TQvScriptedComponent(std::string AName, TScriptedComponentSettings ASettings,
                         std::shared_ptr<TQvComponentJournal> AJournal)
        : TQvExtentionComponent(std::move(AName), std::move(AJournal)), FSettings(std::move(ASettings)) {
        FVersion = FSettings.Version;
    }

protected:
    bool Ready() const override { return FSettings.Ready; }
    int32_t DoExecute(int32_t ACommand, int32_t, std::string& AData) override {
        TScriptedReply reply = FSettings.Default;
        for (auto it = FSettings.Replies.begin(); it != FSettings.Replies.end(); ++it) {
            if (!it->Command || *it->Command == ACommand) {
                reply = *it;
                FSettings.Replies.erase(it);
                break;
            }
        }
        if (!reply.Fail.empty()) throw Exception(reply.Fail);
        if (reply.Reply) AData = *reply.Reply;
        return reply.Result;
    }
    // Hands itself out: the device's client object is the component.
    ComPtr<IInterface> DoCreateObject(int32_t, const std::string&) override {
        return ComPtr<IQVExtention>(this);
    }

private:
    TScriptedComponentSettings FSettings;
};

} // namespace

std::string SystemSqlReply(const std::string& ASql) {
    const std::string ansi = Utf8ToAnsi(ASql);
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(ansi.size() * 2);
    for (unsigned char c : ansi) {
        hex += digits[c >> 4];
        hex += digits[c & 0x0F];
    }
    return "$SQL=" + hex;
}

ComPtr<IQVExtention> NewPrintComponent(TQvPrintSettings ASettings,
                                       std::shared_ptr<TQvComponentJournal> AJournal,
                                       std::shared_ptr<TQvPrintRecord> ARecord) {
#ifdef QVHOST_WITH_PRINT
    return MakeCom<TQvPrintComponent>(std::move(ASettings), std::move(AJournal), std::move(ARecord));
#else
    throw Exception("此版本的主程序没有打印组件Qv.Print（缺少打印接口定义）。");
#endif
}

ComPtr<IQVExtention> NewSystemComponent(TQvSystemSettings ASettings,
                                        std::shared_ptr<TQvComponentJournal> AJournal) {
    return MakeCom<TQvSystemComponent>(std::move(ASettings), std::move(AJournal));
}

ComPtr<IQVExtention> NewScriptedComponent(std::string AName, TScriptedComponentSettings ASettings,
                                          std::shared_ptr<TQvComponentJournal> AJournal) {
    return MakeCom<TQvScriptedComponent>(std::move(AName), std::move(ASettings), std::move(AJournal));
}
