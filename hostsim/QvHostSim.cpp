// The stand-in host's application and library objects.
#include "QvHostSim.h"

#include "QvDateTime.h"
#include "QvText.h"

#include <fstream>
#include <utility>

#define QV_HOST_NOTIMPL(n)                                                                                   \
    HRESULT QV_STDCALL Reserved##n() override {                                                              \
        return E_NOTIMPL;                                                                                    \
    }

namespace {

// Runs an error-code-wrapped operation: the configured failure first, then the body.
template <class F> HRESULT HostCall(const TQvHostState& AState, const char* AOperation, F&& ABody) {
    return SafeCall([&] {
        AState.CheckFailure(AOperation);
        ABody();
    });
}

template <class T> T& Out(T* p) {
    if (!p) throw Exception("缺少输出参数。");
    return *p;
}

// Hands a new text out through a BSTR out-parameter.
void SetText(BSTR* AOut, const std::string& AText) {
    // An out-parameter: whatever it held is not ours to free.
    Out(AOut) = Utf8ToBstr(AText);
}

std::string WithSeparator(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

// One line of the log file: tabs separate the fields; line breaks and tabs inside a field
// are escaped so each entry stays on one line.
std::string LogField(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// The host library

class TQvHostLibrary : public TInterfacedObject<IQVLibrary3> {
public:
    explicit TQvHostLibrary(std::shared_ptr<TQvHostState> AState) : FState(std::move(AState)) {}

    HRESULT QV_STDCALL QueryInterface(const GUID& iid, void** obj) override {
        // Only a library of version 3 or more offers the third interface.
        if (iid == IQVLibrary3::IID && FState->Config.LibraryVersion < 3.0) {
            if (obj) *obj = nullptr;
            return E_NOINTERFACE;
        }
        return TInterfacedObject<IQVLibrary3>::QueryInterface(iid, obj);
    }

    // IQVInterface
    HRESULT QV_STDCALL GetVersion(double* AVersion) override {
        return Call("Library.GetVersion", [&] { Out(AVersion) = FState->Config.LibraryVersion; });
    }
    HRESULT QV_STDCALL GetName(BSTR* AName) override {
        return Call("Library.GetName", [&] { SetText(AName, FState->Config.LibraryName); });
    }
    HRESULT QV_STDCALL GetMessage(BSTR* AMessage) override {
        return Call("Library.GetMessage", [&] { SetText(AMessage, {}); });
    }
    // IQVExtention
    HRESULT QV_STDCALL GetModuleHandle(QvHandle* AHandle) override {
        return Call("Library.GetModuleHandle", [&] { Out(AHandle) = 0; });
    }
    HRESULT QV_STDCALL GetInitialized(WordBool* AValue) override {
        return Call("Library.GetInitialized", [&] { Out(AValue) = -1; });
    }
    HRESULT QV_STDCALL Execute(int32_t, int32_t, BSTR*, int32_t*) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL CreateObject(IInterface**, int32_t, BSTR, int32_t*) override { return E_NOTIMPL; }

    // IQVLibrary
    QV_HOST_NOTIMPL(10)
    QV_HOST_NOTIMPL(11)
    HRESULT QV_STDCALL GetConnection(_Connection** AConnection) override {
        return Call("Library.GetConnection", [&] {
            _Connection*& out = Out(AConnection);
            out = nullptr;
            if (!FState->Config.Connection) throw Exception("主应用程序没有数据库连接。");
            out = FState->Config.Connection();
        });
    }
    HRESULT QV_STDCALL GetConnectionMode(int32_t* AMode) override {
        return Call("Library.GetConnectionMode", [&] { Out(AMode) = FState->Config.ConnectionMode; });
    }
    HRESULT QV_STDCALL GetConnectionString(BSTR* AText) override {
        return Call("Library.GetConnectionString", [&] { SetText(AText, FState->Config.ConnectionString); });
    }
    QV_HOST_NOTIMPL(15)
    QV_HOST_NOTIMPL(16)
    QV_HOST_NOTIMPL(17)
    QV_HOST_NOTIMPL(18)
    QV_HOST_NOTIMPL(19)
    HRESULT QV_STDCALL GetResourceModule(QvHandle* AModule) override {
        return Call("Library.GetResourceModule", [&] { Out(AModule) = FState->Config.ResourceModule; });
    }
    HRESULT QV_STDCALL CreateRecycledQuery(IQVRecycledQuery** AQuery) override {
        return Call("Library.CreateRecycledQuery", [&] {
            IQVRecycledQuery*& out = Out(AQuery);
            out = nullptr;
            if (!FState->Config.RecycledQuery) throw Exception("主应用程序没有数据库连接，无法创建查询。");
            out = FState->Config.RecycledQuery().Detach();
        });
    }
    HRESULT QV_STDCALL CreateXMLDocument(TQVXMLDocument** ADoc) override {
        return Call("Library.CreateXMLDocument", [&] {
            TQVXMLDocument*& out = Out(ADoc);
            out = nullptr;
            out = NewHostXMLDocument().Detach();
        });
    }
    QV_HOST_NOTIMPL(23)
    QV_HOST_NOTIMPL(24)
    QV_HOST_NOTIMPL(25)
    HRESULT QV_STDCALL GetScript(int32_t AScriptID, BSTR* AText) override {
        return Call("Library.GetScript", [&] { SetText(AText, FState->Sql.ScriptText(AScriptID)); });
    }
    QV_HOST_NOTIMPL(27)
    QV_HOST_NOTIMPL(28)
    QV_HOST_NOTIMPL(29)
    QV_HOST_NOTIMPL(30)
    QV_HOST_NOTIMPL(31)
    HRESULT QV_STDCALL GetSysParam(int32_t ASystemNo, int32_t AParamNo, int32_t AKind, int32_t AFlag,
                                   BSTR* AValue) override {
        return Call("Library.GetSysParam", [&] {
            const auto& params = FState->Config.SysParams;
            const auto it = params.find({ASystemNo, AParamNo, AKind, AFlag});
            SetText(AValue, it == params.end() ? std::string() : it->second);
        });
    }
    QV_HOST_NOTIMPL(33)
    QV_HOST_NOTIMPL(34)
    HRESULT QV_STDCALL GetResourceText(BSTR AName, int32_t, BSTR* AText) override {
        return Call("Library.GetResourceText", [&] {
            const auto& texts = FState->Config.ResourceTexts;
            const auto it = texts.find(BstrToUtf8(AName));
            SetText(AText, it == texts.end() ? std::string() : it->second);
        });
    }
    HRESULT QV_STDCALL GetVar(BSTR AName, BSTR* AValue) override {
        return Call("Library.GetVar", [&] {
            const auto& vars = FState->Config.Vars;
            const auto it = vars.find(BstrToUtf8(AName));
            SetText(AValue, it == vars.end() ? std::string() : it->second);
        });
    }
    HRESULT QV_STDCALL WriteLog(int32_t ALevel, BSTR AAppName, BSTR ASource, BSTR ATitle,
                                BSTR ADetail) override {
        return Call("Library.WriteLog", [&] {
            FState->AddLog(
                {ALevel, BstrToUtf8(AAppName), BstrToUtf8(ASource), BstrToUtf8(ATitle), BstrToUtf8(ADetail)});
        });
    }
    QV_HOST_NOTIMPL(38)
    QV_HOST_NOTIMPL(39)
    QV_HOST_NOTIMPL(40)

    // IQVLibrary2
    QV_HOST_NOTIMPL(41)
    QV_HOST_NOTIMPL(42)
    QV_HOST_NOTIMPL(43)
    QV_HOST_NOTIMPL(44)
    QV_HOST_NOTIMPL(45)
    QV_HOST_NOTIMPL(46)
    QV_HOST_NOTIMPL(47)
    QV_HOST_NOTIMPL(48)
    QV_HOST_NOTIMPL(49)
    QV_HOST_NOTIMPL(50)
    QV_HOST_NOTIMPL(51)
    QV_HOST_NOTIMPL(52)
    QV_HOST_NOTIMPL(53)
    QV_HOST_NOTIMPL(54)
    QV_HOST_NOTIMPL(55)
    QV_HOST_NOTIMPL(56)
    QV_HOST_NOTIMPL(57)
    QV_HOST_NOTIMPL(58)
    QV_HOST_NOTIMPL(59)
    QV_HOST_NOTIMPL(60)
    QV_HOST_NOTIMPL(61)
    QV_HOST_NOTIMPL(62)
    int32_t QV_STDCALL GetValue(BSTR AKey, BSTR* AValue) override {
        const auto& values = FState->Config.Values;
        const auto it = values.find(BstrToUtf8(AKey));
        if (AValue) *AValue = it == values.end() ? nullptr : Utf8ToBstr(it->second);
        return it == values.end() ? 0 : 1;
    }
    QV_HOST_NOTIMPL(64)
    QV_HOST_NOTIMPL(65)
    QV_HOST_NOTIMPL(66)
    QV_HOST_NOTIMPL(67)
    QV_HOST_NOTIMPL(68)
    QV_HOST_NOTIMPL(69)
    QV_HOST_NOTIMPL(70)
    QV_HOST_NOTIMPL(71)
    QV_HOST_NOTIMPL(72)
    QV_HOST_NOTIMPL(73)
    QV_HOST_NOTIMPL(74)
    BSTR QV_STDCALL GetHostName() override { return Utf8ToBstr(FState->Config.HostName); }
    BSTR QV_STDCALL GetHostIP() override { return Utf8ToBstr(FState->Config.HostIP); }
    BSTR QV_STDCALL GetHostMAC() override { return Utf8ToBstr(FState->Config.HostMAC); }
    QV_HOST_NOTIMPL(78)

    // IQVLibrary3
    QV_HOST_NOTIMPL(79)
    QV_HOST_NOTIMPL(80)
    _Connection* QV_STDCALL GetSlaveConnection() override {
        try {
            return FState->Config.SlaveConnection ? FState->Config.SlaveConnection() : nullptr;
        } catch (...) {
            return nullptr; // a direct operation has no way to report a failure
        }
    }

private:
    template <class F> HRESULT Call(const char* AOperation, F&& ABody) {
        return HostCall(*FState, AOperation, std::forward<F>(ABody));
    }

    std::shared_ptr<TQvHostState> FState;
};

// ---------------------------------------------------------------------------------------
// The host application

class TQvHostApplication : public TInterfacedObject<IQvApplication> {
public:
    TQvHostApplication(std::shared_ptr<TQvHostState> AState, ComPtr<IQVLibrary3> ALibrary)
        : FState(std::move(AState)), FLibrary(std::move(ALibrary)) {}

    // IQVInterface
    HRESULT QV_STDCALL GetVersion(double* AVersion) override {
        return Call("GetVersion", [&] { Out(AVersion) = Config().Version; });
    }
    HRESULT QV_STDCALL GetName(BSTR* AName) override {
        return Call("GetName", [&] { SetText(AName, Config().Name); });
    }
    HRESULT QV_STDCALL GetMessage(BSTR* AMessage) override {
        return Call("GetMessage", [&] { SetText(AMessage, Config().Message); });
    }

    // Records
    HRESULT QV_STDCALL GetSystemInfo(IQvSystemInfo* AInfo) override {
        return Call("GetSystemInfo", [&] {
            IQvSystemInfo& info = Out(AInfo);
            info.Clear();
            info.Title = Utf8ToBstr(Config().Title);
            info.MainWindow = Config().MainWindow;
            info.Icon = Config().Icon;
        });
    }
    HRESULT QV_STDCALL GetConfigInfo(IQvConfigInfo* AInfo) override {
        return Call("GetConfigInfo", [&] {
            IQvConfigInfo& info = Out(AInfo);
            info.Clear();
            info.BorderFlag = Config().BorderFlag ? -1 : 0;
            info.ColorSchemeFlag = Config().ColorSchemeFlag;
            info.ImeName = Utf8ToBstr(Config().ImeName);
            info.Text18 = Utf8ToBstr(Config().ConfigText18);
            info.Text22 = Utf8ToBstr(Config().ConfigText22);
            info.WindowMode = Config().WindowMode;
            info.SkinIndex = Config().SkinIndex;
            info.ColorSchemeIndex = Config().ColorSchemeIndex;
        });
    }
    HRESULT QV_STDCALL GetUserInfo(IQvUserInfo* AInfo) override {
        return Call("GetUserInfo", [&] {
            IQvUserInfo& info = Out(AInfo);
            info.Clear();
            info.UserID = Config().UserID;
            info.LoginTime = Config().LoginTime;
            info.UserCode = Utf8ToBstr(Config().UserCode);
            info.UserName = Utf8ToBstr(Config().UserName);
            info.Text22 = Utf8ToBstr(Config().UserText22);
        });
    }
    HRESULT QV_STDCALL GetPathInfo(IQvPathInfo* AInfo) override {
        return Call("GetPathInfo", [&] {
            IQvPathInfo& info = Out(AInfo);
            info.Clear();
            const std::string work = FState->WorkFolder();
            auto path = [&](const std::string& p) { return Utf8ToBstr(p.empty() ? work : WithSeparator(p)); };
            info.FirstPath = path(Config().FirstPath);
            info.Path4 = path(Config().Path4);
            info.WorkPath = path(Config().WorkPath);
            info.Path12 = path(Config().Path12);
        });
    }
    HRESULT QV_STDCALL GetFontInfo(IQVFontInfo* AInfo) override {
        return Call("GetFontInfo", [&] {
            IQVFontInfo& info = Out(AInfo);
            info.Clear();
            info.Name = Utf8ToBstr(Config().FontName);
            info.UseFont = Config().UseFont ? -1 : 0;
            info.Size = Config().FontSize;
            info.Style = Config().FontStyle;
        });
    }
    QV_HOST_NOTIMPL(11)
    QV_HOST_NOTIMPL(12)

    // Components
    HRESULT QV_STDCALL GetLibraryComponent(BSTR AName, BSTR* AMessage, IQVExtention** AComponent) override {
        return Call("GetLibraryComponent",
                    [&] { FindComponent(FState->LibraryComponents, AName, AMessage, AComponent); });
    }
    HRESULT QV_STDCALL GetInterfaceComponent(BSTR AName, BSTR* AMessage, IQVExtention** AComponent) override {
        return Call("GetInterfaceComponent",
                    [&] { FindComponent(FState->InterfaceComponents, AName, AMessage, AComponent); });
    }
    QV_HOST_NOTIMPL(15)
    QV_HOST_NOTIMPL(16)
    HRESULT QV_STDCALL GetLibrary(IQVLibrary** ALibrary, int32_t, BSTR* AMessage) override {
        return Call("GetLibrary", [&] {
            IQVLibrary*& out = Out(ALibrary);
            out = nullptr;
            if (Config().LibraryNil) {
                SetText(AMessage, Config().LibraryNilMessage);
                return;
            }
            if (AMessage) SetText(AMessage, {});
            out = ComPtr<IQVLibrary>(FLibrary).Detach();
        });
    }
    QV_HOST_NOTIMPL(18)
    QV_HOST_NOTIMPL(19)

    // User interface
    HRESULT QV_STDCALL NotifyForm(IQVFormInfo* AInfo) override {
        return Call("NotifyForm", [&] {
            const IQVFormInfo& info = Out(AInfo);
            FState->FormNotices.push_back({info.Kind, info.Handle, info.Zero, BstrToUtf8(info.Text)});
        });
    }
    HRESULT QV_STDCALL Wait(int32_t AZero, BSTR AText, int32_t AKind) override {
        return Call("Wait", [&] { FState->WaitCalls.push_back({AZero, BstrToUtf8(AText), AKind}); });
    }
    HRESULT QV_STDCALL ShowMessageBox(IQVMsgInfo* AInfo, int32_t* AResult) override {
        return Call("ShowMessageBox", [&] {
            const IQVMsgInfo& info = Out(AInfo);
            int32_t& result = Out(AResult);
            THostMessageBox box{info.Owner,
                                info.Param3,
                                info.Flags,
                                info.Param4,
                                BstrToUtf8(info.Caption),
                                BstrToUtf8(info.Text),
                                1};
            if (FState->MessageBoxHandler) {
                box.Result = FState->MessageBoxHandler(box);
            } else if (!FState->MessageBoxAnswers.empty()) {
                box.Result = FState->MessageBoxAnswers.front();
                FState->MessageBoxAnswers.pop_front();
            }
            FState->MessageBoxes.push_back(box);
            result = box.Result;
        });
    }

private:
    const TQvHostConfig& Config() const { return FState->Config; }

    template <class F> HRESULT Call(const char* AOperation, F&& ABody) {
        return HostCall(*FState, AOperation, std::forward<F>(ABody));
    }

    static void FindComponent(const std::map<std::string, ComPtr<IQVExtention>, TQvNameLess>& AComponents,
                              BSTR AName, BSTR* AMessage, IQVExtention** AComponent) {
        IQVExtention*& out = Out(AComponent);
        out = nullptr;
        const std::string name = BstrToUtf8(AName);
        const auto it = AComponents.find(name);
        if (it == AComponents.end() || !it->second) {
            SetText(AMessage, "组件" + name + "不存在");
            return;
        }
        if (AMessage) SetText(AMessage, {});
        out = ComPtr<IQVExtention>(it->second).Detach();
    }

    std::shared_ptr<TQvHostState> FState;
    ComPtr<IQVLibrary3> FLibrary;
};

} // namespace

// ---------------------------------------------------------------------------------------

bool TQvNameLess::operator()(const std::string& a, const std::string& b) const {
    return LowerCase(a) < LowerCase(b);
}

TQvHostState::TQvHostState(TQvHostConfig AConfig) : Config(std::move(AConfig)) {
    if (!Config.DataFolder.empty()) Sql.LoadFolder(Config.DataFolder);
    for (const auto& [number, text] : Config.SqlTexts)
        Sql.SetSql(number, text);
    for (const auto& script : Config.Scripts)
        Sql.SetScript(script);
}

void TQvHostState::AddLog(THostLogEntry AEntry) {
    if (!Config.LogFile.empty()) {
        std::ofstream out(Config.LogFile, std::ios::app | std::ios::binary);
        out << FormatDateTime("yyyy-mm-dd hh:nn:ss", Now()) << '\t' << AEntry.Level << '\t'
            << LogField(AEntry.AppName) << '\t' << LogField(AEntry.Source) << '\t' << LogField(AEntry.Title)
            << '\t' << LogField(AEntry.Detail) << '\n';
    }
    Log.push_back(std::move(AEntry));
}

void TQvHostState::CheckFailure(const std::string& AOperation) const {
    const auto it = Config.Failures.find(AOperation);
    if (it != Config.Failures.end()) throw Exception(it->second);
}

std::string TQvHostState::WorkFolder() const {
    if (!Config.WorkPath.empty()) return WithSeparator(Config.WorkPath);
    std::error_code ec;
    const auto cwd = std::filesystem::current_path(ec);
    return ec ? std::string("./") : WithSeparator(cwd.string());
}

TQvHost::TQvHost(TQvHostConfig AConfig)
    : FState(std::make_shared<TQvHostState>(std::move(AConfig))), FLibrary(MakeCom<TQvHostLibrary>(FState)),
      FApplication(MakeCom<TQvHostApplication>(FState, FLibrary)) {}

TQvHost::~TQvHost() {
    // Components may hold the application; letting them go here breaks such cycles.
    FState->LibraryComponents.clear();
    FState->InterfaceComponents.clear();
}
