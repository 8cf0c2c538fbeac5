#include "ClinicTestHost.h"

#define QV_FAKE_SLOT(n)                                                                                      \
    HRESULT QV_STDCALL Reserved##n() override {                                                              \
        return E_NOTIMPL;                                                                                    \
    }

namespace {

// The host's query: answers only the script-id lookup (numbered SQL 86).
class TFakeRecycledQuery : public TInterfacedObject<IQVRecycledQuery> {
public:
    explicit TFakeRecycledQuery(TClinicHostState& AState) : FState(AState) {}
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
    TClinicHostState& FState;
    std::string FSQL;
    std::optional<int32_t> FID;
};

class TFakeLibrary : public TInterfacedObject<IQVLibrary2> {
public:
    explicit TFakeLibrary(TClinicHostState& AState) : FState(AState) {}

    HRESULT QV_STDCALL GetVersion(double* v) override { return *v = 2.0, S_OK; }
    HRESULT QV_STDCALL GetName(BSTR* n) override { return *n = Utf8ToBstr("Qv.Library"), S_OK; }
    HRESULT QV_STDCALL GetMessage(BSTR* m) override { return *m = nullptr, S_OK; }
    HRESULT QV_STDCALL GetModuleHandle(QvHandle* h) override { return *h = 0, S_OK; }
    HRESULT QV_STDCALL GetInitialized(WordBool* v) override { return *v = -1, S_OK; }
    HRESULT QV_STDCALL Execute(int32_t, int32_t, BSTR*, int32_t* r) override { return *r = 0, S_OK; }
    HRESULT QV_STDCALL CreateObject(IInterface** o, int32_t, BSTR, int32_t* r) override {
        *o = nullptr;
        *r = 0;
        return S_OK;
    }
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
        *t = Utf8ToBstr(it == FState.Scripts.end() ? "SQL语句" + std::to_string(id) + "不存在" : it->second);
        return S_OK;
    }
    HRESULT QV_STDCALL GetSysParam(int32_t, int32_t, int32_t, int32_t, BSTR* v) override {
        return *v = nullptr, S_OK;
    }
    HRESULT QV_STDCALL GetResourceText(BSTR, int32_t, BSTR* t) override { return *t = nullptr, S_OK; }
    HRESULT QV_STDCALL GetVar(BSTR, BSTR* v) override { return *v = nullptr, S_OK; }
    HRESULT QV_STDCALL WriteLog(int32_t level, BSTR, BSTR source, BSTR title, BSTR detail) override {
        FState.Log.push_back({level, BstrToUtf8(source), BstrToUtf8(title), BstrToUtf8(detail)});
        return S_OK;
    }
    int32_t QV_STDCALL GetValue(BSTR, BSTR* value) override { return *value = nullptr, 0; }
    BSTR QV_STDCALL GetHostName() override { return Utf8ToBstr("ROOM-01"); }
    BSTR QV_STDCALL GetHostIP() override { return Utf8ToBstr("127.0.0.1"); }
    BSTR QV_STDCALL GetHostMAC() override { return Utf8ToBstr("00-00-00-00-00-00"); }

    QV_FAKE_SLOT(10)
    QV_FAKE_SLOT(11) QV_FAKE_SLOT(15) QV_FAKE_SLOT(16) QV_FAKE_SLOT(17) QV_FAKE_SLOT(18) QV_FAKE_SLOT(19)
        QV_FAKE_SLOT(23) QV_FAKE_SLOT(24) QV_FAKE_SLOT(25) QV_FAKE_SLOT(27) QV_FAKE_SLOT(28) QV_FAKE_SLOT(29)
            QV_FAKE_SLOT(30) QV_FAKE_SLOT(31) QV_FAKE_SLOT(33) QV_FAKE_SLOT(34) QV_FAKE_SLOT(38)
                QV_FAKE_SLOT(39) QV_FAKE_SLOT(40) QV_FAKE_SLOT(41) QV_FAKE_SLOT(42) QV_FAKE_SLOT(43)
                    QV_FAKE_SLOT(44) QV_FAKE_SLOT(45) QV_FAKE_SLOT(46) QV_FAKE_SLOT(47) QV_FAKE_SLOT(48)
                        QV_FAKE_SLOT(49) QV_FAKE_SLOT(50) QV_FAKE_SLOT(51) QV_FAKE_SLOT(52) QV_FAKE_SLOT(53)
                            QV_FAKE_SLOT(54) QV_FAKE_SLOT(55) QV_FAKE_SLOT(56) QV_FAKE_SLOT(57)
                                QV_FAKE_SLOT(58) QV_FAKE_SLOT(59) QV_FAKE_SLOT(60) QV_FAKE_SLOT(61)
                                    QV_FAKE_SLOT(62) QV_FAKE_SLOT(64) QV_FAKE_SLOT(65) QV_FAKE_SLOT(66)
                                        QV_FAKE_SLOT(67) QV_FAKE_SLOT(68) QV_FAKE_SLOT(69) QV_FAKE_SLOT(70)
                                            QV_FAKE_SLOT(71) QV_FAKE_SLOT(72) QV_FAKE_SLOT(73)
                                                QV_FAKE_SLOT(74) QV_FAKE_SLOT(78)

                                                    private : TClinicHostState& FState;
};

class TFakeApplication : public TInterfacedObject<IQvApplication> {
public:
    explicit TFakeApplication(TClinicHostState& AState) : FState(AState) {}

    HRESULT QV_STDCALL GetVersion(double* v) override { return *v = 1.59, S_OK; }
    HRESULT QV_STDCALL GetName(BSTR* n) override { return *n = Utf8ToBstr("Quorvia"), S_OK; }
    HRESULT QV_STDCALL GetMessage(BSTR* m) override { return *m = nullptr, S_OK; }
    HRESULT QV_STDCALL GetSystemInfo(IQvSystemInfo*) override { return S_OK; }
    HRESULT QV_STDCALL GetConfigInfo(IQvConfigInfo*) override { return S_OK; }
    HRESULT QV_STDCALL GetUserInfo(IQvUserInfo*) override { return S_OK; }
    HRESULT QV_STDCALL GetPathInfo(IQvPathInfo*) override { return S_OK; }
    HRESULT QV_STDCALL GetFontInfo(IQVFontInfo*) override { return S_OK; }
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
        *l = new TFakeLibrary(FState);
        (*l)->AddRef();
        return S_OK;
    }
    HRESULT QV_STDCALL NotifyForm(IQVFormInfo*) override { return S_OK; }
    HRESULT QV_STDCALL Wait(int32_t, BSTR, int32_t) override { return S_OK; }
    HRESULT QV_STDCALL ShowMessageBox(IQVMsgInfo* i, int32_t* r) override {
        FState.HostMessages.push_back(BstrToUtf8(i->Text));
        *r = 1;
        return S_OK;
    }

    QV_FAKE_SLOT(11)
    QV_FAKE_SLOT(12) QV_FAKE_SLOT(15) QV_FAKE_SLOT(16) QV_FAKE_SLOT(18) QV_FAKE_SLOT(19)

        private : TClinicHostState& FState;
};

TFieldType TypeOf(const TCell& ACell) {
    if (std::holds_alternative<int>(ACell)) return ftInteger;
    if (std::holds_alternative<double>(ACell)) return ftFloat;
    return ftString;
}

} // namespace

void FillTable(TkbmMemTable& ATable, const TRows& ARows) {
    ATable.Close();
    ATable.DeleteFields();
    for (size_t c = 0; c < ARows.Columns.size(); ++c) {
        TFieldType type = ftString;
        for (const auto& row : ARows.Rows)
            if (!std::holds_alternative<std::monostate>(row[c])) {
                type = TypeOf(row[c]);
                break;
            }
        ATable.AddField(ARows.Columns[c], type, type == ftString ? 100 : 0);
    }
    ATable.Open();
    for (const auto& row : ARows.Rows) {
        ATable.Append();
        for (size_t c = 0; c < ARows.Columns.size(); ++c) {
            TField& field = ATable.FieldByName(ARows.Columns[c]);
            std::visit(
                [&](const auto& v) {
                    using V = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<V, int>)
                        field.SetAsInteger(v);
                    else if constexpr (std::is_same_v<V, double>)
                        field.SetAsFloat(v);
                    else if constexpr (std::is_same_v<V, std::string>)
                        field.SetAsString(v);
                },
                row[c]);
        }
        ATable.Post();
    }
    ATable.First();
}

TClinicTestHost::TClinicTestHost() {
    if (!QvApp) CreateQvApp();
    FApp = MakeCom<TFakeApplication>(State);
    QvApp->SetApplication(FApp.get());
    QvApp->Connect();
    QvOpenSQLProc = [this](const std::string& ASQL, TkbmMemTable& ATable, bool ALogged) {
        State.Statements.push_back(ASQL);
        State.StatementsLogged.push_back(ALogged);
        auto it = State.Answers.find(ASQL);
        if (it == State.Answers.end()) throw Exception("无效的SQL语句: " + ASQL);
        FillTable(ATable, it->second);
    };
}

TClinicTestHost::~TClinicTestHost() {
    QvOpenSQLProc = nullptr;
    if (QvApp) {
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
    }
}

std::vector<TLogEntry> TClinicTestHost::LogOf(const std::string& ASource) const {
    std::vector<TLogEntry> result;
    for (const TLogEntry& e : State.Log)
        if (e.Source == ASource) result.push_back(e);
    return result;
}
