// The data module against the hospital database stand-in: transactions, system
// parameters, the server clock, result sets in memory tables and bad input.
#include "DataTestUtil.h"

#include <filesystem>
#include <fstream>

namespace {

// The host shares its open hospital database connection (connection mode 1).
class TDataSharedDbTest : public THostedTest {
protected:
    ComPtr<_Connection> Db = OpenHospitalObject();

    void SetUp() override {
        Config.ConnectionMode = 1;
        Config.Connection = Share(Db);
        Start();
        CoreDM->SetupHostConnection();
    }

    // Runs a statement through the data module (script logged, no rollback).
    void Run(const std::string& ASql) {
        auto q = CoreDM->NewQuery(false);
        q->SQL().SetText(ASql);
        ExecuteQuery(*q, false, 0, "", false, false, false);
    }
    Variant Scalar(const std::string& ASql) {
        auto q = CoreDM->NewQuery(false);
        q->SQL().SetText(ASql);
        ExecuteQuery(*q, true, 0, "", false, false, false);
        return q->Eof() ? Variant::Null() : q->Fields()[0].Value();
    }
};

// ---------------------------------------------------------------------------------------
// Rollback

TEST_F(TDataSharedDbTest, RollbackEndsTheTransactionTheFailingStatementLeftOpen) {
    struct TCase {
        bool Rollback;
        int64_t TranCount;
        int64_t Rows;
    } cases[] = {{true, 0, 0}, {false, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Rollback);
        auto q = CoreDM->NewQuery(false);
        q->SQL().SetText(
            "BEGIN TRAN;\r\nINSERT INTO BLP1 (BLP01, BLP02) VALUES (999, 'x');\r\nSELECT * FROM NoSuchTable");
        EXPECT_EQ(RaisedMessage<Exception>([&] { ExecuteQuery(*q, false, 0, "", true, c.Rollback, false); }),
                  "对象名 'NoSuchTable' 无效。");
        EXPECT_EQ(Scalar("SELECT @@TRANCOUNT").AsInt64(), c.TranCount);
        EXPECT_EQ(Scalar("SELECT count(*) FROM BLP1 WHERE BLP01 = 999").AsInt64(), c.Rows);
        Run("IF @@TRANCOUNT>0 ROLLBACK TRAN");
    }
}

// ---------------------------------------------------------------------------------------
// System parameters and the server

TEST_F(TDataSharedDbTest, ParameterRowsPresentAndMissing) {
    Run("UPDATE BLP1 SET BLP03 = 'BankRcpt.so', BLP04 = 2, BLP05 = 3 WHERE BLP01 = 71");
    Run("UPDATE BLP1 SET BLP03 = NULL, BLP04 = NULL, BLP05 = NULL WHERE BLP01 = 139");
    struct TCase {
        int32_t No;
        const char* Text;
        int32_t Int, Switch;
        const char* Exists;
    } cases[] = {
        {71, "BankRcpt.so", 2, 3, "1"},
        {94, "", 1, 1, "1"},
        {139, "", 0, 0, "1"}, // a row of nulls still exists
        {12345, "", 0, 0, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.No);
        EXPECT_EQ(CoreDM->GetParamText(c.No), c.Text);
        EXPECT_EQ(CoreDM->GetParamInt(c.No), c.Int);
        EXPECT_EQ(CoreDM->GetParamSwitch(c.No), c.Switch);
        std::string exists;
        CoreDM->ParamExists(c.No, exists);
        EXPECT_EQ(exists, c.Exists);
    }
    const THostLogEntry* details = FindLog("执行详情");
    ASSERT_NE(details, nullptr);
    EXPECT_NE(details->Detail.find("WHERE BLP01 = 71"), std::string::npos);
}

TEST_F(TDataSharedDbTest, SysParamValueIsTrimmed) {
    Run("INSERT INTO SysParamValue (SysNo, ParamNo, Kind, Value) VALUES (1, 2, 3, '  7 ')");
    std::string value;
    CoreDM->GetSysParamValue(1, 2, 3, value);
    EXPECT_EQ(value, "7");
    CoreDM->GetSysParamValue(100, 103010, 6, value);
    EXPECT_EQ(value, "0");
}

TEST_F(TDataSharedDbTest, ServerTimeComesFromTheDatabase) {
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", CoreDM->GetServerTime()), "2024-03-05 08:09:10");
    const THostLogEntry* details = FindLog("执行详情");
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->Detail, "--脚本:\r\nSELECT getdate()\r\n\r\n备注:获取服务器时间");
}

TEST_F(TDataSharedDbTest, HasRowsOnEmptyAndOneRowResults) {
    EXPECT_FALSE(CoreDM->HasRows("SELECT * FROM BLP1 WHERE BLP01 = -1"));
    EXPECT_TRUE(CoreDM->HasRows("SELECT * FROM BLP1 WHERE BLP01 = 71"));
}

// ---------------------------------------------------------------------------------------
// Memory tables

TEST_F(TDataSharedDbTest, OpenToMemTableReplacesOrAppends) {
    const std::string sql = "SELECT BLP01, BLP02 FROM BLP1 ORDER BY BLP01";
    TkbmMemTable table;
    CoreDM->OpenToMemTable(table, sql, false, true, false);
    ASSERT_EQ(table.RecordCount(), 4);
    EXPECT_EQ(table.FieldCount(), 2);
    for (int i = 0; i < table.FieldCount(); ++i)
        EXPECT_FALSE(table.Fields()[i].ReadOnly());
    table.First();
    EXPECT_EQ(table.FieldByName("BLP01").AsInteger(), 71);

    // Without replacing, the rows are appended to what the table holds.
    CoreDM->OpenToMemTable(table, sql, false, false, true);
    EXPECT_EQ(table.RecordCount(), 8);
    // Replacing again starts over.
    CoreDM->OpenToMemTable(table, sql, false, true, false);
    EXPECT_EQ(table.RecordCount(), 4);
}

TEST_F(TDataSharedDbTest, OpenToMemTableLetsTheCallerAddFields) {
    TkbmMemTable table;
    int calls = 0;
    CoreDM->OpenToMemTable(table, "SELECT BLP01 FROM BLP1", false, true, false, [&](TkbmMemTable& t) {
        ++calls;
        EXPECT_EQ(t.FieldCount(), 1);
        t.AddField("Chosen", ftBoolean);
    });
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(table.RecordCount(), 4);
    table.First();
    EXPECT_TRUE(table.FieldByName("Chosen").IsNull());
    table.Edit();
    table.FieldByName("Chosen").SetAsBoolean(true);
    table.FieldByName("BLP01").SetAsInteger(1);
    table.Post();
}

TEST_F(TDataSharedDbTest, OpenSQLToMemTableFormatsTheHostText) {
    TkbmMemTable table;
    CoreDM->OpenSQLToMemTable(table, {94}, 7515, false, true, false);
    ASSERT_EQ(table.RecordCount(), 1);
    EXPECT_EQ(table.FieldByName("BLP05").AsInteger(), 1);
    // A number the host library has no text for: its message is the error.
    const std::string missing = QvApp->GetScript(424242);
    ASSERT_NE(missing.find("不存在"), std::string::npos);
    EXPECT_EQ(
        RaisedMessage<Exception>([&] { CoreDM->OpenSQLToMemTable(table, {1}, 424242, false, true, false); }),
        missing);
}

// ---------------------------------------------------------------------------------------
// Bad input through the data module's own connection (events attached)

class TDataOwnDbTest : public THostedTest {
protected:
    void StartWithConnection(const std::string& AConnectionString) {
        Config.ConnectionMode = 0;
        Config.ConnectionString = AConnectionString;
        Start();
        CoreDM->SetupHostConnection();
    }
};

struct TBadSqlCase {
    const char* Name;
    const char* Sql;
    bool ParamCheck;
    const char* MessagePart;
};
void PrintTo(const TBadSqlCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}

const TBadSqlCase BadSqlCases[] = {
    {"UnbalancedQuote", "SELECT 'abc FROM BLP1", false, "'abc FROM BLP1"},
    {"UnknownProcedure", "EXEC NoSuchProc 1", false, "NoSuchProc"},
    {"ParameterNeverSet", "SELECT * FROM BLP1 WHERE BLP01 = :No", true, "参数"},
};

class TDataBadSqlTest : public TDataOwnDbTest, public ::testing::WithParamInterface<TBadSqlCase> {};

TEST_P(TDataBadSqlTest, ClearErrorReachesTheCallerWithTheLogEntries) {
    const TBadSqlCase& c = GetParam();
    StartWithConnection(HospitalConnectionString());
    auto q = CoreDM->NewQuery(c.ParamCheck);
    q->SQL().SetText(c.Sql);
    const std::string error =
        RaisedMessage<Exception>([&] { ExecuteQuery(*q, true, 0, "", true, true, false); });
    EXPECT_NE(error.find(c.MessagePart), std::string::npos) << error;

    EXPECT_EQ(Titles(),
              (std::vector<std::string>{"执行详情", "SQL执行", "SQL执行失败", "回滚事物", "SQL执行"}));
    const THostLogEntry* failed = FindLog("SQL执行失败");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->Detail.substr(failed->Detail.find("描述:") + std::string("描述:").size()), error);
    EXPECT_EQ(failed->Detail.find("错误ID:" + IntToStr(E_FAIL)), std::string::npos);
    // The connection is still good.
    EXPECT_TRUE(CoreDM->HasRows("SELECT * FROM BLP1"));
}

INSTANTIATE_TEST_SUITE_P(Data, TDataBadSqlTest, ::testing::ValuesIn(BadSqlCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TDataOwnDbTest, UnknownProviderAndUnopenableDatabaseAreClearErrors) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "qv_data_baddb";
    std::filesystem::create_directories(dir);
    const std::string garbage = (dir / "garbage.db").string();
    {
        std::ofstream out(garbage, std::ios::binary);
        out << std::string(4096, 'x');
    }
    struct TCase {
        std::string ConnectionString;
        std::string MessagePart;
    } cases[] = {
        {"Provider=NoSuchProvider;Data Source=x", "NoSuchProvider"},
        {"Provider=QvHospitalLite;Data Source=" + (dir / "missing" / "none.db").string(), "none.db"},
        {"Provider=QvHospitalLite;Data Source=" + garbage, "garbage.db"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ConnectionString);
        StartWithConnection(c.ConnectionString);
        const std::string error = RaisedMessage<Exception>([&] { CoreDM->HasRows("SELECT 1"); });
        EXPECT_NE(error.find(c.MessagePart), std::string::npos) << error;
        // Nothing ran, so there is no statement entry; the rollback could not run either.
        EXPECT_EQ(Titles(), (std::vector<std::string>{"执行详情", "回滚事物", "回滚事物失败"}));
        // The same clear error again on the next attempt, no crash.
        EXPECT_EQ(RaisedMessage<Exception>([&] { CoreDM->HasRows("SELECT 1"); }), error);
        Stop();
    }
}

} // namespace
