// The hospital database stand-in: SQLite behind a small T-SQL front end, with the
// hospital's stored procedures written in C++.
//
// Internal to the provider module "QvHospitalLite" (qvprov_QvHospitalLite.so).
#pragma once

#include "AdoProvider.h"

#include <sqlite3.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

// The error source of every error this database reports.
inline const std::string kHospitalSource = "QvHospitalLite";

// A statement failure with a complete Chinese sentence (DB_E_ERRORSINCOMMAND).
[[noreturn]] void HospitalFail(const std::string& message);

// ---------------------------------------------------------------------------------------
// SQLite helpers

// One prepared statement; finalized when it goes.
class TSqliteStmt {
public:
    TSqliteStmt(sqlite3* db, const std::string& sql); // raises the translated SQLite error
    ~TSqliteStmt();
    TSqliteStmt(const TSqliteStmt&) = delete;
    TSqliteStmt& operator=(const TSqliteStmt&) = delete;

    sqlite3_stmt* get() const { return FStmt; }
    // Binds a value at a 1-based position: currency and dates as the database keeps them
    // in money (1/10000 yuan) and date-time ("yyyy-mm-dd hh:nn:ss") columns.
    TSqliteStmt& Bind(int pos, const Variant& v);
    // Next row (true) or done (false); raises the translated error.
    bool Step();
    // Runs to the end.
    void Run();

    bool IsNull(int col) const { return sqlite3_column_type(FStmt, col) == SQLITE_NULL; }
    int64_t Int(int col) const { return sqlite3_column_int64(FStmt, col); }
    double Float(int col) const { return sqlite3_column_double(FStmt, col); }
    std::string Text(int col) const;
    // A money column (1/10000 yuan).
    Currency Money(int col) const { return Currency{sqlite3_column_int64(FStmt, col)}; }

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
};

// The SQLite message of a failed call as the message a hospital user reads.
std::string TranslateSqliteError(sqlite3* db, int rc);

// ---------------------------------------------------------------------------------------
// Stored procedures

enum class TProcParamType { Int, Text, Money, Float };

struct TProcParam {
    std::string Name; // with "@"
    TProcParamType Type;
    bool Output = false;
};

// One call of a procedure: the inputs converted to the parameter types (null when not
// given), the outputs it sets, the result set it may return.
struct TProcCall {
    sqlite3* Db = nullptr;
    std::string Now; // the database clock, "yyyy-mm-dd hh:nn:ss"
    std::vector<Variant> Args;
    ComPtr<TAdoStaticRecordset> Result;

    const Variant& Arg(size_t i) const { return Args.at(i); }
    void SetOutput(size_t i, const Variant& v) { Args.at(i) = v; }
};

using TProcBody = void (*)(TProcCall& call);

struct TProcedure {
    std::string Name;
    std::vector<TProcParam> Params;
    TProcBody Body;
};

// The procedures of the hospital database, found by name without regard to case.
const TProcedure* FindProcedure(const std::string& name);

// ---------------------------------------------------------------------------------------
// The connection object

class THospitalConnection : public TAdoConnectionBase {
public:
    THospitalConnection();
    ~THospitalConnection() override;

    // For the database functions: the clock and the connection's own handle.
    std::string Now() const;

protected:
    std::string SourceName() const override { return kHospitalSource; }
    void DoOpen(const TConnectionString& cs) override;
    void DoClose() override;
    TAdoExecuteResult DoExecute(const std::string& text, std::span<TAdoParameter> params, int options,
                                int timeout) override;
    int DoBeginTrans() override;
    void DoCommitTrans() override;
    void DoRollbackTrans() override;
    void TimeoutChanged() override;

private:
    friend class TTsqlBatch;

    void Exec(const std::string& sql);
    int TranCount();
    void BeginTran();
    void CommitTran();
    void RollbackTran();
    void RegisterFunctions();
    void ApplySeed(const std::string& file);

    sqlite3* FDb = nullptr;
    int FTranCount = 0;
    std::optional<std::string> FClock; // fixed server time ("Clock=" in the connection string)
};
