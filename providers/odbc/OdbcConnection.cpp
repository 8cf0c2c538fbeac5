// Provider for SQL Server ("SQLOLEDB.1" and the other SQL Server provider names) through
// an ODBC driver (unixODBC).
//
// A procedure call "EXEC proc ?, ? OUT" is sent as "{call proc(?,?)}" with positional
// binding; output values are read after every result has been consumed. Texts are bound
// as wide text; long texts (and texts of a long type) are sent with data-at-execution.
// Diagnostics become the error's description, SQLSTATE and native error; a connection
// failure (SQLSTATE class 08) is reported as E_FAIL, every other statement error as
// DB_E_ERRORSINCOMMAND.
#include "AdoProvider.h"
#include "OdbcText.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr size_t kLongText = 4000;   // characters above which a text goes at execution
constexpr size_t kOutputText = 4000; // room for a text output parameter
constexpr size_t kChunk = 4096;      // characters per piece sent or fetched

bool Ok(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

struct TDiag {
    std::string State;
    int32_t Native = 0;
    std::string Message;
};

std::vector<TDiag> Diagnostics(SQLSMALLINT type, SQLHANDLE h) {
    std::vector<TDiag> out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR msg[2048];
        SQLSMALLINT len = 0;
        if (!Ok(SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len))) break;
        out.push_back({reinterpret_cast<char*>(state), native,
                       std::string(reinterpret_cast<char*>(msg), std::min<size_t>(len, sizeof msg - 1))});
    }
    return out;
}

Variant IntValue(int64_t v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int>(v));
    return Variant(v);
}

SQL_TIMESTAMP_STRUCT ToTimestamp(TDateTime dt) {
    int y, m, d, h, n, s, ms;
    DecodeDateTime(dt, y, m, d, h, n, s, ms);
    SQL_TIMESTAMP_STRUCT ts{};
    ts.year = static_cast<SQLSMALLINT>(y);
    ts.month = static_cast<SQLUSMALLINT>(m);
    ts.day = static_cast<SQLUSMALLINT>(d);
    ts.hour = static_cast<SQLUSMALLINT>(h);
    ts.minute = static_cast<SQLUSMALLINT>(n);
    ts.second = static_cast<SQLUSMALLINT>(s);
    ts.fraction = static_cast<SQLUINTEGER>(ms) * 1000000u;
    return ts;
}

TDateTime FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts) {
    TDateTime d = 0;
    if (ts.year || ts.month || ts.day) d = EncodeDate(ts.year, ts.month, ts.day);
    TDateTime t = EncodeTime(ts.hour, ts.minute, ts.second, ts.fraction / 1000000u);
    return d >= 0 ? d + t : d - t;
}

enum class TKind { Int, Bool, Float, Money, Date, Text };

// One bound parameter; its buffer stays where it is until the statement is done.
struct TBound {
    TKind Kind = TKind::Text;
    SQLSMALLINT Io = SQL_PARAM_INPUT;
    std::vector<char> Buf;
    SQLLEN Ind = 0;
    std::u16string Long; // sent at execution
};

// The statement handle of one execution.
struct TStmt {
    SQLHSTMT H = SQL_NULL_HSTMT;
    ~TStmt() {
        if (H) SQLFreeHandle(SQL_HANDLE_STMT, H);
    }
};

class TOdbcConnection : public TAdoConnectionBase {
public:
    ~TOdbcConnection() override { Disconnect(); }

protected:
    std::string SourceName() const override { return FSource; }

    void DoOpen(const TConnectionString& cs) override {
        const std::string provider = Trim(cs.Value("Provider"));
        FSource = provider.empty() ? "ODBC" : provider;
        if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &FEnv))) Fail(E_FAIL, "无法初始化ODBC环境。");
        SQLSetEnvAttr(FEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, FEnv, &FDbc))) {
            Disconnect();
            Fail(E_FAIL, "无法初始化ODBC连接。");
        }
        if (const std::string t = Trim(cs.Value("Connect Timeout")); !t.empty())
            SQLSetConnectAttr(FDbc, SQL_ATTR_LOGIN_TIMEOUT,
                              reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(StrToIntDef(t, 15))), 0);
        const std::string text = OdbcConnectionString(cs);
        const SQLRETURN rc = SQLDriverConnect(FDbc, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, nullptr, 0,
                                              nullptr, SQL_DRIVER_NOPROMPT);
        if (!Ok(rc)) {
            const auto diag = Diagnostics(SQL_HANDLE_DBC, FDbc);
            Disconnect();
            throw EAdoError(E_FAIL, FSource,
                            "无法连接数据库：" +
                                (diag.empty() ? std::string("ODBC驱动程序没有说明原因。") : diag[0].Message),
                            diag.empty() ? "" : diag[0].State, diag.empty() ? 0 : diag[0].Native);
        }
        FConnected = true;
        FTranCount = 0;
    }

    void DoClose() override { Disconnect(); }

    TAdoExecuteResult DoExecute(const std::string& text, std::span<TAdoParameter> params, int options,
                                int timeout) override {
        TStmt st;
        if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, FDbc, &st.H))) Check(SQL_HANDLE_DBC, FDbc, SQL_ERROR);
        SQLSetStmtAttr(st.H, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(timeout)), 0);
        const std::string sql = OdbcCallText(text);
        Check(SQL_HANDLE_STMT, st.H, SQLPrepare(st.H, (SQLCHAR*)sql.c_str(), SQL_NTS));

        std::vector<TBound> bound(params.size());
        for (size_t i = 0; i < params.size(); ++i)
            Bind(st.H, i, params[i], bound[i]);

        SQLRETURN rc = SQLExecute(st.H);
        while (rc == SQL_NEED_DATA) {
            SQLPOINTER token = nullptr;
            rc = SQLParamData(st.H, &token);
            if (rc != SQL_NEED_DATA) break;
            const TBound& b = bound.at(reinterpret_cast<intptr_t>(token) - 1);
            for (size_t off = 0; off < b.Long.size(); off += kChunk) {
                const size_t n = std::min(kChunk, b.Long.size() - off);
                Check(SQL_HANDLE_STMT, st.H,
                      SQLPutData(st.H, (SQLPOINTER)(b.Long.data() + off),
                                 static_cast<SQLLEN>(n * sizeof(char16_t))));
            }
        }
        if (rc != SQL_NO_DATA) Check(SQL_HANDLE_STMT, st.H, rc);

        // Every result, then the output values (the server sends them last).
        TAdoExecuteResult result;
        const bool want = !(options & adExecuteNoRecords);
        do {
            SQLSMALLINT cols = 0;
            Check(SQL_HANDLE_STMT, st.H, SQLNumResultCols(st.H, &cols));
            if (cols > 0) {
                if (want && !result.Recordset)
                    result.Recordset = Fetch(st.H, cols);
                else
                    while (Ok(SQLFetch(st.H))) {
                    }
            } else {
                SQLLEN n = -1;
                if (Ok(SQLRowCount(st.H, &n)) && n >= 0)
                    result.RecordsAffected = (result.RecordsAffected < 0 ? 0 : result.RecordsAffected) + n;
            }
            rc = SQLMoreResults(st.H);
        } while (Ok(rc));
        if (rc != SQL_NO_DATA) Check(SQL_HANDLE_STMT, st.H, rc);

        for (size_t i = 0; i < params.size(); ++i)
            if (AdoParamIsOutput(params[i])) AdoParamSetOutput(params[i], OutputValue(bound[i]));
        return result;
    }

    int DoBeginTrans() override {
        if (FTranCount == 0)
            Check(SQL_HANDLE_DBC, FDbc,
                  SQLSetConnectAttr(FDbc, SQL_ATTR_AUTOCOMMIT,
                                    reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0));
        return ++FTranCount;
    }

    void DoCommitTrans() override {
        if (FTranCount == 0) Fail(DB_E_ERRORSINCOMMAND, "没有要提交的事务。");
        if (--FTranCount == 0) EndTransaction(SQL_COMMIT);
    }

    void DoRollbackTrans() override {
        if (FTranCount == 0) Fail(DB_E_ERRORSINCOMMAND, "没有要回滚的事务。");
        FTranCount = 0;
        EndTransaction(SQL_ROLLBACK);
    }

private:
    void EndTransaction(SQLSMALLINT how) {
        Check(SQL_HANDLE_DBC, FDbc, SQLEndTran(SQL_HANDLE_DBC, FDbc, how));
        Check(
            SQL_HANDLE_DBC, FDbc,
            SQLSetConnectAttr(FDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0));
    }

    void Disconnect() {
        if (FDbc) {
            if (FConnected) {
                if (FTranCount > 0) SQLEndTran(SQL_HANDLE_DBC, FDbc, SQL_ROLLBACK);
                SQLDisconnect(FDbc);
            }
            SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
        }
        if (FEnv) SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
        FDbc = SQL_NULL_HDBC;
        FEnv = SQL_NULL_HENV;
        FConnected = false;
        FTranCount = 0;
    }

    // Raises the driver's diagnostics for a failed call.
    void Check(SQLSMALLINT type, SQLHANDLE h, SQLRETURN rc) const {
        if (Ok(rc) || rc == SQL_NEED_DATA) return;
        const auto diag = Diagnostics(type, h);
        if (diag.empty()) Fail(DB_E_ERRORSINCOMMAND, "ODBC调用失败(返回值" + IntToStr(rc) + ")。");
        const TDiag& d = diag[0];
        const HRESULT number = d.State.rfind("08", 0) == 0 ? E_FAIL : DB_E_ERRORSINCOMMAND;
        throw EAdoError(number, FSource, d.Message, d.State, d.Native);
    }

    void Bind(SQLHSTMT h, size_t i, const TAdoParameter& p, TBound& b) {
        const Variant in = AdoParamInput(p, FSource);
        const bool out = AdoParamIsOutput(p);
        b.Io = p.Direction == adParamInputOutput ? SQL_PARAM_INPUT_OUTPUT
               : out                             ? SQL_PARAM_OUTPUT
                                                 : SQL_PARAM_INPUT;
        switch (p.Type) {
        case adTinyInt:
        case adSmallInt:
        case adInteger:
        case adBigInt:
            b.Kind = TKind::Int;
            break;
        case adBoolean:
            b.Kind = TKind::Bool;
            break;
        case adSingle:
        case adDouble:
            b.Kind = TKind::Float;
            break;
        case adCurrency:
        case adDecimal:
        case adNumeric:
            b.Kind = TKind::Money;
            break;
        case adDate:
        case adDBDate:
        case adDBTime:
        case adDBTimeStamp:
            b.Kind = TKind::Date;
            break;
        case adEmpty:
        case adVariant:
            switch (in.VarType()) {
            case varSmallint:
            case varInteger:
            case varInt64:
                b.Kind = TKind::Int;
                break;
            case varBoolean:
                b.Kind = TKind::Bool;
                break;
            case varDouble:
                b.Kind = TKind::Float;
                break;
            case varCurrency:
                b.Kind = TKind::Money;
                break;
            case varDate:
                b.Kind = TKind::Date;
                break;
            default:
                b.Kind = TKind::Text;
                break;
            }
            break;
        default:
            b.Kind = TKind::Text;
            break;
        }
        const bool null = in.IsNullOrEmpty();
        b.Ind = null ? SQL_NULL_DATA : 0;
        SQLSMALLINT ctype = SQL_C_WCHAR, sqltype = SQL_WVARCHAR, digits = 0;
        SQLULEN size = 0;
        SQLPOINTER ptr = nullptr;
        SQLLEN length = 0;
        auto raw = [&b](const void* v, size_t n) {
            b.Buf.assign(static_cast<const char*>(v), static_cast<const char*>(v) + n);
        };
        switch (b.Kind) {
        case TKind::Int: {
            const int64_t v = null ? 0 : in.AsInt64();
            raw(&v, sizeof v);
            ctype = SQL_C_SBIGINT;
            sqltype = p.Type == adBigInt ? SQL_BIGINT : SQL_INTEGER;
            break;
        }
        case TKind::Bool: {
            const unsigned char v = !null && in.AsBoolean();
            raw(&v, sizeof v);
            ctype = SQL_C_BIT;
            sqltype = SQL_BIT;
            break;
        }
        case TKind::Float: {
            const double v = null ? 0 : in.AsFloat();
            raw(&v, sizeof v);
            ctype = SQL_C_DOUBLE;
            sqltype = SQL_DOUBLE;
            break;
        }
        case TKind::Money: { // as exact decimal text
            const std::string v = null ? "" : CurrToStrF(in.AsCurrency(), 4);
            b.Buf.assign(48, 0);
            std::copy(v.begin(), v.end(), b.Buf.begin());
            if (!null) b.Ind = SQL_NTS;
            ctype = SQL_C_CHAR;
            sqltype = SQL_DECIMAL;
            size = 19;
            digits = 4;
            break;
        }
        case TKind::Date: {
            const SQL_TIMESTAMP_STRUCT v = null ? SQL_TIMESTAMP_STRUCT{} : ToTimestamp(in.AsDateTime());
            raw(&v, sizeof v);
            ctype = SQL_C_TYPE_TIMESTAMP;
            sqltype = SQL_TYPE_TIMESTAMP;
            size = 23;
            digits = 3;
            break;
        }
        case TKind::Text: {
            const std::u16string v = null ? std::u16string() : Utf8ToUtf16(in.AsString());
            const bool longType = p.Type == adLongVarWChar || p.Type == adLongVarChar;
            if (!out && !null && (longType || v.size() > kLongText)) { // data at execution
                b.Long = v;
                b.Ind = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(v.size() * sizeof(char16_t)));
                Check(SQL_HANDLE_STMT, h,
                      SQLBindParameter(h, static_cast<SQLUSMALLINT>(i + 1), b.Io, SQL_C_WCHAR,
                                       SQL_WLONGVARCHAR, std::max<SQLULEN>(v.size(), 1), 0,
                                       reinterpret_cast<SQLPOINTER>(i + 1), 0, &b.Ind));
                return;
            }
            const size_t room =
                out ? std::max<size_t>({kOutputText, static_cast<size_t>(std::max(p.Size, 0)), v.size()})
                    : v.size();
            b.Buf.assign((room + 1) * sizeof(char16_t), 0);
            std::copy(reinterpret_cast<const char*>(v.data()),
                      reinterpret_cast<const char*>(v.data() + v.size()), b.Buf.begin());
            if (!null) b.Ind = static_cast<SQLLEN>(v.size() * sizeof(char16_t));
            size = std::max<SQLULEN>(room, 1);
            break;
        }
        }
        ptr = b.Buf.data();
        length = static_cast<SQLLEN>(b.Buf.size());
        Check(SQL_HANDLE_STMT, h,
              SQLBindParameter(h, static_cast<SQLUSMALLINT>(i + 1), b.Io, ctype, sqltype, size, digits, ptr,
                               length, &b.Ind));
    }

    static Variant OutputValue(const TBound& b) {
        if (b.Ind == SQL_NULL_DATA) return Variant::Null();
        const char* p = b.Buf.data();
        switch (b.Kind) {
        case TKind::Int: {
            int64_t v;
            std::memcpy(&v, p, sizeof v);
            return IntValue(v);
        }
        case TKind::Bool:
            return Variant(*p != 0);
        case TKind::Float: {
            double v;
            std::memcpy(&v, p, sizeof v);
            return Variant(v);
        }
        case TKind::Money:
            return Variant(StrToCurr(std::string(p)));
        case TKind::Date: {
            SQL_TIMESTAMP_STRUCT v;
            std::memcpy(&v, p, sizeof v);
            return Variant::DateTime(FromTimestamp(v));
        }
        case TKind::Text: {
            const size_t chars = std::min<size_t>(b.Ind < 0 ? 0 : b.Ind / sizeof(char16_t),
                                                  b.Buf.size() / sizeof(char16_t) - 1);
            return Variant(Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(p), chars)));
        }
        }
        return Variant::Null();
    }

    // Every row of the current result.
    ComPtr<_Recordset> Fetch(SQLHSTMT h, SQLSMALLINT cols) {
        std::vector<TAdoStaticRecordset::TColumn> columns(cols);
        std::vector<TKind> kinds(cols);
        for (SQLSMALLINT c = 0; c < cols; ++c) {
            SQLCHAR name[256] = {};
            SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            Check(SQL_HANDLE_STMT, h,
                  SQLDescribeCol(h, c + 1, name, sizeof name, &nameLen, &type, &size, &digits, &nullable));
            TKind k = TKind::Text;
            int32_t ado = adVarWChar;
            switch (type) {
            case SQL_TINYINT:
            case SQL_SMALLINT:
            case SQL_INTEGER:
                k = TKind::Int, ado = adInteger;
                break;
            case SQL_BIGINT:
                k = TKind::Int, ado = adBigInt;
                break;
            case SQL_BIT:
                k = TKind::Bool, ado = adBoolean;
                break;
            case SQL_DECIMAL:
            case SQL_NUMERIC:
                if (digits <= 4)
                    k = TKind::Money, ado = adCurrency;
                else
                    k = TKind::Float, ado = adDouble;
                break;
            case SQL_REAL:
            case SQL_FLOAT:
            case SQL_DOUBLE:
                k = TKind::Float, ado = adDouble;
                break;
            case SQL_TYPE_DATE:
            case SQL_TYPE_TIME:
            case SQL_TYPE_TIMESTAMP:
                k = TKind::Date, ado = adDBTimeStamp;
                break;
            case SQL_LONGVARCHAR:
            case SQL_WLONGVARCHAR:
                ado = adLongVarWChar;
                break;
            default:
                break;
            }
            kinds[c] = k;
            columns[c].Name = reinterpret_cast<char*>(name);
            columns[c].Type = ado;
            columns[c].Size =
                ado == adVarWChar ? static_cast<int32_t>(std::min<SQLULEN>(size, INT32_MAX)) : 0;
            columns[c].Attributes =
                adFldUnknownUpdatable | (nullable == SQL_NO_NULLS ? 0 : adFldIsNullable | adFldMayBeNull);
        }
        auto rs = MakeCom<TAdoStaticRecordset>(std::move(columns));
        SQLRETURN rc;
        while (Ok(rc = SQLFetch(h))) {
            std::vector<Variant> row;
            row.reserve(cols);
            for (SQLSMALLINT c = 0; c < cols; ++c)
                row.push_back(Column(h, c + 1, kinds[c]));
            rs->AddRow(std::move(row));
        }
        if (rc != SQL_NO_DATA) Check(SQL_HANDLE_STMT, h, rc);
        return rs;
    }

    Variant Column(SQLHSTMT h, SQLUSMALLINT c, TKind k) const {
        SQLLEN ind = 0;
        switch (k) {
        case TKind::Int: {
            int64_t v = 0;
            Check(SQL_HANDLE_STMT, h, SQLGetData(h, c, SQL_C_SBIGINT, &v, sizeof v, &ind));
            return ind == SQL_NULL_DATA ? Variant::Null() : IntValue(v);
        }
        case TKind::Bool: {
            unsigned char v = 0;
            Check(SQL_HANDLE_STMT, h, SQLGetData(h, c, SQL_C_BIT, &v, sizeof v, &ind));
            return ind == SQL_NULL_DATA ? Variant::Null() : Variant(v != 0);
        }
        case TKind::Float: {
            double v = 0;
            Check(SQL_HANDLE_STMT, h, SQLGetData(h, c, SQL_C_DOUBLE, &v, sizeof v, &ind));
            return ind == SQL_NULL_DATA ? Variant::Null() : Variant(v);
        }
        case TKind::Money: {
            char v[64] = {};
            Check(SQL_HANDLE_STMT, h, SQLGetData(h, c, SQL_C_CHAR, v, sizeof v, &ind));
            return ind == SQL_NULL_DATA ? Variant::Null() : Variant(StrToCurr(v));
        }
        case TKind::Date: {
            SQL_TIMESTAMP_STRUCT v{};
            Check(SQL_HANDLE_STMT, h, SQLGetData(h, c, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &ind));
            return ind == SQL_NULL_DATA ? Variant::Null() : Variant::DateTime(FromTimestamp(v));
        }
        case TKind::Text: {
            std::u16string text;
            char16_t buf[kChunk + 1];
            while (true) {
                const SQLRETURN rc = SQLGetData(h, c, SQL_C_WCHAR, buf, sizeof buf, &ind);
                if (rc == SQL_NO_DATA) break;
                Check(SQL_HANDLE_STMT, h, rc);
                if (ind == SQL_NULL_DATA) return Variant::Null();
                const size_t got = (ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buf))
                                       ? kChunk
                                       : static_cast<size_t>(ind) / sizeof(char16_t);
                text.append(buf, got);
                if (rc == SQL_SUCCESS) break; // the rest did fit
            }
            return Variant(Utf16ToUtf8(text));
        }
        }
        return Variant::Null();
    }

    std::string FSource = "ODBC";
    SQLHENV FEnv = SQL_NULL_HENV;
    SQLHDBC FDbc = SQL_NULL_HDBC;
    bool FConnected = false;
    int FTranCount = 0;
};

} // namespace

extern "C" QV_EXPORT HRESULT QV_STDCALL QvCreateConnection(_Connection** AConnection) {
    if (!AConnection) return E_POINTER;
    *AConnection = nullptr;
    return SafeCall([&] { *AConnection = MakeCom<TOdbcConnection>().Detach(); });
}
