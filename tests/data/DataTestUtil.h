// Helpers of the data module tests: the stand-in host with the plug-in's facade and
// listeners, the hospital database stand-in, and a connection object that records what
// it is asked to run.
#pragma once

#include "AdoProvider.h"
#include "CoreDataModule.h"
#include "QvHostSim.h"
#include "TestUtil.h"
#include "uIApplication.h"
#include "uQvRes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

inline std::string TestSourceDir() {
    const char* s = std::getenv("QV_SOURCE_DIR");
    return s && *s ? s : QV_TEST_SOURCE_DIR;
}

// Providers are found through QV_MODULE_DIR; a test binary run by hand gets the build's.
inline void EnsureModuleDir() {
    setenv("QV_MODULE_DIR", QV_TEST_MODULE_DIR, 0);
}

// A fresh in-memory hospital database with the demo data and a fixed server clock.
inline std::string HospitalConnectionString() {
    return "Provider=QvHospitalLite;Data Source=:memory:;Seed=" + TestSourceDir() +
           "/hostsim/hospitaldb/seed.sql;Clock=2024-03-05 08:09:10";
}

// An opened hospital database connection object, as a host would hold it.
inline ComPtr<_Connection> OpenHospitalObject() {
    EnsureModuleDir();
    ComPtr<_Connection> c = CreateConnectionObject(HospitalConnectionString());
    CheckConnectionResult(c.get(), c->Open(nullptr));
    return c;
}

// ---------------------------------------------------------------------------------------
// A connection object that records every statement (with its own name) in a shared list
// and answers through a handler: by default one row, column "Who", holding its name.

struct TRecorded {
    std::string Connection;
    std::string Text;
};

class TRecordingConnection : public TAdoConnectionBase {
public:
    using THandler = std::function<TAdoExecuteResult(TRecordingConnection& Self, const std::string& AText)>;

    TRecordingConnection(std::string AName, std::shared_ptr<std::vector<TRecorded>> ATrace)
        : FName(std::move(AName)), FTrace(std::move(ATrace)) {}

    THandler Handler;
    // The message an Open fails with (E_FAIL), when not empty.
    std::string OpenError;
    int OpenCount = 0;
    int CloseCount = 0;
    const std::string& Name() const { return FName; }
    bool IsOpenNow() const { return IsOpen(); }

    // A result of one text column with one row per value.
    static ComPtr<TAdoStaticRecordset> Rows(const std::string& AColumn, std::vector<std::string> AValues) {
        auto rs = MakeCom<TAdoStaticRecordset>(std::vector<TAdoStaticRecordset::TColumn>{{AColumn}});
        for (auto& v : AValues)
            rs->AddRow({Variant(v)});
        return rs;
    }
    [[noreturn]] void FailWith(HRESULT ANumber, const std::string& AText) { Fail(ANumber, AText); }

protected:
    std::string SourceName() const override { return "Recording"; }
    void DoOpen(const TConnectionString&) override {
        ++OpenCount;
        if (!OpenError.empty()) Fail(E_FAIL, OpenError);
    }
    void DoClose() override { ++CloseCount; }
    TAdoExecuteResult DoExecute(const std::string& text, std::span<TAdoParameter>, int, int) override {
        FTrace->push_back({FName, text});
        if (Handler) return Handler(*this, text);
        TAdoExecuteResult r;
        r.Recordset = Rows("Who", {FName});
        return r;
    }
    int DoBeginTrans() override { return 1; }
    void DoCommitTrans() override {}
    void DoRollbackTrans() override {}

private:
    std::string FName;
    std::shared_ptr<std::vector<TRecorded>> FTrace;
};

// A new recording connection, opened.
inline ComPtr<TRecordingConnection> NewRecording(const std::string& AName,
                                                 const std::shared_ptr<std::vector<TRecorded>>& ATrace) {
    auto c = MakeCom<TRecordingConnection>(AName, ATrace);
    c->Open(nullptr);
    return c;
}

// A host factory handing out one more reference to the object.
template <class T> std::function<_Connection*()> Share(const ComPtr<T>& AObject) {
    return [AObject]() -> _Connection* {
        AObject->AddRef();
        return AObject.get();
    };
}

// ---------------------------------------------------------------------------------------
// The stand-in host with the plug-in's facade connected: QvApp, QvRes and CoreDM exist
// between Start and the end of the test.

class THostedTest : public ::testing::Test {
protected:
    TQvHostConfig Config;
    std::unique_ptr<TQvHost> Host;

    THostedTest() {
        EnsureModuleDir();
        Config.DataFolder = TestSourceDir() + "/hostsim/hospitaldb";
    }
    ~THostedTest() override { Stop(); }

    // Connects the facade to a host made from Config; the listeners make QvRes and CoreDM.
    void Start() {
        Host = std::make_unique<TQvHost>(Config);
        QVUserInfo::ForgetRateMode();
        CreateQvApp();
        QvApp->SetApplication(Host->Application().get());
        RegisterQvResListener();
        RegisterCoreDMListener();
        QvApp->Connect();
    }
    // Frees the facade (phase 1 frees CoreDM and QvRes).
    void Stop() {
        FreeQvApp();
        Host.reset();
    }

    std::vector<THostLogEntry>& Log() { return Host->State().Log; }
    // The titles of the log entries of one source, in order.
    std::vector<std::string> Titles(const std::string& ASource = "CoreDm") {
        std::vector<std::string> out;
        for (const auto& e : Log())
            if (e.Source == ASource) out.push_back(e.Title);
        return out;
    }
    const THostLogEntry* FindLog(const std::string& ATitle) {
        for (const auto& e : Log())
            if (e.Title == ATitle) return &e;
        return nullptr;
    }
};
