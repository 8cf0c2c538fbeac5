// The database connection object shared between the host and the plug-in, and the
// recordsets it hands out.
//
// Both the host module and the plug-in module may hold the same connection object, so
// everything crosses as interfaces, BSTR and VARIANT. The objects are implemented by
// provider modules (one per database kind) and created by CreateConnectionObject
// (QvADO.h), which loads the provider named in the connection string.
//
// Failing operations return a failing HRESULT (the number of the first error), leave the
// error's description in the per-thread error info, and keep every error of the call in
// the connection's error list until its next operation.
#pragma once

#include "QvCom.h"

// ---------------------------------------------------------------------------------------
// Codes

// Data types of fields and parameters.
enum DataTypeEnum : int32_t {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBSTR = 8,
    adBoolean = 11,
    adVariant = 12,
    adDecimal = 14,
    adTinyInt = 16,
    adBigInt = 20,
    adNumeric = 131,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adChar = 129,
    adWChar = 130,
    adBinary = 128,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

enum ParameterDirectionEnum : int32_t {
    adParamUnknown = 0,
    adParamInput = 1,
    adParamOutput = 2,
    adParamInputOutput = 3,
    adParamReturnValue = 4,
};

// Options of _Connection::Execute (bit set).
enum ExecuteOptionEnum : int32_t {
    adOptionUnspecified = 0,
    adAsyncExecute = 0x10,
    adAsyncFetch = 0x20,
    adAsyncFetchNonBlocking = 0x40,
    adExecuteNoRecords = 0x80,
};

enum ObjectStateEnum : int32_t {
    adStateClosed = 0,
    adStateOpen = 1,
};

// Field attributes (bit set).
enum FieldAttributeEnum : int32_t {
    adFldUpdatable = 0x4,
    adFldUnknownUpdatable = 0x8,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
};

// Error numbers the providers report.
constexpr HRESULT DB_E_ERRORSINCOMMAND = static_cast<HRESULT>(0x80040E14u); // the statement failed
constexpr HRESULT DB_E_NOTABLE = static_cast<HRESULT>(0x80040E37u);         // unknown table or procedure
constexpr HRESULT DB_E_INTEGRITYVIOLATION = static_cast<HRESULT>(0x80040E2Fu);
constexpr HRESULT DB_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x80040E10u); // a parameter has no value
constexpr HRESULT DB_E_CANTCONVERTVALUE = static_cast<HRESULT>(0x80040E07u);
constexpr HRESULT adErrProviderNotFound = static_cast<HRESULT>(0x800A0E7Au);
constexpr HRESULT adErrObjectClosed = static_cast<HRESULT>(0x800A0E78u); // operation on a closed object
constexpr HRESULT adErrNoCurrentRecord = static_cast<HRESULT>(0x800A0BCDu);
constexpr HRESULT adErrItemNotFound = static_cast<HRESULT>(0x800A0CC1u);
// Connection-level failures (database cannot be opened, connection lost) use E_FAIL;
// statement failures never do, because the plug-in closes its connection on E_FAIL.

// ---------------------------------------------------------------------------------------
// A parameter of _Connection::Execute. The caller owns the array, the names and the
// values. For output directions the provider replaces Value with the output value
// (clearing the old one first); the caller clears every Value afterwards.

struct TAdoParameter {
    BSTR Name;         // without the leading colon; may be nil
    int32_t Type;      // DataTypeEnum
    int32_t Direction; // ParameterDirectionEnum
    int32_t Size;      // maximum length of a text, 0 = any
    VARIANT Value;
};

// ---------------------------------------------------------------------------------------
// Interfaces (implemented by the providers)

// One error of a failed operation.
struct ADOError : IInterface {
    QV_INTERFACE("{7C4E1A20-5B3D-4F61-9A2E-3D8C0F1B6A01}", IInterface);
    virtual HRESULT QV_STDCALL GetNumber(int32_t* ANumber) = 0;
    virtual HRESULT QV_STDCALL GetSource(BSTR* ASource) = 0;
    virtual HRESULT QV_STDCALL GetDescription(BSTR* ADescription) = 0;
    virtual HRESULT QV_STDCALL GetSQLState(BSTR* AState) = 0;
    virtual HRESULT QV_STDCALL GetNativeError(int32_t* AError) = 0;
};

// A static, forward-readable result of a statement: every row is fetched when the
// statement runs, so the recordset stays readable when the connection moves on.
struct _Recordset : IInterface {
    QV_INTERFACE("{7C4E1A20-5B3D-4F61-9A2E-3D8C0F1B6A02}", IInterface);
    virtual HRESULT QV_STDCALL GetState(int32_t* AState) = 0;
    virtual HRESULT QV_STDCALL GetFieldCount(int32_t* ACount) = 0;
    // Name, DataTypeEnum, defined size (0 when unknown) and FieldAttributeEnum bits.
    virtual HRESULT QV_STDCALL GetFieldInfo(int32_t AIndex, BSTR* AName, int32_t* AType, int32_t* ASize,
                                            int32_t* AAttributes) = 0;
    virtual HRESULT QV_STDCALL GetRecordCount(int32_t* ACount) = 0;
    virtual HRESULT QV_STDCALL GetBOF(WordBool* ABof) = 0;
    virtual HRESULT QV_STDCALL GetEOF(WordBool* AEof) = 0;
    virtual HRESULT QV_STDCALL MoveFirst() = 0;
    virtual HRESULT QV_STDCALL MoveNext() = 0;
    // The value of a field of the current row (VT_NULL for null); the caller clears it.
    virtual HRESULT QV_STDCALL GetValue(int32_t AIndex, VARIANT* AValue) = 0;
    virtual HRESULT QV_STDCALL Close() = 0;
};

// A connection to one database.
struct _Connection : IInterface {
    QV_INTERFACE("{7C4E1A20-5B3D-4F61-9A2E-3D8C0F1B6A03}", IInterface);
    virtual HRESULT QV_STDCALL GetConnectionString(BSTR* AText) = 0;
    // Only while closed.
    virtual HRESULT QV_STDCALL SetConnectionString(BSTR AText) = 0;
    // Seconds a statement may wait for the database (0 = no limit).
    virtual HRESULT QV_STDCALL GetCommandTimeout(int32_t* ASeconds) = 0;
    virtual HRESULT QV_STDCALL SetCommandTimeout(int32_t ASeconds) = 0;
    virtual HRESULT QV_STDCALL GetState(int32_t* AState) = 0;
    // The provider name as written in the connection string.
    virtual HRESULT QV_STDCALL GetProvider(BSTR* AName) = 0;
    // Opens with the given connection string, or with the current one when AText is nil.
    virtual HRESULT QV_STDCALL Open(BSTR AText) = 0;
    virtual HRESULT QV_STDCALL Close() = 0;
    // Runs a command text whose parameter markers are "?", bound in order to AParams.
    // ACommandTimeout is in seconds, -1 for the connection's own. ARecordset receives the
    // first result that has columns (nil with adExecuteNoRecords or when there is none);
    // ARecordsAffected the rows changed (-1 when unknown). Both may be nil. An input
    // parameter without a value (VT_EMPTY) is an error; output parameters start as null.
    virtual HRESULT QV_STDCALL Execute(BSTR ACommandText, TAdoParameter* AParams, int32_t AParamCount,
                                       int32_t AOptions, int32_t ACommandTimeout, int32_t* ARecordsAffected,
                                       _Recordset** ARecordset) = 0;
    // Transactions; ALevel receives the nesting level after BeginTrans.
    virtual HRESULT QV_STDCALL BeginTrans(int32_t* ALevel) = 0;
    virtual HRESULT QV_STDCALL CommitTrans() = 0;
    virtual HRESULT QV_STDCALL RollbackTrans() = 0;
    // The errors of the last failed operation (cleared when the next operation starts).
    virtual HRESULT QV_STDCALL GetErrorCount(int32_t* ACount) = 0;
    virtual HRESULT QV_STDCALL GetError(int32_t AIndex, ADOError** AError) = 0;
};

// The one export of a provider module: a new, closed connection object.
#define QV_PROVIDER_FACTORY "QvCreateConnection"
using TQvCreateConnectionProc = HRESULT(QV_STDCALL*)(_Connection** AConnection);
