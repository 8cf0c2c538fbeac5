// The shared objects of the editor library that the data module carries, as plain data:
// fonts, editor styles and their controller, the style repository, the hint style, the
// format settings of the date and currency editors, and the localizer of the editors'
// texts.
//
// The plug-in's windows read these (fonts, colours, masks, texts) when they build their
// editors; nothing here paints. Colours are QColor values, which need no Qt application.
#pragma once

#include <QColor>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------------------
// Fonts

// A font style set.
enum TFontStyle : unsigned {
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8,
};
using TFontStyles = unsigned;

// The host's style code as a style set: 1 italic, 2 bold, 3 bold and italic; any other
// code is regular.
TFontStyles FontStylesFromHostCode(int32_t ACode);

struct TQvFont {
    std::string Name = "宋体";
    int Size = 9; // points
    TFontStyles Style = 0;
    friend bool operator==(const TQvFont&, const TQvFont&) = default;
};

// ---------------------------------------------------------------------------------------
// Editor styles

// How the buttons of an editor (drop-down, ellipsis) are drawn.
enum class TEditButtonStyle { Default, Flat, Office11, UltraFlat };

enum class TEditBorderStyle { Default, Single, Thick, Flat };

struct TEditStyle {
    TQvFont Font;
    std::optional<QColor> BorderColor;
    TEditBorderStyle BorderStyle = TEditBorderStyle::Default;
    TEditButtonStyle ButtonStyle = TEditButtonStyle::Default;
};

// The default style of every editor, in its four states.
struct TEditStyleController {
    TEditStyle Style; // normal
    TEditStyle StyleDisabled;
    TEditStyle StyleFocused;
    TEditStyle StyleHot;
};

// ---------------------------------------------------------------------------------------
// Style repository

struct TStyleItem {
    std::string Name;
    std::optional<QColor> Color;     // background
    std::optional<QColor> TextColor; // text
};

// A named set of styles that a grid view takes as a whole.
struct TStyleSheet {
    std::string Name;
    std::vector<std::string> Styles; // names of repository styles
};

class TStyleRepository {
public:
    TStyleItem& Add(std::string AName);
    // nil when there is no style of that name.
    TStyleItem* Find(std::string_view AName);
    const TStyleItem* Find(std::string_view AName) const;
    const std::vector<TStyleItem>& Items() const { return FItems; }

    std::vector<TStyleSheet> StyleSheets;

private:
    std::vector<TStyleItem> FItems;
};

// ---------------------------------------------------------------------------------------
// Hints

enum class THintIcon { None, Application, Information, Warning, Error };

struct THintStyle {
    bool Rounded = true; // rounded corners
    bool CallOut = true; // a call-out pointer towards the control
    THintIcon Icon = THintIcon::Information;
    TQvFont Font{"Tahoma", 8, 0};
    TQvFont CaptionFont{"Tahoma", 8, fsBold};
};

// ---------------------------------------------------------------------------------------
// Format settings of the date and currency editors

// The locale values the editors derive their formats and masks from.
struct TEditLocaleFormats {
    std::string CurrencyString;
    int CurrencyDecimals = 2;
    char DateSeparator = '/';
    char TimeSeparator = ':';
    std::string ShortDateFormat; // pattern letters y m d, separators as written
    std::string LongTimeFormat;  // pattern letters h n s
};

// The process's own formats (runtime/text FormatSettings()).
TEditLocaleFormats ProcessLocaleFormats();
// The formats of the operating system's locale, as the editors see them before they are
// told to follow the process.
TEditLocaleFormats SystemLocaleFormats();

// The editors' format settings. A value that was assigned explicitly stays; every other
// value is derived from the operating system's locale, or from the process's formats once
// UseProcessDateTimeFormats is set. A change inside an update bracket notifies the
// listeners once, at the end of the bracket.
class TEditFormatController {
public:
    using TListener = std::function<void()>;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    bool UseProcessDateTimeFormats() const { return FUseProcess; }
    void SetUseProcessDateTimeFormats(bool AValue);

    bool AssignedCurrencyFormat() const { return FCurrencyFormat.has_value(); }
    bool AssignedRegExprDateEditMask() const { return FRegExprDateEditMask.has_value(); }
    bool AssignedRegExprDateTimeEditMask() const { return FRegExprDateTimeEditMask.has_value(); }
    bool AssignedStandardDateEditMask() const { return FStandardDateEditMask.has_value(); }
    bool AssignedStandardDateTimeEditMask() const { return FStandardDateTimeEditMask.has_value(); }
    bool AssignedStartOfWeek() const { return FStartOfWeek.has_value(); }

    std::string CurrencyFormat() const;
    std::string DateEditFormat() const;
    std::string DateEditMask() const;
    std::string MaskedDateEditFormat() const;
    std::string MaskedDateTimeEditFormat() const;
    std::string RegExprDateEditMask() const;
    std::string RegExprDateTimeEditMask() const;
    std::string StandardDateEditMask() const;
    std::string StandardDateTimeEditMask() const;
    // 0 Sunday ... 6 Saturday.
    int StartOfWeek() const { return FStartOfWeek.value_or(1); }

    void SetCurrencyFormat(std::string AValue);
    void SetRegExprDateEditMask(std::string AValue);
    void SetRegExprDateTimeEditMask(std::string AValue);
    void SetStandardDateEditMask(std::string AValue);
    void SetStandardDateTimeEditMask(std::string AValue);
    void SetStartOfWeek(int AValue);
    // Forgets every assigned value and goes back to the operating system's formats.
    void Reset();

    int AddChangeListener(TListener AListener);
    void RemoveChangeListener(int AId);
    // How many times the listeners were told (tests).
    int ChangeCount() const { return FChangeCount; }

private:
    TEditLocaleFormats Source() const;
    void Changed();

    bool FUseProcess = false;
    std::optional<std::string> FCurrencyFormat, FRegExprDateEditMask, FRegExprDateTimeEditMask,
        FStandardDateEditMask, FStandardDateTimeEditMask;
    std::optional<int> FStartOfWeek;
    int FUpdateCount = 0;
    bool FPendingChange = false;
    int FChangeCount = 0;
    int FNextId = 1;
    std::map<int, TListener> FListeners;
};

// The module's format controller of the editor library.
TEditFormatController& EditFormatController();

// ---------------------------------------------------------------------------------------
// Localizer

// The translated texts of the editors (button captions, calendar words, messages), loaded
// from a language resource text of sections and lines:
//   [2052]                 a section per locale id
//   NAME=text              one text of that locale ("\n" in a text stands for a line break)
// Lines starting with ";" and blank lines are ignored.
class TEditLocalizer {
public:
    // Adds the texts of a language resource text (an empty text adds nothing). Texts with
    // a name that is already known for the locale replace the earlier ones.
    void LoadFromText(std::string_view AText);
    bool Active() const { return FActive; }
    void SetActive(bool AValue) { FActive = AValue; }
    int Locale() const { return FLocale; }
    void SetLocale(int ALocale) { FLocale = ALocale; }
    // The text of the active locale; ADefault when the localizer is not active or has no
    // such text.
    std::string GetText(std::string_view AName, std::string_view ADefault = {}) const;
    // The locales that have texts.
    std::vector<int> Locales() const;
    size_t TextCount(int ALocale) const;

private:
    bool FActive = false;
    int FLocale = 0;
    std::map<int, std::map<std::string, std::string>> FTexts;
};
