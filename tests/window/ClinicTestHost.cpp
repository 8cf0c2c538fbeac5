#include "ClinicTestHost.h"

namespace {

TFieldType TypeOf(const TCell& ACell) {
    if (std::holds_alternative<int>(ACell)) return ftInteger;
    if (std::holds_alternative<double>(ACell)) return ftFloat;
    return ftString;
}

} // namespace

void FillTable(TkbmMemTable& ATable, const TRows& ARows) {
    ATable.Close();
    ATable.DeleteFields();
    for (size_t c = 0; c < ARows.Columns.size(); ++c) {
        TFieldType type = ftString;
        for (const auto& row : ARows.Rows)
            if (!std::holds_alternative<std::monostate>(row[c])) {
                type = TypeOf(row[c]);
                break;
            }
        ATable.AddField(ARows.Columns[c], type, type == ftString ? 100 : 0);
    }
    ATable.Open();
    for (const auto& row : ARows.Rows) {
        ATable.Append();
        for (size_t c = 0; c < ARows.Columns.size(); ++c) {
            TField& field = ATable.FieldByName(ARows.Columns[c]);
            std::visit(
                [&](const auto& v) {
                    using V = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<V, int>)
                        field.SetAsInteger(v);
                    else if constexpr (std::is_same_v<V, double>)
                        field.SetAsFloat(v);
                    else if constexpr (std::is_same_v<V, std::string>)
                        field.SetAsString(v);
                },
                row[c]);
        }
        ATable.Post();
    }
    ATable.First();
}

TClinicHostState::TClinicHostState() {
    FontName.clear();
    FontSize = 0;
    SkinIndex = 0;
    Title.clear();
    UnknownScript = [](int32_t AID) { return "SQL语句" + std::to_string(AID) + "不存在"; };
}

TClinicTestHost::TClinicTestHost() {
    QvOpenSQLProc = [this](const std::string& ASQL, TkbmMemTable& ATable, bool ALogged) {
        State.Statements.push_back(ASQL);
        State.StatementsLogged.push_back(ALogged);
        auto it = State.Answers.find(ASQL);
        if (it == State.Answers.end()) throw Exception("无效的SQL语句: " + ASQL);
        FillTable(ATable, it->second);
    };
}

TClinicTestHost::~TClinicTestHost() {
    QvOpenSQLProc = nullptr;
}

std::vector<TLogEntry> TClinicTestHost::LogOf(const std::string& ASource) const {
    std::vector<TLogEntry> result;
    for (const TFakeLogEntry& e : State.Log)
        if (e.Source == ASource) result.push_back({e.Level, e.Source, e.Title, e.Detail});
    return result;
}

std::vector<std::string> TClinicTestHost::HostMessages() const {
    std::vector<std::string> result;
    for (const TFakeMessage& m : State.Messages)
        result.push_back(m.Text);
    return result;
}
