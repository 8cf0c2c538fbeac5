#include "FakeHost.h"

#include <optional>

#define QV_FAKE_SLOT(n)                                                                                      \
    HRESULT QV_STDCALL Reserved##n() override {                                                              \
        return E_NOTIMPL;                                                                                    \
    }

namespace {

// The host's query: answers only the script-id lookup (numbered SQL 86).
class TFakeRecycledQuery : public TInterfacedObject<IQVRecycledQuery> {
public:
    explicit TFakeRecycledQuery(TFakeHostState& AState) : FState(AState) {}
    HRESULT QV_STDCALL SetSQL(BSTR s) override { return FSQL = BstrToUtf8(s), S_OK; }
    HRESULT QV_STDCALL Open() override {
        FID.reset();
        for (const auto& [code, id] : FState.ProgramIDs)
            if (FSQL.find("'" + code + "'") != std::string::npos) FID = id;
        return S_OK;
    }
    HRESULT QV_STDCALL GetEof(WordBool* e) override { return *e = FID ? 0 : -1, S_OK; }
    HRESULT QV_STDCALL Next() override { return FID.reset(), S_OK; }
    HRESULT QV_STDCALL GetFieldValue(BSTR, VARIANT* v) override {
        v->vt = VT_I4;
        v->lVal = FID.value_or(0);
        return S_OK;
    }
    HRESULT QV_STDCALL Close() override { return S_OK; }

private:
    TFakeHostState& FState;
    std::string FSQL;
    std::optional<int32_t> FID;
};

class TFakeLibrary : public TFakeExtention<IQVLibrary2> {
public:
    explicit TFakeLibrary(TFakeHostState& AState) : FState(AState) {}

    HRESULT QV_STDCALL GetVersion(double* v) override { return *v = 2.0, S_OK; }
    HRESULT QV_STDCALL GetName(BSTR* n) override { return *n = Utf8ToBstr("Qv.Library"), S_OK; }

    HRESULT QV_STDCALL GetConnection(_Connection** c) override { return *c = nullptr, S_OK; }
    HRESULT QV_STDCALL GetConnectionMode(int32_t* m) override { return *m = 0, S_OK; }
    HRESULT QV_STDCALL GetConnectionString(BSTR* t) override { return *t = nullptr, S_OK; }
    HRESULT QV_STDCALL GetResourceModule(QvHandle* m) override { return *m = 0, S_OK; }
    HRESULT QV_STDCALL CreateRecycledQuery(IQVRecycledQuery** q) override {
        *q = new TFakeRecycledQuery(FState);
        (*q)->AddRef();
        return S_OK;
    }
    HRESULT QV_STDCALL CreateXMLDocument(TQVXMLDocument**) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL GetScript(int32_t id, BSTR* t) override {
        auto it = FState.Scripts.find(id);
        *t = Utf8ToBstr(it == FState.Scripts.end() ? FState.UnknownScript(id) : it->second);
        return S_OK;
    }
    HRESULT QV_STDCALL GetSysParam(int32_t, int32_t, int32_t, int32_t, BSTR* v) override {
        return *v = nullptr, S_OK;
    }
    HRESULT QV_STDCALL GetResourceText(BSTR, int32_t, BSTR* t) override { return *t = nullptr, S_OK; }
    HRESULT QV_STDCALL GetVar(BSTR, BSTR* v) override { return *v = nullptr, S_OK; }
    HRESULT QV_STDCALL WriteLog(int32_t level, BSTR app, BSTR source, BSTR title, BSTR detail) override {
        FState.Log.push_back(
            {level, BstrToUtf8(app), BstrToUtf8(source), BstrToUtf8(title), BstrToUtf8(detail)});
        return S_OK;
    }
    int32_t QV_STDCALL GetValue(BSTR key, BSTR* value) override {
        auto it = FState.Values.find(BstrToUtf8(key));
        if (it == FState.Values.end()) return *value = nullptr, 0;
        *value = Utf8ToBstr(it->second);
        return 1;
    }
    BSTR QV_STDCALL GetHostName() override { return Utf8ToBstr("ROOM-01"); }
    BSTR QV_STDCALL GetHostIP() override { return Utf8ToBstr("127.0.0.1"); }
    BSTR QV_STDCALL GetHostMAC() override { return Utf8ToBstr("00-00-00-00-00-00"); }

    // clang-format off
    QV_FAKE_SLOT(10) QV_FAKE_SLOT(11) QV_FAKE_SLOT(15) QV_FAKE_SLOT(16) QV_FAKE_SLOT(17) QV_FAKE_SLOT(18)
    QV_FAKE_SLOT(19) QV_FAKE_SLOT(23) QV_FAKE_SLOT(24) QV_FAKE_SLOT(25) QV_FAKE_SLOT(27) QV_FAKE_SLOT(28)
    QV_FAKE_SLOT(29) QV_FAKE_SLOT(30) QV_FAKE_SLOT(31) QV_FAKE_SLOT(33) QV_FAKE_SLOT(34) QV_FAKE_SLOT(38)
    QV_FAKE_SLOT(39) QV_FAKE_SLOT(40) QV_FAKE_SLOT(41) QV_FAKE_SLOT(42) QV_FAKE_SLOT(43) QV_FAKE_SLOT(44)
    QV_FAKE_SLOT(45) QV_FAKE_SLOT(46) QV_FAKE_SLOT(47) QV_FAKE_SLOT(48) QV_FAKE_SLOT(49) QV_FAKE_SLOT(50)
    QV_FAKE_SLOT(51) QV_FAKE_SLOT(52) QV_FAKE_SLOT(53) QV_FAKE_SLOT(54) QV_FAKE_SLOT(55) QV_FAKE_SLOT(56)
    QV_FAKE_SLOT(57) QV_FAKE_SLOT(58) QV_FAKE_SLOT(59) QV_FAKE_SLOT(60) QV_FAKE_SLOT(61) QV_FAKE_SLOT(62)
    QV_FAKE_SLOT(64) QV_FAKE_SLOT(65) QV_FAKE_SLOT(66) QV_FAKE_SLOT(67) QV_FAKE_SLOT(68) QV_FAKE_SLOT(69)
    QV_FAKE_SLOT(70) QV_FAKE_SLOT(71) QV_FAKE_SLOT(72) QV_FAKE_SLOT(73) QV_FAKE_SLOT(74) QV_FAKE_SLOT(78)
        // clang-format on

        private : TFakeHostState& FState;
};

class TFakeApplication : public TInterfacedObject<IQvApplication> {
public:
    explicit TFakeApplication(TFakeHostState& AState) : FState(AState) {}

    HRESULT QV_STDCALL GetVersion(double* v) override { return *v = 1.59, S_OK; }
    HRESULT QV_STDCALL GetName(BSTR* n) override { return *n = Utf8ToBstr("Quorvia"), S_OK; }
    HRESULT QV_STDCALL GetMessage(BSTR* m) override { return *m = nullptr, S_OK; }

    HRESULT QV_STDCALL GetSystemInfo(IQvSystemInfo* i) override {
        i->Title = Utf8ToBstr(FState.Title);
        return S_OK;
    }
    HRESULT QV_STDCALL GetConfigInfo(IQvConfigInfo* i) override {
        i->SkinIndex = FState.SkinIndex;
        i->ColorSchemeFlag = FState.ColorSchemeFlag ? 1 : 0;
        i->ColorSchemeIndex = FState.ColorSchemeIndex;
        return S_OK;
    }
    HRESULT QV_STDCALL GetUserInfo(IQvUserInfo*) override { return S_OK; }
    HRESULT QV_STDCALL GetPathInfo(IQvPathInfo*) override { return S_OK; }
    HRESULT QV_STDCALL GetFontInfo(IQVFontInfo* i) override {
        i->Name = Utf8ToBstr(FState.FontName);
        i->UseFont = FState.UseFont ? -1 : 0;
        i->Size = FState.FontSize;
        i->Style = FState.FontStyle;
        return S_OK;
    }
    HRESULT QV_STDCALL GetLibraryComponent(BSTR name, BSTR* m, IQVExtention** c) override {
        *m = nullptr;
        *c = nullptr;
        auto it = FState.Components.find(BstrToUtf8(name));
        if (it == FState.Components.end()) {
            *m = Utf8ToBstr(FState.NoComponentMessage);
            return S_OK;
        }
        *c = it->second.get();
        (*c)->AddRef();
        return S_OK;
    }
    HRESULT QV_STDCALL GetInterfaceComponent(BSTR, BSTR* m, IQVExtention** c) override {
        *m = nullptr;
        *c = nullptr;
        return S_OK;
    }
    HRESULT QV_STDCALL GetLibrary(IQVLibrary** l, int32_t, BSTR* m) override {
        *m = nullptr;
        *l = nullptr;
        if (FState.OfferLibrary) {
            *l = new TFakeLibrary(FState);
            (*l)->AddRef();
        }
        return S_OK;
    }
    HRESULT QV_STDCALL NotifyForm(IQVFormInfo*) override { return S_OK; }
    HRESULT QV_STDCALL Wait(int32_t, BSTR, int32_t) override { return S_OK; }
    HRESULT QV_STDCALL ShowMessageBox(IQVMsgInfo* i, int32_t* r) override {
        FState.Messages.push_back({i->Owner, i->Flags, BstrToUtf8(i->Caption), BstrToUtf8(i->Text)});
        *r = FState.MessageResult;
        return S_OK;
    }

    // clang-format off
    QV_FAKE_SLOT(11) QV_FAKE_SLOT(12) QV_FAKE_SLOT(15) QV_FAKE_SLOT(16) QV_FAKE_SLOT(18) QV_FAKE_SLOT(19)
        // clang-format on

        private : TFakeHostState& FState;
};

} // namespace

TFakeHostConnection::TFakeHostConnection(TFakeHostState& AState) {
    if (!QvApp) CreateQvApp();
    FApp = MakeCom<TFakeApplication>(AState);
    QvApp->SetApplication(FApp.get());
    QvApp->Connect();
}

TFakeHostConnection::~TFakeHostConnection() {
    if (QvApp) {
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
    }
}

// The library offer is read when connecting, so it is set before the connection is made.
TFakeHost::TFakeHost(bool AOfferLibrary) : FConnection((State.OfferLibrary = AOfferLibrary, State)) {}
