// Parameter checking, connection strings, provider names and loading, value conversions.
#include "DbTestUtil.h"

#include <filesystem>

namespace {

struct ParamCase {
    const char* name;
    const char* sql;
    const char* sent; // the text the connection receives
    std::vector<TSqlParamRef> refs;
};

const ParamCase kParamCases[] = {
    {"plain", "select * from T where A = :A and B=:B", "select * from T where A = ? and B=?", {{"A"}, {"B"}}},
    {"name chars", ":a1_b,:中文", "?,?", {{"a1_b"}, {"中文"}}},
    {"double colon stays", "select a::b, :c", "select a::b, ?", {{"c"}}},
    {"lone colon stays", "select 'x' : y, a:", "select 'x' : y, a:", {}},
    {"single quotes", "select ':a', 'it''s :b', :c", "select ':a', 'it''s :b', ?", {{"c"}}},
    {"double quotes", "select \":a\" from t where x=:x", "select \":a\" from t where x=?", {{"x"}}},
    {"line comment", "-- :a\nselect :b -- :c\r\n, :d", "-- :a\nselect ? -- :c\r\n, ?", {{"b"}, {"d"}}},
    {"nested block comment", "/* :a /* :b */ :c */ :d", "/* :a /* :b */ :c */ ?", {{"d"}}},
    // A quote that never closes swallows the rest: nothing after it is a parameter.
    {"unbalanced quote", "select ':a, :b", "select ':a, :b", {}},
    {"output marks",
     "Exec P :XML,:VAK01 out,:VAK04 OUTPUT, :X outer",
     "Exec P ?,? out,? OUTPUT, ? outer",
     {{"XML"}, {"VAK01", true}, {"VAK04", true}, {"X"}}},
    {"repeated name", ":a + :a", "? + ?", {{"a"}, {"a"}}},
};

TEST(ParamCheck, FindsParametersOutsideQuotesAndComments) {
    for (const auto& c : kParamCases) {
        SCOPED_TRACE(c.name);
        std::vector<TSqlParamRef> refs;
        EXPECT_EQ(ParseSQLParams(c.sql, refs), c.sent);
        ASSERT_EQ(refs.size(), c.refs.size());
        for (size_t i = 0; i < refs.size(); ++i) {
            EXPECT_EQ(refs[i].Name, c.refs[i].Name);
            EXPECT_EQ(refs[i].Output, c.refs[i].Output);
        }
    }
}

TEST(ParamCheck, QueryHasOneParameterPerNameAndNewTextDropsOldValues) {
    TADOQuery q;
    q.SQL().SetText("select :a, :B, :A, :c out");
    ASSERT_EQ(q.Parameters().Count(), 3);
    EXPECT_EQ(q.Parameters()[0].Name(), "a");
    EXPECT_EQ(q.Parameters()[1].Name(), "B");
    EXPECT_EQ(q.Parameters().ParamByName("C").Direction(), pdInputOutput);
    EXPECT_EQ(q.CommandText(), "select ?, ?, ?, ? out\r\n");

    q.Parameters().ParamByName("a").SetValue(Variant(5));
    EXPECT_EQ(q.Parameters()[0].DataType(), ftInteger);
    q.SQL().SetText("select :a");
    EXPECT_TRUE(q.Parameters()[0].Value().IsEmpty());
}

TEST(ParamCheck, UnknownParameterAndNoCheckingAreClear) {
    TADOQuery q;
    q.SQL().SetText("select :a");
    try {
        q.Parameters().ParamByName("b");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "参数“b”未找到。");
    }
    TADOQuery raw;
    raw.SetParamCheck(false);
    raw.SQL().SetText("select :a");
    EXPECT_EQ(raw.Parameters().Count(), 0);
    EXPECT_EQ(raw.CommandText(), "select :a\r\n");
}

TEST(ConnectionString, ReadsKeysQuotesAndBraces) {
    const TConnectionString cs(
        " Provider = SQLOLEDB.1 ;Password=\"a;b\"\"c\";User ID='x';Extended={k=v;w};Data Source=srv;;flag");
    EXPECT_EQ(cs.Value("provider"), "SQLOLEDB.1");
    EXPECT_EQ(cs.Value("PASSWORD"), "a;b\"c");
    EXPECT_EQ(cs.Value("User ID"), "x");
    EXPECT_EQ(cs.Value("Extended"), "k=v;w");
    EXPECT_EQ(cs.Value("Data Source"), "srv");
    EXPECT_TRUE(cs.Has("flag"));
    EXPECT_FALSE(cs.Has("missing"));
    EXPECT_EQ(cs.Without({"provider", "password"}), "User ID='x';Extended={k=v;w};Data Source=srv;flag");
}

TEST(Providers, ModuleNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"SQLOLEDB.1", "qvprov_odbc.so"},
        {"sqloledb", "qvprov_odbc.so"},
        {"MSOLEDBSQL", "qvprov_odbc.so"},
        {"QvHospitalLite", "qvprov_QvHospitalLite.so"},
        // Never a path: separators and dots become "_".
        {"../../tmp/x", "qvprov_______tmp_x.so"},
    };
    for (const auto& [provider, file] : cases)
        EXPECT_EQ(ProviderModuleName(provider), file) << provider;
}

TEST(Providers, UnknownProviderNamesItselfAndTheFoldersSearched) {
    EnsureModuleDir();
    try {
        CreateConnectionObject("Provider=NoSuchDb;Data Source=x");
        FAIL();
    } catch (const EOleException& e) {
        const std::string msg = e.what();
        EXPECT_EQ(e.ErrorCode(), adErrProviderNotFound);
        EXPECT_NE(msg.find("未找到数据库提供程序“NoSuchDb”"), std::string::npos) << msg;
        EXPECT_NE(msg.find("qvprov_NoSuchDb.so"), std::string::npos) << msg;
        EXPECT_NE(msg.find(std::getenv("QV_MODULE_DIR")), std::string::npos) << msg;
    }
    EXPECT_EQ(RaisedMessage<Exception>([] { CreateConnectionObject("Data Source=x"); }),
              "连接字符串中没有指定数据库提供程序(Provider)。");
    TADOConnection c;
    EXPECT_THROW(c.Open(), Exception); // no connection string at all
}

TEST(Providers, SearchPathEnvironmentComesFirst) {
    setenv("QV_PROVIDER_PATH", "/nonexistent/a:/nonexistent/b", 1);
    const auto dirs = ProviderSearchFolders();
    unsetenv("QV_PROVIDER_PATH");
    ASSERT_GE(dirs.size(), 2u);
    EXPECT_EQ(dirs[0], "/nonexistent/a");
    EXPECT_EQ(dirs[1], "/nonexistent/b");
}

TEST(Providers, CreatedObjectIsClosedAndCarriesTheConnectionString) {
    EnsureModuleDir();
    const std::string cs = "Provider=QvHospitalLite;Data Source=:memory:";
    ComPtr<_Connection> conn = CreateConnectionObject(cs);
    int32_t state = -1;
    ASSERT_EQ(conn->GetState(&state), S_OK);
    EXPECT_EQ(state, adStateClosed);
    WideString text, provider;
    conn->GetConnectionString(text.out());
    conn->GetProvider(provider.out());
    EXPECT_EQ(text.str(), cs);
    EXPECT_EQ(provider.str(), "QvHospitalLite");
}

// Conversions of values read from fields and written to parameters.
TEST(Variant, ConversionsUseTheProcessFormats) {
    struct Case {
        const char* name;
        Variant v;
        const char* text;
    };
    const Case cases[] = {
        {"null", Variant::Null(), ""},
        {"unassigned", Variant(), ""},
        {"integer", Variant(-12), "-12"},
        {"float", Variant(0.1 + 0.2), "0.3"},
        {"currency", Variant(Currency{125000}), "12.5"},
        {"date", Variant::DateTime(45356.33969907407), "2024-03-05 08:09:10"},
        {"boolean", Variant(true), "True"},
        {"text", Variant("诊间"), "诊间"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.v.AsString(), c.text) << c.name;

    EXPECT_EQ(Variant("12.345").AsCurrency(), Currency{123450});
    EXPECT_EQ(Variant(12.345).AsCurrency(), Currency{123450});
    EXPECT_EQ(Variant(Currency{25000}).AsInteger(), 2); // halves to even
    EXPECT_EQ(Variant(Currency{35000}).AsInteger(), 4);
    EXPECT_EQ(Variant::Null().AsInteger(), 0);
    EXPECT_DOUBLE_EQ(Variant("2024-03-05 08:09:10").AsDateTime(), EncodeDateTime(2024, 3, 5, 8, 9, 10, 0));
    EXPECT_THROW(Variant("abc").AsInteger(), Exception);
    EXPECT_THROW(Variant(int64_t(1) << 40).AsInteger(), Exception);

    // Across the binary boundary and back.
    for (const Variant& v :
         {Variant::Null(), Variant(7), Variant(int64_t(1) << 40), Variant(2.5), Variant(Currency{-1}),
          Variant::DateTime(1.5), Variant(false), Variant("文本")}) {
        VARIANT raw{};
        v.ToVARIANT(raw);
        EXPECT_EQ(Variant::FromVARIANT(raw), v) << v.AsString();
        VariantClear(raw);
    }
}

} // namespace
