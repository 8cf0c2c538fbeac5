// The editor library's shared objects as plain data.
#include "QvEditorLib.h"

#include "QvText.h"

#include <QLocale>
#include <QString>

#include <cctype>

TFontStyles FontStylesFromHostCode(int32_t ACode) {
    switch (ACode) {
    case 1:
        return fsItalic;
    case 2:
        return fsBold;
    case 3:
        return fsBold | fsItalic;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------
// Style repository

TStyleItem& TStyleRepository::Add(std::string AName) {
    FItems.push_back(TStyleItem{std::move(AName), std::nullopt, std::nullopt});
    return FItems.back();
}

TStyleItem* TStyleRepository::Find(std::string_view AName) {
    for (TStyleItem& item : FItems)
        if (SameText(item.Name, AName)) return &item;
    return nullptr;
}

const TStyleItem* TStyleRepository::Find(std::string_view AName) const {
    return const_cast<TStyleRepository*>(this)->Find(AName);
}

// ---------------------------------------------------------------------------------------
// Locale formats

namespace {

// A Qt date or time format in the pattern letters of the process formats: M -> m for
// months, m -> n for minutes, H -> h, AP -> ampm; quoted text stays quoted; the time zone
// is dropped.
std::string FromQtPattern(const QString& AFormat, bool ATime) {
    const std::string f = AFormat.toStdString();
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) {
        const char c = f[i];
        if (c == '\'') {
            const size_t end = f.find('\'', i + 1);
            const size_t stop = end == std::string::npos ? f.size() : end + 1;
            out += f.substr(i, stop - i);
            i = stop - 1;
        } else if (!ATime && c == 'M') {
            out += 'm';
        } else if (ATime && c == 'm') {
            out += 'n';
        } else if (ATime && c == 'H') {
            out += 'h';
        } else if (ATime && (c == 'A' || c == 'a')) {
            if (i + 1 < f.size() && (f[i + 1] == 'P' || f[i + 1] == 'p')) ++i;
            out += "ampm";
        } else if (ATime && c == 't') {
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
        } else {
            out += c;
        }
    }
    return Trim(out);
}

char FirstSeparator(const std::string& APattern, char ADefault) {
    for (char c : APattern)
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != '\'' && c != ' ') return c;
    return ADefault;
}

// One run of a pattern: a letter repeated (lower case), or literal text.
struct TPatternPart {
    char Letter = 0; // 0: literal
    std::string Text;
};

std::vector<TPatternPart> SplitPattern(std::string_view APattern) {
    std::vector<TPatternPart> parts;
    for (size_t i = 0; i < APattern.size();) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(APattern[i])));
        if (c == 'y' || c == 'm' || c == 'd' || c == 'h' || c == 'n' || c == 's') {
            size_t j = i;
            while (j < APattern.size() && std::tolower(static_cast<unsigned char>(APattern[j])) == c)
                ++j;
            parts.push_back({c, std::string(APattern.substr(i, j - i))});
            i = j;
        } else if (c == '\'' || c == '"') {
            const size_t end = APattern.find(APattern[i], i + 1);
            const size_t stop = end == std::string_view::npos ? APattern.size() : end;
            parts.push_back({0, std::string(APattern.substr(i + 1, stop - i - 1))});
            i = stop == APattern.size() ? stop : stop + 1;
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            ++i; // other pattern letters (am/pm, day names) have no place in a masked edit
        } else {
            parts.push_back({0, std::string(1, APattern[i])});
            ++i;
        }
    }
    return parts;
}

// The pattern with four-digit years and two-digit fields.
std::string MaskedPattern(std::string_view APattern) {
    std::string out;
    for (const TPatternPart& p : SplitPattern(APattern)) {
        switch (p.Letter) {
        case 0:
            out += p.Text;
            break;
        case 'y':
            out += "yyyy";
            break;
        default:
            out += std::string(2, p.Letter);
        }
    }
    return Trim(out);
}

// "!0000-00-00;1;_": one digit place per letter of a masked pattern.
std::string StandardMask(std::string_view AMaskedPattern) {
    std::string out = "!";
    for (const TPatternPart& p : SplitPattern(AMaskedPattern)) {
        if (p.Letter) {
            out += std::string(p.Text.size(), '0');
        } else {
            for (char c : p.Text) {
                if (c == '\\' || c == '!' || c == ';' || c == '0' || c == '9' || c == '#' || c == 'L' ||
                    c == 'l' || c == 'A' || c == 'a' || c == 'C' || c == 'c' || c == '>' || c == '<' ||
                    c == '_')
                    out += '\\';
                out += c;
            }
        }
    }
    return out + ";1;_";
}

std::string RegExprMask(std::string_view AMaskedPattern) {
    std::string out;
    for (const TPatternPart& p : SplitPattern(AMaskedPattern)) {
        switch (p.Letter) {
        case 0:
            for (char c : p.Text) {
                if (std::string_view(".\\+*?[^]$(){}|").find(c) != std::string_view::npos) out += '\\';
                out += c;
            }
            break;
        case 'y':
            out += "\\d\\d\\d\\d";
            break;
        case 'm':
        case 'd':
        case 'h':
            out += "\\d\\d?";
            break;
        default:
            out += "\\d\\d";
        }
    }
    return out;
}

} // namespace

TEditLocaleFormats ProcessLocaleFormats() {
    const TFormatSettings& fs = FormatSettings();
    TEditLocaleFormats f;
    f.CurrencyString = fs.CurrencyString;
    f.CurrencyDecimals = fs.CurrencyDecimals;
    f.DateSeparator = fs.DateSeparator;
    f.TimeSeparator = fs.TimeSeparator;
    f.ShortDateFormat = fs.ShortDateFormat;
    f.LongTimeFormat = fs.LongTimeFormat;
    return f;
}

TEditLocaleFormats SystemLocaleFormats() {
    const QLocale locale = QLocale::system();
    TEditLocaleFormats f;
    f.CurrencyString = locale.currencySymbol(QLocale::CurrencySymbol).toStdString();
    f.CurrencyDecimals = 2;
    f.ShortDateFormat = FromQtPattern(locale.dateFormat(QLocale::ShortFormat), false);
    f.LongTimeFormat = FromQtPattern(locale.timeFormat(QLocale::LongFormat), true);
    if (f.ShortDateFormat.empty()) f.ShortDateFormat = "yyyy/m/d";
    if (f.LongTimeFormat.empty()) f.LongTimeFormat = "h:nn:ss";
    f.DateSeparator = FirstSeparator(f.ShortDateFormat, '/');
    f.TimeSeparator = FirstSeparator(f.LongTimeFormat, ':');
    return f;
}

// ---------------------------------------------------------------------------------------
// Format controller

TEditLocaleFormats TEditFormatController::Source() const {
    return FUseProcess ? ProcessLocaleFormats() : SystemLocaleFormats();
}

void TEditFormatController::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    if (FUpdateCount == 0 && FPendingChange) {
        FPendingChange = false;
        Changed();
    }
}

void TEditFormatController::Changed() {
    if (FUpdateCount > 0) {
        FPendingChange = true;
        return;
    }
    ++FChangeCount;
    const auto listeners = FListeners; // a listener may leave while it is told
    for (const auto& [id, listener] : listeners)
        if (listener) listener();
}

void TEditFormatController::SetUseProcessDateTimeFormats(bool AValue) {
    if (AValue == FUseProcess) return;
    FUseProcess = AValue;
    Changed();
}

std::string TEditFormatController::CurrencyFormat() const {
    if (FCurrencyFormat) return *FCurrencyFormat;
    const TEditLocaleFormats f = Source();
    return f.CurrencyString + (f.CurrencyDecimals > 0 ? "0." + std::string(f.CurrencyDecimals, '0') : "0");
}

std::string TEditFormatController::DateEditFormat() const {
    return Source().ShortDateFormat;
}

std::string TEditFormatController::DateEditMask() const {
    return StandardDateEditMask();
}

std::string TEditFormatController::MaskedDateEditFormat() const {
    return MaskedPattern(Source().ShortDateFormat);
}

std::string TEditFormatController::MaskedDateTimeEditFormat() const {
    const TEditLocaleFormats f = Source();
    return MaskedPattern(f.ShortDateFormat) + " " + MaskedPattern(f.LongTimeFormat);
}

std::string TEditFormatController::RegExprDateEditMask() const {
    return FRegExprDateEditMask ? *FRegExprDateEditMask : RegExprMask(MaskedDateEditFormat());
}

std::string TEditFormatController::RegExprDateTimeEditMask() const {
    return FRegExprDateTimeEditMask ? *FRegExprDateTimeEditMask : RegExprMask(MaskedDateTimeEditFormat());
}

std::string TEditFormatController::StandardDateEditMask() const {
    return FStandardDateEditMask ? *FStandardDateEditMask : StandardMask(MaskedDateEditFormat());
}

std::string TEditFormatController::StandardDateTimeEditMask() const {
    return FStandardDateTimeEditMask ? *FStandardDateTimeEditMask : StandardMask(MaskedDateTimeEditFormat());
}

void TEditFormatController::SetCurrencyFormat(std::string AValue) {
    FCurrencyFormat = std::move(AValue);
    Changed();
}
void TEditFormatController::SetRegExprDateEditMask(std::string AValue) {
    FRegExprDateEditMask = std::move(AValue);
    Changed();
}
void TEditFormatController::SetRegExprDateTimeEditMask(std::string AValue) {
    FRegExprDateTimeEditMask = std::move(AValue);
    Changed();
}
void TEditFormatController::SetStandardDateEditMask(std::string AValue) {
    FStandardDateEditMask = std::move(AValue);
    Changed();
}
void TEditFormatController::SetStandardDateTimeEditMask(std::string AValue) {
    FStandardDateTimeEditMask = std::move(AValue);
    Changed();
}
void TEditFormatController::SetStartOfWeek(int AValue) {
    FStartOfWeek = AValue;
    Changed();
}

void TEditFormatController::Reset() {
    FUseProcess = false;
    FCurrencyFormat.reset();
    FRegExprDateEditMask.reset();
    FRegExprDateTimeEditMask.reset();
    FStandardDateEditMask.reset();
    FStandardDateTimeEditMask.reset();
    FStartOfWeek.reset();
    Changed();
}

int TEditFormatController::AddChangeListener(TListener AListener) {
    const int id = FNextId++;
    FListeners.emplace(id, std::move(AListener));
    return id;
}

void TEditFormatController::RemoveChangeListener(int AId) {
    FListeners.erase(AId);
}

TEditFormatController& EditFormatController() {
    static TEditFormatController controller;
    return controller;
}

// ---------------------------------------------------------------------------------------
// Localizer

void TEditLocalizer::LoadFromText(std::string_view AText) {
    const TStringList lines(AText);
    std::optional<int> locale;
    for (const std::string& raw : lines.Items()) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            int id = 0;
            locale = TryStrToInt(Trim(std::string_view(line).substr(1, line.size() - 2)), id)
                         ? std::optional(id)
                         : std::nullopt;
            continue;
        }
        const size_t eq = line.find('=');
        if (!locale || eq == std::string::npos || eq == 0) continue;
        FTexts[*locale][Trim(std::string_view(line).substr(0, eq))] =
            StringReplace(std::string_view(line).substr(eq + 1), "\\n", "\r\n", true, false);
    }
}

std::string TEditLocalizer::GetText(std::string_view AName, std::string_view ADefault) const {
    if (FActive)
        if (const auto texts = FTexts.find(FLocale); texts != FTexts.end())
            if (const auto it = texts->second.find(std::string(AName)); it != texts->second.end())
                return it->second;
    return std::string(ADefault);
}

std::vector<int> TEditLocalizer::Locales() const {
    std::vector<int> out;
    for (const auto& [id, texts] : FTexts)
        out.push_back(id);
    return out;
}

size_t TEditLocalizer::TextCount(int ALocale) const {
    const auto it = FTexts.find(ALocale);
    return it == FTexts.end() ? 0 : it->second.size();
}
