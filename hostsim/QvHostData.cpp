// The host's SQL library from data files.
#include "QvHostData.h"

#include "QvCom.h"
#include "QvText.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

// A whole, non-negative number made only of digits (file names).
bool ParseNumber(const std::string& s, int32_t& AValue) {
    if (s.empty() || s.size() > 9 ||
        !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    AValue = std::stoi(s);
    return true;
}

std::vector<std::filesystem::path> SqlFiles(const std::filesystem::path& AFolder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    if (!std::filesystem::is_directory(AFolder, ec)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(AFolder)) {
        if (entry.is_regular_file() && entry.path().extension() == ".sql") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

std::string ReadHostDataFile(const std::filesystem::path& AFile) {
    std::ifstream in(AFile, std::ios::binary);
    if (!in) throw Exception("无法读取数据文件：" + AFile.string());
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string text = buf.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

void TQvHostSqlLibrary::LoadFolder(const std::filesystem::path& AFolder) {
    for (const auto& file : SqlFiles(AFolder / "sql")) {
        int32_t number = 0;
        if (!ParseNumber(file.stem().string(), number))
            throw Exception("SQL文件名应为<编号>.sql：" + file.string());
        SetSql(number, ReadHostDataFile(file));
    }
    for (const auto& file : SqlFiles(AFolder / "scripts")) {
        const std::string stem = file.stem().string();
        const auto dot = stem.find('.');
        TQvHostScript script;
        if (dot == std::string::npos || dot + 1 >= stem.size() ||
            !ParseNumber(stem.substr(0, dot), script.ID))
            throw Exception("脚本文件名应为<编号>.<代码>.sql：" + file.string());
        script.Code = stem.substr(dot + 1);
        if (const TQvHostScript* other = FindScriptByID(script.ID);
            other && !SameText(other->Code, script.Code))
            throw Exception("脚本编号" + std::to_string(script.ID) + "重复：" + file.string());
        script.Text = ReadHostDataFile(file);
        SetScript(script);
    }
}

void TQvHostSqlLibrary::SetSql(int32_t ANumber, std::string AText) {
    FSql[ANumber] = std::move(AText);
}

std::optional<std::string> TQvHostSqlLibrary::FindSql(int32_t ANumber) const {
    const auto it = FSql.find(ANumber);
    if (it == FSql.end()) return std::nullopt;
    return it->second;
}

std::string TQvHostSqlLibrary::ScriptText(int32_t ANumber) const {
    if (auto text = FindSql(ANumber)) return *text;
    return "SQL语句[" + std::to_string(ANumber) + "]不存在";
}

void TQvHostSqlLibrary::SetScript(const TQvHostScript& AScript) {
    if (const TQvHostScript* other = FindScriptByID(AScript.ID);
        other && !SameText(other->Code, AScript.Code))
        throw Exception("脚本编号" + std::to_string(AScript.ID) + "已属于" + other->Code);
    for (auto& s : FScripts) {
        if (SameText(s.Code, AScript.Code)) {
            s = AScript;
            return;
        }
    }
    FScripts.push_back(AScript);
}

const TQvHostScript* TQvHostSqlLibrary::FindScriptByCode(const std::string& ACode) const {
    for (const auto& s : FScripts)
        if (SameText(s.Code, ACode)) return &s;
    return nullptr;
}

const TQvHostScript* TQvHostSqlLibrary::FindScriptByID(int32_t AID) const {
    for (const auto& s : FScripts)
        if (s.ID == AID) return &s;
    return nullptr;
}
