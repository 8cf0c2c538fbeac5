// The connection object of the hospital database stand-in and its T-SQL front end.
//
// The front end understands exactly what the plug-in and the host's SQL texts send and
// hands everything else to SQLite unchanged:
//   EXEC[UTE] [@rc =] [dbo.]proc arg, @name = arg, arg OUT ...   (procedures in C++)
//   DECLARE @v type [= value], ...         SET @v = expression     SET NOCOUNT ON|OFF
//   IF @@TRANCOUNT > 0 <statement>         BEGIN TRAN   COMMIT [TRAN]   ROLLBACK [TRAN]
// Statements run one after another (";" optional before EXEC and DECLARE); inside other
// statements "dbo." is dropped, ISNULL( becomes IFNULL(, @variables and "?" markers are
// bound, and getdate() and dbo.GetSysParamValue() are database functions.
//
// Money columns hold 1/10000 yuan as integers (cy('12.5') makes one, yuan(x) reads one
// as a REAL amount); currency values bound to a statement are bound as REAL yuan.
#include "HospitalDb.h"

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

void HospitalFail(const std::string& message) {
    throw EAdoError(DB_E_ERRORSINCOMMAND, kHospitalSource, message);
}

namespace {

bool StartsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

// The text between two markers of a SQLite message ("no such table: X" -> X).
std::string After(const std::string& s, std::string_view prefix) {
    return s.substr(prefix.size());
}

[[noreturn]] void ThrowSqlite(sqlite3* db, int rc) {
    // The database file itself failing is a broken connection (E_FAIL: the plug-in closes
    // the connection and opens it again on the next statement); anything else is the
    // statement's own error.
    const int primary = rc & 0xFF;
    const HRESULT number = primary == SQLITE_CONSTRAINT ? DB_E_INTEGRITYVIOLATION
                           : (primary == SQLITE_IOERR || primary == SQLITE_CORRUPT ||
                              primary == SQLITE_NOTADB || primary == SQLITE_CANTOPEN)
                               ? E_FAIL
                               : DB_E_ERRORSINCOMMAND;
    throw EAdoError(number, kHospitalSource, TranslateSqliteError(db, rc), {}, rc);
}

} // namespace

std::string TranslateSqliteError(sqlite3* db, int rc) {
    const std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (StartsWith(msg, "no such table: ")) return "对象名 '" + After(msg, "no such table: ") + "' 无效。";
    if (StartsWith(msg, "no such column: ")) return "列名 '" + After(msg, "no such column: ") + "' 无效。";
    if (StartsWith(msg, "no such function: "))
        return "'" + After(msg, "no such function: ") + "' 不是可以识别的内置函数名称。";
    if (StartsWith(msg, "near \"")) {
        const size_t end = msg.find("\": syntax error");
        if (end != std::string::npos) return "'" + msg.substr(6, end - 6) + "' 附近有语法错误。";
    }
    if (msg == "incomplete input") return "SQL语句不完整。";
    if (StartsWith(msg, "unrecognized token: "))
        return "无法识别的符号 " + After(msg, "unrecognized token: ") + "。";
    if (StartsWith(msg, "UNIQUE constraint failed: "))
        return "违反了唯一约束(" + After(msg, "UNIQUE constraint failed: ") + ")，不能插入重复的值。";
    if (StartsWith(msg, "NOT NULL constraint failed: "))
        return "不能将值 NULL 插入列 " + After(msg, "NOT NULL constraint failed: ") + "，该列不允许空值。";
    if (StartsWith(msg, "FOREIGN KEY constraint failed")) return "语句与外键约束冲突。";
    if (StartsWith(msg, "CHECK constraint failed: "))
        return "语句与 CHECK 约束 \"" + After(msg, "CHECK constraint failed: ") + "\" 冲突。";
    if (msg == "file is not a database") return "文件不是有效的数据库。";
    const int primary = rc & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return "数据库正被其他连接使用，请稍后重试。(" + msg + ")";
    return "数据库执行错误：" + msg;
}

// ---------------------------------------------------------------------------------------
// Statements

TSqliteStmt::TSqliteStmt(sqlite3* db, const std::string& sql) : FDb(db) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &FStmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(FStmt);
        FStmt = nullptr;
        ThrowSqlite(db, rc);
    }
    if (!FStmt) HospitalFail("SQL语句为空。");
}

TSqliteStmt::~TSqliteStmt() {
    sqlite3_finalize(FStmt);
}

TSqliteStmt& TSqliteStmt::Bind(int pos, const Variant& v) {
    int rc = SQLITE_OK;
    switch (v.VarType()) {
    case varEmpty:
    case varNull:
        rc = sqlite3_bind_null(FStmt, pos);
        break;
    case varSmallint:
    case varInteger:
    case varInt64:
        rc = sqlite3_bind_int64(FStmt, pos, v.AsInt64());
        break;
    case varBoolean:
        rc = sqlite3_bind_int(FStmt, pos, v.AsBoolean() ? 1 : 0);
        break;
    case varDouble:
        rc = sqlite3_bind_double(FStmt, pos, v.AsFloat());
        break;
    case varCurrency:
        rc = sqlite3_bind_int64(FStmt, pos, v.AsCurrency().Value);
        break;
    case varDate: {
        const std::string s = FormatDateTime("yyyy-mm-dd hh:nn:ss", v.AsDateTime());
        rc = sqlite3_bind_text(FStmt, pos, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        break;
    }
    case varUString: {
        const std::string s = v.AsString();
        rc = sqlite3_bind_text(FStmt, pos, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        break;
    }
    }
    if (rc != SQLITE_OK) ThrowSqlite(FDb, rc);
    return *this;
}

bool TSqliteStmt::Step() {
    const int rc = sqlite3_step(FStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowSqlite(FDb, rc);
}

void TSqliteStmt::Run() {
    while (Step()) {
    }
}

std::string TSqliteStmt::Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, col));
    return p ? std::string(p, sqlite3_column_bytes(FStmt, col)) : std::string();
}

namespace {

// ---------------------------------------------------------------------------------------
// Result sets: SQLite values to typed columns.

enum class TColKind { Auto, Int, Float, Money, Date, Bool, Text };

TColKind KindOfDecl(const char* decl) {
    if (!decl) return TColKind::Auto;
    const std::string d = UpperCase(decl);
    auto has = [&d](const char* s) { return d.find(s) != std::string::npos; };
    if (has("MONEY")) return TColKind::Money;
    if (has("DATE") || has("TIME")) return TColKind::Date;
    if (has("BIT") || has("BOOL")) return TColKind::Bool;
    if (has("INT")) return TColKind::Int;
    if (has("CHAR") || has("CLOB") || has("TEXT")) return TColKind::Text;
    if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) return TColKind::Float;
    return TColKind::Auto;
}

struct TCell {
    int Type = SQLITE_NULL;
    int64_t I = 0;
    double D = 0;
    std::string S;
};

TCell ReadCell(sqlite3_stmt* st, int col) {
    TCell c;
    c.Type = sqlite3_column_type(st, col);
    switch (c.Type) {
    case SQLITE_INTEGER:
        c.I = sqlite3_column_int64(st, col);
        break;
    case SQLITE_FLOAT:
        c.D = sqlite3_column_double(st, col);
        break;
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
        c.S.assign(p ? p : "", sqlite3_column_bytes(st, col));
        break;
    }
    case SQLITE_BLOB: {
        const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, col));
        const int n = sqlite3_column_bytes(st, col);
        static const char hex[] = "0123456789ABCDEF";
        for (int i = 0; i < n; ++i) {
            c.S.push_back(hex[p[i] >> 4]);
            c.S.push_back(hex[p[i] & 15]);
        }
        c.Type = SQLITE_TEXT;
        break;
    }
    default:
        break;
    }
    return c;
}

std::string CellText(const TCell& c) {
    switch (c.Type) {
    case SQLITE_INTEGER:
        return IntToStr(c.I);
    case SQLITE_FLOAT:
        return FloatToStr(c.D);
    default:
        return c.S;
    }
}

Variant IntVariant(int64_t i) {
    if (i >= INT32_MIN && i <= INT32_MAX) return Variant(static_cast<int>(i));
    return Variant(i);
}

Variant CellToVariant(const TCell& c, TColKind k) {
    if (c.Type == SQLITE_NULL) return Variant::Null();
    switch (k) {
    case TColKind::Money:
        if (c.Type == SQLITE_INTEGER) return Variant(Currency{c.I});
        if (c.Type == SQLITE_FLOAT) return Variant(Currency{static_cast<int64_t>(std::llround(c.D))});
        break;
    case TColKind::Date:
        if (c.Type == SQLITE_TEXT) {
            std::string s = c.S;
            if (s.size() > 10 && s[10] == 'T') s[10] = ' ';
            TDateTime dt;
            if (TryStrToDateTime(s, dt)) return Variant::DateTime(dt);
        }
        break;
    case TColKind::Bool:
        if (c.Type == SQLITE_INTEGER) return Variant(c.I != 0);
        break;
    case TColKind::Int:
        if (c.Type == SQLITE_INTEGER) return IntVariant(c.I);
        break;
    case TColKind::Float:
        if (c.Type == SQLITE_INTEGER) return Variant(static_cast<double>(c.I));
        if (c.Type == SQLITE_FLOAT) return Variant(c.D);
        break;
    case TColKind::Text:
        return Variant(CellText(c));
    case TColKind::Auto:
        break;
    }
    switch (c.Type) {
    case SQLITE_INTEGER:
        return IntVariant(c.I);
    case SQLITE_FLOAT:
        return Variant(c.D);
    default:
        return Variant(c.S);
    }
}

int32_t AdoTypeOf(TColKind k, bool wide) {
    switch (k) {
    case TColKind::Int:
        return wide ? adBigInt : adInteger;
    case TColKind::Float:
        return adDouble;
    case TColKind::Money:
        return adCurrency;
    case TColKind::Date:
        return adDBTimeStamp;
    case TColKind::Bool:
        return adBoolean;
    default:
        return adVarWChar;
    }
}

// Steps a statement to its end; with `collect`, its rows become a recordset.
ComPtr<TAdoStaticRecordset> Collect(TSqliteStmt& st, bool collect) {
    sqlite3_stmt* s = st.get();
    const int n = sqlite3_column_count(s);
    std::vector<std::vector<TCell>> rows;
    while (st.Step())
        if (collect) {
            std::vector<TCell> row;
            row.reserve(n);
            for (int i = 0; i < n; ++i)
                row.push_back(ReadCell(s, i));
            rows.push_back(std::move(row));
        }
    if (!collect) return {};
    std::vector<TAdoStaticRecordset::TColumn> cols(n);
    std::vector<TColKind> kinds(n);
    for (int i = 0; i < n; ++i) {
        const char* decl = sqlite3_column_decltype(s, i);
        TColKind k = KindOfDecl(decl);
        if (k == TColKind::Auto) { // an expression: the type of its first value
            k = TColKind::Text;
            for (const auto& r : rows) {
                if (r[i].Type == SQLITE_INTEGER)
                    k = TColKind::Int;
                else if (r[i].Type == SQLITE_FLOAT)
                    k = TColKind::Float;
                if (r[i].Type != SQLITE_NULL) break;
            }
        }
        bool wide = false;
        for (const auto& r : rows)
            wide = wide || (r[i].Type == SQLITE_INTEGER && (r[i].I < INT32_MIN || r[i].I > INT32_MAX));
        kinds[i] = k;
        const char* name = sqlite3_column_name(s, i);
        cols[i].Name = name ? name : "";
        cols[i].Type = AdoTypeOf(k, wide);
        cols[i].Attributes = adFldIsNullable | adFldMayBeNull | (decl ? adFldUpdatable : 0);
    }
    auto rs = MakeCom<TAdoStaticRecordset>(std::move(cols));
    for (const auto& r : rows) {
        std::vector<Variant> vals;
        vals.reserve(n);
        for (int i = 0; i < n; ++i)
            vals.push_back(CellToVariant(r[i], kinds[i]));
        rs->AddRow(std::move(vals));
    }
    return rs;
}

// ---------------------------------------------------------------------------------------
// Tokens

enum class TK { Space, Comment, Word, QIdent, String, Number, Var, SysVar, Param, Punct };

struct TToken {
    TK Kind;
    size_t B, E;     // raw text range
    std::string Val; // word as written, unquoted identifier or string, variable name
};

bool IsWordStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80;
}
bool IsWordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '#' || c == '$' || c >= 0x80;
}

std::string Clip(std::string_view text) {
    // At most about 40 bytes of text for a message, never splitting a UTF-8 character.
    const std::string trimmed = TrimRight(text);
    const std::string_view s = trimmed;
    if (s.size() <= 40) return std::string(s);
    size_t n = 40;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return std::string(s.substr(0, n)) + "...";
}

std::vector<TToken> Tokenize(std::string_view t) {
    std::vector<TToken> out;
    const size_t n = t.size();
    size_t i = 0;
    auto quoted = [&](size_t start, char close,
                      std::string& val) -> size_t { // index after the closing quote, or npos
        size_t j = start;
        while (j < n) {
            if (t[j] == close) {
                if (j + 1 < n && t[j + 1] == close) {
                    val.push_back(close);
                    j += 2;
                    continue;
                }
                return j + 1;
            }
            val.push_back(t[j++]);
        }
        return std::string_view::npos;
    };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        const size_t b = i;
        if (std::isspace(c)) {
            while (i < n && std::isspace(static_cast<unsigned char>(t[i])))
                ++i;
            out.push_back({TK::Space, b, i, {}});
        } else if (c == '-' && i + 1 < n && t[i + 1] == '-') {
            while (i < n && t[i] != '\n' && t[i] != '\r')
                ++i;
            out.push_back({TK::Comment, b, i, {}});
        } else if (c == '/' && i + 1 < n && t[i + 1] == '*') {
            int depth = 0;
            do {
                if (i + 1 < n && t[i] == '/' && t[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (i + 1 < n && t[i] == '*' && t[i + 1] == '/') {
                    --depth;
                    i += 2;
                } else {
                    ++i;
                }
            } while (depth > 0 && i < n);
            if (depth > 0) HospitalFail("批处理中缺少注释结束标记 '*/'。");
            out.push_back({TK::Comment, b, i, {}});
        } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && t[i + 1] == '\'')) {
            const size_t q = c == '\'' ? i : i + 1;
            std::string val;
            const size_t e = quoted(q + 1, '\'', val);
            if (e == std::string_view::npos) HospitalFail("字符串 '" + Clip(val) + "' 后的引号不完整。");
            i = e;
            out.push_back({TK::String, b, i, std::move(val)});
        } else if (c == '"' || c == '[') {
            std::string val;
            const size_t e = quoted(i + 1, c == '"' ? '"' : ']', val);
            if (e == std::string_view::npos)
                HospitalFail("以 " + std::string(1, char(c)) + Clip(val) + " 开头的标识符缺少结束符号。");
            i = e;
            out.push_back({TK::QIdent, b, i, std::move(val)});
        } else if (c == '@') {
            const bool sys = i + 1 < n && t[i + 1] == '@';
            size_t j = i + (sys ? 2 : 1);
            const size_t s = j;
            while (j < n && IsWordChar(static_cast<unsigned char>(t[j])))
                ++j;
            if (j == s) {
                ++i;
                out.push_back({TK::Punct, b, i, "@"});
                continue;
            }
            i = j;
            out.push_back({sys ? TK::SysVar : TK::Var, b, i, std::string(t.substr(s, j - s))});
        } else if (c == '?') {
            ++i;
            out.push_back({TK::Param, b, i, "?"});
        } else if (std::isdigit(c) ||
                   (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(t[i + 1])))) {
            while (i < n && (std::isdigit(static_cast<unsigned char>(t[i])) || t[i] == '.'))
                ++i;
            if (i < n && (t[i] == 'e' || t[i] == 'E')) {
                size_t j = i + 1;
                if (j < n && (t[j] == '+' || t[j] == '-')) ++j;
                if (j < n && std::isdigit(static_cast<unsigned char>(t[j]))) {
                    i = j;
                    while (i < n && std::isdigit(static_cast<unsigned char>(t[i])))
                        ++i;
                }
            }
            out.push_back({TK::Number, b, i, std::string(t.substr(b, i - b))});
        } else if (IsWordStart(c)) {
            while (i < n && IsWordChar(static_cast<unsigned char>(t[i])))
                ++i;
            out.push_back({TK::Word, b, i, std::string(t.substr(b, i - b))});
        } else {
            static const char* const two[] = {"<=", ">=", "<>", "!=", "||", "==", "::", "!<", "!>"};
            size_t len = 1;
            for (const char* p : two)
                if (t.substr(i, 2) == p) len = 2;
            i += len;
            out.push_back({TK::Punct, b, i, std::string(t.substr(b, len))});
        }
    }
    return out;
}

// Words that start a statement: they end a procedure's argument list and a transaction name.
bool IsStatementWord(const TToken& t) {
    if (t.Kind != TK::Word) return false;
    static const char* const words[] = {"SELECT",  "INSERT", "UPDATE", "DELETE", "EXEC",     "EXECUTE",
                                        "DECLARE", "IF",     "BEGIN",  "COMMIT", "ROLLBACK", "SET",
                                        "WITH",    "CREATE", "DROP",   "ALTER",  "REPLACE",  "PRINT"};
    for (const char* w : words)
        if (SameText(t.Val, w)) return true;
    return false;
}

struct TVariable {
    std::string Type; // declared type, upper case, without its length
    Variant Value;
};

// A value for a variable of a declared T-SQL type.
Variant ToDeclared(const std::string& type, const Variant& v) {
    if (v.IsNullOrEmpty()) return Variant::Null();
    auto is = [&type](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (type == n) return true;
        return false;
    };
    try {
        if (is({"INT", "INTEGER", "SMALLINT", "TINYINT"})) return Variant(static_cast<int>(v.AsInteger()));
        if (is({"BIGINT"})) return Variant(v.AsInt64());
        if (is({"NUMERIC", "DECIMAL", "MONEY", "SMALLMONEY"})) return Variant(v.AsCurrency());
        if (is({"FLOAT", "REAL"})) return Variant(v.AsFloat());
        if (is({"DATETIME", "DATE", "SMALLDATETIME", "DATETIME2"})) return Variant::DateTime(v.AsDateTime());
        if (is({"BIT"})) return Variant(v.AsBoolean());
    } catch (const Exception&) {
        HospitalFail("将值 '" + Clip(v.AsString()) + "' 转换为数据类型 " + type + " 时失败。");
    }
    return Variant(v.AsString());
}

// A value bound into a SQLite statement written by hand: amounts as REAL yuan.
Variant ForStatement(const Variant& v) {
    if (v.VarType() == varCurrency) return Variant(CurrToDouble(v.AsCurrency()));
    return v;
}

} // namespace

// ---------------------------------------------------------------------------------------
// One batch of statements

class TTsqlBatch {
public:
    TTsqlBatch(THospitalConnection& conn, std::string_view text, std::span<TAdoParameter> params,
               bool wantRecords)
        : FConn(conn), FText(text), FParams(params), FWantRecords(wantRecords), FToks(Tokenize(text)) {
        for (size_t i = 0; i < FToks.size(); ++i)
            if (FToks[i].Kind != TK::Space && FToks[i].Kind != TK::Comment) FSig.push_back(i);
    }

    TAdoExecuteResult Run() {
        while (More()) {
            if (IsPunct(Peek(), ";")) {
                ++FPos;
                continue;
            }
            Statement(true);
        }
        if (FNextParam < FParams.size()) HospitalFail("提供的参数多于语句中的参数标记。");
        TAdoExecuteResult r;
        r.Recordset = FResult;
        r.RecordsAffected = FAffected;
        return r;
    }

private:
    struct TArg {
        enum { Literal, Param, Var } Kind = Literal;
        Variant Value;
        size_t ParamIndex = 0;
        std::string VarName;
        std::string Name; // "@x" of a named argument
        bool Output = false;
    };

    bool More() const { return FPos < FSig.size(); }
    const TToken* Peek(size_t k = 0) const {
        return FPos + k < FSig.size() ? &FToks[FSig[FPos + k]] : nullptr;
    }
    const TToken& Take() {
        if (!More()) HospitalFail("SQL语句不完整。");
        return FToks[FSig[FPos++]];
    }
    static bool IsWord(const TToken* t, const char* w) {
        return t && t->Kind == TK::Word && SameText(t->Val, w);
    }
    static bool IsPunct(const TToken* t, const char* p) { return t && t->Kind == TK::Punct && t->Val == p; }
    std::string Raw(const TToken& t) const { return std::string(FText.substr(t.B, t.E - t.B)); }
    [[noreturn]] void Unsupported(const TToken& t) const {
        HospitalFail("不支持的语句：" + Clip(FText.substr(t.B)) + "");
    }

    void Statement(bool execute) {
        const TToken* t = Peek();
        if (IsWord(t, "DECLARE"))
            Declare(execute);
        else if (IsWord(t, "EXEC") || IsWord(t, "EXECUTE"))
            Exec(execute);
        else if (IsWord(t, "IF"))
            If(execute);
        else if (IsWord(t, "BEGIN")) {
            const TToken& b = Take();
            if (!IsWord(Peek(), "TRAN") && !IsWord(Peek(), "TRANSACTION")) Unsupported(b);
            ++FPos;
            TranName();
            if (execute) FConn.BeginTran();
        } else if (IsWord(t, "COMMIT") || IsWord(t, "ROLLBACK")) {
            const bool commit = IsWord(t, "COMMIT");
            ++FPos;
            if (IsWord(Peek(), "TRAN") || IsWord(Peek(), "TRANSACTION") || IsWord(Peek(), "WORK")) ++FPos;
            TranName();
            if (execute) commit ? FConn.CommitTran() : FConn.RollbackTran();
        } else if (IsWord(t, "SET"))
            Set(execute);
        else
            Plain(execute);
        if (IsPunct(Peek(), ";")) ++FPos;
    }

    void TranName() {
        const TToken* t = Peek();
        if (t &&
            ((t->Kind == TK::Word && !IsStatementWord(*t)) || t->Kind == TK::QIdent || t->Kind == TK::Var))
            ++FPos;
    }

    // IF @@TRANCOUNT <op> <number> <statement>
    void If(bool execute) {
        const TToken& kw = Take();
        const TToken* v = Peek();
        if (!v || v->Kind != TK::SysVar || !SameText(v->Val, "TRANCOUNT")) Unsupported(kw);
        ++FPos;
        const TToken& op = Take();
        const TToken& num = Take();
        if (op.Kind != TK::Punct || num.Kind != TK::Number) Unsupported(kw);
        const int64_t rhs = StrToInt64(num.Val);
        const int64_t lhs = execute ? FConn.TranCount() : 0;
        bool cond;
        if (op.Val == ">")
            cond = lhs > rhs;
        else if (op.Val == ">=")
            cond = lhs >= rhs;
        else if (op.Val == "<")
            cond = lhs < rhs;
        else if (op.Val == "<=")
            cond = lhs <= rhs;
        else if (op.Val == "=")
            cond = lhs == rhs;
        else if (op.Val == "<>" || op.Val == "!=")
            cond = lhs != rhs;
        else
            Unsupported(kw);
        if (!More()) HospitalFail("IF 语句后缺少要执行的语句。");
        Statement(execute && cond);
    }

    void Declare(bool execute) {
        ++FPos;
        do {
            const TToken& v = Take();
            if (v.Kind != TK::Var) HospitalFail("DECLARE 后应为变量名(@名称)。");
            if (IsWord(Peek(), "AS")) ++FPos;
            const TToken& type = Take();
            if (type.Kind != TK::Word) HospitalFail("变量 @" + v.Val + " 缺少数据类型。");
            if (IsPunct(Peek(), "(")) { // length or precision
                while (More() && !IsPunct(Peek(), ")"))
                    ++FPos;
                Take();
            }
            Variant init = Variant::Null();
            if (IsPunct(Peek(), "=")) {
                ++FPos;
                TArg a = Value();
                init = ArgInput(a);
            }
            if (execute) {
                const std::string key = LowerCase(v.Val);
                if (FVars.count(key))
                    HospitalFail("变量名 '@" + v.Val + "' 已声明。变量名在查询批次或存储过程内部必须唯一。");
                const std::string t = UpperCase(type.Val);
                FVars[key] = {t, ToDeclared(t, init)};
            }
        } while (IsPunct(Peek(), ",") && (++FPos, true));
    }

    TVariable& Var(const std::string& name) {
        auto it = FVars.find(LowerCase(name));
        if (it == FVars.end()) HospitalFail("必须声明标量变量 \"@" + name + "\"。");
        return it->second;
    }

    // SET NOCOUNT ON and the like are accepted and change nothing; SET @v = expression.
    void Set(bool execute) {
        const TToken& kw = Take();
        const TToken* t = Peek();
        if (t && t->Kind == TK::Word) {
            ++FPos;
            if (More() &&
                (Peek()->Kind == TK::Word || Peek()->Kind == TK::Number || Peek()->Kind == TK::String))
                ++FPos;
            return;
        }
        if (!t || t->Kind != TK::Var) Unsupported(kw);
        const std::string name = t->Val;
        ++FPos;
        if (!IsPunct(Peek(), "=")) Unsupported(kw);
        ++FPos;
        const size_t from = FPos;
        SkipExpression(true);
        if (!execute) return;
        TVariable& var = Var(name);
        std::vector<Variant> binds;
        const std::string expr = Rewrite(from, FPos, binds);
        TSqliteStmt st(FConn.FDb, "SELECT " + expr);
        for (size_t i = 0; i < binds.size(); ++i)
            st.Bind(static_cast<int>(i + 1), binds[i]);
        auto rs = Collect(st, true);
        VARIANT v{};
        Variant value = Variant::Null();
        if (rs && rs->RowCount() > 0 && Succeeded(rs->GetValue(0, &v))) {
            value = Variant::FromVARIANT(v);
            VariantClear(v);
        }
        var.Value = ToDeclared(var.Type, value);
    }

    // Whether the token at the outer level starts the next statement. Inside a statement
    // only words that never occur in one end it; an expression (SET @v = ...) also ends
    // at any statement word.
    bool StartsStatement(bool expression) const {
        const TToken* t = Peek();
        if (IsWord(t, "EXEC") || IsWord(t, "EXECUTE") || IsWord(t, "DECLARE")) return true;
        if (expression && IsStatementWord(*t)) return true;
        if (IsWord(t, "BEGIN")) return IsWord(Peek(1), "TRAN") || IsWord(Peek(1), "TRANSACTION");
        if (IsWord(t, "IF")) return Peek(1) && Peek(1)->Kind == TK::SysVar;
        if (IsWord(t, "COMMIT") || IsWord(t, "ROLLBACK")) { // not "OR ROLLBACK", "ON CONFLICT ROLLBACK"
            const TToken* prev = FPos > 0 ? &FToks[FSig[FPos - 1]] : nullptr;
            return !(IsWord(prev, "OR") || IsWord(prev, "CONFLICT"));
        }
        return false;
    }

    // Moves past the tokens of a plain statement or an expression: up to ";" or the start
    // of the next statement at the outer level.
    void SkipExpression(bool expression = false) {
        int depth = 0;
        const size_t start = FPos;
        while (More()) {
            const TToken* t = Peek();
            if (depth == 0 && IsPunct(t, ";")) break;
            if (depth == 0 && FPos > start && StartsStatement(expression)) break;
            // Parentheses, and CASE or BEGIN (a trigger body) up to their END, nest.
            if (IsPunct(t, "(") || IsWord(t, "CASE") || IsWord(t, "BEGIN"))
                ++depth;
            else if (IsPunct(t, ")") || IsWord(t, "END"))
                --depth;
            ++FPos;
        }
    }

    // The SQLite text of significant tokens [from, to), with the values it binds.
    std::string Rewrite(size_t from, size_t to, std::vector<Variant>& binds) {
        std::string sql;
        if (from >= to) return sql;
        const size_t first = FSig[from], last = FSig[to - 1];
        auto nextSig = [&](size_t i) -> const TToken* {
            for (size_t j = i + 1; j <= last; ++j)
                if (FToks[j].Kind != TK::Space && FToks[j].Kind != TK::Comment) return &FToks[j];
            return nullptr;
        };
        for (size_t i = first; i <= last; ++i) {
            const TToken& t = FToks[i];
            switch (t.Kind) {
            case TK::Space:
            case TK::Comment:
                sql += ' ';
                break;
            case TK::Word:
            case TK::QIdent:
                if (SameText(t.Val, "dbo") && IsPunct(nextSig(i), ".")) { // dbo.X -> X
                    while (!(FToks[i].Kind == TK::Punct && FToks[i].Val == "."))
                        ++i;
                    break;
                }
                if (t.Kind == TK::Word)
                    sql += SameText(t.Val, "ISNULL") && IsPunct(nextSig(i), "(") ? "IFNULL" : t.Val;
                else
                    sql += "\"" + StringReplace(t.Val, "\"", "\"\"", true, false) + "\"";
                break;
            case TK::String:
                sql += QuotedStr(t.Val);
                break;
            case TK::Var:
                sql += '?';
                binds.push_back(ForStatement(Var(t.Val).Value));
                break;
            case TK::Param:
                sql += '?';
                binds.push_back(ForStatement(NextParamInput()));
                break;
            case TK::SysVar:
                if (SameText(t.Val, "TRANCOUNT"))
                    sql += IntToStr(FConn.TranCount());
                else if (SameText(t.Val, "ROWCOUNT"))
                    sql += IntToStr(sqlite3_changes(FConn.FDb));
                else if (SameText(t.Val, "IDENTITY"))
                    sql += IntToStr(sqlite3_last_insert_rowid(FConn.FDb));
                else if (SameText(t.Val, "ERROR"))
                    sql += "0";
                else
                    HospitalFail("不支持的系统变量 @@" + t.Val + "。");
                break;
            default:
                sql += Raw(t);
                break;
            }
        }
        return sql;
    }

    Variant NextParamInput() {
        if (FNextParam >= FParams.size()) HospitalFail("语句中的参数标记多于提供的参数。");
        return AdoParamInput(FParams[FNextParam++], kHospitalSource);
    }

    // Any statement SQLite runs itself.
    void Plain(bool execute) {
        const size_t from = FPos;
        SkipExpression();
        if (!execute) return;
        std::vector<Variant> binds;
        const std::string sql = Rewrite(from, FPos, binds);
        if (Trim(sql).empty()) return;
        TSqliteStmt st(FConn.FDb, sql);
        for (size_t i = 0; i < binds.size(); ++i)
            st.Bind(static_cast<int>(i + 1), binds[i]);
        const bool returnsRows = sqlite3_column_count(st.get()) > 0;
        const bool readOnly = sqlite3_stmt_readonly(st.get()) != 0;
        auto rs = Collect(st, returnsRows && FWantRecords && !FResult);
        if (rs) FResult = rs;
        if (!returnsRows && !readOnly)
            FAffected = (FAffected < 0 ? 0 : FAffected) + sqlite3_changes(FConn.FDb);
    }

    // An argument value: ?, @variable, literal, NULL, DEFAULT or a bare word (text).
    TArg Value() {
        TArg a;
        const TToken& t = Take();
        switch (t.Kind) {
        case TK::Param:
            a.Kind = TArg::Param;
            if (FNextParam >= FParams.size()) HospitalFail("语句中的参数标记多于提供的参数。");
            a.ParamIndex = FNextParam++;
            return a;
        case TK::Var:
            a.Kind = TArg::Var;
            a.VarName = t.Val;
            return a;
        case TK::String:
        case TK::QIdent:
            a.Value = Variant(t.Val);
            return a;
        case TK::Number:
            a.Value = NumberValue(t.Val, false);
            return a;
        case TK::Punct:
            if ((t.Val == "-" || t.Val == "+") && Peek() && Peek()->Kind == TK::Number) {
                a.Value = NumberValue(Take().Val, t.Val == "-");
                return a;
            }
            break;
        case TK::Word:
            if (SameText(t.Val, "NULL") || SameText(t.Val, "DEFAULT"))
                a.Value = Variant::Null();
            else
                a.Value = Variant(t.Val);
            return a;
        default:
            break;
        }
        HospitalFail("'" + Raw(t) + "' 附近有语法错误。");
    }

    static Variant NumberValue(const std::string& text, bool negative) {
        const std::string s = (negative ? "-" : "") + text;
        int64_t i;
        if (text.find_first_of(".eE") == std::string::npos && TryStrToInt64(s, i)) return IntVariant(i);
        return Variant(StrToFloat(s));
    }

    Variant ArgInput(const TArg& a) {
        switch (a.Kind) {
        case TArg::Param:
            return AdoParamInput(FParams[a.ParamIndex], kHospitalSource);
        case TArg::Var:
            return Var(a.VarName).Value;
        default:
            return a.Value;
        }
    }

    void Exec(bool execute) {
        ++FPos;
        std::string retVar;
        if (Peek() && Peek()->Kind == TK::Var && IsPunct(Peek(1), "=")) {
            retVar = Take().Val;
            ++FPos;
        }
        // [db.][schema.]name: the last part names the procedure.
        std::string name;
        do {
            const TToken& t = Take();
            if (t.Kind != TK::Word && t.Kind != TK::QIdent) HospitalFail("EXEC 后应为存储过程名。");
            name = t.Val;
        } while (IsPunct(Peek(), ".") && (++FPos, true));

        std::vector<TArg> args;
        const TToken* t = Peek();
        if (t && !IsPunct(t, ";") && !IsStatementWord(*t)) {
            do {
                TArg a;
                if (Peek() && Peek()->Kind == TK::Var && IsPunct(Peek(1), "=")) {
                    a.Name = "@" + Take().Val;
                    ++FPos;
                }
                TArg v = Value();
                v.Name = a.Name;
                if (IsWord(Peek(), "OUT") || IsWord(Peek(), "OUTPUT")) {
                    v.Output = true;
                    ++FPos;
                }
                args.push_back(std::move(v));
            } while (IsPunct(Peek(), ",") && (++FPos, true));
        }
        if (execute) Call(name, retVar, args);
    }

    void Call(const std::string& name, const std::string& retVar, const std::vector<TArg>& args) {
        const TProcedure* proc = FindProcedure(name);
        if (!proc) HospitalFail("找不到存储过程 '" + name + "'。");
        const size_t np = proc->Params.size();
        std::vector<int> source(np, -1); // argument index of each parameter
        bool named = false;
        for (size_t i = 0; i < args.size(); ++i) {
            size_t p = np;
            if (!args[i].Name.empty()) {
                named = true;
                for (size_t k = 0; k < np; ++k)
                    if (SameText(proc->Params[k].Name, args[i].Name)) p = k;
                if (p == np) HospitalFail(args[i].Name + " 不是过程 " + proc->Name + " 的参数。");
            } else {
                if (named)
                    HospitalFail("过程 " + proc->Name + " 的按位置传递的参数必须在按名称传递的参数之前。");
                if (i >= np) HospitalFail("为过程 " + proc->Name + " 指定了过多的参数。");
                p = i;
            }
            if (source[p] >= 0)
                HospitalFail("过程 " + proc->Name + " 的参数 " + proc->Params[p].Name + " 指定了多次。");
            if (args[i].Output && !proc->Params[p].Output)
                HospitalFail("形式参数 \"" + proc->Params[p].Name +
                             "\" 未声明为 OUTPUT 参数，但实际参数请求输出。");
            if (args[i].Output && args[i].Kind == TArg::Literal)
                HospitalFail("过程 " + proc->Name + " 的输出参数 " + proc->Params[p].Name +
                             " 必须是变量或参数。");
            source[p] = static_cast<int>(i);
        }
        TProcCall call;
        call.Db = FConn.FDb;
        call.Now = FConn.Now();
        call.Args.assign(np, Variant::Null());
        for (size_t k = 0; k < np; ++k) {
            const TProcParam& pp = proc->Params[k];
            if (source[k] < 0) {
                if (!pp.Output)
                    HospitalFail("过程 '" + proc->Name + "' 需要参数 '" + pp.Name + "'，但未提供该参数。");
                continue;
            }
            const Variant in = ArgInput(args[source[k]]);
            if (in.IsNullOrEmpty()) continue;
            try {
                switch (pp.Type) {
                case TProcParamType::Int:
                    call.Args[k] = Variant(static_cast<int>(in.AsInteger()));
                    break;
                case TProcParamType::Money:
                    call.Args[k] = Variant(in.AsCurrency());
                    break;
                case TProcParamType::Float:
                    call.Args[k] = Variant(in.AsFloat());
                    break;
                case TProcParamType::Text:
                    call.Args[k] = Variant(in.AsString());
                    break;
                }
            } catch (const Exception&) {
                HospitalFail("过程 " + proc->Name + " 的参数 " + pp.Name + " 的值 '" + Clip(in.AsString()) +
                             "' 类型不正确。");
            }
        }
        for (const TArg& a : args) // every output variable must exist before the procedure runs
            if (a.Output && a.Kind == TArg::Var) Var(a.VarName);

        // One procedure, one transaction: nested in the caller's when there is one.
        FConn.Exec("SAVEPOINT qv_procedure");
        try {
            proc->Body(call);
        } catch (...) {
            FConn.Exec("ROLLBACK TO qv_procedure");
            FConn.Exec("RELEASE qv_procedure");
            throw;
        }
        FConn.Exec("RELEASE qv_procedure");

        for (size_t k = 0; k < np; ++k) {
            if (source[k] < 0 || !args[source[k]].Output) continue;
            const TArg& a = args[source[k]];
            if (a.Kind == TArg::Param)
                AdoParamSetOutput(FParams[a.ParamIndex], call.Args[k]);
            else {
                TVariable& v = Var(a.VarName);
                v.Value = ToDeclared(v.Type, call.Args[k]);
            }
        }
        if (!retVar.empty()) {
            TVariable& v = Var(retVar);
            v.Value = ToDeclared(v.Type, Variant(0));
        }
        if (call.Result && FWantRecords && !FResult) FResult = call.Result;
    }

    THospitalConnection& FConn;
    std::string_view FText;
    std::span<TAdoParameter> FParams;
    bool FWantRecords;
    std::vector<TToken> FToks;
    std::vector<size_t> FSig;
    size_t FPos = 0;
    size_t FNextParam = 0;
    std::map<std::string, TVariable> FVars;
    ComPtr<_Recordset> FResult;
    int32_t FAffected = -1;
};

// ---------------------------------------------------------------------------------------
// Database functions

namespace {

THospitalConnection* ConnOf(sqlite3_context* ctx) {
    return static_cast<THospitalConnection*>(sqlite3_user_data(ctx));
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// getdate(): the server clock with milliseconds.
void FnGetDate(sqlite3_context* ctx, int, sqlite3_value**) {
    try {
        ResultText(ctx, ConnOf(ctx)->Now());
    } catch (const std::exception& e) {
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

// GetSysParamValue(system, parameter, kind): the configured value, null when none.
void FnGetSysParamValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
    try {
        TSqliteStmt st(sqlite3_context_db_handle(ctx),
                       "SELECT Value FROM SysParamValue WHERE SysNo = ? AND ParamNo = ? AND Kind = ?");
        for (int i = 0; i < 3; ++i)
            st.Bind(i + 1, Variant(static_cast<int64_t>(sqlite3_value_int64(argv[i]))));
        if (st.Step() && !st.IsNull(0))
            ResultText(ctx, st.Text(0));
        else
            sqlite3_result_null(ctx);
    } catch (const std::exception& e) {
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

// The amount in a value as currency: text is decimal yuan, numbers are yuan.
bool ValueToCurrency(sqlite3_value* v, Currency& out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        out = Currency{10000} * sqlite3_value_int64(v);
        return true;
    case SQLITE_FLOAT:
        out = DoubleToCurr(sqlite3_value_double(v));
        return true;
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return TryStrToCurr(p ? p : "", out);
    }
    default:
        return false;
    }
}

// cy(amount): the money column value (1/10000 yuan) of an amount in yuan.
void FnCy(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    try {
        Currency c;
        if (!ValueToCurrency(argv[0], c)) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
            return sqlite3_result_error(ctx, ("'" + std::string(p ? p : "") + "' 不是有效的金额。").c_str(),
                                        -1);
        }
        sqlite3_result_int64(ctx, c.Value);
    } catch (const std::exception& e) {
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

// yuan(money): a money column value as a REAL amount in yuan.
void FnYuan(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, CurrToDouble(Currency{sqlite3_value_int64(argv[0])}));
}

// cytext(money[, decimals]): a money column value as text with fixed decimals (2 by default).
void FnCyText(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const int decimals = argc > 1 ? sqlite3_value_int(argv[1]) : 2;
    ResultText(ctx, CurrToStrF(Currency{sqlite3_value_int64(argv[0])}, decimals < 0 ? 0 : decimals));
}

} // namespace

// ---------------------------------------------------------------------------------------
// Connection

THospitalConnection::THospitalConnection() = default;

THospitalConnection::~THospitalConnection() {
    if (FDb) sqlite3_close_v2(FDb);
}

std::string THospitalConnection::Now() const {
    if (FClock) return *FClock;
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", ::Now());
}

void THospitalConnection::Exec(const std::string& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) ThrowSqlite(FDb, rc);
}

void THospitalConnection::RegisterFunctions() {
    const int flags = SQLITE_UTF8;
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function_v2(FDb, "getdate", 0, flags, this, FnGetDate, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(FDb, "GetSysParamValue", 3, flags, this, FnGetSysParamValue, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(FDb, "cy", 1, det, this, FnCy, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(FDb, "yuan", 1, det, this, FnYuan, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(FDb, "cytext", 1, det, this, FnCyText, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(FDb, "cytext", 2, det, this, FnCyText, nullptr, nullptr, nullptr);
}

void THospitalConnection::ApplySeed(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) Fail(E_FAIL, "无法读取数据库初始化脚本“" + file + "”。");
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string text = buf.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    char* err = nullptr;
    int rc = sqlite3_exec(FDb, "BEGIN", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(FDb, text.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const std::string msg = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        Fail(E_FAIL, "初始化数据库失败(" + file + ")：" + msg);
    }
    rc = sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Fail(E_FAIL, "初始化数据库失败(" + file + ")：" + sqlite3_errmsg(FDb));
}

void THospitalConnection::DoOpen(const TConnectionString& cs) {
    std::string path = Trim(cs.Value("Data Source"));
    if (path.empty()) path = Trim(cs.Value("Database"));
    if (path.empty()) Fail(E_FAIL, "连接字符串中没有指定数据库(Data Source)。");
    const std::string seed = Trim(cs.Value("Seed"));
    const bool memory = path == ":memory:";
    const bool uri = StartsWith(path, "file:");
    std::error_code ec;
    if (!memory && !uri && seed.empty() && !std::filesystem::exists(path, ec))
        Fail(E_FAIL, "无法打开数据库“" + path + "”：文件不存在。");

    FClock.reset();
    if (const std::string clock = Trim(cs.Value("Clock")); !clock.empty()) {
        TDateTime dt;
        if (!TryStrToDateTime(clock, dt))
            Fail(E_FAIL, "连接字符串中的时钟(Clock)“" + clock + "”不是有效的日期和时间。");
        FClock = FormatDateTime("yyyy-mm-dd hh:nn:ss", dt);
    }

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI,
                             nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = TranslateSqliteError(db, rc);
        sqlite3_close_v2(db);
        Fail(E_FAIL, "无法打开数据库“" + path + "”：" + msg);
    }
    FDb = db;
    FTranCount = 0;
    try {
        Exec("PRAGMA foreign_keys = ON");
        RegisterFunctions();
        TimeoutChanged();
        if (!seed.empty()) {
            TSqliteStmt st(FDb, "SELECT count(*) FROM sqlite_master WHERE type = 'table'");
            st.Step();
            if (st.Int(0) == 0) ApplySeed(seed);
        }
    } catch (...) {
        sqlite3_close_v2(FDb);
        FDb = nullptr;
        throw;
    }
}

void THospitalConnection::TimeoutChanged() {
    if (FDb) sqlite3_busy_timeout(FDb, Timeout() == 0 ? INT_MAX : Timeout() * 1000);
}

void THospitalConnection::DoClose() {
    // A transaction still open when the connection closes is rolled back, as the server does.
    sqlite3_close_v2(FDb);
    FDb = nullptr;
    FTranCount = 0;
}

TAdoExecuteResult THospitalConnection::DoExecute(const std::string& text, std::span<TAdoParameter> params,
                                                 int options, int timeout) {
    sqlite3_busy_timeout(FDb, timeout == 0 ? INT_MAX : timeout * 1000);
    struct TRestore {
        THospitalConnection* C;
        ~TRestore() { C->TimeoutChanged(); }
    } restore{this};
    TTsqlBatch batch(*this, text, params, !(options & adExecuteNoRecords));
    return batch.Run();
}

int THospitalConnection::TranCount() {
    if (sqlite3_get_autocommit(FDb)) FTranCount = 0; // SQLite ended it (or none was begun)
    return FTranCount;
}

void THospitalConnection::BeginTran() {
    if (TranCount() == 0) Exec("BEGIN");
    ++FTranCount;
}

void THospitalConnection::CommitTran() {
    const int n = TranCount();
    if (n == 0) HospitalFail("COMMIT TRANSACTION 请求没有对应的 BEGIN TRANSACTION。");
    if (n == 1) Exec("COMMIT");
    --FTranCount;
}

void THospitalConnection::RollbackTran() {
    if (TranCount() == 0) HospitalFail("ROLLBACK TRANSACTION 请求没有对应的 BEGIN TRANSACTION。");
    Exec("ROLLBACK");
    FTranCount = 0;
}

int THospitalConnection::DoBeginTrans() {
    BeginTran();
    return FTranCount;
}

void THospitalConnection::DoCommitTrans() {
    CommitTran();
}
void THospitalConnection::DoRollbackTrans() {
    RollbackTran();
}

// ---------------------------------------------------------------------------------------
// The provider's export

extern "C" QV_EXPORT HRESULT QV_STDCALL QvCreateConnection(_Connection** AConnection) {
    if (!AConnection) return E_POINTER;
    *AConnection = nullptr;
    return SafeCall([&] { *AConnection = MakeCom<THospitalConnection>().Detach(); });
}
