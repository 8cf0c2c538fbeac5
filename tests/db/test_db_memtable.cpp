// The in-memory table: editing, sorting, locating, copying from a query.
#include "DbTestUtil.h"
#include "kbmMemTable.h"

namespace {

// A table of (ID integer, Name text, Amount currency) with the given rows.
void Fill(TkbmMemTable& t, const std::vector<std::tuple<Variant, Variant, Variant>>& rows) {
    if (t.FieldCount() == 0) {
        t.AddField("ID", ftInteger);
        t.AddField("Name", ftWideString, 20);
        t.AddField("Amount", ftCurrency);
    }
    t.Open();
    for (const auto& [id, name, amount] : rows) {
        t.Append();
        t.FieldByName("ID").SetValue(id);
        t.FieldByName("Name").SetValue(name);
        t.FieldByName("Amount").SetValue(amount);
        t.Post();
    }
}

std::string Column(TkbmMemTable& t, const char* field) {
    std::string s;
    for (t.First(); !t.Eof(); t.Next())
        s += (t.RecNo() == 1 ? "" : ",") + t.FieldByName(field).AsString();
    return s;
}

TEST(MemTable, AppendEditPostAndTheirRefusals) {
    TkbmMemTable t("kbmVAI");
    Fill(t, {{Variant(1), Variant("a"), Variant("12.5")}});
    EXPECT_EQ(t.FieldByName("Amount").Value(), Variant(Currency{125000})); // converted to the field type
    t.Edit();
    t.FieldByName("Name").SetAsString("b");
    t.Cancel();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "a");
    t.Edit();
    t.FieldByName("Name").SetAsString("c");
    t.Next(); // moving posts the pending change
    EXPECT_EQ(Column(t, "Name"), "c");

    try {
        t.FieldByName("ID").SetAsInteger(2); // browsing, not editing
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "kbmVAI: 数据集不在编辑或插入状态。");
    }
    t.FieldByName("ID").SetReadOnly(true);
    t.Edit();
    EXPECT_THROW(t.FieldByName("ID").SetAsInteger(2), Exception);
    t.Cancel();
    t.Append();
    EXPECT_THROW(t.FieldByName("Amount").SetAsString("abc"), Exception);
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 1);
    EXPECT_THROW(t.AddField("X", ftInteger), Exception); // structure only while closed
}

TEST(MemTable, RequiredFieldsAndEmptyTable) {
    TkbmMemTable t;
    t.AddField("K", ftInteger, 0, true);
    t.Open();
    t.Append();
    EXPECT_THROW(t.Post(), Exception);
    t.FieldByName("K").SetAsInteger(1);
    t.Post();
    t.EmptyTable();
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_TRUE(t.Eof());
    EXPECT_TRUE(t.FieldByName("K").IsNull()); // no record: fields read as null
    EXPECT_EQ(t.FieldByName("K").AsInteger(), 0);
}

TEST(MemTable, SortOnFields) {
    struct Case {
        const char* name;
        const char* fields;
        TkbmSortOptions options;
        const char* ids;
    };
    const Case cases[] = {
        {"integers, nulls first", "ID", {}, ",1,2,3,10"},
        {"descending", "ID", {.Descending = true}, "10,3,2,1,"},
        {"text is case-sensitive by default", "Name", {}, "3,10,2,,1"},
        {"case-insensitive, stable", "Name", {.CaseInsensitive = true}, "2,3,10,,1"},
        {"two fields", "Amount;Name", {}, ",1,3,10,2"},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        TkbmMemTable t;
        Fill(t, {{Variant(10), Variant("B"), Variant(2)},
                 {Variant(2), Variant("a"), Variant(2)},
                 {Variant::Null(), Variant("b"), Variant(1)},
                 {Variant(3), Variant("A"), Variant(2)},
                 {Variant(1), Variant("c"), Variant(1)}});
        t.Last();
        t.SortOn(cs.fields, cs.options);
        EXPECT_EQ(t.RecNo(), 1);
        EXPECT_EQ(Column(t, "ID"), cs.ids);
    }
}

TEST(MemTable, LocateFindsTheFirstMatchOrLeavesTheCursor) {
    TkbmMemTable t;
    Fill(t, {{Variant(1), Variant("Alpha"), Variant("1.5")},
             {Variant(2), Variant("beta"), Variant("2")},
             {Variant(3), Variant("Beta"), Variant("2")}});
    struct Case {
        const char* name;
        const char* fields;
        std::vector<Variant> values;
        TLocateOptions options;
        int recNo; // 0: not found
    };
    const Case cases[] = {
        {"integer", "ID", {Variant(2)}, {}, 2},
        {"integer given as text", "ID", {Variant("3")}, {}, 3},
        {"case matters", "Name", {Variant("Beta")}, {}, 3},
        {"case-insensitive", "Name", {Variant("BETA")}, {.CaseInsensitive = true}, 2},
        {"partial key", "Name", {Variant("Al")}, {.PartialKey = true}, 1},
        {"currency against float", "Amount", {Variant(1.5)}, {}, 1},
        {"two fields", "Amount;Name", {Variant(2), Variant("Beta")}, {}, 3},
        {"not found", "ID", {Variant(9)}, {}, 0},
        {"text that is no number", "ID", {Variant("x")}, {}, 0},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        t.Last();
        const int before = t.RecNo();
        const bool found = t.Locate(cs.fields, cs.values, cs.options);
        EXPECT_EQ(found, cs.recNo != 0);
        EXPECT_EQ(t.RecNo(), found ? cs.recNo : before);
    }
    EXPECT_THROW(t.Locate("ID;Name", {Variant(1)}), Exception);
    EXPECT_THROW(t.Locate("Nope", {Variant(1)}), Exception);
}

TEST(MemTable, LoadFromQueryCopiesStructureAndRows) {
    auto c = OpenHospital();
    auto q = NewQuery(*c, "SELECT VAI01, VAI04, VAI23, yuan(VAI23) AS Fee FROM VAI1 ORDER BY VAI01", false);
    q->Open();
    q->Next();

    TkbmMemTable t("kbmVAI");
    t.AddField("Old", ftInteger); // replaced by the copied structure
    t.LoadFromDataSet(*q);
    EXPECT_TRUE(q->Bof()); // the source is left on its first record
    ASSERT_EQ(t.FieldCount(), 4);
    EXPECT_EQ(t.FieldByName("VAI23").DataType(), ftCurrency);
    EXPECT_FALSE(t.FieldByName("VAI23").ReadOnly());
    EXPECT_TRUE(t.FieldByName("Fee").ReadOnly()); // computed in the query
    EXPECT_EQ(t.RecordCount(), 4);
    EXPECT_EQ(Column(t, "VAI01"), "1023,1024,2001,3001");
    EXPECT_EQ(Column(t, "VAI23"), "25.5,80,35,12.5");

    // Appending the rows again, into a table whose own structure has one more field.
    TkbmMemTable u;
    u.CreateTableAs(*q);
    u.AddField("Mark", ftInteger);
    for (int i = 0; i < u.FieldCount(); ++i)
        u.Fields()[i].SetReadOnly(false);
    u.Open();
    u.LoadFromDataSet(*q, {.Append = true});
    u.LoadFromDataSet(*q, {.Append = true});
    EXPECT_EQ(u.RecordCount(), 8);
    u.First();
    u.Edit();
    u.FieldByName("Fee").SetAsFloat(1);
    u.FieldByName("Mark").SetAsInteger(7);
    u.Post();
    EXPECT_EQ(u.FieldByName("Mark").AsInteger(), 7);

    // A value that does not fit the field type: an error, or null with IgnoreErrors.
    TkbmMemTable w;
    w.AddField("VAI04", ftInteger);
    EXPECT_THROW(w.LoadFromDataSet(*q, {.Structure = false}), Exception);
    w.LoadFromDataSet(*q, {.Structure = false, .IgnoreErrors = true});
    EXPECT_EQ(w.RecordCount(), 4);
    EXPECT_TRUE(w.FieldByName("VAI04").IsNull());
}

} // namespace
