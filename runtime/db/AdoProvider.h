// Building blocks of a provider module: the error, the static recordset and a base
// connection object that does the bookkeeping (state, connection string, timeout, error
// list, error info) so a provider only opens, closes and runs statements.
#pragma once

#include "AdoInt.h"
#include "QvADO.h"

#include <span>
#include <string>
#include <vector>

// A failure inside a provider: number (HRESULT), source and description. The
// description is the text the plug-in shows, so it is a complete sentence.
class EAdoError : public Exception {
public:
    EAdoError(HRESULT number, std::string source, const std::string& description, std::string sqlState = {},
              int32_t nativeError = 0)
        : Exception(description), FNumber(number), FSource(std::move(source)), FSQLState(std::move(sqlState)),
          FNativeError(nativeError) {}
    HRESULT Number() const { return FNumber; }
    const std::string& Source() const { return FSource; }
    const std::string& SQLState() const { return FSQLState; }
    int32_t NativeError() const { return FNativeError; }

private:
    HRESULT FNumber;
    std::string FSource;
    std::string FSQLState;
    int32_t FNativeError;
};

// The error object handed out by _Connection::GetError.
class TAdoErrorObject : public TInterfacedObject<ADOError> {
public:
    explicit TAdoErrorObject(TADOError e) : FError(std::move(e)) {}
    HRESULT QV_STDCALL GetNumber(int32_t* ANumber) override;
    HRESULT QV_STDCALL GetSource(BSTR* ASource) override;
    HRESULT QV_STDCALL GetDescription(BSTR* ADescription) override;
    HRESULT QV_STDCALL GetSQLState(BSTR* AState) override;
    HRESULT QV_STDCALL GetNativeError(int32_t* AError) override;

private:
    TADOError FError;
};

// A recordset whose rows are all in memory.
class TAdoStaticRecordset : public TInterfacedObject<_Recordset> {
public:
    struct TColumn {
        std::string Name;
        int32_t Type = adVarWChar;
        int32_t Size = 0;
        int32_t Attributes = adFldIsNullable | adFldMayBeNull;
    };

    explicit TAdoStaticRecordset(std::vector<TColumn> columns) : FColumns(std::move(columns)) {}
    // One value per column.
    void AddRow(std::vector<Variant> row);
    const std::vector<TColumn>& Columns() const { return FColumns; }
    size_t RowCount() const { return FRows.size(); }

    HRESULT QV_STDCALL GetState(int32_t* AState) override;
    HRESULT QV_STDCALL GetFieldCount(int32_t* ACount) override;
    HRESULT QV_STDCALL GetFieldInfo(int32_t AIndex, BSTR* AName, int32_t* AType, int32_t* ASize,
                                    int32_t* AAttributes) override;
    HRESULT QV_STDCALL GetRecordCount(int32_t* ACount) override;
    HRESULT QV_STDCALL GetBOF(WordBool* ABof) override;
    HRESULT QV_STDCALL GetEOF(WordBool* AEof) override;
    HRESULT QV_STDCALL MoveFirst() override;
    HRESULT QV_STDCALL MoveNext() override;
    HRESULT QV_STDCALL GetValue(int32_t AIndex, VARIANT* AValue) override;
    HRESULT QV_STDCALL Close() override;

private:
    template <class F> HRESULT Call(F&& body) noexcept;
    void CheckOpen() const;

    std::vector<TColumn> FColumns;
    std::vector<std::vector<Variant>> FRows;
    size_t FPos = 0;
    bool FOpen = true;
};

// The outcome of one Execute.
struct TAdoExecuteResult {
    ComPtr<_Recordset> Recordset; // first result with columns, or nil
    int32_t RecordsAffected = -1;
};

// Base of a provider's connection object. Every operation clears the error list, runs
// the body, and turns an exception into a failing HRESULT: an EAdoError keeps its
// number, anything else becomes DB_E_ERRORSINCOMMAND with the provider as source.
class TAdoConnectionBase : public TInterfacedObject<_Connection> {
public:
    HRESULT QV_STDCALL GetConnectionString(BSTR* AText) override;
    HRESULT QV_STDCALL SetConnectionString(BSTR AText) override;
    HRESULT QV_STDCALL GetCommandTimeout(int32_t* ASeconds) override;
    HRESULT QV_STDCALL SetCommandTimeout(int32_t ASeconds) override;
    HRESULT QV_STDCALL GetState(int32_t* AState) override;
    HRESULT QV_STDCALL GetProvider(BSTR* AName) override;
    HRESULT QV_STDCALL Open(BSTR AText) override;
    HRESULT QV_STDCALL Close() override;
    HRESULT QV_STDCALL Execute(BSTR ACommandText, TAdoParameter* AParams, int32_t AParamCount,
                               int32_t AOptions, int32_t ACommandTimeout, int32_t* ARecordsAffected,
                               _Recordset** ARecordset) override;
    HRESULT QV_STDCALL BeginTrans(int32_t* ALevel) override;
    HRESULT QV_STDCALL CommitTrans() override;
    HRESULT QV_STDCALL RollbackTrans() override;
    HRESULT QV_STDCALL GetErrorCount(int32_t* ACount) override;
    HRESULT QV_STDCALL GetError(int32_t AIndex, ADOError** AError) override;

    ~TAdoConnectionBase() override = default;

protected:
    // The error source of this provider ("QvHospitalLite", ...).
    virtual std::string SourceName() const = 0;
    virtual void DoOpen(const TConnectionString& cs) = 0;
    virtual void DoClose() = 0;
    // The command timeout in seconds (never -1).
    virtual TAdoExecuteResult DoExecute(const std::string& text, std::span<TAdoParameter> params, int options,
                                        int timeout) = 0;
    virtual int DoBeginTrans() = 0;
    virtual void DoCommitTrans() = 0;
    virtual void DoRollbackTrans() = 0;
    // Called when the timeout changes while open.
    virtual void TimeoutChanged() {}

    bool IsOpen() const { return FOpen; }
    int Timeout() const { return FTimeout; }
    // Raises "连接未打开。" (adErrObjectClosed) when closed.
    void CheckOpen() const;
    [[noreturn]] void Fail(HRESULT number, const std::string& description) const;

private:
    template <class F> HRESULT Call(F&& body) noexcept;

    std::string FConnectionString;
    int FTimeout = 30;
    bool FOpen = false;
    std::vector<TADOError> FErrors;
};

// Parameters bound to a statement: the value of an input parameter (raises
// DB_E_PARAMNOTOPTIONAL "没有为一个或多个必需的参数提供值。" when it has none; output
// parameters read as null), and the writing back of an output value.
Variant AdoParamInput(const TAdoParameter& p, const std::string& source);
void AdoParamSetOutput(TAdoParameter& p, const Variant& v);
bool AdoParamIsOutput(const TAdoParameter& p);
