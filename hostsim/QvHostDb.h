// The host's database: a connection object opened on a connection string (the hospital
// database stand-in "QvHospitalLite", or any provider), handed to the plug-in through the
// host library, plus what a scenario needs around it: extra SQL and table snapshots.
#pragma once

#include "AdoInt.h"
#include "QvHostSim.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

class TQvHostDatabase {
public:
    // Creates the connection object for the connection string and opens it. Raises
    // Exception with the provider's message when it cannot.
    explicit TQvHostDatabase(std::string AConnectionString);
    ~TQvHostDatabase();
    TQvHostDatabase(const TQvHostDatabase&) = delete;
    TQvHostDatabase& operator=(const TQvHostDatabase&) = delete;

    const std::string& ConnectionString() const { return FConnectionString; }
    ComPtr<_Connection> Connection() const { return FConnection; }

    // Connects the host to this database: the connection string, the connection object
    // (GetConnection), the read replica (GetSlaveConnection: this same connection when
    // ASlave, nil otherwise) and the host's recyclable query.
    void Attach(TQvHostConfig& AConfig, bool ASlave) const;

    // Runs a batch of statements without records; raises the database's message.
    void Execute(const std::string& ASql) const;
    // The rows of a query as objects (column name -> text, null as null); AColumns, when
    // given, receives the column names in their order.
    nlohmann::json Query(const std::string& ASql, std::vector<std::string>* AColumns = nullptr) const;

private:
    std::string FConnectionString;
    ComPtr<_Connection> FConnection;
};

// The rows added, removed and changed between two snapshots of one table, matched by the
// key column: {"added": [...], "removed": [...], "changed": [{"before", "after"}]}.
nlohmann::json TableChanges(const nlohmann::json& ABefore, const nlohmann::json& AAfter,
                            const std::string& AKey);

// A database value as snapshot text.
nlohmann::json DbValueJson(const VARIANT& AValue);
