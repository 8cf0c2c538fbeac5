// The name=value string list.
#include "QvText.h"

void TStringList::SetText(std::string_view text) {
    FItems.clear();
    size_t start = 0;
    const size_t n = text.size();
    while (start < n) {
        size_t end = start;
        while (end < n && text[end] != '\r' && text[end] != '\n')
            ++end;
        FItems.emplace_back(text.substr(start, end - start));
        if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n')
            start = end + 2;
        else
            start = end + 1;
    }
}

std::string TStringList::Text() const {
    size_t size = 0;
    for (const std::string& s : FItems)
        size += s.size() + 2;
    std::string out;
    out.reserve(size);
    for (const std::string& s : FItems) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void TStringList::CheckIndex(int i, bool allowEnd) const {
    if (i < 0 || i > Count() || (i == Count() && !allowEnd))
        throw Exception("列表索引越界 (" + std::to_string(i) + ")");
}

const std::string& TStringList::operator[](int i) const {
    CheckIndex(i);
    return FItems[i];
}

std::string& TStringList::operator[](int i) {
    CheckIndex(i);
    return FItems[i];
}

void TStringList::Put(int i, std::string_view s) {
    CheckIndex(i);
    FItems[i] = s;
}

int TStringList::Add(std::string_view s) {
    FItems.emplace_back(s);
    return Count() - 1;
}

void TStringList::Insert(int i, std::string_view s) {
    CheckIndex(i, true);
    FItems.emplace(FItems.begin() + i, s);
}

void TStringList::Delete(int i) {
    CheckIndex(i);
    FItems.erase(FItems.begin() + i);
}

int TStringList::IndexOf(std::string_view s) const {
    for (int i = 0; i < Count(); ++i)
        if (SameText(FItems[i], s)) return i;
    return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const size_t eq = FItems[i].find('=');
        if (eq != std::string::npos && SameText(std::string_view(FItems[i]).substr(0, eq), name)) return i;
    }
    return -1;
}

std::string TStringList::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line(name);
    line += '=';
    line += value;
    if (i >= 0)
        FItems[i] = std::move(line);
    else
        FItems.push_back(std::move(line));
}

std::string TStringList::Names(int i) const {
    const std::string& s = (*this)[i];
    const size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int i) const {
    const std::string& s = (*this)[i];
    const size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}
