// The host application facade: connection, listeners, log, texts, objects and records
// from the host, and the facade's life in the module.
#include "uIApplication.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

namespace {

QvHandle NoActiveWindow() {
    return 0;
}

const char* const NoApplicationText = "主应用程序接口未连接。";
const char* const NoLibraryText = "主应用程序库接口未连接。";

// The full path of the module this unit is linked into.
std::string OwnModuleFileName() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnModuleFileName), &info) && info.dli_fname && *info.dli_fname) {
        std::error_code ec;
        auto path = std::filesystem::absolute(info.dli_fname, ec);
        if (!ec && std::filesystem::exists(path, ec)) return path.lexically_normal().string();
    }
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

// A field value of a host query as a whole number: null is 0, as the original's field
// reading does; text must be a whole number.
int32_t VariantToInt(const VARIANT& v) {
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return 0;
    case VT_I4:
        return v.lVal;
    case VT_I8:
        return static_cast<int32_t>(v.llVal);
    case VT_R8:
    case VT_DATE:
        return static_cast<int32_t>(std::llround(v.dblVal));
    case VT_CY:
        return static_cast<int32_t>(std::llround(static_cast<double>(v.cyVal) / 10000.0));
    case VT_BOOL:
        return v.boolVal ? -1 : 0;
    case VT_BSTR:
        return StrToInt(Trim(BstrToUtf8(v.bstrVal)));
    default:
        throw Exception("无法将字段值转换为整数。");
    }
}

} // namespace

TQvActiveWindowHandleHook QvActiveWindowHandleHook = &NoActiveWindow;
TQvMessageFontHook QvMessageFontHook = nullptr;

void FreeMessageFont(QvHandle AFont) {
    std::unique_ptr<TMessageFont> font(reinterpret_cast<TMessageFont*>(AFont));
}

// ---------------------------------------------------------------------------------------
// Creation and destruction

TQvApplication::TQvApplication() : FModuleFileName(OwnModuleFileName()) {
    // The UI application's refreshing of formats on locale changes does not exist here, and
    // the process formats are constants of the runtime (FormatSettings()): nothing to fix.
}

TQvApplication::~TQvApplication() {
    try {
        Disconnect();
    } catch (...) {
        // A listener's failure cannot stop the facade from going.
    }
    SetApplication(nullptr);
    FListeners.clear();
}

// ---------------------------------------------------------------------------------------
// Connection and listeners

void TQvApplication::SetApplication(IQvApplication* AApp) {
    FApplication = ComPtr<IQvApplication>(AApp);
}

void TQvApplication::Connect() {
    if (HasApplication() && !HasLibrary()) {
        ComPtr<IQVLibrary> lib;
        WideString message;
        OleCheck(FApplication->GetLibrary(lib.out(), 0, message.out()));
        if (lib) {
            auto lib2 = lib.As<IQVLibrary2>();
            if (!lib2) throw Exception("主应用程序库不支持IQVLibrary2接口。");
            SetLibrary(lib2.get());
        }
    }
    TellListeners(QvPhaseConnected);
}

void TQvApplication::SetLibrary(IQVLibrary2* ALib) {
    FLibrary = ComPtr<IQVLibrary2>(ALib);
    FLibrary3 = FLibrary.As<IQVLibrary3>();
}

void TQvApplication::Disconnect() {
    std::exception_ptr firstError;
    // A copy: a listener may register another one while it is told.
    const auto listeners = FListeners;
    for (TQvAppListener proc : listeners) {
        try {
            proc(QvPhaseDisconnecting);
        } catch (...) {
            if (!firstError) firstError = std::current_exception();
        }
    }
    SetLibrary(nullptr);
    FListeners.clear();
    if (firstError) std::rethrow_exception(firstError);
}

void TQvApplication::NotifyIdle() {
    TellListeners(QvPhaseReleaseCaches);
}

void TQvApplication::AddListener(TQvAppListener AProc) {
    if (AProc && std::find(FListeners.begin(), FListeners.end(), AProc) == FListeners.end())
        FListeners.push_back(AProc);
}

void TQvApplication::TellListeners(uint8_t APhase) {
    const auto listeners = FListeners;
    for (TQvAppListener proc : listeners)
        proc(APhase);
}

void TQvApplication::SetTerminated(bool AValue) {
    if (AValue == FTerminated) return;
    FTerminated = AValue;
    WriteLog(2, "QvApplication", "Terminated", "Terminated 终止应用程序接口");
}

IQvApplication& TQvApplication::NeedApplication() const {
    if (!FApplication) throw Exception(NoApplicationText);
    return *FApplication;
}

IQVLibrary2& TQvApplication::NeedLibrary() const {
    if (!FLibrary) throw Exception(NoLibraryText);
    return *FLibrary;
}

// ---------------------------------------------------------------------------------------
// Log and texts from the host library

void TQvApplication::WriteLog(int32_t ALevel, const std::string& ASource, const std::string& ATitle,
                              const std::string& ADetail) {
    if (!HasLibrary()) return;
    const WideString appName(FAppName), source(ASource), title(ATitle), detail(ADetail);
    OleCheck(FLibrary->WriteLog(ALevel, appName.c_bstr(), source.c_bstr(), title.c_bstr(), detail.c_bstr()));
}

std::string TQvApplication::GetScript(int32_t AScriptID) {
    if (!HasLibrary()) return {};
    WideString text;
    OleCheck(FLibrary->GetScript(AScriptID, text.out()));
    return text.str();
}

std::string TQvApplication::FormatScript(int32_t AScriptID, std::initializer_list<TVarRec> AArgs) {
    return FormatScript(AScriptID, std::span<const TVarRec>(AArgs.begin(), AArgs.size()));
}

std::string TQvApplication::FormatScript(int32_t AScriptID, std::span<const TVarRec> AArgs) {
    const std::string script = GetScript(AScriptID);
    try {
        return Format(script, AArgs);
    } catch (...) {
        // The log entry must not replace the formatting error.
        try {
            std::string source = FAppName;
            if (HasApplication()) source = GetApplicationName();
            WriteLog(5, source, "提取脚本", script);
        } catch (...) {
        }
        throw;
    }
}

std::string TQvApplication::GetSysParam(int32_t ASystemNo, int32_t AParamNo, int32_t AKind, int32_t AFlag) {
    if (!HasLibrary()) return {};
    WideString value;
    OleCheck(FLibrary->GetSysParam(ASystemNo, AParamNo, AKind, AFlag, value.out()));
    return value.str();
}

int32_t TQvApplication::GetEnvValue(const std::string& AKey, std::string& AValue) {
    AValue.clear();
    if (!HasLibrary()) return 0;
    const WideString key(AKey);
    WideString value;
    const int32_t found = FLibrary->GetValue(key.c_bstr(), value.out());
    AValue = value.str();
    return found;
}

bool TQvApplication::GetProgramInfo(int32_t AProgramID, int32_t& AFirst, int32_t& ASecond) {
    std::string text;
    if (GetEnvValue(".Programs " + FAppName + ";" + IntToStr(AProgramID), text) != 1) return false;
    const auto sep = text.find(';');
    if (sep != std::string::npos) {
        AFirst = StrToIntDef(text.substr(0, sep), 0);
        ASecond = StrToIntDef(text.substr(sep + 1), 0);
    }
    return true;
}

int32_t TQvApplication::GetProgramID(const std::string& ACode) {
    ComPtr<IQVRecycledQuery> query = CreateRecycledQuery();
    const WideString sql(FormatScript(86, {QuotedStr(ACode)}));
    int32_t id = 0;
    try {
        OleCheck(query->SetSQL(sql.c_bstr()));
        OleCheck(query->Open());
        WordBool eof = -1;
        OleCheck(query->GetEof(&eof));
        if (!eof) {
            OleVariant value;
            const WideString field("ID");
            OleCheck(query->GetFieldValue(field.c_bstr(), &value.get()));
            id = VariantToInt(value.get());
        }
    } catch (...) {
        query->Close();
        throw;
    }
    OleCheck(query->Close());
    return id;
}

// ---------------------------------------------------------------------------------------
// Objects from the host

ComPtr<TQVXMLDocument> TQvApplication::CreateXMLDocument() {
    const char* const failed = "创建XML文档管理接口失败.";
    if (!HasLibrary()) throw Exception(failed);
    ComPtr<TQVXMLDocument> doc;
    OleCheck(FLibrary->CreateXMLDocument(doc.out()));
    if (!doc) throw Exception(failed);
    return doc;
}

ComPtr<IQVRecycledQuery> TQvApplication::CreateRecycledQuery() {
    const char* const failed = "创建可回收的查询表失败.";
    if (!HasLibrary()) throw Exception(failed);
    ComPtr<IQVRecycledQuery> query;
    OleCheck(FLibrary->CreateRecycledQuery(query.out()));
    if (!query) throw Exception(failed);
    return query;
}

ComPtr<IInterface> TQvApplication::CreateInterface(const std::string& AName, int32_t AFlags) {
    const WideString name(AName);
    WideString message;
    ComPtr<IQVExtention> component;
    OleCheck(NeedApplication().GetInterfaceComponent(name.c_bstr(), message.out(), component.out()));
    if (!component) throw Exception(message.empty() ? "接口组件" + AName + "不存在。" : message.str());
    ComPtr<IInterface> object;
    int32_t result = 0; // not looked at
    OleCheck(component->CreateObject(object.out(), AFlags, name.c_bstr(), &result));
    return object;
}

ComPtr<IQVIDCard> TQvApplication::GetIDCard() {
    auto card = CreateInterface("IQVIDCard", 0).As<IQVIDCard>();
    if (!card) throw Exception("接口组件IQVIDCard不支持IQVIDCard接口。");
    return card;
}

// ---------------------------------------------------------------------------------------
// Records and names from the host application

void TQvApplication::GetSystemInfo(IQvSystemInfo& AInfo) {
    AInfo.Clear();
    OleCheck(NeedApplication().GetSystemInfo(&AInfo));
}

void TQvApplication::GetConfigInfo(IQvConfigInfo& AInfo) {
    AInfo.Clear();
    OleCheck(NeedApplication().GetConfigInfo(&AInfo));
}

void TQvApplication::GetUserInfo(IQvUserInfo& AInfo) {
    AInfo.Clear();
    OleCheck(NeedApplication().GetUserInfo(&AInfo));
}

void TQvApplication::GetPathInfo(IQvPathInfo& AInfo) {
    AInfo.Clear();
    OleCheck(NeedApplication().GetPathInfo(&AInfo));
}

void TQvApplication::GetFontInfo(IQVFontInfo& AInfo) {
    AInfo.Clear();
    OleCheck(NeedApplication().GetFontInfo(&AInfo));
}

std::string TQvApplication::GetApplicationName() {
    WideString name;
    OleCheck(NeedApplication().GetName(name.out()));
    return name.str();
}

// ---------------------------------------------------------------------------------------
// Library connection data and host values

int32_t TQvApplication::GetConnectionMode() {
    int32_t mode = 0;
    OleCheck(NeedLibrary().GetConnectionMode(&mode));
    return mode;
}

_Connection* TQvApplication::GetConnection() {
    _Connection* connection = nullptr;
    OleCheck(NeedLibrary().GetConnection(&connection));
    return connection;
}

std::string TQvApplication::GetConnectionString() {
    WideString text;
    OleCheck(NeedLibrary().GetConnectionString(text.out()));
    return text.str();
}

_Connection* TQvApplication::GetSlaveConnection() {
    NeedLibrary();
    return FLibrary3 ? FLibrary3->GetSlaveConnection() : nullptr;
}

QvHandle TQvApplication::GetResourceModule() {
    QvHandle module = 0;
    OleCheck(NeedLibrary().GetResourceModule(&module));
    return module;
}

std::string TQvApplication::GetResourceText(const std::string& AName) {
    const WideString name(AName);
    WideString text;
    OleCheck(NeedLibrary().GetResourceText(name.c_bstr(), 0, text.out()));
    return text.str();
}

std::string TQvApplication::GetVar(const std::string& AName) {
    const WideString name(AName);
    WideString value;
    OleCheck(NeedLibrary().GetVar(name.c_bstr(), value.out()));
    return value.str();
}

std::string TQvApplication::GetHostName() {
    return WideString::Attach(NeedLibrary().GetHostName()).str();
}
std::string TQvApplication::GetHostIP() {
    return WideString::Attach(NeedLibrary().GetHostIP()).str();
}
std::string TQvApplication::GetHostMAC() {
    return WideString::Attach(NeedLibrary().GetHostMAC()).str();
}

// ---------------------------------------------------------------------------------------
// User interface through the host

int32_t TQvApplication::ShowHostMessage(const std::string& AText, int32_t AFlags, int32_t AParam3,
                                        int32_t AParam4) {
    IQvApplication& app = NeedApplication();
    IQvSystemInfo system;
    GetSystemInfo(system);
    IQVMsgInfo info;
    info.Owner = QvActiveWindowHandleHook ? QvActiveWindowHandleHook() : 0;
    info.Param3 = AParam3;
    info.Flags = AFlags;
    info.Param4 = AParam4;
    info.Caption = std::exchange(system.Title, nullptr);
    info.Text = Utf8ToBstr(AText);
    int32_t result = 0;
    OleCheck(app.ShowMessageBox(&info, &result));
    return result;
}

void TQvApplication::Wait(const std::string& AText, int32_t AKind) {
    if (!HasApplication()) return;
    const WideString text(AText);
    OleCheck(FApplication->Wait(0, text.c_bstr(), AKind));
}

void TQvApplication::ShowWait(const std::string& AText) {
    Wait(AText, 1);
}
void TQvApplication::EndWait() {
    Wait({}, 2);
}
void TQvApplication::AbortWait() {
    Wait({}, 4);
}

void TQvApplication::NotifyForm(int32_t AKind, QvHandle AHandle) {
    if (!HasApplication()) return;
    IQVFormInfo info;
    info.Kind = AKind;
    info.Handle = AHandle;
    OleCheck(FApplication->NotifyForm(&info));
}

QvHandle TQvApplication::CreateMessageFont() {
    TMessageFont font;
    if (!QvMessageFontHook || !QvMessageFontHook(font)) return 0;
    return reinterpret_cast<QvHandle>(std::make_unique<TMessageFont>(std::move(font)).release());
}

// ---------------------------------------------------------------------------------------
// Free helpers

std::string FormatStdDateTime(TDateTime ADateTime) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", ADateTime);
}

std::string StrToHex(std::string_view ABytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(ABytes.size() * 2);
    for (unsigned char c : ABytes) {
        hex += digits[c >> 4];
        hex += digits[c & 0x0F];
    }
    return hex;
}

std::string HexToStr(std::string_view AHex) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string bytes(AHex.size() / 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int hi = nibble(AHex[2 * i]), lo = nibble(AHex[2 * i + 1]);
        if (hi < 0 || lo < 0) break;
        bytes[i] = static_cast<char>(hi * 16 + lo);
    }
    return bytes;
}

std::string Utf8ToHex(std::string_view AUtf8) {
    return StrToHex(Utf8ToAnsi(AUtf8));
}
std::string HexToUtf8(std::string_view AHex) {
    return AnsiToUtf8(HexToStr(AHex));
}

int32_t ReadIntValue(const TStringList& AList, const std::string& AName, int32_t ADefault) {
    return StrToIntDef(AList.Values(AName), ADefault);
}

double ReadFloatValue(const TStringList& AList, const std::string& AName, double ADefault) {
    return StrToFloatDef(AList.Values(AName), ADefault);
}

std::string ReadStrValue(const TStringList& AList, const std::string& AName, bool AHexDecode,
                         const std::string& ADefault) {
    std::string value = AList.Values(AName);
    if (AHexDecode) value = HexToUtf8(value);
    return value.empty() ? ADefault : value;
}
