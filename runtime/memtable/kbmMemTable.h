// The in-memory table: fields defined by the code or copied from a query, rows kept in
// memory, sorted by fields and searched with Locate.
//
// The fields exist while the table is closed, so the structure can be built (or copied
// from another data set) first and the table opened afterwards. Closing a table drops
// its rows; its fields stay until DeleteFields (or a structure copy) replaces them.
#pragma once

#include "QvDataSet.h"

#include <string>
#include <string_view>

// Options of LoadFromDataSet / CreateTableAs.
struct TkbmCopyOptions {
    bool Structure = false;    // replace this table's fields by the source's
    bool Properties = true;    // with the structure: copy the read-only and required flags
    bool Append = false;       // keep this table's rows and append; otherwise replace them
    bool IgnoreErrors = false; // a value that does not convert becomes null instead of failing
};

// Options of SortOn.
struct TkbmSortOptions {
    bool Descending = false;
    bool CaseInsensitive = false;
};

class TkbmMemTable : public TDataSet {
public:
    explicit TkbmMemTable(std::string name = {});
    ~TkbmMemTable() override;

    // Structure (only while closed). Raises for a duplicate or empty name.
    TField& AddField(std::string name, TFieldType type, int size = 0, bool required = false);
    void DeleteFields();
    // Opening a table without fields raises "<name>: 没有定义字段。".
    void CreateTable() { Open(); }

    // Removes every row (the table stays open).
    void EmptyTable();

    // Copies the source's fields (with Structure) and rows from its first record to its
    // end; the source is left on its first record. The table is opened when needed. Values
    // are converted to this table's field types, read-only fields included. Source fields
    // without a field of the same name here are skipped.
    void LoadFromDataSet(TDataSet& source, TkbmCopyOptions options = {.Structure = true});
    // Closes the table and copies only the source's field structure.
    void CreateTableAs(TDataSet& source, TkbmCopyOptions options = {.Structure = true});

    // Orders the rows by the fields (names separated by ";"), stable, nulls first; the
    // first record becomes current.
    void SortOn(std::string_view fieldNames, TkbmSortOptions options = {});

protected:
    void InternalOpen() override;
    bool CanModify() const override { return true; }

private:
    void CopyStructure(TDataSet& source, bool properties);
};
