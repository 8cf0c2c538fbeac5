// The plug-in side of the database: connection and query components over the shared
// connection object (AdoInt.h), and the loading of providers by name.
//
// A TADOConnection wraps one _Connection: it creates and opens one from its connection
// string on first use, or takes over an object handed in by the host. Every statement of
// a query goes through its connection, which raises the will-execute event before and
// the execute-complete event after the statement (with the error when it failed) and
// then raises a failure as EOleException carrying the database's description.
//
// Queries with parameter checking find ":name" parameters in their text (not inside
// '...', "...", -- or /* */ comments, and not "::"); the statement is sent with a "?"
// for every reference, bound in order. A reference followed by OUT or OUTPUT makes its
// parameter an input-output parameter, whose value is written back after execution.
#pragma once

#include "AdoInt.h"
#include "QvDataSet.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------------------
// Connection strings and providers

// "Key=Value;Key=Value". Keys are trimmed and compared without regard to case; a value
// may be quoted with "..." or '...' (the quote doubled inside) or braced {...}.
class TConnectionString {
public:
    TConnectionString() = default;
    explicit TConnectionString(std::string_view text);

    bool Has(std::string_view key) const;
    // The unquoted value of the first item with that key; empty when missing.
    std::string Value(std::string_view key) const;
    // The items in order: key as written, unquoted value.
    const std::vector<std::pair<std::string, std::string>>& Items() const { return FItems; }
    // The text of the items whose keys are not listed, as written, joined by ";".
    std::string Without(std::initializer_list<std::string_view> keys) const;

private:
    std::vector<std::pair<std::string, std::string>> FItems;
    std::vector<std::string> FRaw; // each item as written
};

// The module file that serves a provider name: "SQLOLEDB.1" (and the other SQL Server
// provider names) -> "qvprov_odbc.so", any other name N -> "qvprov_N.so" with every
// character but letters, digits, "_" and "-" replaced by "_".
std::string ProviderModuleName(std::string_view provider);

// Folders searched for provider modules, in order: those listed in QV_PROVIDER_PATH
// (separated by ":"), the folder of the module that contains this code, its "modules"
// subfolder and the "modules" folder beside it, then QV_MODULE_DIR.
std::vector<std::string> ProviderSearchFolders();

// A new, unopened connection object for the provider named in the connection string,
// with that connection string set. Raises EOleException (adErrProviderNotFound) naming
// the provider and the folders searched when no module serves it.
ComPtr<_Connection> CreateConnectionObject(const std::string& connStr);

// Raises EOleException for a failed call on a connection object, with the description
// of its first error (or the per-thread error info).
void CheckConnectionResult(_Connection* conn, HRESULT hr);

// ---------------------------------------------------------------------------------------
// Type codes

// Field type of an ADO data type and back (ftUnknown <-> adEmpty).
TFieldType AdoToFieldType(int32_t adoType);
int32_t FieldTypeToAdo(TFieldType t);

// ---------------------------------------------------------------------------------------
// Connection

// One error of a failed statement, as the execute-complete event receives it.
struct TADOError {
    int32_t Number = 0;
    std::string Source;
    std::string Description;
    std::string SQLState;
    int32_t NativeError = 0;
};

class TADOConnection {
public:
    // The text about to run; a handler may change it.
    using TWillExecuteEvent = std::function<void(TADOConnection& Sender, std::string& CommandText)>;
    // After every statement; Error is nil on success.
    using TExecuteCompleteEvent =
        std::function<void(TADOConnection& Sender, int RecordsAffected, const TADOError* Error)>;

    explicit TADOConnection(std::string name = {});
    ~TADOConnection();
    TADOConnection(const TADOConnection&) = delete;
    TADOConnection& operator=(const TADOConnection&) = delete;

    const std::string& Name() const { return FName; }

    // Raises "连接已打开，不能修改连接字符串。" while connected; otherwise drops the current
    // connection object (a new one is created on the next open).
    void SetConnectionString(std::string text);
    std::string ConnectionString() const;
    int CommandTimeout() const { return FCommandTimeout; }
    void SetCommandTimeout(int seconds);
    bool LoginPrompt() const { return FLoginPrompt; } // kept for the settings; never prompts
    void SetLoginPrompt(bool v) { FLoginPrompt = v; }

    // The underlying object (nil until the first open or take-over).
    ComPtr<_Connection> ConnectionObject() const { return FObject; }
    // Takes over an object (e.g. the host's): its connection string becomes this one's.
    void SetConnectionObject(ComPtr<_Connection> obj);

    bool Connected() const;
    void SetConnected(bool v) { v ? Open() : Close(); }
    void Open();
    void Close();

    TWillExecuteEvent OnWillExecute;
    TExecuteCompleteEvent OnExecuteComplete;

    // Runs a text on the connection object as it is (no parameters), with the events;
    // opens the connection first when needed. Returns the first result (may be nil).
    ComPtr<_Recordset> Execute(const std::string& commandText, int options = adOptionUnspecified,
                               int* recordsAffected = nullptr);
    // The statement of a query: parameters bound in order, output values written back.
    ComPtr<_Recordset> ExecuteCommand(const std::string& commandText, std::vector<TAdoParameter>& params,
                                      int options, int timeout, int* recordsAffected);

    int BeginTrans();
    void CommitTrans();
    void RollbackTrans();

private:
    _Connection& Object();

    std::string FName;
    std::string FConnectionString;
    int FCommandTimeout = 30;
    bool FLoginPrompt = true;
    ComPtr<_Connection> FObject;
};

// ---------------------------------------------------------------------------------------
// Parameters

enum TParameterDirection { pdUnknown, pdInput, pdOutput, pdInputOutput, pdReturnValue };

class TParameter {
public:
    TParameter(std::string name, TFieldType type, TParameterDirection dir, int size, Variant value)
        : FName(std::move(name)), FType(type), FDirection(dir), FSize(size), FValue(std::move(value)) {}

    const std::string& Name() const { return FName; }
    TFieldType DataType() const { return FType; }
    void SetDataType(TFieldType t) { FType = t; }
    TParameterDirection Direction() const { return FDirection; }
    void SetDirection(TParameterDirection d) { FDirection = d; }
    int Size() const { return FSize; }
    void SetSize(int n) { FSize = n; }
    const Variant& Value() const { return FValue; }
    // A parameter of unknown type takes the type of the value it is given.
    void SetValue(const Variant& v);
    // Written back after execution; the type stays as it is.
    void SetOutputValue(const Variant& v) { FValue = v; }

private:
    std::string FName;
    TFieldType FType;
    TParameterDirection FDirection;
    int FSize;
    Variant FValue;
};

class TParameters {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TParameter& operator[](int i);
    const TParameter& operator[](int i) const;
    TParameter* FindParam(std::string_view name);
    // Raises "参数“<name>”未找到。" when missing.
    TParameter& ParamByName(std::string_view name);
    TParameter& AddParameter(std::string name, TFieldType type = ftUnknown, TParameterDirection dir = pdInput,
                             int size = 0, Variant value = {});
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TParameter>> FItems;
};

// One ":name" reference found in a statement, in text order.
struct TSqlParamRef {
    std::string Name;
    bool Output = false; // followed by OUT or OUTPUT
};

// Finds the ":name" references of a statement; returns the text with "?" in their place.
std::string ParseSQLParams(std::string_view sql, std::vector<TSqlParamRef>& refs);

// ---------------------------------------------------------------------------------------
// Query

enum TExecuteOption { eoAsyncExecute, eoAsyncFetch, eoAsyncFetchNonBlocking, eoExecuteNoRecords };

class TExecuteOptions {
public:
    constexpr TExecuteOptions() = default;
    TExecuteOptions(std::initializer_list<TExecuteOption> opts) {
        for (auto o : opts)
            Include(o);
    }
    bool Contains(TExecuteOption o) const { return (FBits >> o) & 1u; }
    TExecuteOptions& Include(TExecuteOption o) {
        FBits |= 1u << o;
        return *this;
    }
    TExecuteOptions& Exclude(TExecuteOption o) {
        FBits &= ~(1u << o);
        return *this;
    }
    // ExecuteOptionEnum bits.
    int ToAdo() const;
    friend bool operator==(TExecuteOptions a, TExecuteOptions b) { return a.FBits == b.FBits; }

private:
    unsigned FBits = 0;
};

class TADOQuery : public TDataSet {
public:
    // The statement text as lines; changing it closes the query and, with parameter
    // checking, rebuilds the parameters.
    class TSQLStrings {
    public:
        std::string Text() const; // lines joined with CR LF, each ended by CR LF
        void SetText(std::string_view text);
        void Add(std::string_view line);
        void Clear();
        int Count() const { return static_cast<int>(FLines.size()); }

    private:
        friend class TADOQuery;
        explicit TSQLStrings(TADOQuery& q) : FQuery(q) {}
        TADOQuery& FQuery;
        std::vector<std::string> FLines;
    };

    explicit TADOQuery(std::string name = {});
    ~TADOQuery() override;

    TADOConnection* Connection() const { return FConnection; }
    void SetConnection(TADOConnection* c) { FConnection = c; }
    int CommandTimeout() const { return FCommandTimeout; }
    void SetCommandTimeout(int seconds) { FCommandTimeout = seconds; }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool v);
    TSQLStrings& SQL() { return FSQL; }
    const TSQLStrings& SQL() const { return FSQL; }
    TParameters& Parameters() { return FParameters; }
    TExecuteOptions ExecuteOptions() const { return FExecuteOptions; }
    void SetExecuteOptions(TExecuteOptions o) { FExecuteOptions = o; }

    // Runs the statement without opening a result; returns the rows affected (-1 when
    // the database does not say).
    int ExecSQL();
    int RowsAffected() const { return FRowsAffected; }
    // The text sent to the connection ("?" for each parameter reference).
    const std::string& CommandText() const { return FCommandText; }

    // Opens the query on a result obtained elsewhere (e.g. TADOConnection::Execute).
    void SetRecordset(ComPtr<_Recordset> rs);
    ComPtr<_Recordset> Recordset() const { return FRecordset; }

protected:
    void InternalOpen() override;
    void InternalClose() override;

private:
    void SQLChanged();
    ComPtr<_Recordset> Run(int options, int* affected);
    void LoadFrom(_Recordset& rs);
    TADOConnection& CheckConnection();

    TADOConnection* FConnection = nullptr;
    int FCommandTimeout = 30;
    bool FParamCheck = true;
    TSQLStrings FSQL{*this};
    TParameters FParameters;
    std::vector<TSqlParamRef> FRefs;
    std::string FCommandText;
    TExecuteOptions FExecuteOptions;
    int FRowsAffected = -1;
    ComPtr<_Recordset> FRecordset;
    ComPtr<_Recordset> FAttached; // set by SetRecordset, consumed by the next open
};
