// The host's database connection, its recyclable query, and table snapshots.
#include "QvHostDb.h"

#include "AdoInt.h"
#include "QvADO.h"

#include <map>

namespace {

template <class T> T& Out(T* p) {
    if (!p) throw Exception("缺少输出参数。");
    return *p;
}

// Runs a text on the connection and answers its recordset (nil for none).
ComPtr<_Recordset> Run(_Connection* AConnection, const std::string& ASql, int32_t AOptions) {
    ComPtr<_Recordset> rs;
    int32_t affected = 0;
    CheckConnectionResult(AConnection, AConnection->Execute(WideString(ASql).c_bstr(), nullptr, 0, AOptions,
                                                            -1, &affected, rs.out()));
    return rs;
}

std::vector<std::string> FieldNames(_Recordset* ARs) {
    int32_t count = 0;
    OleCheck(ARs->GetFieldCount(&count));
    std::vector<std::string> names;
    for (int32_t i = 0; i < count; ++i) {
        WideString name;
        int32_t type = 0, size = 0, attrs = 0;
        OleCheck(ARs->GetFieldInfo(i, name.out(), &type, &size, &attrs));
        names.push_back(name.str());
    }
    return names;
}

bool AtEnd(_Recordset* ARs) {
    WordBool eof = -1;
    OleCheck(ARs->GetEOF(&eof));
    return eof != 0;
}

// The host's recyclable query: host SQL on the host's own connection.
class TQvRecycledQuery : public TInterfacedObject<IQVRecycledQuery> {
public:
    explicit TQvRecycledQuery(ComPtr<_Connection> AConnection) : FConnection(std::move(AConnection)) {}

    HRESULT QV_STDCALL SetSQL(BSTR ASql) override {
        return SafeCall([&] {
            Reset();
            FSql = ASql ? BstrToUtf8(ASql) : std::string();
        });
    }
    HRESULT QV_STDCALL Open() override {
        return SafeCall([&] {
            Reset();
            FRs = Run(FConnection.get(), FSql, adOptionUnspecified);
            if (!FRs) throw Exception("查询没有返回记录集：" + FSql);
            FNames = FieldNames(FRs.get());
        });
    }
    HRESULT QV_STDCALL GetEof(WordBool* AEof) override {
        return SafeCall([&] { Out(AEof) = (!FRs || AtEnd(FRs.get())) ? -1 : 0; });
    }
    HRESULT QV_STDCALL Next() override {
        return SafeCall([&] {
            if (!FRs) throw Exception("查询未打开。");
            OleCheck(FRs->MoveNext());
        });
    }
    HRESULT QV_STDCALL GetFieldValue(BSTR AName, VARIANT* AValue) override {
        return SafeCall([&] {
            VARIANT& out = Out(AValue);
            out = {};
            if (!FRs) throw Exception("查询未打开。");
            const std::string name = AName ? BstrToUtf8(AName) : std::string();
            for (size_t i = 0; i < FNames.size(); ++i) {
                if (SameText(FNames[i], name)) {
                    OleCheck(FRs->GetValue(static_cast<int32_t>(i), &out));
                    return;
                }
            }
            throw Exception("字段" + name + "不存在。");
        });
    }
    HRESULT QV_STDCALL Close() override {
        return SafeCall([&] { Reset(); });
    }

private:
    void Reset() {
        if (FRs) FRs->Close();
        FRs.reset();
        FNames.clear();
    }

    ComPtr<_Connection> FConnection;
    std::string FSql;
    ComPtr<_Recordset> FRs;
    std::vector<std::string> FNames;
};

} // namespace

TQvHostDatabase::TQvHostDatabase(std::string AConnectionString)
    : FConnectionString(std::move(AConnectionString)) {
    FConnection = CreateConnectionObject(FConnectionString);
    CheckConnectionResult(FConnection.get(), FConnection->Open(nullptr));
}

TQvHostDatabase::~TQvHostDatabase() {
    if (FConnection) FConnection->Close();
}

void TQvHostDatabase::Attach(TQvHostConfig& AConfig, bool ASlave) const {
    AConfig.ConnectionString = FConnectionString;
    const ComPtr<_Connection> conn = FConnection;
    AConfig.Connection = [conn]() -> _Connection* { return ComPtr<_Connection>(conn).Detach(); };
    if (ASlave)
        AConfig.SlaveConnection = [conn]() -> _Connection* { return ComPtr<_Connection>(conn).Detach(); };
    else
        AConfig.SlaveConnection = nullptr;
    AConfig.RecycledQuery = [conn]() -> ComPtr<IQVRecycledQuery> { return MakeCom<TQvRecycledQuery>(conn); };
}

void TQvHostDatabase::Execute(const std::string& ASql) const {
    Run(FConnection.get(), ASql, adExecuteNoRecords);
}

nlohmann::json TQvHostDatabase::Query(const std::string& ASql, std::vector<std::string>* AColumns) const {
    nlohmann::json rows = nlohmann::json::array();
    const ComPtr<_Recordset> rs = Run(FConnection.get(), ASql, adOptionUnspecified);
    if (!rs) return rows;
    const std::vector<std::string> names = FieldNames(rs.get());
    if (AColumns) *AColumns = names;
    for (; !AtEnd(rs.get()); OleCheck(rs->MoveNext())) {
        nlohmann::json row = nlohmann::json::object();
        for (size_t i = 0; i < names.size(); ++i) {
            OleVariant v;
            OleCheck(rs->GetValue(static_cast<int32_t>(i), &v.get()));
            row[names[i]] = DbValueJson(v.get());
        }
        rows.push_back(std::move(row));
    }
    rs->Close();
    return rows;
}

nlohmann::json DbValueJson(const VARIANT& AValue) {
    if (AValue.vt == VT_NULL || AValue.vt == VT_EMPTY) return nullptr;
    return HostVariantText(AValue);
}

nlohmann::json TableChanges(const nlohmann::json& ABefore, const nlohmann::json& AAfter,
                            const std::string& AKey) {
    auto keyOf = [&AKey](const nlohmann::json& row) {
        return row.contains(AKey) ? row[AKey].dump() : std::string();
    };
    std::multimap<std::string, nlohmann::json> before;
    for (const auto& row : ABefore)
        before.emplace(keyOf(row), row);
    nlohmann::json added = nlohmann::json::array(), changed = nlohmann::json::array(),
                   removed = nlohmann::json::array();
    for (const auto& row : AAfter) {
        const auto it = before.find(keyOf(row));
        if (it == before.end()) {
            added.push_back(row);
            continue;
        }
        if (it->second != row) changed.push_back({{"before", it->second}, {"after", row}});
        before.erase(it);
    }
    for (const auto& [key, row] : before)
        removed.push_back(row);
    return {{"added", added}, {"changed", changed}, {"removed", removed}};
}
