// Test ground for the local settlement: the stand-in host connected to QvApp with a
// working folder of its own, a scripted database connection that answers statements by
// rules and records what it ran, and a settlement context that records messages.
#pragma once

#include "AdoProvider.h"
#include "QvHostSim.h"
#include "uIApplication.h"
#include "uSettleContext.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// The answer of the scripted database to one statement.
struct TFakeAnswer {
    std::vector<TAdoStaticRecordset::TColumn> Columns;
    std::vector<std::vector<Variant>> Rows;
    std::vector<Variant> Outputs; // values of the output parameters, in order
    std::string Error;            // non-empty: the statement fails with this text
};

// A statement containing Match gets Answer; the first matching rule wins.
struct TFakeRule {
    std::string Match;
    TFakeAnswer Answer;
};

class TFakeDbConnection : public TAdoConnectionBase {
public:
    std::vector<TFakeRule> Rules;
    std::vector<std::string> Statements;
    // The first input parameter's text of each statement that has parameters.
    std::vector<std::string> Inputs;

    size_t CountContaining(const std::string& APart) const {
        size_t n = 0;
        for (const std::string& s : Statements)
            n += s.find(APart) != std::string::npos;
        return n;
    }

protected:
    std::string SourceName() const override { return "FakeDb"; }
    void DoOpen(const TConnectionString&) override {}
    void DoClose() override {}
    TAdoExecuteResult DoExecute(const std::string& text, std::span<TAdoParameter> params, int, int) override {
        Statements.push_back(text);
        for (TAdoParameter& p : params)
            if (!AdoParamIsOutput(p)) {
                Inputs.push_back(AdoParamInput(p, "FakeDb").AsString());
                break;
            }
        const TFakeRule* rule = nullptr;
        for (const TFakeRule& r : Rules)
            if (text.find(r.Match) != std::string::npos) {
                rule = &r;
                break;
            }
        if (!rule) return {};
        if (!rule->Answer.Error.empty()) throw EAdoError(DB_E_ERRORSINCOMMAND, "FakeDb", rule->Answer.Error);
        size_t out = 0;
        for (TAdoParameter& p : params)
            if (AdoParamIsOutput(p) && out < rule->Answer.Outputs.size())
                AdoParamSetOutput(p, rule->Answer.Outputs[out++]);
        TAdoExecuteResult result;
        if (!rule->Answer.Columns.empty()) {
            auto rs = MakeCom<TAdoStaticRecordset>(rule->Answer.Columns);
            for (const auto& row : rule->Answer.Rows)
                rs->AddRow(row);
            result.Recordset = rs;
        }
        return result;
    }
    int DoBeginTrans() override { return 1; }
    void DoCommitTrans() override {}
    void DoRollbackTrans() override {}
};

struct TShownMessage {
    std::string Text, Caption;
    int Flags;
};

class TTestSettleContext : public TSettleContext {
public:
    TTestSettleContext() {
        Db = MakeCom<TFakeDbConnection>();
        Connection.SetConnectionObject(ComPtr<_Connection>(Db.get()));
        Connection.Open();
    }

    ComPtr<TFakeDbConnection> Db;
    TADOConnection Connection;
    std::vector<TShownMessage> Messages;
    int Rollbacks = 0;
    std::optional<TDateTime> ServerTime; // unset: the clock cannot be read
    int ServerTimeCalls = 0;
    std::map<int32_t, std::string> Params; // ParamExists answers ("0" when missing)
    std::string ParamError;                // non-empty: ParamExists raises this
    int32_t Rate = 0;

    std::unique_ptr<TADOQuery> NewQuery() override {
        auto q = std::make_unique<TADOQuery>();
        q->SetConnection(&Connection);
        q->SetParamCheck(true);
        return q;
    }
    void ExecuteQuery(TADOQuery& AQuery, bool AOpen) override {
        try {
            if (AOpen)
                AQuery.Open();
            else
                AQuery.ExecSQL();
        } catch (...) {
            ++Rollbacks;
            throw;
        }
    }
    TDateTime GetServerTime() override {
        ++ServerTimeCalls;
        if (!ServerTime) throw Exception("[DBNETLIB]一般性网络错误。");
        return *ServerTime;
    }
    std::string ParamExists(int32_t AParamNo) override {
        if (!ParamError.empty()) throw Exception(ParamError);
        auto it = Params.find(AParamNo);
        return it == Params.end() ? "0" : it->second;
    }
    int32_t RateMode() override { return Rate; }
    void WriteOperInfo(TQVXMLDocument& ADoc) override {
        ComPtr<TQVXMLNode> node;
        OleCheck(ADoc.ForceNode(WideString("/Root/OperInfo").c_bstr(), node.out()));
        const std::pair<const char*, const char*> attrs[] = {
            {"UserId", "1"}, {"EmpId", "3"}, {"EmpNo", "0003"}, {"EmpName", "张医生"}};
        for (auto [name, value] : attrs)
            OleCheck(node->SetAttribute(WideString(name).c_bstr(), WideString(value).c_bstr()));
    }
    int32_t UserID() override { return 7; }
    std::string User = "李收费";
    std::string UserName() override { return User; }
    std::string HostName() override { return "QV-CLINIC-01"; }
    int ShowMsgBox(const std::string& AText, const std::string& ACaption, int AFlags) override {
        Messages.push_back({AText, ACaption, AFlags});
        return 1;
    }
    int ShowAppMsgBox(const std::string& AText, int AFlags) override {
        Messages.push_back({AText, "<app>", AFlags});
        return 1;
    }
};

// Column helpers for rules.
inline TAdoStaticRecordset::TColumn IntCol(const char* AName) {
    return {AName, adInteger};
}
inline TAdoStaticRecordset::TColumn TextCol(const char* AName) {
    return {AName, adVarWChar, 100};
}
inline TAdoStaticRecordset::TColumn CurrCol(const char* AName) {
    return {AName, adCurrency};
}
inline TAdoStaticRecordset::TColumn FloatCol(const char* AName) {
    return {AName, adDouble};
}

// The numbered texts the settlement uses, as the host's SQL library holds them here.
inline const std::map<int32_t, std::string> kTestSqlTexts = {
    {7522, "select BBP02, AAO01 from BBP1 where PayKind = %d"},
    {16663, "select * from VAI1 where VAI01 in (%s)"},
    {16664, "select * from VAJ1 where VAA07 = %d and VAI01 in (%s)"},
    {16666, "select BCK01A from VAA1 where VAA01 = %d and VAA07 = %d"},
    {7427, "exec QVStock_Deduct %d, %d, %d, %d, %d, '%s', '%s', '%s'"},
};

// The fee records 1023 and 1024 (15.25 each), their items, the visit department and both
// settlement procedures (VAK01 1001 and 1002) as the database answers them.
inline void AddSettleRules(TFakeDbConnection& ADb, const std::vector<int>& AFeeIds = {1023, 1024}) {
    TFakeAnswer fees{{IntCol("VAI01"), TextCol("VAI04"), IntCol("BCK01B"), TextCol("BCE02A"),
                      TextCol("BCE03A"), TextCol("VAI05"), CurrCol("VAI22"), CurrCol("VAI23"),
                      CurrCol("YbMoney")},
                     {}};
    for (int id : AFeeIds)
        fees.Rows.push_back({Variant(id), Variant("MZ" + std::to_string(id)), Variant(3), Variant("0003"),
                             Variant("张医生"), Variant("2024-03-05"), Variant(Currency{152500}),
                             Variant(Currency{152500}), Variant(Currency{})});
    ADb.Rules.push_back({"from VAI1", fees});

    TFakeAnswer items;
    items.Columns = {
        TextCol("VAI04"),  IntCol("VAJ01"),   IntCol("ROWNR"),   IntCol("VAI01"),   TextCol("BDN01"),
        IntCol("BBY01"),   IntCol("VAJ22"),   IntCol("VAJ23"),   CurrCol("VAJ24"),  CurrCol("VAJ25"),
        IntCol("VAJ26"),   IntCol("VAJ27"),   IntCol("VAJ01A"),  TextCol("VAJ57"),  IntCol("VAF01"),
        IntCol("BCK01D"),  IntCol("BCK01E"),  FloatCol("VAJ30"), FloatCol("VAJ31"), FloatCol("VAJ59"),
        FloatCol("VAJ32"), FloatCol("VAJ33"), FloatCol("VAJ67"), FloatCol("VAJ34"), TextCol("VAJ35"),
        IntCol("VAJ53"),   CurrCol("VAJ36"),  CurrCol("VAJ37"),  CurrCol("VAJ38"),  CurrCol("VAJ61"),
        IntCol("BCK01C"),  TextCol("BCE02B"), TextCol("BCE03B"), IntCol("DSK01"),   TextCol("VAJ54")};
    for (int id : AFeeIds) {
        std::vector<Variant> row;
        for (const auto& col : items.Columns) {
            if (col.Name == "VAI01")
                row.emplace_back(id);
            else if (col.Name == "VAJ01")
                row.emplace_back(id * 10);
            else if (col.Type == adInteger)
                row.emplace_back(1);
            else if (col.Type == adCurrency)
                row.emplace_back(Currency{152500});
            else if (col.Type == adDouble)
                row.emplace_back(1.5);
            else
                row.emplace_back("t");
        }
        items.Rows.push_back(row);
    }
    ADb.Rules.push_back({"from VAJ1", items});
    ADb.Rules.push_back({"from VAA1 where", {{IntCol("BCK01A")}, {{Variant(5)}}}});
    ADb.Rules.push_back({"QVRate_VAK1_Update", {{}, {}, {Variant(1001), Variant("MZ1")}}});
    ADb.Rules.push_back({"QVRate_DVAK01_Update", {{IntCol("VAK01")}, {{Variant(1002)}}}});
}

class TSettleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        Folder = std::filesystem::temp_directory_path() /
                 ("qvsettle_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
        std::filesystem::create_directories(Folder);
        HostConfig.WorkPath = Folder.string() + "/";
        for (const auto& [no, text] : kTestSqlTexts)
            HostConfig.SqlTexts[no] = text;
        HostConfig.SysParams[{100, 103010, 6, 1}] = "0";
    }
    // Starts the host with the configuration as it is now.
    void StartHost() {
        Host = std::make_unique<TQvHost>(HostConfig);
        QvApp->SetApplication(Host->Application().get());
        QvApp->Connect();
    }
    void TearDown() override {
        if (Host) {
            QvApp->Disconnect();
            QvApp->SetApplication(nullptr);
            Host.reset();
        }
        std::error_code ec;
        std::filesystem::remove_all(Folder, ec);
    }

    // The payment method of each pay kind: name "方式<kind>", code "0<kind>".
    void AddPayMethods() {
        for (int kind = 1; kind <= 5; ++kind)
            Ctx.Db->Rules.push_back(
                {Format("PayKind = %d", {kind}),
                 {{TextCol("BBP02"), TextCol("AAO01")},
                  {{Variant("方式" + std::to_string(kind)), Variant("0" + std::to_string(kind))}}}});
    }

    std::string ReadFile(const std::string& AName) const {
        std::ifstream in(Folder / AName, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool FileExists(const std::string& AName) const { return std::filesystem::exists(Folder / AName); }

    std::filesystem::path Folder;
    TQvHostConfig HostConfig;
    std::unique_ptr<TQvHost> Host;
    TTestSettleContext Ctx;
};

// Parses XML text for inspection.
inline std::unique_ptr<pugi::xml_document> ParseXml(const std::string& AText) {
    auto doc = std::make_unique<pugi::xml_document>();
    const auto result = doc->load_string(AText.c_str());
    if (!result) ADD_FAILURE() << "not XML: " << result.description() << "\n" << AText;
    return doc;
}

// The names of the children of an element, in order.
inline std::vector<std::string> ChildNames(const pugi::xml_node& ANode) {
    std::vector<std::string> names;
    for (const pugi::xml_node& child : ANode.children())
        names.emplace_back(child.name());
    return names;
}

// The attributes of an element as name=value texts, in order.
inline std::vector<std::string> Attrs(const pugi::xml_node& ANode) {
    std::vector<std::string> out;
    for (const pugi::xml_attribute& a : ANode.attributes())
        out.push_back(std::string(a.name()) + "=" + a.value());
    return out;
}
