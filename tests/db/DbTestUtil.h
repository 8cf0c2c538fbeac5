// Helpers of the database tests: a fresh hospital database per test and short queries.
#pragma once

#include "QvADO.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

inline std::string TestSourceDir() {
    const char* s = std::getenv("QV_SOURCE_DIR");
    return s && *s ? s : QV_TEST_SOURCE_DIR;
}

inline std::string SeedFile() {
    return TestSourceDir() + "/hostsim/hospitaldb/seed.sql";
}

// Providers are found through QV_MODULE_DIR; a test binary run by hand gets the build's.
inline void EnsureModuleDir() {
    setenv("QV_MODULE_DIR", QV_TEST_MODULE_DIR, 0);
}

// A new in-memory hospital database with the demo data and a fixed server clock.
inline std::unique_ptr<TADOConnection> OpenHospital(const std::string& extra = "Clock=2024-03-05 08:09:10") {
    EnsureModuleDir();
    auto c = std::make_unique<TADOConnection>("Hospital");
    c->SetConnectionString("Provider=QvHospitalLite;Data Source=:memory:;Seed=" + SeedFile() + ";" + extra);
    c->Open();
    return c;
}

inline std::unique_ptr<TADOQuery> NewQuery(TADOConnection& c, const std::string& sql,
                                           bool paramCheck = true) {
    auto q = std::make_unique<TADOQuery>("Query");
    q->SetConnection(&c);
    q->SetParamCheck(paramCheck);
    q->SQL().SetText(sql);
    return q;
}

// The first column of the first row (null when there is none).
inline Variant Scalar(TADOConnection& c, const std::string& sql) {
    auto q = NewQuery(c, sql, false);
    q->Open();
    return q->Eof() ? Variant::Null() : q->Fields()[0].Value();
}

inline int64_t Count(TADOConnection& c, const std::string& table) {
    return Scalar(c, "SELECT count(*) FROM " + table).AsInt64();
}
