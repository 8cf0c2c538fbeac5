// The host's numbered SQL library and its scripts by code, read from data files:
//   <folder>/sql/<number>.sql              one numbered SQL text (GetScript)
//   <folder>/scripts/<id>.<code>.sql       one script: its id, its code, its SQL text
// Files are UTF-8 (a leading byte-order mark is dropped; trailing blank lines too).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct TQvHostScript {
    int32_t ID = 0;
    std::string Code;
    std::string Text;
};

class TQvHostSqlLibrary {
public:
    // Adds every text of a data folder; a file name that does not follow the layout, a
    // duplicate script id or an unreadable file raises Exception naming the file. A folder
    // without "sql" or "scripts" simply adds nothing from it.
    void LoadFolder(const std::filesystem::path& AFolder);

    // Adds or replaces a numbered text.
    void SetSql(int32_t ANumber, std::string AText);
    std::optional<std::string> FindSql(int32_t ANumber) const;
    // The text GetScript answers: the SQL, or the library's own message for a missing
    // number (it contains "不存在", which the plug-in recognises).
    std::string ScriptText(int32_t ANumber) const;

    // Adds or replaces a script (by code, without regard to case); its id must not belong
    // to another code.
    void SetScript(const TQvHostScript& AScript);
    const TQvHostScript* FindScriptByCode(const std::string& ACode) const;
    const TQvHostScript* FindScriptByID(int32_t AID) const;

    size_t SqlCount() const { return FSql.size(); }
    size_t ScriptCount() const { return FScripts.size(); }

private:
    std::map<int32_t, std::string> FSql;
    std::vector<TQvHostScript> FScripts;
};

// The file's text with a leading byte-order mark and trailing blank lines removed.
std::string ReadHostDataFile(const std::filesystem::path& AFile);
