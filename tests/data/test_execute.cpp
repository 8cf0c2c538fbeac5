// ExecuteQuery against recording connection objects: which connection runs a statement,
// what is logged in which order, what the caller gets, and the debug script.
#include "DataTestUtil.h"

namespace {

using TTrace = std::shared_ptr<std::vector<TRecorded>>;

// A host whose main connection (and, when asked, replica) are recording objects; the data
// module adopts the main one with its logging events attached.
class TDataExecuteTest : public THostedTest {
protected:
    TTrace Trace = std::make_shared<std::vector<TRecorded>>();
    ComPtr<TRecordingConnection> Main = NewRecording("main", Trace);
    ComPtr<TRecordingConnection> Replica = NewRecording("replica", Trace);

    void StartWith(double ALibraryVersion, bool AWithReplica) {
        Config.LibraryVersion = ALibraryVersion;
        if (AWithReplica) Config.SlaveConnection = Share(Replica);
        Start();
        CoreDM->SetConnection(ComPtr<IInterface>(Main.get()));
    }

    std::unique_ptr<TADOQuery> Query(const std::string& ASql, bool AParamCheck = false) {
        auto q = CoreDM->NewQuery(AParamCheck);
        q->SQL().SetText(ASql);
        return q;
    }
    std::vector<std::string> RanOn() {
        std::vector<std::string> out;
        for (const auto& r : *Trace)
            out.push_back(r.Connection);
        return out;
    }
};

// Fails every statement that contains AMarker with the error number and text.
TRecordingConnection::THandler FailOn(std::string AMarker, HRESULT ANumber, std::string AText) {
    return [=](TRecordingConnection& self, const std::string& text) -> TAdoExecuteResult {
        if (text.find(AMarker) != std::string::npos) self.FailWith(ANumber, AText);
        TAdoExecuteResult r;
        r.Recordset = TRecordingConnection::Rows("Who", {self.Name()});
        return r;
    };
}

// ---------------------------------------------------------------------------------------
// Routing

enum class TStartOn { Main, Slave, Third };

struct TRoutingCase {
    const char* Name;
    double LibraryVersion;
    bool Replica; // the host gives a replica connection
    TStartOn StartOn;
    const char* Sql;
    const char* RunsOn;
};
void PrintTo(const TRoutingCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}

const TRoutingCase RoutingCases[] = {
    // A library older than 3.0 has no replica to give, whatever the host holds.
    {"OldLibraryIgnoresReplica", 2.9, true, TStartOn::Main, "SELECT 1 --UseSlave", "main"},
    {"NoReplicaRunsOnMain", 3.0, false, TStartOn::Main, "SELECT 1 --UseSlave", "main"},
    {"ReplicaTakesUseSlave", 3.0, true, TStartOn::Main, "SELECT 1 --UseSlave", "replica"},
    {"ReplicaTakesUseSlaveAnywhere", 3.1, true, TStartOn::Main, "--UseSlave\r\nSELECT 1", "replica"},
    {"MarkerIsCaseSensitive", 3.0, true, TStartOn::Main, "SELECT 1 --useslave", "main"},
    {"PlainStatementStaysOnMain", 3.0, true, TStartOn::Main, "SELECT 1", "main"},
    // A query left on the replica comes back to the main connection for a plain text.
    {"ReplicaQueryBackToMain", 3.0, true, TStartOn::Slave, "SELECT 1", "main"},
    {"ThirdConnectionKeptWithMarker", 3.0, true, TStartOn::Third, "SELECT 1 --UseSlave", "third"},
    {"ThirdConnectionKeptPlain", 3.0, true, TStartOn::Third, "SELECT 1", "third"},
};

class TDataRoutingTest : public TDataExecuteTest, public ::testing::WithParamInterface<TRoutingCase> {};

TEST_P(TDataRoutingTest, RunsOnTheChosenConnectionAndRestoresTheQuery) {
    const TRoutingCase& c = GetParam();
    StartWith(c.LibraryVersion, c.Replica);
    TADOConnection third("Third");
    third.SetConnectionObject(NewRecording("third", Trace));

    auto q = Query(c.Sql);
    TADOConnection* start = c.StartOn == TStartOn::Main    ? &CoreDM->ADOConnection1
                            : c.StartOn == TStartOn::Slave ? CoreDM->SlaveConnection()
                                                           : &third;
    q->SetConnection(start);
    ExecuteQuery(*q, true, 0, "", false, false, false);

    EXPECT_EQ(RanOn(), std::vector<std::string>{c.RunsOn});
    EXPECT_EQ(q->FieldByName("Who").AsString(), c.RunsOn) << "the result stays readable";
    EXPECT_EQ(q->Connection(), start);
    EXPECT_EQ(CoreDM->HasOwnSlaveConnection(), c.LibraryVersion >= 3.0 && c.Replica);
}

INSTANTIATE_TEST_SUITE_P(Data, TDataRoutingTest, ::testing::ValuesIn(RoutingCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TDataExecuteTest, DirectExecutionIsRoutedAndOpensTheResult) {
    StartWith(3.0, true);
    auto q = Query("SELECT :A --UseSlave", true);
    ExecuteQuery(*q, false, 0, "", false, false, true);
    ASSERT_EQ(Trace->size(), 1u);
    EXPECT_EQ(Trace->front().Connection, "replica");
    // The text goes as it is, without parameter binding.
    EXPECT_EQ(Trace->front().Text, "SELECT :A --UseSlave\r\n");
    EXPECT_TRUE(q->Active());
    EXPECT_EQ(q->FieldByName("Who").AsString(), "replica");
}

TEST_F(TDataExecuteTest, ExecuteOptionsAreRestoredAfterSuccessAndFailure) {
    StartWith(3.0, false);
    Main->Handler = FailOn("BAD", DB_E_ERRORSINCOMMAND, "语法错误。");
    const TExecuteOptions original{eoAsyncFetch};
    struct TCase {
        const char* Sql;
        bool Open;
    } cases[] = {{"SELECT 1", true}, {"UPDATE T SET A = 1", false}, {"BAD", true}, {"BAD", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        auto q = Query(c.Sql);
        q->SetExecuteOptions(original);
        try {
            ExecuteQuery(*q, c.Open, 0, "", false, false, false);
        } catch (const Exception&) {
        }
        EXPECT_EQ(q->ExecuteOptions(), original);
        EXPECT_EQ(q->Connection(), &CoreDM->ADOConnection1);
    }
}

// ---------------------------------------------------------------------------------------
// Logging, rollback, errors

TEST_F(TDataExecuteTest, FailingStatementLogsRollsBackAndRaisesItsOwnError) {
    StartWith(3.0, false);
    Main->Handler = FailOn("Nope", DB_E_ERRORSINCOMMAND, "对象名 'Nope' 无效。");
    auto q = Query("SELECT * FROM Nope");

    EXPECT_EQ(RaisedMessage<Exception>([&] { ExecuteQuery(*q, true, 0, "读取", true, true, false); }),
              "对象名 'Nope' 无效。");

    EXPECT_EQ(Titles(),
              (std::vector<std::string>{"执行详情", "SQL执行", "SQL执行失败", "回滚事物", "SQL执行"}));
    EXPECT_EQ(Log()[0].Detail, "--脚本:\r\nSELECT * FROM Nope\r\n\r\n备注:读取");
    EXPECT_EQ(Log()[1].Level, 4);
    EXPECT_EQ(Log()[2].Level, 5);
    EXPECT_EQ(Log()[2].Detail,
              "错误ID:" + IntToStr(DB_E_ERRORSINCOMMAND) + "\r\n来源:Recording\r\n描述:对象名 'Nope' 无效。");
    EXPECT_EQ(Log()[3].Detail, Log()[0].Detail);
    EXPECT_EQ(Log()[4].Detail, "IF @@TRANCOUNT>0 ROLLBACK TRAN\r\n");
    ASSERT_EQ(Trace->size(), 2u);
    EXPECT_EQ(Trace->back().Text, "IF @@TRANCOUNT>0 ROLLBACK TRAN\r\n");
    EXPECT_EQ(Trace->back().Connection, "main");
}

TEST_F(TDataExecuteTest, WithoutRollbackOnlyTheErrorIsLogged) {
    StartWith(3.0, false);
    Main->Handler = FailOn("Nope", DB_E_ERRORSINCOMMAND, "对象名 'Nope' 无效。");
    auto q = Query("SELECT * FROM Nope");
    EXPECT_EQ(RaisedMessage<Exception>([&] { ExecuteQuery(*q, true, 0, "", false, false, false); }),
              "对象名 'Nope' 无效。");
    EXPECT_EQ(Titles(), (std::vector<std::string>{"SQL执行", "SQL执行失败"}));
    EXPECT_EQ(Trace->size(), 1u);
}

TEST_F(TDataExecuteTest, ReplicaStatementIsRolledBackOnTheMainConnection) {
    StartWith(3.0, true);
    Replica->Handler = FailOn("Nope", DB_E_ERRORSINCOMMAND, "对象名 'Nope' 无效。");
    auto q = Query("SELECT * FROM Nope --UseSlave");
    EXPECT_EQ(RaisedMessage<Exception>([&] { ExecuteQuery(*q, true, 0, "", false, true, false); }),
              "对象名 'Nope' 无效。");
    EXPECT_EQ(RanOn(), (std::vector<std::string>{"replica", "main"}));
}

TEST_F(TDataExecuteTest, FailingRollbackDoesNotHideTheStatementsError) {
    StartWith(3.0, false);
    Main->Handler = [](TRecordingConnection& self, const std::string& text) -> TAdoExecuteResult {
        if (text.find("ROLLBACK") != std::string::npos) self.FailWith(DB_E_ERRORSINCOMMAND, "回滚失败。");
        self.FailWith(DB_E_INTEGRITYVIOLATION, "违反了唯一约束。");
    };
    auto q = Query("INSERT INTO T VALUES (1)");
    EXPECT_EQ(RaisedMessage<Exception>([&] { ExecuteQuery(*q, false, 0, "", true, true, false); }),
              "违反了唯一约束。");
    const THostLogEntry* entry = FindLog("回滚事物失败");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Detail, "回滚失败。");
}

TEST_F(TDataExecuteTest, BrokenConnectionIsClosedEndsTheWaitAndReconnectsOnTheNextStatement) {
    StartWith(3.0, false);
    Main->Handler = FailOn("DEAD", E_FAIL, "与数据库的连接已断开。");
    auto q = Query("SELECT * FROM DEAD");

    EXPECT_EQ(RaisedMessage<Exception>([&] { ExecuteQuery(*q, true, 0, "", true, false, false); }),
              "与数据库的连接已断开。");
    EXPECT_FALSE(Main->IsOpenNow());
    ASSERT_FALSE(Host->State().WaitCalls.empty());
    EXPECT_EQ(Host->State().WaitCalls.back().Kind, 4);
    const THostLogEntry* failed = FindLog("SQL执行失败");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->Detail.substr(0, failed->Detail.find("\r\n")), "错误ID:-2147467259");

    auto next = Query("SELECT 1");
    ExecuteQuery(*next, true, 0, "", true, false, false);
    EXPECT_TRUE(Main->IsOpenNow());
    EXPECT_EQ(Main->OpenCount, 2);
    EXPECT_EQ(next->FieldByName("Who").AsString(), "main");
}

TEST_F(TDataExecuteTest, StatementErrorOtherThanBrokenConnectionKeepsTheConnection) {
    StartWith(3.0, false);
    Main->Handler = FailOn("Nope", DB_E_ERRORSINCOMMAND, "对象名 'Nope' 无效。");
    auto q = Query("SELECT * FROM Nope");
    EXPECT_NE(RaisedMessage<Exception>([&] { ExecuteQuery(*q, true, 0, "", false, false, false); }), "");
    EXPECT_TRUE(Main->IsOpenNow());
    EXPECT_TRUE(Host->State().WaitCalls.empty());
}

TEST_F(TDataExecuteTest, SharedHostConnectionLogsNoStatementEntries) {
    Config.ConnectionMode = 1;
    Config.Connection = Share(Main);
    Start();
    CoreDM->SetupHostConnection();
    Main->Handler = FailOn("Nope", DB_E_ERRORSINCOMMAND, "对象名 'Nope' 无效。");

    auto good = Query("SELECT 1");
    ExecuteQuery(*good, true, 0, "", true, true, false);
    auto bad = Query("SELECT * FROM Nope");
    EXPECT_EQ(RaisedMessage<Exception>([&] { ExecuteQuery(*bad, true, 0, "", true, true, false); }),
              "对象名 'Nope' 无效。");

    EXPECT_EQ(Titles(), (std::vector<std::string>{"执行详情", "执行详情", "回滚事物"}));
    EXPECT_EQ(RanOn(), (std::vector<std::string>{"main", "main", "main"})) << "the rollback still runs";
}

// ---------------------------------------------------------------------------------------
// Result sets

TEST_F(TDataExecuteTest, HostLibraryMessageInPlaceOfSqlIsRaisedWithoutRunningAnything) {
    StartWith(3.0, false);
    for (const std::string text : {"SQL脚本[7999]不存在。", "SQL脚本为空。"}) {
        TkbmMemTable table;
        EXPECT_EQ(RaisedMessage<Exception>([&] { CoreDM->OpenToMemTable(table, text, false, true, false); }),
                  text);
    }
    EXPECT_TRUE(Trace->empty());
    EXPECT_TRUE(Titles().empty());
}

TEST_F(TDataExecuteTest, HasRowsTellsEmptyFromNonEmpty) {
    StartWith(3.0, false);
    Main->Handler = [](TRecordingConnection&, const std::string& text) {
        TAdoExecuteResult r;
        r.Recordset = TRecordingConnection::Rows("A", text.find("none") != std::string::npos
                                                          ? std::vector<std::string>{}
                                                          : std::vector<std::string>{"x"});
        return r;
    };
    EXPECT_FALSE(CoreDM->HasRows("SELECT A FROM none"));
    EXPECT_TRUE(CoreDM->HasRows("SELECT A FROM one"));
    EXPECT_EQ(Titles(), (std::vector<std::string>{"执行详情", "SQL执行", "执行详情", "SQL执行"}));
}

TEST_F(TDataExecuteTest, SysParamValueIsZeroWithoutRowAndTrimmedOtherwise) {
    StartWith(3.0, false);
    std::vector<std::string> rows;
    Main->Handler = [&rows](TRecordingConnection&, const std::string&) {
        TAdoExecuteResult r;
        r.Recordset = TRecordingConnection::Rows("value", rows);
        return r;
    };
    struct TCase {
        std::vector<std::string> Rows;
        const char* Expected;
    } cases[] = {{{}, "0"}, {{"  1 \t"}, "1"}, {{"abc"}, "abc"}};
    for (const auto& c : cases) {
        rows = c.Rows;
        std::string value = "unset";
        CoreDM->GetSysParamValue(100, 103010, 6, value);
        EXPECT_EQ(value, c.Expected);
    }
    EXPECT_EQ(Trace->front().Text, "Select dbo.GetSysParamValue(100,103010,6) as value\r\n");
    const THostLogEntry* details = FindLog("执行详情");
    ASSERT_NE(details, nullptr);
    EXPECT_NE(details->Detail.find("\r\n备注:获取单个公共参数值"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Debug script

struct TScriptCase {
    const char* Name;
    const char* Sql;
    bool ParamCheck;
    std::vector<std::pair<std::string, Variant>> Values; // set in this order
    const char* Expected;
};
void PrintTo(const TScriptCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}

const TScriptCase ScriptCases[] = {
    {"IntegerAndQuotedText",
     "SELECT * FROM T WHERE A = :A AND B = :B",
     true,
     {{"A", Variant(5)}, {"B", Variant("O'Neil")}},
     "--脚本:\r\nDECLARE @Debug_A Int\r\nDECLARE @Debug_B VARCHAR(8000)\r\nSET @Debug_A =5\r\n"
     "SET @Debug_B = 'O''Neil'\r\nSELECT * FROM T WHERE A = @Debug_A AND B = @Debug_B\r\n"},
    {"NullValue",
     "EXEC P :X",
     true,
     {{"X", Variant::Null()}},
     "--脚本:\r\nDECLARE @Debug_X VARCHAR(8000)\r\nSET @Debug_X = NULL\r\nEXEC P @Debug_X\r\n"},
    // A parameter that was never set counts as null.
    {"NeverSet",
     "EXEC P :X",
     true,
     {},
     "--脚本:\r\nDECLARE @Debug_X VARCHAR(8000)\r\nSET @Debug_X = NULL\r\nEXEC P @Debug_X\r\n"},
    {"BooleanHasNoDeclaration",
     "EXEC P :F",
     true,
     {{"F", Variant(true)}},
     "--脚本:\r\nSET @Debug_F = 'True'\r\nEXEC P @Debug_F\r\n"},
    {"DecimalsAndDates",
     "EXEC P :M, :D",
     true,
     {{"M", Variant(Currency{125000})}, {"D", Variant::DateTime(EncodeDateTime(2024, 3, 5, 8, 9, 10, 0))}},
     "--脚本:\r\nDECLARE @Debug_M numeric(18, 6)\r\nDECLARE @Debug_D Datetime\r\nSET @Debug_M =12.5\r\n"
     "SET @Debug_D = '2024-03-05 08:09:10'\r\nEXEC P @Debug_M, @Debug_D\r\n"},
    {"EveryReferenceRewritten",
     "SELECT :A, :A",
     true,
     {{"A", Variant(int64_t(7))}},
     "--脚本:\r\nDECLARE @Debug_A Int\r\nSET @Debug_A =7\r\nSELECT @Debug_A, @Debug_A\r\n"},
    {"ParameterCheckingOff",
     "SELECT * FROM T WHERE A = :A",
     false,
     {},
     "--脚本:\r\nSELECT * FROM T WHERE A = :A\r\n"},
};

class TDataDebugScriptTest : public ::testing::TestWithParam<TScriptCase> {};

TEST_P(TDataDebugScriptTest, Script) {
    const TScriptCase& c = GetParam();
    TADOQuery q;
    q.SetParamCheck(c.ParamCheck);
    q.SQL().SetText(c.Sql);
    for (const auto& [name, value] : c.Values)
        q.Parameters().ParamByName(name).SetValue(value);
    EXPECT_EQ(BuildDebugScript(q), c.Expected);
    EXPECT_EQ(q.SQL().Text(), std::string(c.Sql) + "\r\n") << "the statement itself is unchanged";
}

INSTANTIATE_TEST_SUITE_P(Data, TDataDebugScriptTest, ::testing::ValuesIn(ScriptCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
