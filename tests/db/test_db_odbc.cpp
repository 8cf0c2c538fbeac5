// The SQL Server provider through ODBC: its texts, and its plumbing (prepare, bind,
// fetch, diagnostics, transactions) checked against Debian's SQLite ODBC driver.
#include "DbTestUtil.h"
#include "OdbcText.h"

#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(OdbcText, ProcedureCallsBecomeCallEscapes) {
    const std::pair<const char*, const char*> cases[] = {
        {"Exec QVRate_VAK1_Update ?,? out,? out", "{call QVRate_VAK1_Update(?,?,?)}"},
        {"Exec QVRate_DVAK01_Update ? \r\n", "{call QVRate_DVAK01_Update(?)}"},
        {"EXECUTE dbo.P 'a,b', -5, N'文', NULL OUTPUT;", "{call dbo.P('a,b',-5,N'文',NULL)}"},
        {"-- note\nexec [dbo].[P]", "{call [dbo].[P]}"},
        // Anything but one plain call runs as it is.
        {"declare @r int exec P ?, @r out select @r", "declare @r int exec P ?, @r out select @r"},
        {"exec P @a = ?", "exec P @a = ?"},
        {"exec P ? select 1", "exec P ? select 1"},
        {"select * from T where a = ?", "select * from T where a = ?"},
        {"exec P 'unclosed", "exec P 'unclosed"},
    };
    for (const auto& [sql, expected] : cases)
        EXPECT_EQ(OdbcCallText(sql), expected) << sql;
}

TEST(OdbcText, AdoConnectionStringsBecomeOdbcOnes) {
    setenv("QV_ODBC_DRIVER", "FreeTDS", 1);
    const std::pair<const char*, const char*> cases[] = {
        {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=a;b;Initial Catalog=HIS;"
         "Data Source=10.0.0.5,1433",
         "Driver={FreeTDS};UID=sa;PWD=a;Database=HIS;Server=10.0.0.5,1433"},
        {"Provider=SQLOLEDB.1;Password=\"x;y}\";Integrated Security=SSPI;Data Source=srv",
         "Driver={FreeTDS};PWD={x;y}}};Trusted_Connection=Yes;Server=srv"},
        {"Provider=SQLOLEDB.1;Driver=/usr/lib/x.so;Database=/tmp/a.db",
         "Driver=/usr/lib/x.so;Database=/tmp/a.db"},
    };
    for (const auto& [ado, odbc] : cases)
        EXPECT_EQ(OdbcConnectionString(TConnectionString(ado)), odbc) << ado;
    unsetenv("QV_ODBC_DRIVER");
}

const char* const kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

class OdbcPlumbing : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kSqliteDriver)) GTEST_SKIP() << "SQLite ODBC driver not installed";
        EnsureModuleDir();
        FFile = fs::temp_directory_path() / ("qvodbc_" + std::to_string(getpid()) + ".db");
        fs::remove(FFile);
        FConn.SetConnectionString(std::string("Provider=SQLOLEDB.1;Driver=") + kSqliteDriver +
                                  ";Database=" + FFile.string());
        FConn.Execute(
            "CREATE TABLE T (ID INTEGER, Name TEXT, Amount NUMERIC(18,4), At TIMESTAMP, Rate DOUBLE)");
    }
    void TearDown() override {
        FConn.Close();
        fs::remove(FFile);
    }

    fs::path FFile;
    TADOConnection FConn{"ADOConnection1"};
};

TEST_F(OdbcPlumbing, ParametersBindAndRowsComeBackWithTheirValues) {
    const std::string longText(10000, 'x'); // sent at execution
    auto ins = NewQuery(FConn, "INSERT INTO T VALUES (:id, :name, :amount, :at, :rate)");
    struct Row {
        int id;
        std::string name;
        Currency amount;
        TDateTime at;
        double rate;
    };
    const Row rows[] = {
        {1, "诊间结算", Currency{123450}, EncodeDateTime(2024, 3, 5, 8, 9, 10, 0), 0.5},
        {2, longText + "尾", Currency{999999999900}, EncodeDate(2024, 1, 1), -1.25},
    };
    for (const Row& r : rows) {
        ins->Parameters().ParamByName("id").SetValue(Variant(r.id));
        ins->Parameters().ParamByName("name").SetValue(Variant(r.name));
        ins->Parameters().ParamByName("amount").SetValue(Variant(r.amount));
        ins->Parameters().ParamByName("at").SetValue(Variant::DateTime(r.at));
        ins->Parameters().ParamByName("rate").SetValue(Variant(r.rate));
        EXPECT_EQ(ins->ExecSQL(), 1);
    }
    auto q = NewQuery(FConn, "SELECT ID, Name, Amount, At, Rate FROM T WHERE ID >= :min ORDER BY ID");
    q->Parameters().ParamByName("min").SetValue(Variant(1));
    q->Open();
    ASSERT_EQ(q->RecordCount(), 2);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id);
        EXPECT_EQ(q->FieldByName("ID").AsInteger(), r.id);
        EXPECT_EQ(q->FieldByName("Name").AsString(), r.name);
        EXPECT_EQ(q->FieldByName("Amount").AsCurrency(), r.amount);
        EXPECT_DOUBLE_EQ(q->FieldByName("At").AsDateTime(), r.at);
        EXPECT_DOUBLE_EQ(q->FieldByName("Rate").AsFloat(), r.rate);
        q->Next();
    }
    EXPECT_TRUE(q->Eof());
}

TEST_F(OdbcPlumbing, NullsAndRowsAffected) {
    auto ins = NewQuery(FConn, "INSERT INTO T (ID, Name) VALUES (:id, :name)");
    ins->Parameters().ParamByName("id").SetValue(Variant(7));
    ins->Parameters().ParamByName("name").SetValue(Variant::Null());
    ins->ExecSQL();
    EXPECT_TRUE(Scalar(FConn, "SELECT Name FROM T WHERE ID = 7").IsNull());
    int affected = 0;
    FConn.Execute("UPDATE T SET Rate = 1", adExecuteNoRecords, &affected);
    EXPECT_EQ(affected, 1);
}

TEST_F(OdbcPlumbing, DiagnosticsBecomeTheErrorOfTheStatement) {
    std::vector<TADOError> errors;
    FConn.OnExecuteComplete = [&](TADOConnection&, int, const TADOError* e) {
        if (e) errors.push_back(*e);
    };
    try {
        FConn.Execute("selec 1");
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), DB_E_ERRORSINCOMMAND);
        EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Source, "SQLOLEDB.1");
    EXPECT_EQ(errors[0].SQLState.size(), 5u);
    EXPECT_TRUE(FConn.Connected());
}

TEST_F(OdbcPlumbing, TransactionsCommitAndRollBack) {
    FConn.BeginTrans();
    FConn.Execute("INSERT INTO T (ID) VALUES (1)");
    FConn.RollbackTrans();
    EXPECT_EQ(Scalar(FConn, "SELECT count(*) FROM T").AsInteger(), 0);
    FConn.BeginTrans();
    FConn.Execute("INSERT INTO T (ID) VALUES (2)");
    FConn.CommitTrans();
    EXPECT_EQ(Scalar(FConn, "SELECT count(*) FROM T").AsInteger(), 1);
    EXPECT_THROW(FConn.CommitTrans(), EOleException);
}

TEST(OdbcConnect, FailureIsAConnectionError) {
    EnsureModuleDir();
    TADOConnection c;
    c.SetConnectionString("Provider=SQLOLEDB.1;Driver=/nonexistent/libdriver.so;Database=x");
    try {
        c.Open();
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), E_FAIL);
        EXPECT_EQ(std::string(e.what()).rfind("无法连接数据库：", 0), 0u) << e.what();
    }
}

} // namespace
