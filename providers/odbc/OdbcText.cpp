// Texts of the ODBC provider.
#include "OdbcText.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

// A value inside an ODBC connection string, braced when it holds a separator.
std::string OdbcValue(const std::string& v) {
    if (v.find_first_of(";{}") == std::string::npos && (v.empty() || (v.front() != ' ' && v.back() != ' ')))
        return v;
    std::string out = "{";
    for (char c : v) {
        out.push_back(c);
        if (c == '}') out.push_back('}');
    }
    return out + "}";
}

struct TTok {
    enum { Word, Param, String, Number, Punct } Kind;
    std::string Text;
};

// Significant tokens of a statement; false when the text has a construct this simple
// reader does not know (then the text is left alone).
bool Tokens(std::string_view s, std::vector<TTok>& out) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            const size_t e = s.find("*/", i + 2);
            if (e == std::string_view::npos) return false;
            i = e + 2;
        } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'')) {
            size_t j = s.find('\'', i) + 1;
            while (true) {
                const size_t e = s.find('\'', j);
                if (e == std::string_view::npos) return false;
                if (e + 1 < n && s[e + 1] == '\'') {
                    j = e + 2;
                    continue;
                }
                out.push_back({TTok::String, std::string(s.substr(i, e + 1 - i))});
                i = e + 1;
                break;
            }
        } else if (c == '?') {
            out.push_back({TTok::Param, "?"});
            ++i;
        } else if (std::isdigit(c) ||
                   (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t j = i;
            while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '.'))
                ++j;
            out.push_back({TTok::Number, std::string(s.substr(i, j - i))});
            i = j;
        } else if (std::isalpha(c) || c == '_' || c == '#' || c >= 0x80 || c == '[') {
            size_t j = i;
            if (c == '[') {
                j = s.find(']', i);
                if (j == std::string_view::npos) return false;
                ++j;
            } else {
                while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_' ||
                                 s[j] == '#' || s[j] == '$' || static_cast<unsigned char>(s[j]) >= 0x80))
                    ++j;
            }
            out.push_back({TTok::Word, std::string(s.substr(i, j - i))});
            i = j;
        } else {
            out.push_back({TTok::Punct, std::string(1, char(c))});
            ++i;
        }
    }
    return true;
}

} // namespace

std::string OdbcConnectionString(const TConnectionString& cs) {
    if (cs.Has("Driver") || cs.Has("DSN") || cs.Has("FILEDSN")) return cs.Without({"Provider"});
    const char* env = std::getenv("QV_ODBC_DRIVER");
    std::string out = "Driver={" + std::string(env && *env ? env : "ODBC Driver 18 for SQL Server") + "}";
    struct TMap {
        const char* Ado;
        const char* Odbc;
    };
    static const TMap maps[] = {{"Data Source", "Server"},
                                {"Server", "Server"},
                                {"Address", "Server"},
                                {"Initial Catalog", "Database"},
                                {"Database", "Database"},
                                {"User ID", "UID"},
                                {"UID", "UID"},
                                {"Password", "PWD"},
                                {"PWD", "PWD"},
                                {"Application Name", "APP"},
                                {"Workstation ID", "WSID"}};
    for (const auto& [key, value] : cs.Items()) {
        for (const TMap& m : maps)
            if (SameText(key, m.Ado)) {
                out += ";" + std::string(m.Odbc) + "=" + OdbcValue(value);
                break;
            }
        if (SameText(key, "Integrated Security") && (SameText(value, "SSPI") || SameText(value, "true")))
            out += ";Trusted_Connection=Yes";
    }
    return out;
}

std::string OdbcCallText(std::string_view sql) {
    std::vector<TTok> t;
    if (!Tokens(sql, t)) return std::string(sql);
    while (!t.empty() && t.back().Kind == TTok::Punct && t.back().Text == ";")
        t.pop_back();
    size_t i = 0;
    auto word = [&](const char* w) {
        return i < t.size() && t[i].Kind == TTok::Word && SameText(t[i].Text, w);
    };
    if (!word("EXEC") && !word("EXECUTE")) return std::string(sql);
    ++i;
    std::string name;
    while (true) {
        if (i >= t.size() || t[i].Kind != TTok::Word) return std::string(sql);
        name += t[i++].Text;
        if (i < t.size() && t[i].Kind == TTok::Punct && t[i].Text == ".") {
            name += ".";
            ++i;
            continue;
        }
        break;
    }
    std::vector<std::string> args;
    while (i < t.size()) {
        std::string arg;
        if (t[i].Kind == TTok::Punct && (t[i].Text == "-" || t[i].Text == "+") && i + 1 < t.size() &&
            t[i + 1].Kind == TTok::Number) {
            arg = t[i].Text + t[i + 1].Text;
            i += 2;
        } else if (t[i].Kind == TTok::Param || t[i].Kind == TTok::String || t[i].Kind == TTok::Number ||
                   word("NULL")) {
            arg = t[i++].Text;
        } else {
            return std::string(sql); // named arguments, variables, further statements
        }
        if (word("OUT") || word("OUTPUT")) ++i;
        args.push_back(arg);
        if (i == t.size()) break;
        if (t[i].Kind != TTok::Punct || t[i].Text != ",") return std::string(sql);
        ++i;
        if (i == t.size()) return std::string(sql);
    }
    std::string out = "{call " + name;
    if (!args.empty()) {
        out += "(";
        for (size_t k = 0; k < args.size(); ++k)
            out += (k ? "," : "") + args[k];
        out += ")";
    }
    return out + "}";
}
