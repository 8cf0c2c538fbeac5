// Values, fields and the record-set cursor shared by the database query (QvADO.h) and
// the in-memory table (runtime/memtable).
//
// A data set holds its rows in memory; a query fetches every row when it opens. Field
// values are read from the current row as Variant and converted on demand with the
// process formats (float texts with 15 significant digits, currency texts with at most
// four decimals, dates "yyyy-mm-dd hh:nn:ss").
#pragma once

#include "QvCom.h"
#include "QvDateTime.h"
#include "QvText.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// ---------------------------------------------------------------------------------------
// Variant: a value as the database layer sees it.

enum TVarType : uint16_t {
    varEmpty = 0, // unassigned
    varNull = 1,
    varSmallint = 2,
    varInteger = 3,
    varDouble = 5,
    varCurrency = 6,
    varDate = 7,
    varBoolean = 11,
    varInt64 = 20,
    varUString = 0x0102, // text (UTF-8 inside)
};

class Variant {
public:
    Variant() = default; // unassigned
    Variant(int v) : FType(varInteger), FData(int64_t(v)) {}
    Variant(int64_t v) : FType(varInt64), FData(v) {}
    Variant(double v) : FType(varDouble), FData(v) {}
    Variant(bool v) : FType(varBoolean), FData(v) {}
    Variant(Currency v) : FType(varCurrency), FData(v) {}
    Variant(const char* v) : FType(varUString), FData(std::string(v ? v : "")) {}
    Variant(std::string v) : FType(varUString), FData(std::move(v)) {}
    Variant(std::string_view v) : FType(varUString), FData(std::string(v)) {}
    static Variant Null();
    static Variant Smallint(int16_t v);
    static Variant DateTime(TDateTime v);

    TVarType VarType() const { return FType; }
    bool IsNull() const { return FType == varNull; }
    bool IsEmpty() const { return FType == varEmpty; }
    // Null or unassigned: "no value".
    bool IsNullOrEmpty() const { return FType == varNull || FType == varEmpty; }
    bool IsNumeric() const;

    // Conversions with the process formats. No value gives "" as text and 0 (false) as a
    // number; text that is not a number (date) raises the conversion's own error.
    std::string AsString() const;
    int32_t AsInteger() const; // raises "'<v>' 不是有效的整数值" beyond 32 bits
    int64_t AsInt64() const;
    double AsFloat() const;
    Currency AsCurrency() const;
    TDateTime AsDateTime() const;
    bool AsBoolean() const;

    // Crossing the binary boundary. FromVARIANT copies; ToVARIANT writes a value the
    // caller owns (texts as newly allocated BSTR).
    static Variant FromVARIANT(const VARIANT& v);
    void ToVARIANT(VARIANT& out) const;
    OleVariant ToOleVariant() const;

    // Same type and value (texts compared exactly).
    friend bool operator==(const Variant& a, const Variant& b) {
        return a.FType == b.FType && a.FData == b.FData;
    }

private:
    TVarType FType = varEmpty;
    std::variant<std::monostate, int64_t, double, Currency, bool, std::string> FData;
};

// Frees what a VARIANT owns and leaves it empty; copies one (texts duplicated).
void VariantClear(VARIANT& v);
void VariantCopy(VARIANT& dst, const VARIANT& src);

// ---------------------------------------------------------------------------------------
// Field types (the original platform's order).

enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
    ftTimeStamp,
    ftFMTBcd,
    ftFixedWideChar,
    ftWideMemo,
};

// The type name ("Integer", "WideString", ...).
std::string FieldTypeName(TFieldType t);
// The field type a value of this variant type gets (ftUnknown for no value).
TFieldType FieldTypeOfVarType(TVarType t);
// A value converted to what a field of type `t` stores (no value stays as it is). Raises
// the conversion's error when the value does not fit.
Variant CoerceToFieldType(const Variant& v, TFieldType t);

// ---------------------------------------------------------------------------------------
// Fields and data sets

class TDataSet;

// Options of TDataSet::Locate: case-insensitive text comparison, and a partial key (the
// field's text starts with the value).
struct TLocateOptions {
    bool CaseInsensitive = false;
    bool PartialKey = false;
};

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TField {
public:
    TField(TDataSet& owner, std::string name, TFieldType type, int size);
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const { return FName; }
    TFieldType DataType() const { return FType; }
    int Size() const { return FSize; }
    int Index() const;
    TDataSet& DataSet() const { return FOwner; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool v) { FReadOnly = v; }
    bool Required() const { return FRequired; }
    void SetRequired(bool v) { FRequired = v; }

    // The value in the current record (the edit buffer while editing); a data set
    // without a current record raises "<data set>: 没有当前记录。".
    Variant Value() const;
    bool IsNull() const { return Value().IsNullOrEmpty(); }
    // Null reads as "" and 0.
    std::string AsString() const { return Value().AsString(); }
    int32_t AsInteger() const { return Value().AsInteger(); }
    int64_t AsLargeInt() const { return Value().AsInt64(); }
    double AsFloat() const { return Value().AsFloat(); }
    Currency AsCurrency() const { return Value().AsCurrency(); }
    TDateTime AsDateTime() const { return Value().AsDateTime(); }
    bool AsBoolean() const { return Value().AsBoolean(); }

    // Writing needs the data set in edit or insert state and a writable field; the value
    // is converted to the field's type.
    void SetValue(const Variant& v);
    void SetAsString(std::string_view v) { SetValue(Variant(v)); }
    void SetAsInteger(int32_t v) { SetValue(Variant(int(v))); }
    void SetAsLargeInt(int64_t v) { SetValue(Variant(v)); }
    void SetAsFloat(double v) { SetValue(Variant(v)); }
    void SetAsCurrency(Currency v) { SetValue(Variant(v)); }
    void SetAsDateTime(TDateTime v) { SetValue(Variant::DateTime(v)); }
    void SetAsBoolean(bool v) { SetValue(Variant(v)); }
    void Clear() { SetValue(Variant::Null()); }

private:
    TDataSet& FOwner;
    std::string FName;
    TFieldType FType;
    int FSize;
    bool FReadOnly = false;
    bool FRequired = false;
};

// The fields of a data set, in column order; names are compared without regard to case.
class TFields {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TField& operator[](int i) const;
    TField* FindField(std::string_view name) const;
    // Raises "字段“<name>”未找到。" when missing.
    TField& FieldByName(std::string_view name) const;
    int IndexOf(const TField* f) const;

private:
    friend class TDataSet;
    std::vector<std::unique_ptr<TField>> FItems;
};

// A record set in memory with a cursor. Eof turns true when Next passes the last record
// (or the set is empty); Bof when Prior passes the first.
class TDataSet {
public:
    explicit TDataSet(std::string name = {});
    virtual ~TDataSet();
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;

    const std::string& Name() const { return FName; }
    void SetName(std::string v) { FName = std::move(v); }

    bool Active() const { return FState != dsInactive; }
    TDataSetState State() const { return FState; }
    void Open();
    void Close();
    void SetActive(bool v) { v ? Open() : Close(); }

    // Navigation (an inactive data set raises "<name>: 不能对已关闭的数据集执行此操作。").
    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const;
    bool Bof() const;
    bool IsEmpty() const;
    int RecordCount() const;
    // 1-based number of the current record, 0 when there is none.
    int RecNo() const;
    void SetRecNo(int n);

    TFields& Fields() { return FFields; }
    const TFields& Fields() const { return FFields; }
    int FieldCount() const { return FFields.Count(); }
    TField* FindField(std::string_view name) const { return FFields.FindField(name); }
    TField& FieldByName(std::string_view name) const { return FFields.FieldByName(name); }

    // Editing; data sets that cannot be modified raise "<name>: 数据集不能修改。".
    void Append();
    void Insert();
    void Edit();
    void Post();
    void Cancel();
    void Delete();

    // Finds the first record whose fields (names separated by ";") equal the values,
    // starting from the first record, and makes it current; false (cursor unchanged)
    // when none does.
    bool Locate(std::string_view keyFields, const std::vector<Variant>& keyValues,
                TLocateOptions options = {});

protected:
    using TRow = std::vector<Variant>;

    // Fills FRows (and, for data sets whose fields come with their data, FFields).
    virtual void InternalOpen() {}
    virtual void InternalClose() {}
    virtual bool CanModify() const { return false; }
    void CheckActive() const;
    void CheckInactive() const;
    TField& AddFieldInternal(std::string name, TFieldType type, int size);
    void ClearFields();
    // Values of the current record for field i (edit buffer while editing).
    const Variant& CurrentValue(int fieldIndex) const;
    void SetCurrentValue(int fieldIndex, const Variant& v);
    std::vector<TRow>& Rows() { return FRows; }
    const std::vector<TRow>& Rows() const { return FRows; }
    // After the rows were reordered or replaced: cursor on the first record.
    void ResetCursor();
    [[noreturn]] void Fail(const std::string& message) const;

private:
    friend class TField;

    std::string FName;
    TDataSetState FState = dsInactive;
    TFields FFields;
    std::vector<TRow> FRows;
    int FIndex = -1; // current record, -1 when empty
    bool FEof = true;
    bool FBof = true;
    TRow FEditBuffer;
    int FEditIndex = -1; // record being edited; insert position while inserting
};
