// Provider building blocks: error objects, static recordsets, the base connection.
#include "AdoProvider.h"

namespace {

const char* const kNoCurrentRecord =
    "BOF 或 EOF 中有一个是“真”，或者当前的记录已被删除，所需的操作要求一个当前的记录。";

// Out-parameter checks shared by the operations.
template <class T> void CheckOut(T* p) {
    if (!p) throw EAdoError(E_POINTER, "ADO", "无效指针");
}

} // namespace

// ---------------------------------------------------------------------------------------
// Error object

HRESULT TAdoErrorObject::GetNumber(int32_t* ANumber) {
    return SafeCall([&] {
        CheckOut(ANumber);
        *ANumber = FError.Number;
    });
}

HRESULT TAdoErrorObject::GetSource(BSTR* ASource) {
    return SafeCall([&] {
        CheckOut(ASource);
        *ASource = Utf8ToBstr(FError.Source);
    });
}

HRESULT TAdoErrorObject::GetDescription(BSTR* ADescription) {
    return SafeCall([&] {
        CheckOut(ADescription);
        *ADescription = Utf8ToBstr(FError.Description);
    });
}

HRESULT TAdoErrorObject::GetSQLState(BSTR* AState) {
    return SafeCall([&] {
        CheckOut(AState);
        *AState = Utf8ToBstr(FError.SQLState);
    });
}

HRESULT TAdoErrorObject::GetNativeError(int32_t* AError) {
    return SafeCall([&] {
        CheckOut(AError);
        *AError = FError.NativeError;
    });
}

// ---------------------------------------------------------------------------------------
// Static recordset

template <class F> HRESULT TAdoStaticRecordset::Call(F&& body) noexcept {
    try {
        ClearErrorInfo();
        body();
        return S_OK;
    } catch (const EAdoError& e) {
        SetErrorInfoText(e.what());
        return e.Number();
    } catch (const std::exception& e) {
        SetErrorInfoText(e.what());
        return E_UNEXPECTED;
    }
}

void TAdoStaticRecordset::AddRow(std::vector<Variant> row) {
    row.resize(FColumns.size(), Variant::Null());
    FRows.push_back(std::move(row));
}

void TAdoStaticRecordset::CheckOpen() const {
    if (!FOpen) throw EAdoError(adErrObjectClosed, "ADODB.Recordset", "对象关闭时，不允许操作。");
}

HRESULT TAdoStaticRecordset::GetState(int32_t* AState) {
    return Call([&] {
        CheckOut(AState);
        *AState = FOpen ? adStateOpen : adStateClosed;
    });
}

HRESULT TAdoStaticRecordset::GetFieldCount(int32_t* ACount) {
    return Call([&] {
        CheckOut(ACount);
        CheckOpen();
        *ACount = static_cast<int32_t>(FColumns.size());
    });
}

HRESULT TAdoStaticRecordset::GetFieldInfo(int32_t AIndex, BSTR* AName, int32_t* AType, int32_t* ASize,
                                          int32_t* AAttributes) {
    return Call([&] {
        CheckOpen();
        if (AIndex < 0 || AIndex >= static_cast<int32_t>(FColumns.size()))
            throw EAdoError(adErrItemNotFound, "ADODB.Fields", "在对应所需名称或序数的集合中，未找到项目。");
        const TColumn& c = FColumns[AIndex];
        if (AName) *AName = Utf8ToBstr(c.Name);
        if (AType) *AType = c.Type;
        if (ASize) *ASize = c.Size;
        if (AAttributes) *AAttributes = c.Attributes;
    });
}

HRESULT TAdoStaticRecordset::GetRecordCount(int32_t* ACount) {
    return Call([&] {
        CheckOut(ACount);
        CheckOpen();
        *ACount = static_cast<int32_t>(FRows.size());
    });
}

HRESULT TAdoStaticRecordset::GetBOF(WordBool* ABof) {
    return Call([&] {
        CheckOut(ABof);
        CheckOpen();
        *ABof = FRows.empty() ? -1 : 0;
    });
}

HRESULT TAdoStaticRecordset::GetEOF(WordBool* AEof) {
    return Call([&] {
        CheckOut(AEof);
        CheckOpen();
        *AEof = FPos >= FRows.size() ? -1 : 0;
    });
}

HRESULT TAdoStaticRecordset::MoveFirst() {
    return Call([&] {
        CheckOpen();
        FPos = 0;
    });
}

HRESULT TAdoStaticRecordset::MoveNext() {
    return Call([&] {
        CheckOpen();
        if (FPos >= FRows.size()) throw EAdoError(adErrNoCurrentRecord, "ADODB.Recordset", kNoCurrentRecord);
        ++FPos;
    });
}

HRESULT TAdoStaticRecordset::GetValue(int32_t AIndex, VARIANT* AValue) {
    return Call([&] {
        CheckOut(AValue);
        CheckOpen();
        if (FPos >= FRows.size()) throw EAdoError(adErrNoCurrentRecord, "ADODB.Recordset", kNoCurrentRecord);
        if (AIndex < 0 || AIndex >= static_cast<int32_t>(FColumns.size()))
            throw EAdoError(adErrItemNotFound, "ADODB.Fields", "在对应所需名称或序数的集合中，未找到项目。");
        FRows[FPos][AIndex].ToVARIANT(*AValue);
    });
}

HRESULT TAdoStaticRecordset::Close() {
    return Call([&] {
        CheckOpen();
        FOpen = false;
        FRows.clear();
    });
}

// ---------------------------------------------------------------------------------------
// Base connection

template <class F> HRESULT TAdoConnectionBase::Call(F&& body) noexcept {
    FErrors.clear();
    ClearErrorInfo();
    auto keep = [this](TADOError e) {
        SetErrorInfoText(e.Description);
        FErrors.push_back(std::move(e));
    };
    try {
        body();
        return S_OK;
    } catch (const EAdoError& e) {
        keep({e.Number(), e.Source(), e.what(), e.SQLState(), e.NativeError()});
        return e.Number();
    } catch (const std::exception& e) {
        keep({DB_E_ERRORSINCOMMAND, SourceName(), e.what(), {}, 0});
        return DB_E_ERRORSINCOMMAND;
    } catch (...) {
        keep({DB_E_ERRORSINCOMMAND, SourceName(), "未知错误。", {}, 0});
        return DB_E_ERRORSINCOMMAND;
    }
}

void TAdoConnectionBase::CheckOpen() const {
    if (!FOpen) Fail(adErrObjectClosed, "数据库连接未打开。");
}

void TAdoConnectionBase::Fail(HRESULT number, const std::string& description) const {
    throw EAdoError(number, SourceName(), description);
}

HRESULT TAdoConnectionBase::GetConnectionString(BSTR* AText) {
    return Call([&] {
        CheckOut(AText);
        *AText = Utf8ToBstr(FConnectionString);
    });
}

HRESULT TAdoConnectionBase::SetConnectionString(BSTR AText) {
    return Call([&] {
        if (FOpen) Fail(E_FAIL, "对象打开时，不允许操作。");
        FConnectionString = BstrToUtf8(AText);
    });
}

HRESULT TAdoConnectionBase::GetCommandTimeout(int32_t* ASeconds) {
    return Call([&] {
        CheckOut(ASeconds);
        *ASeconds = FTimeout;
    });
}

HRESULT TAdoConnectionBase::SetCommandTimeout(int32_t ASeconds) {
    return Call([&] {
        if (ASeconds < 0) Fail(E_INVALIDARG, "命令超时不能为负数。");
        FTimeout = ASeconds;
        if (FOpen) TimeoutChanged();
    });
}

HRESULT TAdoConnectionBase::GetState(int32_t* AState) {
    return Call([&] {
        CheckOut(AState);
        *AState = FOpen ? adStateOpen : adStateClosed;
    });
}

HRESULT TAdoConnectionBase::GetProvider(BSTR* AName) {
    return Call([&] {
        CheckOut(AName);
        *AName = Utf8ToBstr(TConnectionString(FConnectionString).Value("Provider"));
    });
}

HRESULT TAdoConnectionBase::Open(BSTR AText) {
    return Call([&] {
        if (FOpen) Fail(E_FAIL, "对象打开时，不允许操作。");
        if (AText) FConnectionString = BstrToUtf8(AText);
        DoOpen(TConnectionString(FConnectionString));
        FOpen = true;
    });
}

HRESULT TAdoConnectionBase::Close() {
    return Call([&] {
        CheckOpen();
        FOpen = false;
        DoClose();
    });
}

HRESULT TAdoConnectionBase::Execute(BSTR ACommandText, TAdoParameter* AParams, int32_t AParamCount,
                                    int32_t AOptions, int32_t ACommandTimeout, int32_t* ARecordsAffected,
                                    _Recordset** ARecordset) {
    if (ARecordset) *ARecordset = nullptr;
    if (ARecordsAffected) *ARecordsAffected = -1;
    return Call([&] {
        CheckOpen();
        if (AParamCount < 0 || (AParamCount > 0 && !AParams)) Fail(E_INVALIDARG, "参数数组无效。");
        const int timeout = ACommandTimeout < 0 ? FTimeout : ACommandTimeout;
        TAdoExecuteResult r = DoExecute(BstrToUtf8(ACommandText),
                                        std::span<TAdoParameter>(AParams, AParamCount), AOptions, timeout);
        if (ARecordsAffected) *ARecordsAffected = r.RecordsAffected;
        if (ARecordset && !(AOptions & adExecuteNoRecords)) *ARecordset = r.Recordset.Detach();
    });
}

HRESULT TAdoConnectionBase::BeginTrans(int32_t* ALevel) {
    return Call([&] {
        CheckOpen();
        const int level = DoBeginTrans();
        if (ALevel) *ALevel = level;
    });
}

HRESULT TAdoConnectionBase::CommitTrans() {
    return Call([&] {
        CheckOpen();
        DoCommitTrans();
    });
}

HRESULT TAdoConnectionBase::RollbackTrans() {
    return Call([&] {
        CheckOpen();
        DoRollbackTrans();
    });
}

// The error list is read after a failure, so these two leave it alone.
HRESULT TAdoConnectionBase::GetErrorCount(int32_t* ACount) {
    if (!ACount) return E_POINTER;
    *ACount = static_cast<int32_t>(FErrors.size());
    return S_OK;
}

HRESULT TAdoConnectionBase::GetError(int32_t AIndex, ADOError** AError) {
    if (!AError) return E_POINTER;
    *AError = nullptr;
    if (AIndex < 0 || AIndex >= static_cast<int32_t>(FErrors.size())) return E_INVALIDARG;
    *AError = MakeCom<TAdoErrorObject>(FErrors[AIndex]).Detach();
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Parameters

bool AdoParamIsOutput(const TAdoParameter& p) {
    return p.Direction == adParamOutput || p.Direction == adParamInputOutput ||
           p.Direction == adParamReturnValue;
}

Variant AdoParamInput(const TAdoParameter& p, const std::string& source) {
    if (p.Direction == adParamOutput || p.Direction == adParamReturnValue) return Variant::Null();
    if (p.Value.vt == VT_EMPTY) {
        if (p.Direction == adParamInputOutput) return Variant::Null();
        throw EAdoError(DB_E_PARAMNOTOPTIONAL, source,
                        "没有为一个或多个必需的参数提供值。(参数" + BstrToUtf8(p.Name) + ")");
    }
    return Variant::FromVARIANT(p.Value);
}

void AdoParamSetOutput(TAdoParameter& p, const Variant& v) {
    VariantClear(p.Value);
    v.ToVARIANT(p.Value);
}
