// The hospital database stand-in through the connection and query components: opening,
// errors with their number, source and description, output parameters, the card
// balance batch, transactions, database functions and field types.
#include "DbTestUtil.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

fs::path TempPath(const std::string& name) {
    return fs::temp_directory_path() / ("qvdb_" + std::to_string(getpid()) + "_" + name);
}

TEST(HospitalOpen, DatabaseThatCannotBeOpenedSaysWhy) {
    EnsureModuleDir();
    const fs::path dir = TempPath("dir");
    const fs::path junk = TempPath("junk.db");
    fs::create_directories(dir);
    std::ofstream(junk) << "this is not a database file, just some text that is long enough to be read";
    struct Case {
        const char* name;
        std::string conn;
        std::string expected; // start of the message
    };
    const Case cases[] = {
        {"missing file", "Data Source=/nonexistent/qv/h.db",
         "无法打开数据库“/nonexistent/qv/h.db”：文件不存在。"},
        {"a folder", "Data Source=" + dir.string(), "无法打开数据库“" + dir.string() + "”："},
        {"not a database", "Data Source=" + junk.string(),
         "无法打开数据库“" + junk.string() + "”：文件不是有效的数据库。"},
        {"no location", "Seed=x.sql", "连接字符串中没有指定数据库(Data Source)。"},
        {"missing seed", "Data Source=:memory:;Seed=/nonexistent/seed.sql",
         "无法读取数据库初始化脚本“/nonexistent/seed.sql”。"},
        {"bad clock", "Data Source=:memory:;Clock=yesterday",
         "连接字符串中的时钟(Clock)“yesterday”不是有效的日期和时间。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TADOConnection conn;
        conn.SetConnectionString("Provider=QvHospitalLite;" + c.conn);
        try {
            conn.Open();
            ADD_FAILURE() << "opened";
        } catch (const EOleException& e) {
            EXPECT_EQ(e.ErrorCode(), E_FAIL);
            EXPECT_EQ(std::string(e.what()).rfind(c.expected, 0), 0u) << e.what();
        }
        EXPECT_FALSE(conn.Connected());
    }
    fs::remove_all(dir);
    fs::remove(junk);
}

TEST(HospitalOpen, FileDatabaseIsSeededOnceAndKeepsItsData) {
    EnsureModuleDir();
    const fs::path file = TempPath("seeded.db");
    fs::remove(file);
    const std::string cs = "Provider=QvHospitalLite;Data Source=" + file.string() + ";Seed=" + SeedFile();
    {
        TADOConnection c;
        c.SetConnectionString(cs);
        c.Execute("UPDATE VBU1 SET VBU14 = cy('1.25') WHERE VBU01 = 1");
    }
    TADOConnection c;
    c.SetConnectionString(cs); // the seed does not run again on a database that has tables
    EXPECT_EQ(Scalar(c, "SELECT VBU14 FROM VBU1 WHERE VBU01 = 1").AsCurrency(), Currency{12500});
    c.Close();
    fs::remove(file);
}

struct ErrorCase {
    const char* name;
    const char* sql;
    HRESULT number;
    const char* description;
};

const ErrorCase kErrorCases[] = {
    {"unbalanced quote", "select 'abc", DB_E_ERRORSINCOMMAND, "字符串 'abc' 后的引号不完整。"},
    {"unbalanced comment", "select 1 /* x", DB_E_ERRORSINCOMMAND, "批处理中缺少注释结束标记 '*/'。"},
    {"unknown procedure", "EXEC dbo.QVRate_NoSuch 1", DB_E_ERRORSINCOMMAND,
     "找不到存储过程 'QVRate_NoSuch'。"},
    {"unknown table", "select * from NoTable", DB_E_ERRORSINCOMMAND, "对象名 'NoTable' 无效。"},
    {"unknown column", "select nocol from BCE1", DB_E_ERRORSINCOMMAND, "列名 'nocol' 无效。"},
    {"syntax", "selec 1", DB_E_ERRORSINCOMMAND, "'selec' 附近有语法错误。"},
    {"undeclared variable", "select @x", DB_E_ERRORSINCOMMAND, "必须声明标量变量 \"@x\"。"},
    {"missing argument", "EXEC QVRate_Card_Balance 1", DB_E_ERRORSINCOMMAND,
     "过程 'QVRate_Card_Balance' 需要参数 '@VAA07'，但未提供该参数。"},
    {"too many arguments", "EXEC QVRate_DVAK01_Update '<Root/>', 2", DB_E_ERRORSINCOMMAND,
     "为过程 QVRate_DVAK01_Update 指定了过多的参数。"},
    {"unknown named argument", "EXEC QVRate_DVAK01_Update @X = 1", DB_E_ERRORSINCOMMAND,
     "@X 不是过程 QVRate_DVAK01_Update 的参数。"},
    {"input asked for output", "declare @x varchar(10) EXEC QVRate_DVAK01_Update @x out",
     DB_E_ERRORSINCOMMAND, "形式参数 \"@XML\" 未声明为 OUTPUT 参数，但实际参数请求输出。"},
    {"commit without begin", "COMMIT", DB_E_ERRORSINCOMMAND,
     "COMMIT TRANSACTION 请求没有对应的 BEGIN TRANSACTION。"},
    {"duplicate key", "insert into BCE1 values (25, 'x', 'y', 201)", DB_E_INTEGRITYVIOLATION,
     "违反了唯一约束(BCE1.BCE01)，不能插入重复的值。"},
    {"unsupported IF", "IF 1 = 1 select 1", DB_E_ERRORSINCOMMAND, "不支持的语句：IF 1 = 1 select 1"},
};

TEST(HospitalErrors, FailingStatementsCarryNumberSourceAndDescription) {
    auto c = OpenHospital();
    std::vector<std::string> willExecute;
    std::vector<TADOError> completed;
    int completions = 0;
    c->OnWillExecute = [&](TADOConnection&, std::string& text) { willExecute.push_back(text); };
    c->OnExecuteComplete = [&](TADOConnection&, int, const TADOError* e) {
        ++completions;
        if (e) completed.push_back(*e);
    };
    for (const auto& ec : kErrorCases) {
        SCOPED_TRACE(ec.name);
        completed.clear();
        auto q = NewQuery(*c, ec.sql);
        try {
            q->Open();
            ADD_FAILURE() << "no error";
        } catch (const EOleException& e) {
            EXPECT_STREQ(e.what(), ec.description);
            EXPECT_EQ(e.ErrorCode(), ec.number);
        }
        ASSERT_EQ(completed.size(), 1u);
        EXPECT_EQ(completed[0].Number, ec.number);
        EXPECT_EQ(completed[0].Source, "QvHospitalLite");
        EXPECT_EQ(completed[0].Description, ec.description);
        EXPECT_EQ(willExecute.back(), std::string(ec.sql) + "\r\n");
        EXPECT_TRUE(c->Connected()); // a statement error never closes the connection
    }
    EXPECT_EQ(completions, static_cast<int>(std::size(kErrorCases)));
}

TEST(HospitalErrors, ParameterWithoutValueAndMismatchedMarkers) {
    auto c = OpenHospital();
    auto q = NewQuery(*c, "select :a");
    EXPECT_EQ(RaisedMessage<Exception>([&] { q->Open(); }), "没有为一个或多个必需的参数提供值。(参数a)");
    std::vector<TAdoParameter> none;
    EXPECT_EQ(RaisedMessage<Exception>([&] { c->ExecuteCommand("select ?", none, 0, -1, nullptr); }),
              "语句中的参数标记多于提供的参数。");
}

TEST(HospitalParams, OutputParametersAreWrittenBack) {
    auto c = OpenHospital();
    struct Case {
        const char* name;
        const char* sql;
    };
    const Case cases[] = {
        {"positional",
         "EXEC QVRate_Card_Balance :VAA01, :VAA07, :VAJ38, :VBU14 out, :VBU15 out, :Rvalue out"},
        {"named", "EXEC dbo.QVRate_Card_Balance @VAA01 = :VAA01, @VAA07 = :VAA07, @VAJ38 = :VAJ38, "
                  "@Rvalue = :Rvalue OUTPUT, @VBU14 = :VBU14 OUTPUT, @VBU15 = :VBU15 OUT"},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        auto q = NewQuery(*c, cs.sql);
        q->Parameters().ParamByName("VAA01").SetValue(Variant(1));
        q->Parameters().ParamByName("VAA07").SetValue(Variant(1001));
        q->Parameters().ParamByName("VAJ38").SetValue(Variant(105.5));
        q->SetExecuteOptions({eoExecuteNoRecords});
        q->ExecSQL();
        EXPECT_EQ(q->Parameters().ParamByName("Rvalue").Value(), Variant(0));
        EXPECT_EQ(q->Parameters().ParamByName("VBU14").Value(), Variant(Currency{5000000}));
        EXPECT_EQ(q->Parameters().ParamByName("VBU15").Value(), Variant(Currency{0}));
        EXPECT_EQ(q->Parameters().ParamByName("VAA01").Value(), Variant(1)); // inputs stay
    }
}

// The member-card path's balance check, exactly as it is sent.
TEST(HospitalCardBalance, AnswersCanPayBalanceTooLowAndNoCard) {
    auto c = OpenHospital();
    struct Case {
        const char* name;
        int vaa01, vaa07;
        double amount;
        int value;
    };
    const Case cases[] = {
        {"enough", 1, 1001, 105.5, 0},
        {"exactly the balance", 1, 1001, 500.0, 0},
        {"one cent too much", 1, 1001, 500.01, 3},
        {"low balance", 2, 1002, 35.0, 3},
        {"no member card", 3, 1003, 12.5, 1},
        {"visit of another patient", 1, 1002, 1.0, 1},
        {"negative amount", 1, 1001, -1.0, 2},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        auto q =
            NewQuery(*c, "declare @Rvalue int, @VBU14 numeric(18,4), @VBU15 numeric(18,4) Exec "
                         "QVRate_Card_Balance :VAA01,:VAA07,:VAJ38,@VBU14 out,@VBU15 out,@Rvalue out select "
                         "@VBU14 VBU14,@VBU15 VBU15,@Rvalue Value");
        q->Parameters().ParamByName("VAA01").SetValue(Variant(cs.vaa01));
        q->Parameters().ParamByName("VAA07").SetValue(Variant(cs.vaa07));
        q->Parameters().ParamByName("VAJ38").SetValue(Variant(cs.amount));
        q->Open();
        ASSERT_EQ(q->RecordCount(), 1);
        EXPECT_EQ(q->FieldByName("Value").AsInteger(), cs.value);
    }
    auto q = NewQuery(*c, "declare @Rvalue int, @VBU14 numeric(18,4), @VBU15 numeric(18,4) Exec "
                          "QVRate_Card_Balance 2,1002,35,@VBU14 out,@VBU15 out,@Rvalue out select "
                          "@VBU14 VBU14,@VBU15 VBU15,@Rvalue Value");
    q->Open();
    EXPECT_EQ(q->FieldByName("VBU14").AsCurrency(), Currency{100000});
}

TEST(HospitalTransactions, RollbackStatementEndsWhatAFailingStatementLeftOpen) {
    auto c = OpenHospital();
    c->Execute("IF @@TRANCOUNT>0 ROLLBACK TRAN"); // nothing open: nothing happens
    c->Execute("BEGIN TRAN");
    c->Execute("UPDATE VBU1 SET VBU14 = 0 WHERE VBU01 = 1");
    EXPECT_THROW(c->Execute("INSERT INTO VBU1 (VBU01, VAA01, VBU02, VBU03) VALUES (1, 1, 'x', '2')"),
                 EOleException);
    EXPECT_EQ(Scalar(*c, "select @@TRANCOUNT").AsInteger(), 1);
    c->Execute("IF @@TRANCOUNT>0 ROLLBACK TRAN");
    EXPECT_EQ(Scalar(*c, "select @@TRANCOUNT").AsInteger(), 0);
    EXPECT_EQ(Scalar(*c, "SELECT VBU14 FROM VBU1 WHERE VBU01 = 1").AsCurrency(), Currency{5000000});
}

TEST(HospitalTransactions, NestingCommitsOnlyAtTheOutermostLevel) {
    auto c = OpenHospital();
    EXPECT_EQ(c->BeginTrans(), 1);
    c->Execute("BEGIN TRANSACTION; UPDATE BCE1 SET BCE03 = 'x' WHERE BCE01 = 25; COMMIT TRAN");
    EXPECT_EQ(Scalar(*c, "select @@TRANCOUNT").AsInteger(), 1);
    c->RollbackTrans();
    EXPECT_EQ(Scalar(*c, "SELECT BCE03 FROM BCE1 WHERE BCE01 = 25").AsString(), "王收费");
    c->Execute("BEGIN TRAN UPDATE BCE1 SET BCE03 = 'y' WHERE BCE01 = 25 COMMIT");
    EXPECT_EQ(Scalar(*c, "SELECT BCE03 FROM BCE1 WHERE BCE01 = 25").AsString(), "y");
    EXPECT_EQ(RaisedMessage<Exception>([&] { c->RollbackTrans(); }),
              "ROLLBACK TRANSACTION 请求没有对应的 BEGIN TRANSACTION。");
}

TEST(HospitalStatements, FunctionsAndRewrites) {
    auto c = OpenHospital();
    EXPECT_DOUBLE_EQ(Scalar(*c, "SELECT getdate()").AsDateTime(), EncodeDateTime(2024, 3, 5, 8, 9, 10, 0));
    EXPECT_EQ(Scalar(*c, "Select dbo.GetSysParamValue(100,103010,6) as value").AsString(), "0");
    EXPECT_TRUE(Scalar(*c, "Select dbo.GetSysParamValue(1,2,3) as value").IsNull());
    EXPECT_EQ(Scalar(*c, "select ISNULL(null, N'空') --UseSlave").AsString(), "空");
    EXPECT_EQ(Scalar(*c, "select [BCE03] from [dbo].[BCE1] where BCE01 = 25").AsString(), "王收费");
    EXPECT_EQ(Scalar(*c, "SET NOCOUNT ON; declare @a int = 5 set @a = @a * 2 select @a").AsInteger(), 10);
    // Several statements: the first result is the one returned.
    EXPECT_EQ(Scalar(*c, "select 1; select 2").AsInteger(), 1);
    // A trigger body keeps its semicolons.
    c->Execute("CREATE TRIGGER t1 AFTER UPDATE ON BCE1 BEGIN UPDATE BCK1 SET BCK03 = 'z' WHERE BCK01 = 201; "
               "SELECT 1; END");
    c->Execute("UPDATE BCE1 SET BCE02 = '9' WHERE BCE01 = 25");
    EXPECT_EQ(Scalar(*c, "select BCK03 from BCK1 where BCK01 = 201").AsString(), "z");
}

TEST(HospitalStatements, FieldsCarryTheColumnTypes) {
    auto c = OpenHospital();
    c->Execute("UPDATE VAI1 SET VAI26 = '2024-03-05 08:09:10' WHERE VAI01 = 1024");
    auto q = NewQuery(*c, "select VAI23, VAI26, VAI04, VAI01, yuan(VAI23) as Amount, VAK01 from VAI1 "
                          "where VAI01 in (1023, 1024) order by VAI01");
    q->Open();
    struct Case {
        const char* field;
        TFieldType type;
        bool readOnly;
    };
    const Case cases[] = {
        {"VAI23", ftCurrency, false}, {"VAI26", ftDateTime, false}, {"VAI04", ftWideString, false},
        {"VAI01", ftInteger, false},  {"Amount", ftFloat, true},    {"VAK01", ftInteger, false},
    };
    for (const auto& cs : cases) {
        EXPECT_EQ(q->FieldByName(cs.field).DataType(), cs.type) << cs.field;
        EXPECT_EQ(q->FieldByName(cs.field).ReadOnly(), cs.readOnly) << cs.field;
    }
    EXPECT_EQ(q->RecordCount(), 2);
    EXPECT_EQ(q->FieldByName("VAI23").AsCurrency(), Currency{255000});
    EXPECT_TRUE(q->FieldByName("VAI26").IsNull());
    EXPECT_EQ(q->FieldByName("VAK01").AsInteger(), 0);
    q->Next();
    EXPECT_EQ(q->FieldByName("VAI26").AsString(), "2024-03-05 08:09:10");
    EXPECT_DOUBLE_EQ(q->FieldByName("Amount").AsFloat(), 80.0);
    q->Next();
    EXPECT_TRUE(q->Eof());
    EXPECT_THROW(q->FieldByName("Nope"), Exception);
}

TEST(HospitalStatements, RowsAffectedAndResultsOfCommands) {
    auto c = OpenHospital();
    auto q = NewQuery(*c, "update VAJ1 set VAJ26 = :s where VAI01 = :id");
    q->Parameters().ParamByName("s").SetValue(Variant(1));
    q->Parameters().ParamByName("id").SetValue(Variant(1023));
    EXPECT_EQ(q->ExecSQL(), 3);
    auto sel = NewQuery(*c, "update VAJ1 set VAJ26 = 0");
    EXPECT_EQ(RaisedMessage<Exception>([&] { sel->Open(); }), "Query: 命令文本没有返回结果集。");
    // A text run directly on the connection opens a query on its result.
    TADOQuery direct;
    direct.SetRecordset(c->Execute("select BCE01 from BCE1 order by BCE01"));
    EXPECT_EQ(direct.RecordCount(), 3);
    EXPECT_EQ(direct.Fields()[0].AsInteger(), 25);
}

TEST(HospitalConnection, HostAndPluginShareOneConnectionObject) {
    auto host = OpenHospital();
    TADOConnection plugin("ADOConnection1");
    plugin.SetConnectionObject(host->ConnectionObject());
    EXPECT_TRUE(plugin.Connected());
    EXPECT_EQ(plugin.ConnectionString(), host->ConnectionString());
    plugin.Execute("UPDATE BCE1 SET BCE03 = '共享' WHERE BCE01 = 25");
    EXPECT_EQ(Scalar(*host, "SELECT BCE03 FROM BCE1 WHERE BCE01 = 25").AsString(), "共享");
    // After a broken connection is closed, the next statement opens it again.
    plugin.Close();
    EXPECT_FALSE(host->Connected());
    EXPECT_EQ(Scalar(plugin, "SELECT count(*) FROM BCE1").AsInteger(), 3);
    EXPECT_TRUE(host->Connected());
}

} // namespace
