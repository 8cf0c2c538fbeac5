// Values, fields and the in-memory record cursor.
#include "QvDataSet.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

[[noreturn]] void NotAnInteger(const std::string& text) {
    throw Exception("'" + text + "' 不是有效的整数值");
}

// Nearest integer, halves to even (as the platform's variant conversions round).
int64_t RoundToInt64(double v, const Variant& source) {
    if (!std::isfinite(v) || v >= 9.2233720368547758e18 || v < -9.2233720368547758e18)
        NotAnInteger(source.AsString());
    return static_cast<int64_t>(std::nearbyint(v));
}

// Currency to whole units, halves to even.
int64_t CurrencyToInt64(Currency c) {
    int64_t q = c.Value / 10000;
    const int64_t r = c.Value % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
    return q;
}

const Variant& NullValue() {
    static const Variant v = Variant::Null();
    return v;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Variant

Variant Variant::Null() {
    Variant v;
    v.FType = varNull;
    return v;
}

Variant Variant::Smallint(int16_t value) {
    Variant v(static_cast<int>(value));
    v.FType = varSmallint;
    return v;
}

Variant Variant::DateTime(TDateTime value) {
    Variant v(value);
    v.FType = varDate;
    return v;
}

bool Variant::IsNumeric() const {
    switch (FType) {
    case varSmallint:
    case varInteger:
    case varInt64:
    case varDouble:
    case varCurrency:
        return true;
    default:
        return false;
    }
}

std::string Variant::AsString() const {
    switch (FType) {
    case varEmpty:
    case varNull:
        return {};
    case varSmallint:
    case varInteger:
    case varInt64:
        return IntToStr(std::get<int64_t>(FData));
    case varDouble:
        return FloatToStr(std::get<double>(FData));
    case varCurrency:
        return CurrToStr(std::get<Currency>(FData));
    case varDate:
        return DateTimeToStr(std::get<double>(FData));
    case varBoolean:
        return std::get<bool>(FData) ? "True" : "False";
    case varUString:
        return std::get<std::string>(FData);
    }
    return {};
}

int64_t Variant::AsInt64() const {
    switch (FType) {
    case varEmpty:
    case varNull:
        return 0;
    case varSmallint:
    case varInteger:
    case varInt64:
        return std::get<int64_t>(FData);
    case varDouble:
    case varDate:
        return RoundToInt64(std::get<double>(FData), *this);
    case varCurrency:
        return CurrencyToInt64(std::get<Currency>(FData));
    case varBoolean:
        return std::get<bool>(FData) ? -1 : 0;
    case varUString:
        return StrToInt64(std::get<std::string>(FData));
    }
    return 0;
}

int32_t Variant::AsInteger() const {
    const int64_t v = AsInt64();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        NotAnInteger(AsString());
    return static_cast<int32_t>(v);
}

double Variant::AsFloat() const {
    switch (FType) {
    case varEmpty:
    case varNull:
        return 0;
    case varSmallint:
    case varInteger:
    case varInt64:
        return static_cast<double>(std::get<int64_t>(FData));
    case varDouble:
    case varDate:
        return std::get<double>(FData);
    case varCurrency:
        return CurrToDouble(std::get<Currency>(FData));
    case varBoolean:
        return std::get<bool>(FData) ? -1 : 0;
    case varUString:
        return StrToFloat(std::get<std::string>(FData));
    }
    return 0;
}

Currency Variant::AsCurrency() const {
    switch (FType) {
    case varEmpty:
    case varNull:
        return {};
    case varSmallint:
    case varInteger:
    case varInt64:
        return Currency{10000} * std::get<int64_t>(FData);
    case varDouble:
    case varDate:
        return DoubleToCurr(std::get<double>(FData));
    case varCurrency:
        return std::get<Currency>(FData);
    case varBoolean:
        return Currency{std::get<bool>(FData) ? -10000 : 0};
    case varUString:
        return StrToCurr(std::get<std::string>(FData));
    }
    return {};
}

TDateTime Variant::AsDateTime() const {
    switch (FType) {
    case varEmpty:
    case varNull:
        return 0;
    case varUString:
        return StrToDateTime(std::get<std::string>(FData));
    default:
        return AsFloat();
    }
}

bool Variant::AsBoolean() const {
    switch (FType) {
    case varEmpty:
    case varNull:
        return false;
    case varBoolean:
        return std::get<bool>(FData);
    case varUString: {
        const std::string& s = std::get<std::string>(FData);
        if (SameText(Trim(s), "True")) return true;
        if (SameText(Trim(s), "False")) return false;
        double d;
        if (TryStrToFloat(s, d)) return d != 0;
        throw Exception("'" + s + "' 不是有效的布尔值");
    }
    default:
        return AsFloat() != 0;
    }
}

Variant Variant::FromVARIANT(const VARIANT& v) {
    switch (v.vt) {
    case VT_EMPTY:
        return Variant();
    case VT_NULL:
        return Null();
    case 2:
        return Smallint(static_cast<int16_t>(v.lVal)); // VT_I2, read from the low half
    case VT_I4:
        return Variant(int(v.lVal));
    case VT_I8:
        return Variant(int64_t(v.llVal));
    case VT_R8:
        return Variant(v.dblVal);
    case VT_CY:
        return Variant(Currency{v.cyVal});
    case VT_DATE:
        return DateTime(v.date);
    case VT_BSTR:
        return Variant(BstrToUtf8(v.bstrVal));
    case VT_BOOL:
        return Variant(v.boolVal != 0);
    default:
        throw Exception("不支持的数据类型(VARIANT " + IntToStr(v.vt) + ")");
    }
}

void Variant::ToVARIANT(VARIANT& out) const {
    std::memset(&out, 0, sizeof out);
    switch (FType) {
    case varEmpty:
        out.vt = VT_EMPTY;
        break;
    case varNull:
        out.vt = VT_NULL;
        break;
    case varSmallint:
    case varInteger:
        out.vt = VT_I4;
        out.lVal = static_cast<int32_t>(std::get<int64_t>(FData));
        break;
    case varInt64:
        out.vt = VT_I8;
        out.llVal = std::get<int64_t>(FData);
        break;
    case varDouble:
        out.vt = VT_R8;
        out.dblVal = std::get<double>(FData);
        break;
    case varCurrency:
        out.vt = VT_CY;
        out.cyVal = std::get<Currency>(FData).Value;
        break;
    case varDate:
        out.vt = VT_DATE;
        out.date = std::get<double>(FData);
        break;
    case varBoolean:
        out.vt = VT_BOOL;
        out.boolVal = std::get<bool>(FData) ? -1 : 0;
        break;
    case varUString:
        out.vt = VT_BSTR;
        out.bstrVal = Utf8ToBstr(std::get<std::string>(FData));
        break;
    }
}

OleVariant Variant::ToOleVariant() const {
    OleVariant r;
    ToVARIANT(r.get());
    return r;
}

void VariantClear(VARIANT& v) {
    if (v.vt == VT_BSTR) SysFreeString(v.bstrVal);
    std::memset(&v, 0, sizeof v);
}

void VariantCopy(VARIANT& dst, const VARIANT& src) {
    if (&dst == &src) return;
    VariantClear(dst);
    dst = src;
    if (src.vt == VT_BSTR) dst.bstrVal = WideString::Copy(src.bstrVal).Detach();
}

// ---------------------------------------------------------------------------------------
// Field types

std::string FieldTypeName(TFieldType t) {
    static const char* const names[] = {
        "Unknown",     "String",    "Smallint",  "Integer",       "Word",     "Boolean",    "Float",
        "Currency",    "BCD",       "Date",      "Time",          "DateTime", "Bytes",      "VarBytes",
        "AutoInc",     "Blob",      "Memo",      "Graphic",       "FmtMemo",  "ParadoxOle", "DBaseOle",
        "TypedBinary", "Cursor",    "FixedChar", "WideString",    "Largeint", "ADT",        "Array",
        "Reference",   "DataSet",   "OraBlob",   "OraClob",       "Variant",  "Interface",  "IDispatch",
        "Guid",        "TimeStamp", "FMTBcd",    "FixedWideChar", "WideMemo"};
    const int i = static_cast<int>(t);
    return i >= 0 && i < static_cast<int>(std::size(names)) ? names[i] : "Unknown";
}

TFieldType FieldTypeOfVarType(TVarType t) {
    switch (t) {
    case varSmallint:
        return ftSmallint;
    case varInteger:
        return ftInteger;
    case varInt64:
        return ftLargeint;
    case varDouble:
        return ftFloat;
    case varCurrency:
        return ftCurrency;
    case varDate:
        return ftDateTime;
    case varBoolean:
        return ftBoolean;
    case varUString:
        return ftWideString;
    default:
        return ftUnknown;
    }
}

Variant CoerceToFieldType(const Variant& v, TFieldType t) {
    if (v.IsNullOrEmpty()) return v;
    switch (t) {
    case ftString:
    case ftWideString:
    case ftMemo:
    case ftWideMemo:
    case ftFmtMemo:
    case ftFixedChar:
    case ftFixedWideChar:
    case ftGuid:
        return v.VarType() == varUString ? v : Variant(v.AsString());
    case ftSmallint:
        return Variant::Smallint(static_cast<int16_t>(v.AsInteger()));
    case ftInteger:
    case ftWord:
    case ftAutoInc:
        return Variant(int(v.AsInteger()));
    case ftLargeint:
        return Variant(v.AsInt64());
    case ftBoolean:
        return Variant(v.AsBoolean());
    case ftFloat:
        return Variant(v.AsFloat());
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
        return Variant(v.AsCurrency());
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
        return Variant::DateTime(v.AsDateTime());
    default:
        return v;
    }
}

// ---------------------------------------------------------------------------------------
// Fields

TField::TField(TDataSet& owner, std::string name, TFieldType type, int size)
    : FOwner(owner), FName(std::move(name)), FType(type), FSize(size) {}

int TField::Index() const {
    return FOwner.FFields.IndexOf(this);
}

Variant TField::Value() const {
    return FOwner.CurrentValue(Index());
}

void TField::SetValue(const Variant& v) {
    if (FReadOnly) FOwner.Fail("字段“" + FName + "”不能修改。");
    FOwner.SetCurrentValue(Index(), CoerceToFieldType(v, FType));
}

TField& TFields::operator[](int i) const {
    if (i < 0 || i >= Count()) throw Exception("列表索引越界 (" + IntToStr(i) + ")");
    return *FItems[i];
}

TField* TFields::FindField(std::string_view name) const {
    for (const auto& f : FItems)
        if (SameText(f->FieldName(), name)) return f.get();
    return nullptr;
}

TField& TFields::FieldByName(std::string_view name) const {
    TField* f = FindField(name);
    if (!f) throw Exception("字段“" + std::string(name) + "”未找到。");
    return *f;
}

int TFields::IndexOf(const TField* f) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == f) return static_cast<int>(i);
    return -1;
}

// ---------------------------------------------------------------------------------------
// Data set

TDataSet::TDataSet(std::string name) : FName(std::move(name)) {}
TDataSet::~TDataSet() = default;

void TDataSet::Fail(const std::string& message) const {
    throw Exception(FName.empty() ? message : FName + ": " + message);
}

void TDataSet::CheckActive() const {
    if (!Active()) Fail("不能对已关闭的数据集执行此操作。");
}

void TDataSet::CheckInactive() const {
    if (Active()) Fail("不能对已打开的数据集执行此操作。");
}

void TDataSet::Open() {
    if (Active()) return;
    FRows.clear();
    InternalOpen();
    FState = dsBrowse;
    ResetCursor();
}

void TDataSet::Close() {
    if (!Active()) return;
    FEditBuffer.clear();
    FEditIndex = -1;
    InternalClose();
    FRows.clear();
    FState = dsInactive;
    FIndex = -1;
    FEof = FBof = true;
}

void TDataSet::ResetCursor() {
    FIndex = FRows.empty() ? -1 : 0;
    FBof = true;
    FEof = FRows.empty();
}

TField& TDataSet::AddFieldInternal(std::string name, TFieldType type, int size) {
    if (name.empty()) Fail("字段名不能为空。");
    if (FFields.FindField(name)) Fail("字段名“" + name + "”重复。");
    FFields.FItems.push_back(std::make_unique<TField>(*this, std::move(name), type, size));
    for (TRow& r : FRows)
        r.push_back(Variant::Null());
    return *FFields.FItems.back();
}

void TDataSet::ClearFields() {
    FFields.FItems.clear();
}

void TDataSet::First() {
    CheckActive();
    if (FState != dsBrowse) Post();
    ResetCursor();
}

void TDataSet::Last() {
    CheckActive();
    if (FState != dsBrowse) Post();
    FIndex = static_cast<int>(FRows.size()) - 1;
    FEof = true;
    FBof = FRows.empty();
}

void TDataSet::Next() {
    CheckActive();
    if (FState != dsBrowse) Post();
    if (FIndex + 1 < static_cast<int>(FRows.size())) {
        ++FIndex;
        FBof = false;
        FEof = false;
    } else {
        FEof = true;
    }
}

void TDataSet::Prior() {
    CheckActive();
    if (FState != dsBrowse) Post();
    if (FIndex > 0) {
        --FIndex;
        FEof = false;
        FBof = false;
    } else {
        FBof = true;
    }
}

bool TDataSet::Eof() const {
    return !Active() || FEof;
}
bool TDataSet::Bof() const {
    return !Active() || FBof;
}
bool TDataSet::IsEmpty() const {
    return !Active() || (FRows.empty() && FState != dsInsert);
}
int TDataSet::RecordCount() const {
    return Active() ? static_cast<int>(FRows.size()) : 0;
}
int TDataSet::RecNo() const {
    return Active() && FIndex >= 0 ? FIndex + 1 : 0;
}

void TDataSet::SetRecNo(int n) {
    CheckActive();
    if (FState != dsBrowse) Post();
    if (n < 1 || n > static_cast<int>(FRows.size())) Fail("记录号" + IntToStr(n) + "超出范围。");
    FIndex = n - 1;
    FEof = FBof = false;
}

const Variant& TDataSet::CurrentValue(int i) const {
    if (i < 0 || i >= FFields.Count()) return NullValue();
    if (FState == dsEdit || FState == dsInsert) return FEditBuffer[i];
    if (!Active() || FIndex < 0) return NullValue(); // no record: every field reads as null
    return FRows[FIndex][i];
}

void TDataSet::SetCurrentValue(int i, const Variant& v) {
    if (FState != dsEdit && FState != dsInsert) Fail("数据集不在编辑或插入状态。");
    FEditBuffer.at(i) = v;
}

void TDataSet::Append() {
    CheckActive();
    if (!CanModify()) Fail("数据集不能修改。");
    if (FState != dsBrowse) Post();
    FEditBuffer.assign(FFields.Count(), Variant::Null());
    FEditIndex = static_cast<int>(FRows.size());
    FState = dsInsert;
}

void TDataSet::Insert() {
    CheckActive();
    if (!CanModify()) Fail("数据集不能修改。");
    if (FState != dsBrowse) Post();
    FEditBuffer.assign(FFields.Count(), Variant::Null());
    FEditIndex = FIndex < 0 ? 0 : FIndex;
    FState = dsInsert;
}

void TDataSet::Edit() {
    CheckActive();
    if (!CanModify()) Fail("数据集不能修改。");
    if (FState == dsEdit || FState == dsInsert) return;
    if (FIndex < 0) Fail("没有当前记录。");
    FEditBuffer = FRows[FIndex];
    FEditIndex = FIndex;
    FState = dsEdit;
}

void TDataSet::Post() {
    CheckActive();
    if (FState != dsEdit && FState != dsInsert) return;
    for (int i = 0; i < FFields.Count(); ++i)
        if (FFields[i].Required() && FEditBuffer[i].IsNullOrEmpty())
            Fail("字段“" + FFields[i].FieldName() + "”必须有值。");
    if (FState == dsEdit) {
        FRows[FEditIndex] = std::move(FEditBuffer);
    } else {
        FRows.insert(FRows.begin() + FEditIndex, std::move(FEditBuffer));
    }
    FIndex = FEditIndex;
    FEof = FBof = false;
    FEditBuffer.clear();
    FEditIndex = -1;
    FState = dsBrowse;
}

void TDataSet::Cancel() {
    if (FState != dsEdit && FState != dsInsert) return;
    FEditBuffer.clear();
    FEditIndex = -1;
    FState = dsBrowse;
}

void TDataSet::Delete() {
    CheckActive();
    if (!CanModify()) Fail("数据集不能修改。");
    if (FState == dsInsert) {
        Cancel();
        return;
    }
    Cancel();
    if (FIndex < 0) Fail("没有当前记录。");
    FRows.erase(FRows.begin() + FIndex);
    if (FIndex >= static_cast<int>(FRows.size())) FIndex = static_cast<int>(FRows.size()) - 1;
    FEof = FRows.empty();
    FBof = FRows.empty();
}

namespace {

bool IsTextType(TVarType t) {
    return t == varUString;
}

// Whether a field value matches a key value for Locate.
bool KeyMatches(const Variant& value, const Variant& key, const TLocateOptions& o) {
    if (key.IsNullOrEmpty()) return value.IsNullOrEmpty();
    if (value.IsNullOrEmpty()) return false;
    if (IsTextType(value.VarType()) || IsTextType(key.VarType()) || o.PartialKey) {
        std::string a = value.AsString(), b = key.AsString();
        if (o.CaseInsensitive) {
            a = UpperCase(a);
            b = UpperCase(b);
        }
        if (o.PartialKey) return a.compare(0, b.size(), b) == 0;
        return a == b;
    }
    if (value.VarType() == varBoolean || key.VarType() == varBoolean)
        return value.AsBoolean() == key.AsBoolean();
    if ((value.VarType() == varCurrency || value.VarType() == varInteger || value.VarType() == varInt64 ||
         value.VarType() == varSmallint) &&
        (key.VarType() == varCurrency || key.VarType() == varInteger || key.VarType() == varInt64 ||
         key.VarType() == varSmallint))
        return value.AsCurrency() == key.AsCurrency();
    return value.AsFloat() == key.AsFloat();
}

} // namespace

bool TDataSet::Locate(std::string_view keyFields, const std::vector<Variant>& keyValues,
                      TLocateOptions options) {
    CheckActive();
    if (FState != dsBrowse) Post();
    std::vector<int> idx;
    for (const std::string& name : SplitString(keyFields, ";")) {
        const std::string n = Trim(name);
        if (n.empty()) continue;
        idx.push_back(FFields.FieldByName(n).Index());
    }
    if (idx.empty() || idx.size() != keyValues.size()) Fail("定位的字段个数与值的个数不一致。");
    for (size_t r = 0; r < FRows.size(); ++r) {
        bool all = true;
        for (size_t k = 0; k < idx.size() && all; ++k) {
            // A text key that does not convert (e.g. "abc" against an integer field) simply does not match.
            try {
                all = KeyMatches(FRows[r][idx[k]], keyValues[k], options);
            } catch (const Exception&) {
                all = false;
            }
        }
        if (all) {
            FIndex = static_cast<int>(r);
            FEof = FBof = false;
            return true;
        }
    }
    return false;
}
