// The in-memory table.
#include "kbmMemTable.h"

#include <algorithm>

TkbmMemTable::TkbmMemTable(std::string name) : TDataSet(std::move(name)) {}
TkbmMemTable::~TkbmMemTable() = default;

TField& TkbmMemTable::AddField(std::string name, TFieldType type, int size, bool required) {
    CheckInactive();
    TField& f = AddFieldInternal(std::move(name), type, size);
    f.SetRequired(required);
    return f;
}

void TkbmMemTable::DeleteFields() {
    CheckInactive();
    ClearFields();
}

void TkbmMemTable::InternalOpen() {
    if (FieldCount() == 0) Fail("没有定义字段。");
}

void TkbmMemTable::EmptyTable() {
    if (!Active()) return;
    Cancel();
    Rows().clear();
    ResetCursor();
}

void TkbmMemTable::CopyStructure(TDataSet& source, bool properties) {
    Close();
    ClearFields();
    for (int i = 0; i < source.FieldCount(); ++i) {
        const TField& s = source.Fields()[i];
        TField& f = AddFieldInternal(s.FieldName(), s.DataType(), s.Size());
        if (properties) {
            f.SetReadOnly(s.ReadOnly());
            f.SetRequired(s.Required());
        }
    }
}

void TkbmMemTable::CreateTableAs(TDataSet& source, TkbmCopyOptions options) {
    CopyStructure(source, options.Properties);
}

void TkbmMemTable::LoadFromDataSet(TDataSet& source, TkbmCopyOptions options) {
    if (options.Structure) CopyStructure(source, options.Properties);
    if (!Active()) Open();
    Cancel();
    if (!options.Append) Rows().clear();
    // Which source field feeds each of this table's fields (-1: none).
    std::vector<int> map(FieldCount(), -1);
    for (int i = 0; i < FieldCount(); ++i)
        if (TField* s = source.FindField(Fields()[i].FieldName())) map[i] = s->Index();
    if (source.Active()) {
        for (source.First(); !source.Eof(); source.Next()) {
            TRow row(FieldCount(), Variant::Null());
            for (int i = 0; i < FieldCount(); ++i) {
                if (map[i] < 0) continue;
                const Variant v = source.Fields()[map[i]].Value();
                try {
                    row[i] = CoerceToFieldType(v, Fields()[i].DataType());
                } catch (const Exception&) {
                    if (!options.IgnoreErrors) throw;
                }
            }
            Rows().push_back(std::move(row));
        }
        source.First();
    }
    ResetCursor();
}

namespace {

bool IsNumberLike(TVarType t) {
    switch (t) {
    case varSmallint:
    case varInteger:
    case varInt64:
    case varDouble:
    case varCurrency:
    case varDate:
    case varBoolean:
        return true;
    default:
        return false;
    }
}

bool IsIntegral(TVarType t) {
    return t == varSmallint || t == varInteger || t == varInt64 || t == varCurrency || t == varBoolean;
}

// -1, 0, 1; nulls first.
int CompareValues(const Variant& a, const Variant& b, bool caseInsensitive) {
    const bool an = a.IsNullOrEmpty(), bn = b.IsNullOrEmpty();
    if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
    if (IsNumberLike(a.VarType()) && IsNumberLike(b.VarType())) {
        if (IsIntegral(a.VarType()) && IsIntegral(b.VarType())) {
            const Currency x = a.AsCurrency(), y = b.AsCurrency();
            return x < y ? -1 : (y < x ? 1 : 0);
        }
        const double x = a.AsFloat(), y = b.AsFloat();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    std::string x = a.AsString(), y = b.AsString();
    if (caseInsensitive) {
        x = UpperCase(x);
        y = UpperCase(y);
    }
    const int c = x.compare(y);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace

void TkbmMemTable::SortOn(std::string_view fieldNames, TkbmSortOptions options) {
    CheckActive();
    if (State() != dsBrowse) Post();
    std::vector<int> idx;
    for (const std::string& n : SplitString(fieldNames, ";")) {
        const std::string name = Trim(n);
        if (!name.empty()) idx.push_back(FieldByName(name).Index());
    }
    if (idx.empty()) Fail("没有指定排序字段。");
    std::stable_sort(Rows().begin(), Rows().end(), [&](const TRow& a, const TRow& b) {
        for (int i : idx) {
            int c = CompareValues(a[i], b[i], options.CaseInsensitive);
            if (options.Descending) c = -c;
            if (c != 0) return c < 0;
        }
        return false;
    });
    ResetCursor();
}
