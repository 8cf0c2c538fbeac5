// Connection strings, provider loading and the connection and query components.
#include "QvADO.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

namespace {

bool IsNameChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c >= 0x80;
}

std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        const char q = v.front();
        std::string out;
        for (size_t i = 1; i + 1 < v.size(); ++i) {
            out.push_back(v[i]);
            if (v[i] == q && i + 2 < v.size() && v[i + 1] == q) ++i;
        }
        return out;
    }
    if (v.size() >= 2 && v.front() == '{' && v.back() == '}') return std::string(v.substr(1, v.size() - 2));
    return std::string(v);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Connection strings

TConnectionString::TConnectionString(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        // One item runs to the next ";" outside quotes and braces.
        const size_t start = i;
        char quote = 0;
        bool afterEq = false, valueStart = false;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            if (quote) {
                if ((quote == '}' && c == '}') || (quote != '}' && c == quote)) {
                    if (quote != '}' && i + 1 < text.size() && text[i + 1] == quote) {
                        ++i;
                        continue;
                    }
                    quote = 0;
                }
                continue;
            }
            if (c == ';') break;
            if (c == '=' && !afterEq) {
                afterEq = true;
                valueStart = true;
                continue;
            }
            if (valueStart && c != ' ' && c != '\t') {
                valueStart = false;
                if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '{')
                    quote = '}';
            }
        }
        const std::string raw = Trim(text.substr(start, i - start));
        if (i < text.size()) ++i; // the ";"
        if (raw.empty()) continue;
        const size_t eq = raw.find('=');
        std::string key = Trim(std::string_view(raw).substr(0, eq));
        std::string value =
            eq == std::string::npos ? std::string() : Unquote(Trim(std::string_view(raw).substr(eq + 1)));
        FItems.emplace_back(std::move(key), std::move(value));
        FRaw.push_back(raw);
    }
}

bool TConnectionString::Has(std::string_view key) const {
    for (const auto& [k, v] : FItems)
        if (SameText(k, key)) return true;
    return false;
}

std::string TConnectionString::Value(std::string_view key) const {
    for (const auto& [k, v] : FItems)
        if (SameText(k, key)) return v;
    return {};
}

std::string TConnectionString::Without(std::initializer_list<std::string_view> keys) const {
    std::string out;
    for (size_t i = 0; i < FItems.size(); ++i) {
        bool skip = false;
        for (auto k : keys)
            skip = skip || SameText(FItems[i].first, k);
        if (skip) continue;
        if (!out.empty()) out += ';';
        out += FRaw[i];
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Providers

std::string ProviderModuleName(std::string_view provider) {
    const std::string p = Trim(provider);
    // Every SQL Server provider name is served through ODBC.
    static const char* const sqlServer[] = {"SQLOLEDB",  "SQLOLEDB.1", "SQLNCLI",     "SQLNCLI10",
                                            "SQLNCLI11", "MSOLEDBSQL", "MSOLEDBSQL19"};
    for (const char* n : sqlServer)
        if (SameText(p, n)) return "qvprov_odbc.so";
    std::string name;
    for (unsigned char c : p)
        name.push_back(std::isalnum(c) || c == '_' || c == '-' ? char(c) : '_');
    return "qvprov_" + name + ".so";
}

std::vector<std::string> ProviderSearchFolders() {
    std::vector<std::string> out;
    auto add = [&out](const std::string& d) {
        if (d.empty()) return;
        std::string n = d;
        while (n.size() > 1 && n.back() == '/')
            n.pop_back();
        for (const auto& e : out)
            if (e == n) return;
        out.push_back(n);
    };
    if (const char* p = std::getenv("QV_PROVIDER_PATH"))
        for (const std::string& d : SplitString(p, ":"))
            add(Trim(d));
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ProviderSearchFolders), &info) && info.dli_fname) {
        std::error_code ec;
        auto self = std::filesystem::weakly_canonical(std::filesystem::path(info.dli_fname), ec);
        if (ec) self = info.dli_fname;
        const std::string dir = self.parent_path().string();
        add(dir);
        add(dir + "/modules");
        add(self.parent_path().parent_path().string() + "/modules"); // a program beside the modules folder
    }
    if (const char* m = std::getenv("QV_MODULE_DIR")) add(m);
    return out;
}

namespace {

// Provider modules stay loaded for the life of the process: their objects may be held
// by any module.
TQvCreateConnectionProc LoadProvider(const std::string& provider) {
    static std::mutex lock;
    static std::map<std::string, TQvCreateConnectionProc> loaded;
    const std::string file = ProviderModuleName(provider);
    std::lock_guard guard(lock);
    if (auto it = loaded.find(file); it != loaded.end()) return it->second;

    const auto folders = ProviderSearchFolders();
    std::string searched;
    for (const std::string& dir : folders) {
        const std::string path = dir + "/" + file;
        if (!searched.empty()) searched += "; ";
        searched += dir;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) continue;
        void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            const char* err = dlerror();
            throw EOleException("数据库提供程序“" + provider + "”无法加载(" + path + ")：" + (err ? err : ""),
                                adErrProviderNotFound);
        }
        auto proc = reinterpret_cast<TQvCreateConnectionProc>(dlsym(h, QV_PROVIDER_FACTORY));
        if (!proc)
            throw EOleException("模块" + path + "不是数据库提供程序(缺少导出函数" QV_PROVIDER_FACTORY ")。",
                                adErrProviderNotFound);
        loaded.emplace(file, proc);
        return proc;
    }
    throw EOleException("未找到数据库提供程序“" + provider + "”(模块" + file + ")，已查找的目录：" +
                            (searched.empty() ? std::string("无") : searched) + "。",
                        adErrProviderNotFound);
}

} // namespace

ComPtr<_Connection> CreateConnectionObject(const std::string& connStr) {
    const TConnectionString cs(connStr);
    const std::string provider = Trim(cs.Value("Provider"));
    if (provider.empty())
        throw EOleException("连接字符串中没有指定数据库提供程序(Provider)。", adErrProviderNotFound);
    TQvCreateConnectionProc create = LoadProvider(provider);
    ComPtr<_Connection> conn;
    const HRESULT hr = create(conn.out());
    if (Failed(hr) || !conn) {
        std::string msg = GetErrorInfoText();
        if (msg.empty()) msg = "数据库提供程序“" + provider + "”无法创建连接对象。";
        throw EOleException(msg, Failed(hr) ? hr : E_FAIL);
    }
    CheckConnectionResult(conn.get(), conn->SetConnectionString(WideString(connStr).c_bstr()));
    return conn;
}

namespace {

TADOError ReadError(_Connection* conn, HRESULT hr) {
    TADOError e;
    e.Number = hr;
    e.Description = GetErrorInfoText();
    int32_t count = 0;
    if (conn && Succeeded(conn->GetErrorCount(&count)) && count > 0) {
        ComPtr<ADOError> err;
        if (Succeeded(conn->GetError(0, err.out())) && err) {
            WideString s, d, st;
            err->GetNumber(&e.Number);
            err->GetSource(s.out());
            err->GetDescription(d.out());
            err->GetSQLState(st.out());
            err->GetNativeError(&e.NativeError);
            e.Source = s.str();
            if (!d.empty()) e.Description = d.str();
            e.SQLState = st.str();
        }
    }
    if (e.Description.empty()) e.Description = SysErrorMessage(hr);
    return e;
}

} // namespace

void CheckConnectionResult(_Connection* conn, HRESULT hr) {
    if (Succeeded(hr)) return;
    const TADOError e = ReadError(conn, hr);
    throw EOleException(e.Description, hr);
}

// ---------------------------------------------------------------------------------------
// Type codes

TFieldType AdoToFieldType(int32_t t) {
    switch (t) {
    case adSmallInt:
    case adTinyInt:
        return ftSmallint;
    case adInteger:
        return ftInteger;
    case adBigInt:
        return ftLargeint;
    case adSingle:
    case adDouble:
        return ftFloat;
    case adCurrency:
        return ftCurrency;
    case adDecimal:
    case adNumeric:
        return ftBCD;
    case adDate:
    case adDBTimeStamp:
        return ftDateTime;
    case adDBDate:
        return ftDate;
    case adDBTime:
        return ftTime;
    case adBoolean:
        return ftBoolean;
    case adChar:
    case adVarChar:
        return ftString;
    case adLongVarChar:
        return ftMemo;
    case adBSTR:
    case adWChar:
    case adVarWChar:
        return ftWideString;
    case adLongVarWChar:
        return ftWideMemo;
    case adBinary:
    case adVarBinary:
        return ftVarBytes;
    case adLongVarBinary:
        return ftBlob;
    case adVariant:
        return ftVariant;
    default:
        return ftUnknown;
    }
}

int32_t FieldTypeToAdo(TFieldType t) {
    switch (t) {
    case ftString:
    case ftFixedChar:
        return adVarChar;
    case ftMemo:
    case ftFmtMemo:
        return adLongVarChar;
    case ftWideString:
    case ftFixedWideChar:
    case ftGuid:
        return adVarWChar;
    case ftWideMemo:
        return adLongVarWChar;
    case ftSmallint:
        return adSmallInt;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
        return adInteger;
    case ftLargeint:
        return adBigInt;
    case ftBoolean:
        return adBoolean;
    case ftFloat:
        return adDouble;
    case ftCurrency:
        return adCurrency;
    case ftBCD:
    case ftFMTBcd:
        return adNumeric;
    case ftDate:
        return adDBDate;
    case ftTime:
        return adDBTime;
    case ftDateTime:
    case ftTimeStamp:
        return adDBTimeStamp;
    case ftBytes:
    case ftVarBytes:
        return adVarBinary;
    case ftBlob:
    case ftGraphic:
        return adLongVarBinary;
    case ftVariant:
        return adVariant;
    default:
        return adEmpty;
    }
}

// ---------------------------------------------------------------------------------------
// Connection

TADOConnection::TADOConnection(std::string name) : FName(std::move(name)) {}
TADOConnection::~TADOConnection() = default;

std::string TADOConnection::ConnectionString() const {
    if (FObject) {
        WideString s;
        if (Succeeded(FObject->GetConnectionString(s.out()))) return s.str();
    }
    return FConnectionString;
}

void TADOConnection::SetConnectionString(std::string text) {
    if (Connected()) throw Exception("连接已打开，不能修改连接字符串。");
    FConnectionString = std::move(text);
    FObject = nullptr;
}

void TADOConnection::SetCommandTimeout(int seconds) {
    FCommandTimeout = seconds;
    if (FObject) CheckConnectionResult(FObject.get(), FObject->SetCommandTimeout(seconds));
}

void TADOConnection::SetConnectionObject(ComPtr<_Connection> obj) {
    FObject = std::move(obj);
    if (FObject) {
        WideString s;
        if (Succeeded(FObject->GetConnectionString(s.out()))) FConnectionString = s.str();
        int32_t t = 0;
        if (Succeeded(FObject->GetCommandTimeout(&t))) FCommandTimeout = t;
    }
}

bool TADOConnection::Connected() const {
    int32_t state = adStateClosed;
    return FObject && Succeeded(FObject->GetState(&state)) && (state & adStateOpen);
}

void TADOConnection::Open() {
    if (Connected()) return;
    if (!FObject) {
        if (Trim(FConnectionString).empty()) throw Exception("连接字符串为空，无法打开数据库连接。");
        ComPtr<_Connection> obj = CreateConnectionObject(FConnectionString);
        CheckConnectionResult(obj.get(), obj->SetCommandTimeout(FCommandTimeout));
        FObject = std::move(obj);
    }
    CheckConnectionResult(FObject.get(), FObject->Open(nullptr));
}

void TADOConnection::Close() {
    if (FObject && Connected()) CheckConnectionResult(FObject.get(), FObject->Close());
}

_Connection& TADOConnection::Object() {
    Open();
    return *FObject;
}

ComPtr<_Recordset> TADOConnection::Execute(const std::string& commandText, int options,
                                           int* recordsAffected) {
    std::vector<TAdoParameter> none;
    return ExecuteCommand(commandText, none, options, -1, recordsAffected);
}

ComPtr<_Recordset> TADOConnection::ExecuteCommand(const std::string& commandText,
                                                  std::vector<TAdoParameter>& params, int options,
                                                  int timeout, int* recordsAffected) {
    _Connection& conn = Object();
    std::string text = commandText;
    if (OnWillExecute) OnWillExecute(*this, text);
    int32_t affected = -1;
    ComPtr<_Recordset> rs;
    const HRESULT hr =
        conn.Execute(WideString(text).c_bstr(), params.empty() ? nullptr : params.data(),
                     static_cast<int32_t>(params.size()), options, timeout, &affected, rs.out());
    if (Failed(hr)) {
        // Read the error before the event handler makes further calls.
        const TADOError err = ReadError(&conn, hr);
        if (OnExecuteComplete) OnExecuteComplete(*this, -1, &err);
        throw EOleException(err.Description, hr);
    }
    if (OnExecuteComplete) OnExecuteComplete(*this, affected, nullptr);
    if (recordsAffected) *recordsAffected = affected;
    return rs;
}

int TADOConnection::BeginTrans() {
    _Connection& conn = Object();
    int32_t level = 0;
    CheckConnectionResult(&conn, conn.BeginTrans(&level));
    return level;
}

void TADOConnection::CommitTrans() {
    _Connection& conn = Object();
    CheckConnectionResult(&conn, conn.CommitTrans());
}

void TADOConnection::RollbackTrans() {
    _Connection& conn = Object();
    CheckConnectionResult(&conn, conn.RollbackTrans());
}

// ---------------------------------------------------------------------------------------
// Parameters

void TParameter::SetValue(const Variant& v) {
    FValue = v;
    if (FType == ftUnknown) FType = FieldTypeOfVarType(v.VarType());
}

TParameter& TParameters::operator[](int i) {
    if (i < 0 || i >= Count()) throw Exception("列表索引越界 (" + IntToStr(i) + ")");
    return *FItems[i];
}

const TParameter& TParameters::operator[](int i) const {
    if (i < 0 || i >= Count()) throw Exception("列表索引越界 (" + IntToStr(i) + ")");
    return *FItems[i];
}

TParameter* TParameters::FindParam(std::string_view name) {
    for (auto& p : FItems)
        if (SameText(p->Name(), name)) return p.get();
    return nullptr;
}

TParameter& TParameters::ParamByName(std::string_view name) {
    TParameter* p = FindParam(name);
    if (!p) throw Exception("参数“" + std::string(name) + "”未找到。");
    return *p;
}

TParameter& TParameters::AddParameter(std::string name, TFieldType type, TParameterDirection dir, int size,
                                      Variant value) {
    FItems.push_back(std::make_unique<TParameter>(std::move(name), type, dir, size, std::move(value)));
    return *FItems.back();
}

std::string ParseSQLParams(std::string_view sql, std::vector<TSqlParamRef>& refs) {
    refs.clear();
    std::string out;
    out.reserve(sql.size());
    const size_t n = sql.size();
    size_t i = 0;
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"') { // quoted text runs to the matching quote ('' inside)
            size_t j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
            if (j > n) j = n;
            out.append(sql.substr(i, j - i));
            i = j;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') { // line comment
            size_t j = sql.find_first_of("\r\n", i);
            if (j == std::string_view::npos) j = n;
            out.append(sql.substr(i, j - i));
            i = j;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') { // block comment, nested as the server nests
            size_t j = i + 2;
            int depth = 1;
            while (j < n && depth > 0) {
                if (sql[j] == '/' && j + 1 < n && sql[j + 1] == '*') {
                    ++depth;
                    j += 2;
                } else if (sql[j] == '*' && j + 1 < n && sql[j + 1] == '/') {
                    --depth;
                    j += 2;
                } else {
                    ++j;
                }
            }
            out.append(sql.substr(i, j - i));
            i = j;
        } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') { // "::" stays as it is
            out.append("::");
            i += 2;
        } else if (c == ':' && i + 1 < n && IsNameChar(static_cast<unsigned char>(sql[i + 1]))) {
            size_t j = i + 1;
            while (j < n && IsNameChar(static_cast<unsigned char>(sql[j])))
                ++j;
            TSqlParamRef ref{std::string(sql.substr(i + 1, j - i - 1)), false};
            // OUT / OUTPUT after the reference marks an output parameter.
            size_t k = j;
            while (k < n && (sql[k] == ' ' || sql[k] == '\t' || sql[k] == '\r' || sql[k] == '\n'))
                ++k;
            size_t e = k;
            while (e < n && IsNameChar(static_cast<unsigned char>(sql[e])))
                ++e;
            const std::string_view word = sql.substr(k, e - k);
            ref.Output = SameText(word, "OUT") || SameText(word, "OUTPUT");
            refs.push_back(std::move(ref));
            out.push_back('?');
            i = j;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Query

int TExecuteOptions::ToAdo() const {
    int r = 0;
    if (Contains(eoAsyncExecute)) r |= adAsyncExecute;
    if (Contains(eoAsyncFetch)) r |= adAsyncFetch;
    if (Contains(eoAsyncFetchNonBlocking)) r |= adAsyncFetchNonBlocking;
    if (Contains(eoExecuteNoRecords)) r |= adExecuteNoRecords;
    return r;
}

std::string TADOQuery::TSQLStrings::Text() const {
    std::string s;
    for (const auto& l : FLines)
        s += l + "\r\n";
    return s;
}

void TADOQuery::TSQLStrings::SetText(std::string_view text) {
    FLines = TStringList(text).Items();
    FQuery.SQLChanged();
}

void TADOQuery::TSQLStrings::Add(std::string_view line) {
    FLines.emplace_back(line);
    FQuery.SQLChanged();
}

void TADOQuery::TSQLStrings::Clear() {
    FLines.clear();
    FQuery.SQLChanged();
}

TADOQuery::TADOQuery(std::string name) : TDataSet(std::move(name)) {}
TADOQuery::~TADOQuery() = default;

void TADOQuery::SetParamCheck(bool v) {
    FParamCheck = v;
    SQLChanged();
}

void TADOQuery::SQLChanged() {
    Close();
    const std::string text = FSQL.Text();
    FRefs.clear();
    if (FParamCheck) {
        FCommandText = ParseSQLParams(text, FRefs);
        // One new parameter per name, in the order of first reference, without a value:
        // a new statement never runs with a value meant for the previous one.
        FParameters.Clear();
        for (const TSqlParamRef& r : FRefs) {
            if (TParameter* p = FParameters.FindParam(r.Name)) {
                if (r.Output && p->Direction() == pdInput) p->SetDirection(pdInputOutput);
                continue;
            }
            FParameters.AddParameter(r.Name, ftUnknown, r.Output ? pdInputOutput : pdInput);
        }
    } else {
        FCommandText = text;
    }
}

TADOConnection& TADOQuery::CheckConnection() {
    if (!FConnection) Fail("缺少数据库连接。");
    return *FConnection;
}

namespace {

// The parameter array of one execution; frees its names and values in every case.
struct TBoundParams {
    std::vector<TAdoParameter> Items;
    ~TBoundParams() {
        for (auto& p : Items) {
            SysFreeString(p.Name);
            VariantClear(p.Value);
        }
    }
};

} // namespace

ComPtr<_Recordset> TADOQuery::Run(int options, int* affected) {
    TADOConnection& conn = CheckConnection();
    TBoundParams bound;
    bound.Items.reserve(FRefs.size());
    for (const TSqlParamRef& r : FRefs) {
        TParameter& p = FParameters.ParamByName(r.Name);
        TAdoParameter a{};
        a.Name = Utf8ToBstr(p.Name());
        a.Type = FieldTypeToAdo(p.DataType() != ftUnknown ? p.DataType()
                                                          : FieldTypeOfVarType(p.Value().VarType()));
        a.Direction = p.Direction() == pdUnknown ? adParamInput : static_cast<int32_t>(p.Direction());
        a.Size = p.Size();
        p.Value().ToVARIANT(a.Value);
        bound.Items.push_back(a);
    }
    ComPtr<_Recordset> rs =
        conn.ExecuteCommand(FCommandText, bound.Items, options, FCommandTimeout, affected);
    // Output values: from the first reference of each parameter.
    for (int i = 0; i < FParameters.Count(); ++i) {
        TParameter& p = FParameters[i];
        if (p.Direction() != pdOutput && p.Direction() != pdInputOutput && p.Direction() != pdReturnValue)
            continue;
        for (size_t k = 0; k < FRefs.size(); ++k)
            if (SameText(FRefs[k].Name, p.Name())) {
                p.SetOutputValue(Variant::FromVARIANT(bound.Items[k].Value));
                break;
            }
    }
    return rs;
}

int TADOQuery::ExecSQL() {
    int affected = -1;
    Run(FExecuteOptions.ToAdo(), &affected);
    FRowsAffected = affected;
    return affected;
}

void TADOQuery::SetRecordset(ComPtr<_Recordset> rs) {
    Close();
    FAttached = std::move(rs);
    Open();
}

void TADOQuery::InternalOpen() {
    ComPtr<_Recordset> rs = std::exchange(FAttached, nullptr);
    if (!rs) {
        int affected = -1;
        TExecuteOptions o = FExecuteOptions;
        o.Exclude(eoExecuteNoRecords);
        rs = Run(o.ToAdo(), &affected);
        FRowsAffected = affected;
    }
    if (!rs) Fail("命令文本没有返回结果集。");
    LoadFrom(*rs);
    FRecordset = rs;
}

void TADOQuery::LoadFrom(_Recordset& rs) {
    ClearFields();
    int32_t count = 0;
    OleCheck(rs.GetFieldCount(&count));
    for (int32_t i = 0; i < count; ++i) {
        WideString name;
        int32_t type = 0, size = 0, attrs = 0;
        OleCheck(rs.GetFieldInfo(i, name.out(), &type, &size, &attrs));
        std::string n = name.str();
        // Unnamed and repeated columns get a name of their own, as the platform does.
        if (n.empty()) n = "COLUMN" + IntToStr(i + 1);
        std::string unique = n;
        for (int k = 1; FindField(unique); ++k)
            unique = n + "_" + IntToStr(k);
        TField& f = AddFieldInternal(unique, AdoToFieldType(type), size);
        f.SetReadOnly(!(attrs & (adFldUpdatable | adFldUnknownUpdatable)));
    }
    WordBool eof = -1;
    OleCheck(rs.MoveFirst());
    OleCheck(rs.GetEOF(&eof));
    while (!eof) {
        TRow row;
        row.reserve(count);
        for (int32_t i = 0; i < count; ++i) {
            VARIANT v{};
            OleCheck(rs.GetValue(i, &v));
            try {
                row.push_back(Variant::FromVARIANT(v));
            } catch (...) {
                VariantClear(v);
                throw;
            }
            VariantClear(v);
        }
        Rows().push_back(std::move(row));
        OleCheck(rs.MoveNext());
        OleCheck(rs.GetEOF(&eof));
    }
}

void TADOQuery::InternalClose() {
    FRecordset = nullptr;
    ClearFields();
}
